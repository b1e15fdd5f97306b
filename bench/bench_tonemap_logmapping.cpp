// The log-mapping operator against OpenCV's and luminance-hdr's Drago operators on
// the same HDR image. Arguments are megapixels.
#include "HdrBenchImage.h"

#include "LogMapping.h"

#include <benchmark/benchmark.h>
#include <opencv2/photo.hpp>

namespace {

void BM_LogMapping(benchmark::State& state)
{
    const cv::Mat image = hdrbench::hdrImage(double(state.range(0)));
    const float params[3] = {0.85f, -1.0f, -1.0f};
    LogMapping op;
    cv::Mat out;
    for (auto _ : state) {
        op.apply(out, image, params);
        benchmark::DoNotOptimize(out.data);
    }
}
BENCHMARK(BM_LogMapping)->Arg(1)->Arg(12)->Arg(24)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenCVTonemapDrago(benchmark::State& state)
{
    const cv::Mat image = hdrbench::hdrImage(double(state.range(0)));
    const cv::Ptr<cv::TonemapDrago> drago = cv::createTonemapDrago(1.0f, 1.0f, 0.85f);
    cv::Mat out;
    for (auto _ : state) {
        drago->process(image, out);
        benchmark::DoNotOptimize(out.data);
    }
}
BENCHMARK(BM_OpenCVTonemapDrago)->Arg(1)->Arg(12)->Arg(24)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LuminanceHdrDrago(benchmark::State& state)
{
    hdrbench::timeLuminanceHdr(state, hdrbench::hdrImage(double(state.range(0))), "drago");
}
BENCHMARK(BM_LuminanceHdrDrago)->Arg(12)->Iterations(3)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace
