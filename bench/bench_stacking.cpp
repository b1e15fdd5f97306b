// Stacking engine per 1080p BGR8 frame, each beside an OpenCV call doing the same job.
#include "EccAlignment.h"
#include "FrameAlignment.h"
#include "GhostingPower.h"
#include "LinearAccumulator.h"
#include "StackingContext.h"

#include "BenchPhotos.h"

#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include <cstdlib>
#include <string>
#include <thread>

namespace {

const cv::Size k1080p(1920, 1080);

cv::Mat loadPhoto(const char* name)
{
    return benchphotos::loadPhoto(name, k1080p);
}

const cv::Mat& photo1080p()
{
    static const cv::Mat photo = loadPhoto("Garden.jpg");
    return photo;
}

cv::Mat shifted(const cv::Mat& image, double dx, double dy)
{
    cv::Mat result;
    const cv::Mat shift = (cv::Mat_<double>(2, 3) << 1, 0, dx, 0, 1, dy);
    cv::warpAffine(image, result, shift, image.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT_101);
    return result;
}

cv::Mat grey(const cv::Mat& image)
{
    cv::Mat result;
    cv::cvtColor(image, result, cv::COLOR_BGR2GRAY);
    return result;
}

cv::Mat withNoise(const cv::Mat& image, unsigned seed)
{
    cv::Mat noise(image.size(), CV_16SC3), result;
    cv::RNG(seed).fill(noise, cv::RNG::NORMAL, 0.0, 6.0);
    cv::add(image, noise, result, cv::noArray(), CV_8U);
    return result;
}

int engineThreads()
{
    return std::max(1, int(std::thread::hardware_concurrency()) - 1);
}

// --- Linear-light accumulation -------------------------------------------------

void BM_AddToLinearAccumulator(benchmark::State& state)
{
    const int depth = int(state.range(0));
    cv::Mat frame;
    photo1080p().convertTo(frame, depth, depth == CV_16U ? 257.0 : depth == CV_32F ? 1.0 / 255 : 1.0);
    const int bits = depth == CV_8U ? 8 : depth == CV_16U ? 16 : 32;
    StackingContext context;
    initLinearAccumulator(bits, frame, &context);
    for (auto _ : state)
        addToLinearAccumulator(bits, frame, &context);
    benchmark::DoNotOptimize(context.linearAccumulator.data);
}
BENCHMARK(BM_AddToLinearAccumulator)->Arg(CV_8U)->Arg(CV_16U)->Arg(CV_32F)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CvAccumulate(benchmark::State& state)
{
    cv::Mat sum = cv::Mat::zeros(k1080p, CV_32FC3);
    for (auto _ : state)
        cv::accumulate(photo1080p(), sum);
    benchmark::DoNotOptimize(sum.data);
}
BENCHMARK(BM_CvAccumulate)->Unit(benchmark::kMillisecond)->UseRealTime();

// The light image of nine 4K frames from their sum, as a stop waits for it.
void BM_FinishLinearMean4K(benchmark::State& state)
{
    cv::Mat frame;
    cv::resize(photo1080p(), frame, cv::Size(3840, 2160));
    StackingContext context;
    initLinearAccumulator(8, frame, &context);
    context.accumulatedCount = 9;
    cv::Mat light;
    for (auto _ : state)
        finishLinearMean(&context, 8, light);
    benchmark::DoNotOptimize(light.data);
}
BENCHMARK(BM_FinishLinearMean4K)->Unit(benchmark::kMillisecond)->UseRealTime();

// A plain mean of the same sum, without the gamma.
void BM_CvScaleSum4K(benchmark::State& state)
{
    cv::Mat frame, sum, mean;
    cv::resize(photo1080p(), frame, cv::Size(3840, 2160));
    frame.convertTo(sum, CV_64F);
    for (auto _ : state)
        sum.convertTo(mean, CV_32F, 1.0 / (255.0 * 9));
    benchmark::DoNotOptimize(mean.data);
}
BENCHMARK(BM_CvScaleSum4K)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- Translation alignment -------------------------------------------------------

const double kShiftX = 3.4, kShiftY = -2.2;

struct AlignmentPair {
    cv::Mat templateGrey, inputGrey;
};

const AlignmentPair& alignmentPair()
{
    static const AlignmentPair pair{grey(photo1080p()), grey(shifted(photo1080p(), kShiftX, kShiftY))};
    return pair;
}

cv::TermCriteria criteriaFor(benchmark::State& state)
{
    // Arg 0: the stacking run's criteria; otherwise that fixed number of iterations.
    return state.range(0) == 0 ? cv::TermCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 70, 1e-6)
                               : cv::TermCriteria(cv::TermCriteria::COUNT, int(state.range(0)), 0);
}

