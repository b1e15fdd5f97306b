// What a stack is worth against the truth: nine frames of a detailed photograph,
// each moved by its own sub-pixel shift and given noise of its own, stacked by the
// run beside the OpenCV script (full-resolution ECC, cubic warpAffine, float
// average) on the same frames. Counters: psnr_dB against the clean instant frame,
// gain_dB over one frame, bound_gap_dB to the square-root-of-N bound, and with a
// ghost (a region 24 levels brighter in four frames) ghost_levels, its mean
// brightness left over the clean scene. Beside the photograph: sparse star fields,
// a grey card, lamps 1000x their surroundings in float and 16-bit frames
// (dark_ring_share: of the pixels just outside them, those below 80 % of the
// truth) and float frames read from files with a block of +Inf in each
// (placement_error_px: the farthest placement from the true shift). Then the
// stacking-quality table's shots of real photographs at full size.
#include "FrameAlignment.h"
#include "ImageIO.h"
#include "InMemorySequence.h"
#include "StackingContext.h"

#include "BenchBursts.h"
#include "BenchPhotos.h"

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include <QTemporaryDir>

#include <chrono>
#include <cmath>
#include <map>
#include <thread>
#include <tuple>

namespace {

using benchbursts::Burst;
using benchbursts::kFrames;
using benchbursts::kInstant;

constexpr int kGhostLevels = 24;
constexpr int kFirstQuality = 15;
enum Antighosting { High = 0, Medium = 1, Off = 2 };
const float kTolerance[] = {0.0f, 4.0f, 100.0f};

enum Scene { Photo = 0, Stars400 = 1, Stars800 = 2, GreyCard = 3, LampsFloat = 4, Lamps16 = 5, InfBlocks = 6 };

struct BurstKind {
    int height;
    int largestShift;  // pixels, either way on each axis; 0: a still camera
    int sigma;         // of the noise, 8-bit levels
    bool ghost;
    int scene;
};

cv::Size frameSize(int height)
{
    return height == 2160 ? cv::Size(3840, 2160) : cv::Size(1920, 1080);
}

// A softly lit wall (0.15 to 0.4, the photograph blurred) with lamps of 250 on it,
// and the ring just outside them.
cv::Mat lampScene(cv::Size size, cv::Mat* ring)
{
    cv::Mat blurred;
    cv::GaussianBlur(benchphotos::loadPhoto("../abstract/Elephants_5640x3172.jpg", size), blurred, cv::Size(0, 0), 3.0);
    return benchbursts::lampWall(blurred, ring);
}

// The frames written as PFM files with a 3x3 block of +Inf (a hot pixel) and read back.
void throughFilesWithInfinity(std::vector<cv::Mat>& frames)
{
    QTemporaryDir folder;
    for (size_t i = 0; i < frames.size(); ++i) {
        const std::string path = folder.filePath(QString("frame%1.pfm").arg(i)).toStdString();
        cv::Mat hot = frames[i].clone();
        hot(cv::Rect(700, 400, 3, 3)).setTo(cv::Scalar::all(std::numeric_limits<float>::infinity()));
        cv::imwrite(path, hot);
        readImage(frames[i], path, false);
    }
}

cv::Mat sceneOf(int scene, cv::Size size, cv::Mat* ring)
{
    switch (scene) {
    case Stars400: return benchbursts::starField(size, 400);
    case Stars800: return benchbursts::starField(size, 800);
    case GreyCard: return cv::Mat(size, CV_8UC3, cv::Scalar::all(128));
    case LampsFloat:
    case Lamps16: return lampScene(size, ring);
    case InfBlocks: return benchbursts::asUnitFloat(benchphotos::loadPhoto("../abstract/Elephants_5640x3172.jpg", size));
    default:
        // A photograph with fine detail everywhere, where interpolation shows.
        return benchphotos::loadPhoto("../abstract/Elephants_5640x3172.jpg", size);
    }
}

const Burst& burst(const BurstKind& kind)
{
    static std::map<std::tuple<int, int, int, bool, int>, Burst> bursts;
    const auto key = std::make_tuple(kind.height, kind.largestShift, kind.sigma, kind.ghost, kind.scene);
    auto found = bursts.find(key);
    if (found != bursts.end())
        return found->second;
    cv::Mat ring;
    const cv::Mat photo = sceneOf(kind.scene, frameSize(kind.height), &ring);
    const cv::Rect ghostArea(photo.cols / 3, photo.rows / 3, photo.cols / 6, photo.rows / 6);
    const cv::Mat ghosted = photo.clone();
    ghosted(ghostArea) += cv::Scalar::all(kGhostLevels);
    benchbursts::Camera camera;
    camera.largestShift = kind.largestShift;
    camera.sigma = kind.sigma;
    camera.depth = kind.scene == Lamps16 ? CV_16U : CV_32F;
    camera.range = kind.scene == Lamps16 ? 300.0 : 1.0;
    camera.interpolation = ring.empty() ? cv::INTER_CUBIC : cv::INTER_LINEAR;
    // The ghost in frames 1, 3, 5, 7.
    Burst b = benchbursts::burstOf([&](int i) { return kind.ghost && i % 2 == 1 ? ghosted : photo; }, camera);
    b.ring = ring;
    if (kind.ghost)
        b.ghostArea = ghostArea;
    if (kind.scene == InfBlocks)
        throughFilesWithInfinity(b.frames);
    return bursts.emplace(key, std::move(b)).first->second;
}

BurstKind kindOf(const benchmark::State& state)
{
    return {int(state.range(0)), int(state.range(1)), int(state.range(2)), state.range(4) != 0,
            int(state.range(5))};
}

double psnr(const cv::Mat& result, const Burst& b)
{
    return cv::PSNR(result(b.inside), b.clean(b.inside), 1.0);
}

cv::Mat inLightUnits(const cv::Mat& frame, const Burst& b)
{
    cv::Mat result;
    frame.convertTo(result, CV_32F, b.unit);
    return result;
}

// What ECC takes: 8-bit samples as they are, others as float.
cv::Mat eccInput(const cv::Mat& frame, const Burst& b)
{
    return frame.depth() == CV_8U ? frame : inLightUnits(frame, b);
}

void report(benchmark::State& state, double totalMs, const cv::Mat& result, const Burst& b)
{
    state.counters["ms_per_frame"] = totalMs / double(state.iterations()) / kFrames;
    if (result.empty())
        return;
    if (!b.ring.empty()) {
        state.counters["dark_ring_share"] = benchbursts::darkRingShare(result, b.clean, b.ring);
        return;
    }
    const double single = psnr(inLightUnits(b.frames[kInstant], b), b);
    state.counters["psnr_dB"] = psnr(result, b);
    state.counters["gain_dB"] = psnr(result, b) - single;
    state.counters["bound_gap_dB"] = psnr(result, b) - single - 10.0 * std::log10(double(kFrames));
    if (!b.ghostArea.empty())
        state.counters["ghost_levels"] =
            255.0 * (cv::mean(result(b.ghostArea))[0] - cv::mean(b.clean(b.ghostArea))[0]);
}

double millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Args: height, largest shift, sigma, antighosting, ghost, scene, align.
void BM_StackFramesBurst(benchmark::State& state)
{
    const Burst& b = burst(kindOf(state));
    InMemorySequence source(b.frames);
    const int threads = std::max(1, int(std::thread::hardware_concurrency()) - 1);
    cv::Mat light;
    double totalMs = 0.0;
    int stacked = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        StackingContext context;
        int count = kFrames;
        light = context.stackFrames(&source, kInstant, 0, &count, -1.0f, kTolerance[state.range(3)],
                                    state.range(6) != 0, kFirstQuality, threads);
        totalMs += millisecondsSince(start);
        stacked = context.accumulatedCount;
    }
    report(state, totalMs, light, b);
    state.counters["stacked"] = stacked;
    if (state.range(5) == InfBlocks) {
        const FrameAlignment alignment(b.frames[kInstant], true);
        double farthest = 0.0;
        for (int i = 0; i < kFrames; ++i)
            farthest = std::max(farthest, cv::norm(cv::Point2d(alignment.locate(b.frames[i]).shift) - b.shifts[i]));
        state.counters["placement_error_px"] = farthest;
    }
}

