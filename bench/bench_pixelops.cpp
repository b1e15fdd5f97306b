// Hand-written pixel loops against the OpenCV calls that do a similar job.
#include "PixelOps.h"

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>

namespace {

cv::Mat randomImage(int width, int height, int type)
{
    cv::Mat image(height, width, type);
    cv::randu(image, cv::Scalar::all(0), cv::Scalar::all(type == CV_32FC3 ? 1.0 : 255.0));
    return image;
}

// Sizes: 1 MP preview, 12 MP photo.
void sizes(benchmark::internal::Benchmark* b)
{
    b->Args({1200, 800})->Args({4000, 3000})->Unit(benchmark::kMillisecond);
}

void BM_ConvertBitDepth32FTo16U(benchmark::State& state)
{
    const cv::Mat image = randomImage(int(state.range(0)), int(state.range(1)), CV_32FC3);
    for (auto _ : state)
        benchmark::DoNotOptimize(convertBitDepth(image, 16));
}
BENCHMARK(BM_ConvertBitDepth32FTo16U)->Apply(sizes);

void BM_OpenCvConvertTo32FTo16U(benchmark::State& state)
{
    const cv::Mat image = randomImage(int(state.range(0)), int(state.range(1)), CV_32FC3);
    cv::Mat out;
    for (auto _ : state) {
        image.convertTo(out, CV_16U, 65535.0);
        benchmark::DoNotOptimize(out.data);
    }
}
BENCHMARK(BM_OpenCvConvertTo32FTo16U)->Apply(sizes);

void BM_RotateImage32F(benchmark::State& state)
{
    const cv::Mat image = randomImage(int(state.range(0)), int(state.range(1)), CV_32FC3);
    cv::Mat out;
    for (auto _ : state) {
        rotateImage(image, out, 0.05);
        benchmark::DoNotOptimize(out.data);
    }
}
BENCHMARK(BM_RotateImage32F)->Apply(sizes);

void BM_OpenCvWarpAffineCubic32F(benchmark::State& state)
{
    const cv::Mat image = randomImage(int(state.range(0)), int(state.range(1)), CV_32FC3);
    const cv::Point2f centre((image.cols - 1) * 0.5f, (image.rows - 1) * 0.5f);
    const cv::Mat rotation = cv::getRotationMatrix2D(centre, 0.05 * 180 / CV_PI, 1.0);
    const cv::Rect box = cv::RotatedRect(centre, image.size(), float(0.05 * 180 / CV_PI)).boundingRect();
    cv::Mat out;
    for (auto _ : state) {
        cv::warpAffine(image, out, rotation, box.size(), cv::INTER_CUBIC);
        benchmark::DoNotOptimize(out.data);
    }
}
BENCHMARK(BM_OpenCvWarpAffineCubic32F)->Apply(sizes);

}  // namespace