void reportShiftError(benchmark::State& state, const cv::Mat& warp)
{
    state.counters["error_px"] = std::hypot(warp.at<float>(0, 2) - kShiftX, warp.at<float>(1, 2) - kShiftY);
}

void BM_FindTransform(benchmark::State& state)
{
    const AlignmentPair& pair = alignmentPair();
    const cv::TermCriteria criteria = criteriaFor(state);
    cv::Mat warp;
    for (auto _ : state) {
        warp = cv::Mat::eye(2, 3, CV_32F);
        findTransform(pair.templateGrey, pair.inputGrey, warp, 0, criteria);
    }
    reportShiftError(state, warp);
}
BENCHMARK(BM_FindTransform)->Arg(0)->Arg(70)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CvFindTransformECC(benchmark::State& state)
{
    const AlignmentPair& pair = alignmentPair();
    const cv::TermCriteria criteria = criteriaFor(state);
    cv::Mat warp;
    for (auto _ : state) {
        warp = cv::Mat::eye(2, 3, CV_32F);
        cv::findTransformECC(pair.templateGrey, pair.inputGrey, warp, cv::MOTION_TRANSLATION, criteria, cv::noArray(),
                             5);
    }
    reportShiftError(state, warp);
}
BENCHMARK(BM_CvFindTransformECC)->Arg(0)->Arg(70)->Unit(benchmark::kMillisecond)->UseRealTime();

// The run's alignment of a noisy colour frame: coarse to fine, moving areas left out.
void BM_FrameAlignmentLocate(benchmark::State& state)
{
    const FrameAlignment alignment(withNoise(photo1080p(), 1), true);
    const cv::Mat frame = withNoise(shifted(photo1080p(), kShiftX, kShiftY), 2);
    FrameAlignment::Result found;
    for (auto _ : state)
        found = alignment.locate(frame);
    state.counters["error_px"] = std::hypot(found.shift.x - kShiftX, found.shift.y - kShiftY);
}
BENCHMARK(BM_FrameAlignmentLocate)->Unit(benchmark::kMillisecond)->UseRealTime();

// A 1080p frame (arg: its depth) moved by a fraction of a pixel: the run's cubic
// move, clamped for 16-bit and float samples, beside the plain cubic warp.
cv::Mat photoOfDepth(int depth)
{
    cv::Mat result;
    photo1080p().convertTo(result, depth, depth == CV_16U ? 257.0 : depth == CV_32F ? 1.0 / 255.0 : 1.0);
    return result;
}

