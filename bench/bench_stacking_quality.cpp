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
// (placement_error_px: the farthest placement from the true shift).
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

using benchbursts::asUnitFloat;
using benchbursts::noisyFrame;

constexpr int kFrames = 9, kInstant = 4;
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

struct Burst {
    std::vector<cv::Mat> frames;
    cv::Mat clean;       // the instant frame without noise, in the light image's units
    cv::Rect inside;     // seen by every frame
    cv::Rect ghostArea;  // empty without a ghost
    cv::Mat ring;        // pixels just outside the lamps
    std::vector<cv::Point2d> shifts;
    double unit = 1.0 / 255.0;  // of a sample in the light image
};

cv::Size frameSize(int height)
{
    return height == 2160 ? cv::Size(3840, 2160) : cv::Size(1920, 1080);
}

// A dark sky of small stars (Gaussian, deviation one pixel) of varied brightness.
cv::Mat starField(cv::Size size, int stars)
{
    cv::Mat points(size, CV_32F, cv::Scalar(0.0f));
    cv::RNG rng(11);
    for (int i = 0; i < stars; ++i)
        points.at<float>(rng.uniform(0, size.height), rng.uniform(0, size.width)) = rng.uniform(250.0f, 1500.0f);
    cv::GaussianBlur(points, points, cv::Size(0, 0), 1.0);
    cv::Mat sky;
    points.convertTo(sky, CV_8U, 1.0, 12.0);
    cv::cvtColor(sky, sky, cv::COLOR_GRAY2BGR);
    return sky;
}

// A softly lit wall (0.15 to 0.4) with lamps of 250 on it, and the ring just outside them.
cv::Mat lampScene(cv::Size size, cv::Mat* ring)
{
    cv::Mat wall, lamps(size, CV_8U, cv::Scalar(0));
    cv::GaussianBlur(benchphotos::loadPhoto("../abstract/Elephants_5640x3172.jpg", size), wall, cv::Size(0, 0), 3.0);
    wall.convertTo(wall, CV_32F, 0.25 / 255.0, 0.15);
    cv::RNG rng(13);
    for (int i = 0; i < 60; ++i)
        cv::circle(lamps, cv::Point(rng.uniform(40, size.width - 40), rng.uniform(40, size.height - 40)), 4,
                   cv::Scalar(255), cv::FILLED);
    wall.setTo(cv::Scalar::all(250.0), lamps);
    cv::Mat outside;
    cv::dilate(lamps, outside, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(5, 5)));
    *ring = outside & ~lamps;
    return wall;
}

// Float frame i: the scene moved (bilinearly: a lamp's edge without ringing), noise
// added, no sample below 0.
cv::Mat noisyFloatFrame(const cv::Mat& scene, int i, cv::Point2d shift, double sigma, int interpolation)
{
    cv::Mat moved, noise(scene.size(), scene.type());
    const cv::Mat warp = (cv::Mat_<double>(2, 3) << 1, 0, shift.x, 0, 1, shift.y);
    cv::warpAffine(scene, moved, warp, scene.size(), interpolation, cv::BORDER_REFLECT_101);
    cv::RNG(1000 + i).fill(noise, cv::RNG::NORMAL, 0.0, sigma / 255.0);
    return cv::max(moved + noise, 0.0);
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

cv::Mat sceneOf(int scene, cv::Size size, Burst* b)
{
    switch (scene) {
    case Stars400: return starField(size, 400);
    case Stars800: return starField(size, 800);
    case GreyCard: return cv::Mat(size, CV_8UC3, cv::Scalar::all(128));
    case LampsFloat:
    case Lamps16: return lampScene(size, &b->ring);
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
    const cv::Size size = frameSize(kind.height);
    Burst b;
    const cv::Mat photo = sceneOf(kind.scene, size, &b);
    const int margin = kind.largestShift + 8;
    b.inside = cv::Rect(margin, margin, size.width - 2 * margin, size.height - 2 * margin);
    if (kind.ghost)
        b.ghostArea = cv::Rect(size.width / 3, size.height / 3, size.width / 6, size.height / 6);
    cv::RNG shifts(7);
    for (int i = 0; i < kFrames; ++i) {
        const double s = kind.largestShift;
        const cv::Point2d shift = i == kInstant ? cv::Point2d() : cv::Point2d(shifts.uniform(-s, s), shifts.uniform(-s, s));
        cv::Mat scene = photo;
        if (kind.ghost && i % 2 == 1) {  // frames 1, 3, 5, 7
            scene = photo.clone();
            scene(b.ghostArea) += cv::Scalar::all(kGhostLevels);
        }
        b.shifts.push_back(shift);
        b.frames.push_back(photo.depth() == CV_32F ? noisyFloatFrame(scene, i, shift, kind.sigma, b.ring.empty() ? cv::INTER_CUBIC : cv::INTER_LINEAR)
                                                   : noisyFrame(scene, i, shift, kind.sigma));
        if (kind.scene == Lamps16)
            b.frames.back().convertTo(b.frames.back(), CV_16U, 65535.0 / 300.0);
    }
    b.clean = photo.depth() == CV_32F ? photo : benchbursts::asUnitFloat(photo);
    if (kind.scene == LampsFloat)
        b.unit = 1.0;
    if (kind.scene == Lamps16) {
        b.unit = 1.0 / 65535.0;
        b.clean = b.clean / 300.0;
    }
    if (kind.scene == InfBlocks) {
        b.unit = 1.0;
        throughFilesWithInfinity(b.frames);
    }
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
        cv::Mat grey, truth;
        cv::cvtColor(result, grey, cv::COLOR_BGR2GRAY);
        cv::cvtColor(b.clean, truth, cv::COLOR_BGR2GRAY);
        state.counters["dark_ring_share"] = double(cv::countNonZero((grey < 0.8 * truth) & b.ring)) /
                                            double(cv::countNonZero(b.ring));
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

}  // namespace