// The script: each frame aligned by full-resolution ECC, warped (cubic) and added
// to a float sum. It has no antighosting: a ghost is averaged in.
void BM_CvEccCubicBurst(benchmark::State& state)
{
    const Burst& b = burst(kindOf(state));
    cv::Mat average;
    double totalMs = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        cv::Mat templateGrey, sum = cv::Mat::zeros(b.clean.size(), CV_32FC3);
        cv::cvtColor(eccInput(b.frames[kInstant], b), templateGrey, cv::COLOR_BGR2GRAY);
        for (int i = 0; i < kFrames; ++i) {
            cv::Mat aligned = b.frames[i], grey, warp = cv::Mat::eye(2, 3, CV_32F);
            if (i != kInstant && state.range(6) != 0) {
                cv::cvtColor(eccInput(b.frames[i], b), grey, cv::COLOR_BGR2GRAY);
                try {
                    cv::findTransformECC(templateGrey, grey, warp, cv::MOTION_TRANSLATION,
                                         cv::TermCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 70, 1e-6),
                                         cv::noArray(), 5);
                } catch (const cv::Exception&) {  // did not converge: the frame stays where it is
                    warp = cv::Mat::eye(2, 3, CV_32F);
                }
                cv::warpAffine(b.frames[i], aligned, warp, b.clean.size(), cv::INTER_CUBIC | cv::WARP_INVERSE_MAP);
            }
            cv::accumulate(aligned, sum);
        }
        sum.convertTo(average, CV_32F, b.unit / kFrames);
        totalMs += millisecondsSince(start);
    }
    report(state, totalMs, average, b);
}