void BM_FrameAlignmentMoved(benchmark::State& state)
{
    const cv::Mat frame = photoOfDepth(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(FrameAlignment::moved(frame, cv::Point2f(2.3f, -1.6f)));
}
BENCHMARK(BM_FrameAlignmentMoved)->Arg(CV_8U)->Arg(CV_16U)->Arg(CV_32F)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CvWarpAffineCubic(benchmark::State& state)
{
    const cv::Mat frame = photoOfDepth(int(state.range(0)));
    const cv::Mat warp = (cv::Mat_<float>(2, 3) << 1, 0, 2.3f, 0, 1, -1.6f);
    cv::Mat result;
    for (auto _ : state)
        cv::warpAffine(frame, result, warp, frame.size(), cv::INTER_CUBIC | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
}
BENCHMARK(BM_CvWarpAffineCubic)->Arg(CV_8U)->Arg(CV_16U)->Arg(CV_32F)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- Ghosting-power estimate -------------------------------------------------------

cv::Mat reducedReference(const cv::Mat& reference)
{
    cv::Mat small;
    const double factor = 1024.0 / std::max({reference.rows, reference.cols, 1024});
    cv::resize(reference, small, cv::Size(), factor, factor, cv::INTER_LINEAR);
    return small;
}

// Times the estimate on a context set up with its two frames; corners are detected
// anew every time, as for the first frame of a run.
void timeGhostingPower(benchmark::State& state, StackingContext& context)
{
    int power = 0;
    for (auto _ : state) {
        context.featureMask.release();
        power = context.computeGhostingPower();
    }
    state.counters["power"] = power;
}

// Arg 1: a still frame, the reference with noise of its own; 0: the frame moved by (12, 5).
void BM_ComputeGhostingPower(benchmark::State& state)
{
    const bool still = state.range(0) == 1;
    StackingContext context;
    context.patchRadius = 8;
    context.referenceImage = still ? withNoise(photo1080p(), 1) : photo1080p();
    context.frameImage = still ? withNoise(photo1080p(), 2) : shifted(photo1080p(), 12, 5);
    context.updateSearchCopies();
    timeGhostingPower(state, context);
}
BENCHMARK(BM_ComputeGhostingPower)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A handheld frame as the run gives it to the estimate: the photograph moved by a
// few pixels, with noise of its own, and placed back on the reference by the
// alignment. Arg 0: nothing else moved; 1: a textured object moved by (16, 10).
// Peer: the still frame of BM_ComputeGhostingPower and the flow it would cost.
void BM_ComputeGhostingPowerPlaced(benchmark::State& state)
{
    const bool movingObject = state.range(0) == 1;
    cv::Mat reference = photo1080p().clone(), scene = photo1080p().clone();
    if (movingObject) {
        const cv::Mat object = loadPhoto("YellowFlower.jpg")(cv::Rect(600, 300, 660, 320)).clone();
        object.copyTo(reference(cv::Rect(500, 350, 660, 320)));
        object.copyTo(scene(cv::Rect(516, 360, 660, 320)));
    }
    reference = withNoise(reference, 1);
    const cv::Mat frame = withNoise(shifted(scene, 3.4, -1.7), 2);
    const FrameAlignment::Result found = FrameAlignment(reference, true).locate(frame);
    StackingContext context;
    context.patchRadius = 8;
    context.referenceImage = reference;
    context.frameImage = FrameAlignment::moved(frame, found.shift);
    context.placementShift = found.shift;
    context.updateSearchCopies();
    timeGhostingPower(state, context);
    state.counters["flow_skipped"] = context.lastEstimateSkippedFlow;
}
BENCHMARK(BM_ComputeGhostingPowerPlaced)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The estimate's dense flow alone, at the reduced size.
void BM_CvFarnebackReduced(benchmark::State& state)
{
    const cv::Mat reference = grey(reducedReference(photo1080p()));
    const cv::Mat frame = grey(reducedReference(shifted(photo1080p(), 12, 5)));
    cv::Mat flow;
    for (auto _ : state)
        cv::calcOpticalFlowFarneback(reference, frame, flow, 0.75, 4, 5, 1, 5, 1.1, 0);
}
BENCHMARK(BM_CvFarnebackReduced)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- Searches of the ghost removal ------------------------------------------------

// Args: template half-size, search radius. (8, 17): a fine search; (4, 20): a
// coarse search at power 40; (16, 170): a probe of the estimate.
void BM_ProbeDisplacement(benchmark::State& state)
{
    const cv::Mat frame = shifted(photo1080p(), 7, 3);
    const int half = int(state.range(0)), radius = int(state.range(1));
    int dy = 0, dx = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(probeDisplacement(photo1080p(), frame, 500, 900, half, radius, &dy, &dx));
}
BENCHMARK(BM_ProbeDisplacement)->Args({8, 17})->Args({4, 20})->Args({16, 170})->Unit(benchmark::kMicrosecond);

void BM_CvMatchTemplate(benchmark::State& state)
{
    const cv::Mat frame = shifted(photo1080p(), 7, 3);
    const int half = int(state.range(0)), radius = int(state.range(1));
    const cv::Mat patch = photo1080p()(cv::Rect(900 - half, 500 - half, 2 * half + 1, 2 * half + 1));
    const cv::Mat window = frame(cv::Rect(900 - radius, 500 - radius, 2 * radius, 2 * radius));
    cv::Mat scores;
    for (auto _ : state) {
        cv::matchTemplate(window, patch, scores, cv::TM_SQDIFF);
        double best;
        cv::Point where;
        cv::minMaxLoc(scores, &best, nullptr, &where);
        benchmark::DoNotOptimize(best);
    }
}
BENCHMARK(BM_CvMatchTemplate)->Args({8, 17})->Args({4, 20})->Args({16, 170})->Unit(benchmark::kMicrosecond);

void BM_MakeSearchCopy16U(benchmark::State& state)
{
    cv::Mat frame, copy;
    photo1080p().convertTo(frame, CV_16U, 257.0);
    for (auto _ : state)
        makeSearchCopy16U(frame, copy);
}
BENCHMARK(BM_MakeSearchCopy16U)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CvConvertTo16UTo8U(benchmark::State& state)
{
    cv::Mat frame, copy;
    photo1080p().convertTo(frame, CV_16U, 257.0);
    for (auto _ : state)
        frame.convertTo(copy, CV_8U, 1.0 / 257.0);
}
BENCHMARK(BM_CvConvertTo16UTo8U)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- Ghost removal ---------------------------------------------------------------

// A textured object over 10 % of the frame that moved by (16, 10) pixels.
struct GhostScene {
    cv::Mat reference, frame;
};

const GhostScene& ghostScene()
{
    static const GhostScene scene = [] {
        const cv::Mat object = loadPhoto("YellowFlower.jpg")(cv::Rect(600, 300, 660, 320)).clone();
        GhostScene s{photo1080p().clone(), photo1080p().clone()};
        object.copyTo(s.reference(cv::Rect(500, 350, 660, 320)));
        object.copyTo(s.frame(cv::Rect(516, 360, 660, 320)));
        return s;
    }();
    return scene;
}

// Args: block step (15, 5, 1: the three qualities), ghosting power (-1 automatic).
void BM_RemoveGhosts(benchmark::State& state)
{
    const GhostScene& scene = ghostScene();
    cv::Mat out;
    for (auto _ : state) {
        StackingContext context;
        context.removeGhosts(engineThreads(), scene.reference, scene.frame, int(state.range(1)), 10.0f,
                             int(state.range(0)), 1, &out);
    }
}
BENCHMARK(BM_RemoveGhosts)
    ->Args({15, -1})
    ->Args({5, -1})
    ->Args({1, -1})
    ->Args({5, 40})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Dense-flow compensation of the same frame: full-size flow, then remap.
void BM_CvFarnebackRemap(benchmark::State& state)
{
    const GhostScene& scene = ghostScene();
    const cv::Mat reference = grey(scene.reference), frame = grey(scene.frame);
    cv::Mat flow, map(k1080p, CV_32FC2), out;
    for (auto _ : state) {
        cv::calcOpticalFlowFarneback(reference, frame, flow, 0.75, 4, 5, 1, 5, 1.1, 0);
        for (int y = 0; y < flow.rows; ++y)
            for (int x = 0; x < flow.cols; ++x)
                map.at<cv::Point2f>(y, x) = flow.at<cv::Point2f>(y, x) + cv::Point2f(float(x), float(y));
        cv::remap(scene.frame, out, map, cv::noArray(), cv::INTER_LINEAR);
    }
}
BENCHMARK(BM_CvFarnebackRemap)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
