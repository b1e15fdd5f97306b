// The preview of a large photo in a 1-megapixel box. Its source is reduced once by
// pixel area, beside the bilinear reduction as peer; a drag on a 24-megapixel photo,
// beside the same drag on a source already at the preview's size, shows that the
// reduction is not repeated while dragging (their ratio stays near 1); a rotation drag,
// which must rebuild the preview source, beside OpenCV's reduction and turn of the same
// picture; and the window's fit of a still 4K frame to its view (an unedited photo,
// a paused frame), by area beside bilinear.
#include "BenchPhotos.h"

#include "EngineDefaults.h"
#include "RenderPipeline.h"
#include "ToneMapperFactory.h"

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>

#include <cmath>

namespace {

const cv::Size kBox(1224, 816);

// Width x height for a megapixel count at 3:2.
cv::Size photoSize(double megapixels)
{
    const int height = static_cast<int>(std::sqrt(megapixels * 1e6 / 1.5));
    return cv::Size(static_cast<int>(height * 1.5), height);
}

cv::Mat floatPhoto(const cv::Size& size)
{
    cv::Mat photo;
    benchphotos::loadPhoto("GreenMeadow.jpg", size).convertTo(photo, CV_32FC3, 1.0 / 255.0);
    return photo;
}

// Arguments: megapixels, interpolation (cv::INTER_AREA, the preview's; cv::INTER_LINEAR, the peer).
void BM_PreviewSourceReduction(benchmark::State& state)
{
    const int interpolation = static_cast<int>(state.range(1));
    state.SetLabel(interpolation == cv::INTER_AREA ? "area (preview)" : "bilinear (peer)");
    const cv::Mat source = floatPhoto(photoSize(double(state.range(0))));
    cv::Mat reduced;
    for (auto _ : state) {
        cv::resize(source, reduced, kBox, 0.0, 0.0, interpolation);
        benchmark::DoNotOptimize(reduced.data);
    }
}
BENCHMARK(BM_PreviewSourceReduction)
    ->ArgsProduct({{12, 24}, {cv::INTER_AREA, cv::INTER_LINEAR}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One step of a colour-slider drag. Argument: the source's megapixels; 0 for a source
// already at the interactive preview's size (the peer).
void BM_ColourDragStep(benchmark::State& state)
{
    state.SetLabel(state.range(0) == 0 ? "source at preview size (peer)" : "24-MP photo");
    setPreviewBox(kBox);
    engineDefaults.TMalgo = SlidersTMIndex;
    const cv::Size interactive(kBox.width * 2 / 3, kBox.height * 2 / 3);
    RenderPipeline pipeline;
    pipeline.setSourceImage(floatPhoto(state.range(0) == 0 ? interactive : photoSize(double(state.range(0)))), true);
    pipeline.renderPreview(RenderPipeline::RotationStage, true);
    bool forth = true;
    for (auto _ : state) {
        pipeline.setExposure(forth ? 0.2f : 0.1f, true);
        forth = !forth;
        benchmark::DoNotOptimize(pipeline.output().data);
    }
    state.counters["preview_mp"] = pipeline.output().total() / 1e6;
    engineDefaults = EngineDefaults();
}
BENCHMARK(BM_ColourDragStep)->Arg(24)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// One step of a rotation drag on a photo (megapixels): the picture's new shape gives a new
// preview source, reduced again by area, then turned and cropped.
void BM_RotationDragStep(benchmark::State& state)
{
    setPreviewBox(kBox);
    engineDefaults.TMalgo = SlidersTMIndex;
    RenderPipeline pipeline;
    pipeline.setSourceImage(floatPhoto(photoSize(double(state.range(0)))), true);
    pipeline.renderPreview(RenderPipeline::RotationStage, true);
    bool forth = true;
    for (auto _ : state) {
        pipeline.setRotation(forth ? -0.24f : -0.26f, true);
        forth = !forth;
        benchmark::DoNotOptimize(pipeline.output().data);
    }
    engineDefaults = EngineDefaults();
}
BENCHMARK(BM_RotationDragStep)->Arg(24)->Arg(6)->Unit(benchmark::kMillisecond)->UseRealTime();

// Peer: OpenCV reduces the same photo by area to the box and turns it.
void BM_OpenCVReduceAndTurn(benchmark::State& state)
{
    const cv::Mat source = floatPhoto(photoSize(double(state.range(0))));
    cv::Mat reduced, turned;
    const cv::Mat turn = cv::getRotationMatrix2D(cv::Point2f(kBox.width / 2.f, kBox.height / 2.f), 14.0, 1.0);
    for (auto _ : state) {
        cv::resize(source, reduced, kBox, 0.0, 0.0, cv::INTER_AREA);
        cv::warpAffine(reduced, turned, turn, kBox, cv::INTER_CUBIC);
        benchmark::DoNotOptimize(turned.data);
    }
}
BENCHMARK(BM_OpenCVReduceAndTurn)->Arg(24)->Arg(6)->Unit(benchmark::kMillisecond)->UseRealTime();

// The window fitting a still 8-bit 4K frame to a 1229 x 691 view: area, which it takes
// beyond a halving unless a video plays, beside bilinear.
void BM_ViewFitOf4KFrame(benchmark::State& state)
{
    const int interpolation = static_cast<int>(state.range(0));
    state.SetLabel(interpolation == cv::INTER_AREA ? "area (window)" : "bilinear (peer)");
    const cv::Mat frame = benchphotos::loadPhoto("GreenMeadow.jpg", cv::Size(3840, 2160));
    cv::Mat shown;
    for (auto _ : state) {
        cv::resize(frame, shown, cv::Size(1229, 691), 0.0, 0.0, interpolation);
        benchmark::DoNotOptimize(shown.data);
    }
}
BENCHMARK(BM_ViewFitOf4KFrame)->Arg(cv::INTER_AREA)->Arg(cv::INTER_LINEAR)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
