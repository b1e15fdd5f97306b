// What a stack is worth against the truth: nine frames of a detailed photograph,
// each moved by its own sub-pixel shift and given noise of its own, stacked by the
// run beside the OpenCV script (full-resolution ECC, cubic warpAffine, float
// average) on the same frames. Counters: psnr_dB against the clean instant frame,
// gain_dB over one frame, bound_gap_dB to the square-root-of-N bound, and with a
// ghost (a region 24 levels brighter in four frames) ghost_levels, its mean
// brightness left over the clean scene.
#include "InMemorySequence.h"
#include "StackingContext.h"

#include "BenchBursts.h"
#include "BenchPhotos.h"

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

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

struct BurstKind {
    int height;
    int largestShift;  // pixels, either way on each axis; 0: a still camera
    int sigma;         // of the noise, 8-bit levels
    bool ghost;
};

struct Burst {
    std::vector<cv::Mat> frames;
    cv::Mat clean;       // the instant frame without noise, float in [0, 1]
    cv::Rect inside;     // seen by every frame
    cv::Rect ghostArea;  // empty without a ghost
};

cv::Size frameSize(int height)
{
    return height == 2160 ? cv::Size(3840, 2160) : cv::Size(1920, 1080);
}



const Burst& burst(const BurstKind& kind)
{
    static std::map<std::tuple<int, int, int, bool>, Burst> bursts;
    const auto key = std::make_tuple(kind.height, kind.largestShift, kind.sigma, kind.ghost);
    auto found = bursts.find(key);
    if (found != bursts.end())
        return found->second;
    const cv::Size size = frameSize(kind.height);
    // A photograph with fine detail everywhere, where interpolation shows.
    const cv::Mat photo = benchphotos::loadPhoto("../abstract/Elephants_5640x3172.jpg", size);
    Burst b;
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
        b.frames.push_back(noisyFrame(scene, i, shift, kind.sigma));
    }
    b.clean = asUnitFloat(photo);
    return bursts.emplace(key, std::move(b)).first->second;
}

BurstKind kindOf(const benchmark::State& state)
{
    return {int(state.range(0)), int(state.range(1)), int(state.range(2)), state.range(4) != 0};
}

double psnr(const cv::Mat& result, const Burst& b)
{
    return cv::PSNR(result(b.inside), b.clean(b.inside), 1.0);
}

void report(benchmark::State& state, double totalMs, const cv::Mat& result, const Burst& b)
{
    state.counters["ms_per_frame"] = totalMs / double(state.iterations()) / kFrames;
    if (result.empty())
        return;
    const double single = psnr(asUnitFloat(b.frames[kInstant]), b);
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

// Args: height, largest shift, sigma, antighosting, ghost.
void BM_StackFramesBurst(benchmark::State& state)
{
    const Burst& b = burst(kindOf(state));
    InMemorySequence source(b.frames);
    const int threads = std::max(1, int(std::thread::hardware_concurrency()) - 1);
    cv::Mat light;
    double totalMs = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        StackingContext context;
        int count = kFrames;
        light = context.stackFrames(&source, kInstant, 0, &count, -1.0f, kTolerance[state.range(3)], true,
                                    kFirstQuality, threads);
        totalMs += millisecondsSince(start);
    }
    report(state, totalMs, light, b);
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
        cv::cvtColor(b.frames[kInstant], templateGrey, cv::COLOR_BGR2GRAY);
        for (int i = 0; i < kFrames; ++i) {
            cv::Mat aligned = b.frames[i], grey, warp = cv::Mat::eye(2, 3, CV_32F);
            if (i != kInstant) {
                cv::cvtColor(b.frames[i], grey, cv::COLOR_BGR2GRAY);
                cv::findTransformECC(templateGrey, grey, warp, cv::MOTION_TRANSLATION,
                                     cv::TermCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 70, 1e-6),
                                     cv::noArray(), 5);
                cv::warpAffine(b.frames[i], aligned, warp, b.clean.size(), cv::INTER_CUBIC | cv::WARP_INVERSE_MAP);
            }
            cv::accumulate(aligned, sum);
        }
        sum.convertTo(average, CV_32F, 1.0 / (255.0 * kFrames));
        totalMs += millisecondsSince(start);
    }
    report(state, totalMs, average, b);
}

// The detailed handheld bursts at low and high noise, a 4K burst shaken further,
// a still burst in High and off, the ghost in each antighosting mode and in a
// handheld burst.
#define BURST_ARGS                                                                                          \
    Args({1080, 6, 2, Medium, 0})                                                                           \
        ->Args({1080, 6, 6, Medium, 0})                                                                     \
        ->Args({2160, 20, 6, Medium, 0})                                                                    \
        ->Args({1080, 0, 6, High, 0})                                                                       \
        ->Args({1080, 0, 6, Off, 0})                                                                        \
        ->Args({1080, 0, 2, High, 1})                                                                       \
        ->Args({1080, 0, 2, Medium, 1})                                                                     \
        ->Args({1080, 0, 2, Off, 1})                                                                        \
        ->Args({1080, 6, 2, Medium, 1})                                                                     \
        ->Iterations(2)                                                                                     \
        ->Unit(benchmark::kMillisecond)                                                                     \
        ->UseRealTime()

BENCHMARK(BM_StackFramesBurst)->BURST_ARGS;
BENCHMARK(BM_CvEccCubicBurst)->BURST_ARGS;

}  // namespace
