// The Laplacian-pyramid operator against OpenCV's detail enhancement and Mantiuk
// operator and luminance-hdr's Durand operator on the same HDR image. Arguments are
// megapixels.
#include "HdrBenchImage.h"

#include "Laplacian.h"
#include "WorkerCount.h"

#include <benchmark/benchmark.h>
#include <opencv2/photo.hpp>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

void useAllWorkers()
{
    setToneMappingWorkerCount(std::max(1, int(std::thread::hardware_concurrency()) - 1));
}

// Arguments: megapixels, alpha in percent (below 100 raises detail through the
// power-function path).
void BM_Laplacian(benchmark::State& state)
{
    useAllWorkers();
    const cv::Mat image = hdrbench::hdrImage(double(state.range(0)));
    const float params[3] = {float(state.range(1)) / 100.0f, 0.0f, -1.0f};
    Laplacian op;
    cv::Mat out;
    for (auto _ : state) {
        op.apply(out, image, params);
        benchmark::DoNotOptimize(out.data);
    }
    state.counters["peak_MB"] = hdrbench::peakMegabytes();
}
BENCHMARK(BM_Laplacian)
    ->Args({1, 100})
    ->Args({12, 100})
    ->Args({1, 50})
    ->Args({12, 50})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Peak memory: run alone (--benchmark_filter=BM_LaplacianPeakMemory) for a clean figure.
void BM_LaplacianPeakMemory(benchmark::State& state)
{
    BM_Laplacian(state);
}
BENCHMARK(BM_LaplacianPeakMemory)->Args({24, 100})->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Worst delay between setting cancel and apply returning, over cancels spread across a run.
void BM_LaplacianCancelLatency(benchmark::State& state)
{
    useAllWorkers();
    const cv::Mat image = hdrbench::hdrImage(double(state.range(0)));
    const float params[3] = {1.0f, 0.0f, -1.0f};
    double worst = 0.0;
    for (auto _ : state) {
        for (int delay = 0; delay <= 3000; delay += 150) {
            Laplacian op;
            cv::Mat out;
            std::chrono::steady_clock::time_point cancelled;
            std::thread canceller([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
                cancelled = std::chrono::steady_clock::now();
                op.cancel = true;
            });
            op.apply(out, image, params);
            const auto returned = std::chrono::steady_clock::now();
            canceller.join();
            if (out.empty())
                worst = std::max(worst, std::chrono::duration<double, std::milli>(returned - cancelled).count());
        }
    }
    state.counters["worst_cancel_ms"] = worst;
}
BENCHMARK(BM_LaplacianCancelLatency)->Arg(24)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenCVDetailEnhance(benchmark::State& state)
{
    const cv::Mat image = hdrbench::hdrImage(double(state.range(0)));
    cv::Mat eightBit;
    cv::normalize(image, eightBit, 0, 255, cv::NORM_MINMAX, CV_8U);
    cv::Mat out;
    for (auto _ : state) {
        cv::detailEnhance(eightBit, out);
        benchmark::DoNotOptimize(out.data);
    }
}
BENCHMARK(BM_OpenCVDetailEnhance)->Arg(1)->Arg(12)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenCVTonemapMantiuk(benchmark::State& state)
{
    const cv::Mat image = hdrbench::hdrImage(double(state.range(0)));
    const cv::Ptr<cv::TonemapMantiuk> mantiuk = cv::createTonemapMantiuk();
    cv::Mat out;
    for (auto _ : state) {
        mantiuk->process(image, out);
        benchmark::DoNotOptimize(out.data);
    }
}
BENCHMARK(BM_OpenCVTonemapMantiuk)->Arg(1)->Arg(12)->Unit(benchmark::kMillisecond)->UseRealTime();

// Peer: the nearest operator of luminance-hdr, a base-and-detail split by a bilateral filter.
void BM_LuminanceHdrDurand(benchmark::State& state)
{
    hdrbench::timeLuminanceHdr(state, hdrbench::hdrImage(double(state.range(0))), "durand");
}
BENCHMARK(BM_LuminanceHdrDurand)->Arg(12)->Iterations(2)->Unit(benchmark::kMillisecond)->UseManualTime();

// The 12-MP target: the operator and luminance-hdr's Durand operator in adjacent pairs.
void BM_LaplacianBesideDurand(benchmark::State& state)
{
    useAllWorkers();
    const cv::Mat image = hdrbench::hdrImage(double(state.range(0)));
    const float params[3] = {1.0f, 0.0f, -1.0f};
    Laplacian op;
    cv::Mat out;
    hdrbench::timeBesidePeer(state, image, "durand", [&] { op.apply(out, image, params); });
}
BENCHMARK(BM_LaplacianBesideDurand)->Arg(12)->Iterations(3)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace
