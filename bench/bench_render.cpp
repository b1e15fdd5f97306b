// Render pipeline timings beside the OpenCV calls doing comparable work: a float
// BGR->HSV->BGR round trip plus a Gaussian unsharp mask over the same image.
#include "BenchPhotos.h"
#include "HdrBenchImage.h"

#include "ColourPass.h"
#include "EngineDefaults.h"
#include "RenderPipeline.h"
#include "Spline.h"
#include "ToneMapperFactory.h"
#include "WorkerCount.h"

#include <benchmark/benchmark.h>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

const int allThreads = std::max(1, static_cast<int>(std::thread::hardware_concurrency()) - 1);

// Width x height for a megapixel count at 3:2.
cv::Size photoSize(double megapixels)
{
    const int height = static_cast<int>(std::sqrt(megapixels * 1e6 / 1.5));
    return cv::Size(static_cast<int>(height * 1.5), height);
}

// Smooth, photo-like content: coarse random colours upsampled bicubically.
cv::Mat lightImage(const cv::Size& size)
{
    cv::Mat coarse(std::max(2, size.height / 32), std::max(2, size.width / 32), CV_32FC3);
    cv::RNG(42).fill(coarse, cv::RNG::UNIFORM, 0.f, 1.f);
    cv::Mat image;
    cv::resize(coarse, image, size, 0.0, 0.0, cv::INTER_CUBIC);
    return image;
}

void useThreads(int threads)
{
    setToneMappingWorkerCount(threads);
    cv::setNumThreads(threads);
}