// The detailed handheld bursts at low and high noise, a 4K burst shaken further,
// a still burst in High and off, the ghost in each antighosting mode and in a
// handheld burst; star fields, the grey card aligned and not, lamp and Inf bursts.
#define BURST_ARGS                                                                                          \
    Args({1080, 6, 2, Medium, 0, Photo, 1})                                                                 \
        ->Args({1080, 6, 6, Medium, 0, Photo, 1})                                                           \
        ->Args({2160, 20, 6, Medium, 0, Photo, 1})                                                          \
        ->Args({1080, 0, 6, High, 0, Photo, 1})                                                             \
        ->Args({1080, 0, 6, Off, 0, Photo, 1})                                                              \
        ->Args({1080, 0, 2, High, 1, Photo, 1})                                                             \
        ->Args({1080, 0, 2, Medium, 1, Photo, 1})                                                           \
        ->Args({1080, 0, 2, Off, 1, Photo, 1})                                                              \
        ->Args({1080, 6, 2, Medium, 1, Photo, 1})                                                           \
        ->Args({1080, 6, 2, Medium, 0, Stars400, 1})                                                        \
        ->Args({1080, 6, 2, Medium, 0, Stars800, 1})                                                        \
        ->Args({1080, 6, 2, Medium, 0, GreyCard, 1})                                                        \
        ->Args({1080, 6, 2, Medium, 0, GreyCard, 0})                                                        \
        ->Args({1080, 6, 2, Medium, 0, LampsFloat, 1})                                                      \
        ->Args({1080, 6, 2, Medium, 0, Lamps16, 1})                                                         \
        ->Args({1080, 6, 2, Medium, 0, InfBlocks, 1})                                                       \
        ->Iterations(2)                                                                                     \
        ->Unit(benchmark::kMillisecond)                                                                     \
        ->UseRealTime()

BENCHMARK(BM_StackFramesBurst)->BURST_ARGS;
BENCHMARK(BM_CvEccCubicBurst)->BURST_ARGS;

