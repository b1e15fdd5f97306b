// The fast bilateral filter, the layer-processing, LC_Model and sliders-only
// operators beside OpenCV and luminance-hdr peers on the same real HDR image,
// enlarged to photo sizes.
#include "HdrBenchImage.h"

#include "BilateralFilter.h"
#include "LC_Model.h"
#include "LayerProcessing.h"
#include "SlidersTM.h"
#include "WorkerCount.h"

#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/photo.hpp>
#include <opencv2/ximgproc.hpp>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>

namespace {

const char* const kHdrFile = "/blender-data/usr/share/blender/datafiles/studiolights/world/courtyard.exr";

// 1 MP preview, 12 MP and 24 MP photos (3:2).
cv::Size sizeForMegapixels(int megapixels)
{
    const double width = std::sqrt(megapixels * 1.0e6 * 1.5);
    return cv::Size(static_cast<int>(width), static_cast<int>(width / 1.5));
}

// The HDR image at that size, or a smooth synthetic scene when the media is absent.
const cv::Mat& hdrImage(int megapixels)
{
    static std::map<int, cv::Mat> cache;
    cv::Mat& image = cache[megapixels];
    if (!image.empty())
        return image;
    setenv("OPENCV_IO_ENABLE_OPENEXR", "1", 0);
    const char* root = std::getenv("VB_TEST_MEDIA");
    cv::Mat source = cv::imread(std::string(root ? root : VB_TEST_MEDIA) + kHdrFile, cv::IMREAD_UNCHANGED);
    if (source.empty()) {
        source.create(480, 720, CV_32FC3);
        cv::randu(source, 0.0f, 4.0f);
        cv::GaussianBlur(source, source, cv::Size(0, 0), 12.0);
    }
    if (source.channels() == 4)
        cv::cvtColor(source, source, cv::COLOR_BGRA2BGR);
    source.convertTo(source, CV_32F);
    cv::resize(source, image, sizeForMegapixels(megapixels), 0, 0, cv::INTER_LINEAR);
    return image;
}

// What the layer-processing operator filters: log10 of the image's luminance.
const cv::Mat& logLuminance(int megapixels)
{
    static std::map<int, cv::Mat> cache;
    cv::Mat& plane = cache[megapixels];
    if (plane.empty()) {
        cv::Mat grey;
        cv::cvtColor(hdrImage(megapixels), grey, cv::COLOR_BGR2GRAY);
        cv::log(cv::max(grey * 20000.0f, 1e-8f), plane);
        plane /= std::log(10.0f);
    }
    return plane;
}

void reportPeakMemory(benchmark::State& state)
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peakRSS_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_GridBilateral(benchmark::State& state)
{
    const cv::Mat& plane = logLuminance(static_cast<int>(state.range(0)));
    cv::Mat out;
    for (auto _ : state)
        cv_extend::bilateralFilter(plane, out, 0.35f, 0.02f * std::min(plane.rows, plane.cols));
    reportPeakMemory(state);
}

// Peer: the library's direct bilateral filter, limited to a 9-pixel window.
void BM_OpenCvBilateral(benchmark::State& state)
{
    const cv::Mat& plane = logLuminance(static_cast<int>(state.range(0)));
    cv::Mat out;
    for (auto _ : state)
        cv::bilateralFilter(plane, out, 9, 0.35, 0.02 * std::min(plane.rows, plane.cols));
    reportPeakMemory(state);
}

// Peer: the domain-transform edge-preserving filter with the same sigmas.
void BM_OpenCvDtFilter(benchmark::State& state)
{
    const cv::Mat& plane = logLuminance(static_cast<int>(state.range(0)));
    cv::Mat out;
    for (auto _ : state)
        cv::ximgproc::dtFilter(plane, plane, out, 0.02 * std::min(plane.rows, plane.cols), 0.35);
    reportPeakMemory(state);
}

template <typename Operator>
void runOperator(benchmark::State& state, const float params[3])
{
    // As the main window sets it at start-up.
    setToneMappingWorkerCount(cv::getNumberOfCPUs() - 1);
    const cv::Mat& image = hdrImage(static_cast<int>(state.range(0)));
    Operator op;
    cv::Mat out;
    for (auto _ : state)
        op.apply(out, image, params);
    reportPeakMemory(state);
}

void BM_LayerProcessing(benchmark::State& state)
{
    const float params[3] = {0.7f, 1.0f, 20000.0f};
    runOperator<LayerProcessing>(state, params);
}

// Peer: the library's local tone mapper (its Durand operator is excluded from
// this build as patented).
void BM_OpenCvTonemapMantiuk(benchmark::State& state)
{
    const cv::Mat& image = hdrImage(static_cast<int>(state.range(0)));
    const cv::Ptr<cv::TonemapMantiuk> tonemap = cv::createTonemapMantiuk();
    cv::Mat out;
    for (auto _ : state)
        tonemap->process(image, out);
    reportPeakMemory(state);
}

void BM_OpenCvTonemapReinhard(benchmark::State& state)
{
    const cv::Mat& image = hdrImage(static_cast<int>(state.range(0)));
    const cv::Ptr<cv::TonemapReinhard> tonemap = cv::createTonemapReinhard();
    cv::Mat out;
    for (auto _ : state)
        tonemap->process(image, out);
    reportPeakMemory(state);
}

void BM_LCModel(benchmark::State& state)
{
    const float params[3] = {0.1f, 7.0f, 0.5f};
    runOperator<LC_Model>(state, params);
}

// Peer: a plain Gaussian surround of the same spread on the luminance.
void BM_OpenCvGaussianSurround(benchmark::State& state)
{
    const cv::Mat& image = hdrImage(static_cast<int>(state.range(0)));
    cv::Mat luminance;
    cv::Mat surround;
    for (auto _ : state) {
        cv::cvtColor(image, luminance, cv::COLOR_BGR2GRAY);
        cv::GaussianBlur(luminance, surround, cv::Size(99, 99), 22.627417);
    }
    reportPeakMemory(state);
}

// Peer of layer processing: luminance-hdr's base-and-detail operator.
void BM_LuminanceHdrDurand(benchmark::State& state)
{
    hdrbench::timeLuminanceHdr(state, hdrImage(static_cast<int>(state.range(0))), "durand");
}

// Peer of LC_Model: luminance-hdr's local-contrast operator with an edge-limited surround.
void BM_LuminanceHdrAshikhmin(benchmark::State& state)
{
    hdrbench::timeLuminanceHdr(state, hdrImage(static_cast<int>(state.range(0))), "ashikhmin");
}

// The 12-MP targets: each operator and its luminance-hdr peer in adjacent pairs.
template <typename Operator>
void besidePeer(benchmark::State& state, const float params[3], const char* tmo)
{
    setToneMappingWorkerCount(cv::getNumberOfCPUs() - 1);
    const cv::Mat& image = hdrImage(static_cast<int>(state.range(0)));
    Operator op;
    cv::Mat out;
    hdrbench::timeBesidePeer(state, image, tmo, [&] { op.apply(out, image, params); });
}

void BM_LCModelBesideAshikhmin(benchmark::State& state)
{
    const float params[3] = {0.1f, 7.0f, 0.5f};
    besidePeer<LC_Model>(state, params, "ashikhmin");
}

void BM_LayerProcessingBesideDurand(benchmark::State& state)
{
    const float params[3] = {0.7f, 1.0f, 20000.0f};
    besidePeer<LayerProcessing>(state, params, "durand");
}

void BM_SlidersTM(benchmark::State& state)
{
    const float params[3] = {-1.0f, -1.0f, -1.0f};
    runOperator<SlidersTM>(state, params);
}

// Peer of the sliders-only operator: luminance-hdr's global photographic operator.
void BM_LuminanceHdrReinhard02(benchmark::State& state)
{
    hdrbench::timeLuminanceHdr(state, hdrImage(static_cast<int>(state.range(0))), "reinhard02");
}

}  // namespace

BENCHMARK(BM_GridBilateral)->Arg(1)->Arg(12)->Arg(24)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenCvBilateral)->Arg(1)->Arg(12)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenCvDtFilter)->Arg(1)->Arg(12)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LayerProcessing)->Arg(1)->Arg(12)->Arg(24)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenCvTonemapMantiuk)->Arg(1)->Arg(12)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenCvTonemapReinhard)->Arg(1)->Arg(12)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LCModel)->Arg(1)->Arg(12)->Arg(24)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenCvGaussianSurround)->Arg(1)->Arg(12)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LuminanceHdrDurand)->Arg(12)->Iterations(2)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_LuminanceHdrAshikhmin)->Arg(12)->Iterations(2)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_SlidersTM)->Arg(1)->Arg(12)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LCModelBesideAshikhmin)->Arg(12)->Iterations(3)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_LayerProcessingBesideDurand)->Arg(12)->Iterations(3)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_LuminanceHdrReinhard02)->Arg(12)->Iterations(2)->Unit(benchmark::kMillisecond)->UseManualTime();