// Arguments: megapixels x 10, threads.
void sizesAndThreads(benchmark::internal::Benchmark* b, std::initializer_list<int> tenthsOfMegapixels)
{
    for (int size : tenthsOfMegapixels)
        for (int threads : {1, allThreads})
            b->Args({size, threads});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

// renderPreview(k) with nothing changed: the time of re-rendering stages k to 4.
void BM_RenderPreviewFromStage(benchmark::State& state)
{
    const int stage = static_cast<int>(state.range(0));
    useThreads(static_cast<int>(state.range(1)));
    setPreviewBox(photoSize(1.0));
    engineDefaults.TMalgo = SlidersTMIndex;
    RenderPipeline pipeline;
    pipeline.setSourceImage(lightImage(photoSize(12.0)), true);
    pipeline.renderPreview(0, false);
    for (auto _ : state) {
        pipeline.renderPreview(stage, false);
        benchmark::DoNotOptimize(pipeline.output().data);
    }
}
BENCHMARK(BM_RenderPreviewFromStage)
    ->ArgsProduct({{0, 1, 2, 3, 4}, {1, allThreads}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One slider drag: the setter re-renders the interactive preview (1.5 times smaller
// than a 1-MP box) of a real HDR photo, moving between two values.
struct Drag {
    const char* name;
    int operatorIndex;
    void (RenderPipeline::*setter)(float, bool);
    float from;
    float to;
};

const std::vector<Drag>& drags()
{
    static const std::vector<Drag> table = {
        {"colour slider (exposure)", SlidersTMIndex, &RenderPipeline::setExposure, 0.1f, 0.2f},
        {"Laplacian alpha", LaplacianIndex, &RenderPipeline::setTM1Alpha, 0.8f, 0.9f},
        {"Laplacian beta", LaplacianIndex, &RenderPipeline::setTM1Beta, 0.1f, 0.2f},
        {"log mapping bias", LogMappingIndex, &RenderPipeline::setTM2Alpha, 0.8f, 0.9f},
        {"LC_Model floor", LC_ModelIndex, &RenderPipeline::setTM4Alpha, 0.2f, 0.3f},
        {"LC_Model slope", LC_ModelIndex, &RenderPipeline::setTM4Beta, 6.0f, 8.0f},
        {"LC_Model centre", LC_ModelIndex, &RenderPipeline::setTM4Gamma, 0.6f, 0.7f},
        {"layer processing exponent", LayerProcessingIndex, &RenderPipeline::setTM3Alpha, 0.6f, 0.65f},
        {"layer processing gamma", LayerProcessingIndex, &RenderPipeline::setTM3Beta, 0.9f, 0.95f},
        {"layer processing luminance", LayerProcessingIndex, &RenderPipeline::setTM3Gamma, 15000.f, 17500.f},
    };
    return table;
}

void BM_SliderDragPreview(benchmark::State& state)
{
    const Drag& drag = drags()[static_cast<size_t>(state.range(0))];
    state.SetLabel(drag.name);
    useThreads(allThreads);
    setPreviewBox(photoSize(1.0));
    engineDefaults.TMalgo = drag.operatorIndex;
    RenderPipeline pipeline;
    pipeline.setSourceImage(hdrbench::hdrImage(6.0), true);
    pipeline.renderPreview(0, true);
    // A drag's first steps may make what its later steps reuse: timed below.
    (pipeline.*drag.setter)(drag.to, true);
    (pipeline.*drag.setter)(drag.from, true);
    // Then back and forth through the values between, as a hand moves the slider.
    constexpr int kPositions = 16;
    int position = 0;
    int direction = 1;
    for (auto _ : state) {
        const float value = drag.from + (drag.to - drag.from) * (position + 0.5f) / kPositions;
        (pipeline.*drag.setter)(value, true);
        if (position + direction < 0 || position + direction >= kPositions)
            direction = -direction;
        position += direction;
        benchmark::DoNotOptimize(pipeline.output().data);
    }
    engineDefaults = EngineDefaults();
}
BENCHMARK(BM_SliderDragPreview)
    ->DenseRange(0, 9)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One new alpha of the Laplacian operator on an interactive preview's input: 0 as
// an export computes it, every sum afresh (what each drag step cost before node
// sums); 1 the step of a drag that makes the node sums (the input's third alpha:
// the first two are summed exactly); 2 a later step.
void BM_LaplacianAlphaStep(benchmark::State& state)
{
    useThreads(allThreads);
    const cv::Size preview = photoSize(1.0 / 2.25);
    cv::Mat input;
    cv::resize(hdrbench::hdrImage(6.0), input, preview, 0.0, 0.0, cv::INTER_AREA);
    const int mode = static_cast<int>(state.range(0));
    auto alphas = [](float alpha) { return std::array<float, 3>{alpha, 0.0f, -1.0f}; };
    std::unique_ptr<ToneMappingBase> op;
    cv::Mat out;
    auto startDrag = [&](std::initializer_list<float> earlier) {
        op = makeToneMapper(LaplacianIndex);
        op->keepInputSteps = mode > 0;
        for (float alpha : earlier)
            op->apply(out, input, alphas(alpha).data());
    };
    startDrag(mode == 2 ? std::initializer_list<float>{1.0f, 0.5f, 0.6f} : std::initializer_list<float>{1.0f, 0.5f});
    float alpha = 0.9f;
    for (auto _ : state) {
        if (mode == 1) {
            state.PauseTiming();
            startDrag({1.0f, 0.5f});
            state.ResumeTiming();
        }
        op->apply(out, input, alphas(alpha).data());
        alpha = alpha == 0.9f ? 0.8f : 0.9f;
        benchmark::DoNotOptimize(out.data);
    }
}
BENCHMARK(BM_LaplacianAlphaStep)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The preview of a 12-MP source in a 1-MP box against the export reduced to the
// preview's size by pixel area, inside the picture (not the rotation's corners):
// the mean, 99.9th-percentile and largest difference in 8-bit levels, with the
// export's time beside the preview's. Arguments: operator, setting, source
// (previewSource). The settings are six crop windows, each without and with a
// rotation, and the combined edit.
struct PreviewSetting {
    std::string name;
    // x, y, width, height in fractions of the source; empty for no crop.
    cv::Rect2d window;
    float rotation;
    bool combined;
};

std::vector<PreviewSetting> previewSettings()
{
    const std::pair<const char*, cv::Rect2d> windows[] = {
        {"whole", {}},
        {"centre", {0.2, 0.25, 0.6, 0.5}},
        {"top-left quarter", {0.0, 0.0, 0.5, 0.5}},
        {"bottom-right quarter", {0.5, 0.5, 0.5, 0.5}},
        {"left strip", {0.0, 0.1, 0.25, 0.8}},
        {"top band", {0.1, 0.0, 0.8, 0.2}},
    };
    std::vector<PreviewSetting> settings;
    for (float rotation : {0.0f, 0.1f})
        for (const auto& window : windows)
            settings.push_back({std::string(window.first) + (rotation != 0.0f ? ", rotated" : ""), window.second,
                                rotation, false});
    settings.push_back({"combined", {1.0 / 6, 0.2, 2.0 / 3, 0.5}, -0.07f, true});
    return settings;
}

void applyPreviewSetting(RenderPipeline& p, const PreviewSetting& setting, const cv::Size& s)
{
    p.setRotation(setting.rotation, false);
    if (!setting.window.empty())
        p.setCrop(cv::Rect(int(setting.window.x * s.width), int(setting.window.y * s.height),
                           int(setting.window.width * s.width), int(setting.window.height * s.height)),
                  false);
    if (!setting.combined)
        return;
    p.setExposure(0.4f, false);
    p.setContrast(1.3f, false);
    p.setSaturation(1.4f, false);
    p.setShadows(0.4f, false);
    p.setSharpeningAmount(0.6f, false);
    p.setSharpeningRadius(5, false);
}

// Where the picture is, inside its edge: the preview of a flat grey source.
cv::Mat pictureInside(const RenderPipeline& settings, const cv::Size& source)
{
    RenderPipeline frame;
    frame.copySettings(settings);
    frame.setApplyTM(false, false);
    frame.setApplySharpening(false, false);
    frame.setSourceImage(cv::Mat(source, CV_32FC3, cv::Scalar::all(0.5)), true);
    frame.renderPreview(0, false);
    cv::Mat grey;
    cv::cvtColor(frame.cropped(), grey, cv::COLOR_BGR2GRAY);
    // Not an exact match: the area reduction and the grey conversion round some of
    // the flat picture's pixels a float step away from 0.5.
    cv::Mat inside = cv::abs(grey - 0.5f) < 1e-4f;
    cv::erode(inside, inside, cv::Mat(), cv::Point(-1, -1), 2);
    return inside;
}

void reportDifference(benchmark::State& state, const cv::Mat& preview, const cv::Mat& exported, const cv::Mat& inside)
{
    cv::Mat reduced, difference;
    cv::resize(exported, reduced, preview.size(), 0.0, 0.0, cv::INTER_AREA);
    cv::absdiff(preview, reduced, difference);
    cv::Mat channels[3];
    cv::split(difference, channels);
    const cv::Mat largest = cv::max(channels[0], cv::max(channels[1], channels[2]));
    std::vector<float> values;
    for (int r = 0; r < largest.rows; ++r)
        for (int c = 0; c < largest.cols; ++c)
            if (inside.at<uchar>(r, c))
                values.push_back(largest.at<float>(r, c));
    if (values.empty())
        return;
    std::sort(values.begin(), values.end());
    state.counters["mean_levels"] = cv::mean(cv::mean(difference, inside))[0] * 255.0;
    state.counters["p999_levels"] = values[values.size() * 999 / 1000] * 255.0;
    state.counters["max_levels"] = values.back() * 255.0;
}

const char* const kPreviewSourceNames[] = {", HDR with a sun", ", 12-MP photo", ", letterboxed photo",
                                           ", letterboxed photo in video black"};

// A real 12-MP phone photo (4000 x 3000) at its full resolution; a smooth stand-in
// without the media.
cv::Mat twelveMegapixelPhoto()
{
    const char* root = std::getenv("VB_TEST_MEDIA");
    const std::string path = std::string(root ? root : VB_TEST_MEDIA) +
                             "/forensics-samples-files/usr/share/forensics-samples/original-files/pic2/"
                             "IMG_20200608_111614.jpg";
    cv::Mat photo = cv::imread(path, cv::IMREAD_COLOR);
    return photo.empty() ? benchphotos::loadPhoto("GreenMeadow.jpg", cv::Size(4000, 3000)) : photo;
}

// 0 a real HDR with the sun in it, 1 a real 12-MP photo, 2 and 3 the photo's middle
// letterboxed as a wide film in its own frame, in black and in video-black (16) bars:
// bars whose edge the preview's reduction covers only partly.
cv::Mat previewSource(int source)
{
    if (source == 0)
        return hdrbench::hdrImage(12.0, "city.exr");
    const cv::Mat photo = twelveMegapixelPhoto();
    if (source == 1)
        return photo;
    // In the 1-MP preview the bar's edge falls half into a row.
    const int bar = 377;
    cv::Mat framed(photo.size(), CV_8UC3, cv::Scalar::all(source == 3 ? 16 : 0));
    const cv::Rect picture(0, bar, photo.cols, photo.rows - 2 * bar);
    photo(picture).copyTo(framed(picture));
    return framed;
}

void BM_PreviewAgainstExport(benchmark::State& state)
{
    const PreviewSetting setting = previewSettings()[size_t(state.range(1))];
    state.SetLabel(setting.name + kPreviewSourceNames[state.range(2)]);
    useThreads(allThreads);
    setPreviewBox(photoSize(1.0));
    engineDefaults.TMalgo = static_cast<int>(state.range(0));
    const cv::Mat source = previewSource(int(state.range(2)));
    RenderPipeline pipeline;
    applyPreviewSetting(pipeline, setting, source.size());
    // The HDR comes from an EXR file, which the window opens as scene-referred.
    pipeline.setSourceImage(source, true, state.range(2) == 0 ? SourceKind::SceneReferred : SourceKind::Unknown);
    for (auto _ : state)
        pipeline.renderPreview(0, false);
    const cv::Mat preview = pipeline.output().clone();
    const auto start = std::chrono::steady_clock::now();
    const cv::Mat exported = pipeline.renderFull();
    state.counters["export_ms"] = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    reportDifference(state, preview, exported, pictureInside(pipeline, source.size()));
    engineDefaults = EngineDefaults();
}
BENCHMARK(BM_PreviewAgainstExport)
    ->ArgsProduct({{0, 1, 2, 3, 4}, benchmark::CreateDenseRange(0, 12, 1), {0, 1, 2, 3}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ColourPass(benchmark::State& state)
{
    useThreads(static_cast<int>(state.range(1)));
    const cv::Mat in = lightImage(photoSize(state.range(0) / 10.0));
    const Spline curve(0.2f, -0.3f, 0.4f, 0.1f);
    cv::Mat out;
    for (auto _ : state) {
        parallelComputeLightImage(curve, out, in, {0.1f, 1.2f, 0.3f, {0.f, 0.0025f, 1.f, 100.f}, 1.2f});
        benchmark::DoNotOptimize(out.data);
    }
}
BENCHMARK(BM_ColourPass)->Apply([](benchmark::internal::Benchmark* b) { sizesAndThreads(b, {10, 120}); });

void BM_RenderFull(benchmark::State& state)
{
    useThreads(static_cast<int>(state.range(1)));
    engineDefaults.TMalgo = SlidersTMIndex;
    RenderPipeline pipeline;
    pipeline.setSourceImage(lightImage(photoSize(state.range(0) / 10.0)), true);
    for (auto _ : state)
        benchmark::DoNotOptimize(pipeline.renderFull().data);
}
BENCHMARK(BM_RenderFull)->Apply([](benchmark::internal::Benchmark* b) { sizesAndThreads(b, {120, 240}); });

// The export of a turned 12-MP photo with the point operator: the picture and its
// coverage drawn at full size, and no reduced copy of the source, which only the
// preview draws from. Argument: the rotation in hundredths of a radian.
void BM_RenderFullRotated(benchmark::State& state)
{
    useThreads(allThreads);
    engineDefaults.TMalgo = SlidersTMIndex;
    RenderPipeline pipeline;
    pipeline.setSourceImage(lightImage(photoSize(12.0)), true);
    pipeline.setRotation(float(state.range(0)) / 100.0f, false);
    for (auto _ : state)
        benchmark::DoNotOptimize(pipeline.renderFull().data);
    engineDefaults = EngineDefaults();
}
BENCHMARK(BM_RenderFullRotated)->Arg(0)->Arg(10)->Unit(benchmark::kMillisecond)->UseRealTime();

// Peer: the library turns the same photo onto its larger canvas, bicubically.
void BM_OpenCVRotateCubic(benchmark::State& state)
{
    useThreads(allThreads);
    const cv::Mat in = lightImage(photoSize(12.0));
    const cv::RotatedRect turned(cv::Point2f(in.cols / 2.f, in.rows / 2.f), in.size(), 0.1f * 180.f / float(CV_PI));
    cv::Mat turn = cv::getRotationMatrix2D(turned.center, turned.angle, 1.0);
    const cv::Rect canvas = turned.boundingRect();
    turn.at<double>(0, 2) -= canvas.x;
    turn.at<double>(1, 2) -= canvas.y;
    cv::Mat out;
    for (auto _ : state) {
        cv::warpAffine(in, out, turn, canvas.size(), cv::INTER_CUBIC);
        benchmark::DoNotOptimize(out.data);
    }
}
BENCHMARK(BM_OpenCVRotateCubic)->Unit(benchmark::kMillisecond)->UseRealTime();

// Peer: float HSV round trip plus unsharp mask, the library's share of a colour render.
void BM_OpenCVHsvRoundTripAndUnsharpMask(benchmark::State& state)
{
    useThreads(static_cast<int>(state.range(1)));
    const cv::Mat in = lightImage(photoSize(state.range(0) / 10.0));
    cv::Mat hsv, bgr, blur, sharpened;
    for (auto _ : state) {
        cv::cvtColor(in, hsv, cv::COLOR_BGR2HSV);
        cv::cvtColor(hsv, bgr, cv::COLOR_HSV2BGR);
        cv::GaussianBlur(bgr, blur, cv::Size(3, 3), 0.0, 0.0, cv::BORDER_REFLECT_101);
        cv::addWeighted(bgr, 1.1, blur, -0.1, 0.0, sharpened);
        benchmark::DoNotOptimize(sharpened.data);
    }
}
BENCHMARK(BM_OpenCVHsvRoundTripAndUnsharpMask)->Apply([](benchmark::internal::Benchmark* b) {
    sizesAndThreads(b, {10, 120, 240});
});

void BM_ClipBlackWhite(benchmark::State& state)
{
    useThreads(static_cast<int>(state.range(1)));
    const cv::Mat reference = lightImage(photoSize(state.range(0) / 10.0));
    const cv::Mat colour = reference * 0.5;
    for (auto _ : state)
        benchmark::DoNotOptimize(RenderPipeline::clipBlackWhite(reference, 0.1f, 0.1f, colour).data);
}
BENCHMARK(BM_ClipBlackWhite)->Apply([](benchmark::internal::Benchmark* b) { sizesAndThreads(b, {10, 120}); });

// Peer: the same clipping through channel means, masks and masked copies.
void BM_OpenCVClipByMasks(benchmark::State& state)
{
    useThreads(static_cast<int>(state.range(1)));
    const cv::Mat reference = lightImage(photoSize(state.range(0) / 10.0));
    const cv::Mat colour = reference * 0.5;
    cv::Mat mean, blackMask, whiteMask;
    for (auto _ : state) {
        cv::transform(reference, mean, cv::Matx13f(1.f / 3, 1.f / 3, 1.f / 3));
        cv::compare(mean, 0.1, blackMask, cv::CMP_LT);
        cv::compare(mean, 0.9, whiteMask, cv::CMP_GT);
        cv::Mat result = colour.clone();
        result.setTo(cv::Scalar::all(1.0), whiteMask);
        result.setTo(cv::Scalar::all(0.0), blackMask);
        benchmark::DoNotOptimize(result.data);
    }
}
BENCHMARK(BM_OpenCVClipByMasks)->Apply([](benchmark::internal::Benchmark* b) { sizesAndThreads(b, {10, 120}); });

}  // namespace