// The stacking-quality table's shots at 1080p, Medium. Args: scene,
// contrast in percent, handheld, depth. Counters: psnr_dB against the clean instant
// frame (samples above 1 counted as 1), placement_error_px (the farthest frame the
// alignment places from the camera's shift; one stacked unshifted counts the
// shift), other_shot_frames (those it judges of another shot), stacked, walked,
// dark_ring_share for lamps, and level_gap (8-bit levels between the stack's mean
// and the clean instant frame's).
void BM_StackFramesShot(benchmark::State& state)
{
    const benchbursts::Shot shot{benchbursts::Scene(state.range(0)), state.range(1) / 100.0, state.range(2) != 0,
                                 int(state.range(3))};
    const Burst b = benchbursts::burstFor(shot, benchphotos::photoCrop);
    if (b.frames.empty()) {
        state.SkipWithError("test photographs not available");
        return;
    }
    InMemorySequence source(b.frames);
    const int threads = std::max(1, int(std::thread::hardware_concurrency()) - 1);
    cv::Mat light;
    double totalMs = 0.0;
    int stacked = 0, walked = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        StackingContext context;
        walked = kFrames;
        light = context.stackFrames(&source, kInstant, 0, &walked, -1.0f, kTolerance[Medium], true, kFirstQuality,
                                    threads);
        totalMs += millisecondsSince(start);
        stacked = context.accumulatedCount;
    }
    state.counters["ms_per_frame"] = totalMs / double(state.iterations()) / kFrames;
    state.counters["stacked"] = stacked;
    state.counters["walked"] = walked;
    const FrameAlignment alignment(b.frames[kInstant], true);
    double farthest = 0.0;
    int otherShots = 0;
    for (int i = 0; i < kFrames; ++i) {
        const FrameAlignment::Result found = alignment.locate(b.frames[i]);
        otherShots += found.verdict == FrameAlignment::Verdict::OtherShot;
        if (found.verdict == FrameAlignment::Verdict::SameShot)
            farthest = std::max(farthest, cv::norm(cv::Point2d(found.shift) - b.shifts[i]));
    }
    state.counters["placement_error_px"] = farthest;
    state.counters["other_shot_frames"] = otherShots;
    if (light.empty())
        return;
    state.counters["psnr_dB"] = cv::PSNR(cv::min(light, 1.0)(b.inside), cv::min(b.clean, 1.0)(b.inside), 1.0);
    state.counters["level_gap"] = 255.0 * std::fabs(cv::mean(light)[1] - cv::mean(b.clean)[1]);
    if (!b.ring.empty())
        state.counters["dark_ring_share"] = benchbursts::darkRingShare(light, b.clean, b.ring);
}
// Passers-by at full, half and a quarter of the garden's contrast, handheld and on
// a tripod; a car; stars; a grey card; dark frames beside lights; a dim 640-px
// burst; snow; lamps on a wall at full detail and detailed bursts, 16-bit and float.
BENCHMARK(BM_StackFramesShot)
    ->ArgsProduct({{int(benchbursts::Scene::PasserBy)}, {100, 50, 25}, {1, 0}, {CV_8U}})
    ->Args({int(benchbursts::Scene::Car), 100, 1, CV_8U})
    ->Args({int(benchbursts::Scene::StarField), 100, 1, CV_8U})
    ->Args({int(benchbursts::Scene::GreyCard), 100, 1, CV_8U})
    ->Args({int(benchbursts::Scene::DarkAndLight), 100, 1, CV_8U})
    ->Args({int(benchbursts::Scene::DimSmallFrame), 100, 1, CV_8U})
    ->Args({int(benchbursts::Scene::Snow), 100, 0, CV_8U})
    ->Args({int(benchbursts::Scene::LampsOnWall), 100, 1, CV_32F})
    ->Args({int(benchbursts::Scene::LampsOnWall), 100, 1, CV_16U})
    ->Args({int(benchbursts::Scene::Detailed), 100, 1, CV_16U})
    ->Args({int(benchbursts::Scene::Detailed), 100, 1, CV_32F})
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
