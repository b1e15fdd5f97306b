#include "NoiseEstimate.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

constexpr int kBandRows = 16;
// Enough samples for a stable median; larger images are read in spaced bands.
constexpr double kSampleBudget = 1.5e6;
// The kernel's response to unit Gaussian noise has deviation 6; its median absolute
// value is 0.6745 of that.
constexpr float kMedianToDeviation = 1.0f / (6.0f * 0.6745f);
constexpr double kMedianToUnitDeviation = 0.6745;
constexpr int kLargestResponse = 16 * 255;
constexpr float kNoiseDeviations = 3.0f;
constexpr float kLeastDifference = 2.0f;

}  // namespace

float estimateNoiseDeviation(const cv::Mat& image8)
{
    CV_Assert(image8.depth() == CV_8U);
    if (image8.rows < 3 || image8.cols < 3)
        return 0.0f;
    static const cv::Mat kernel = (cv::Mat_<float>(3, 3) << 1, -2, 1, -2, 4, -2, 1, -2, 1);
    const int bands = (image8.rows - 2 + kBandRows - 1) / kBandRows;
    const double samplesPerBand = double(kBandRows) * image8.cols * image8.channels();
    const int stride = std::max(1, int(samplesPerBand * bands / kSampleBudget));
    std::vector<std::int64_t> histogram(kLargestResponse + 1, 0);
    std::mutex histogramLock;
    cv::parallel_for_(cv::Range(0, (bands + stride - 1) / stride), [&](const cv::Range& range) {
        std::vector<std::int64_t> local(kLargestResponse + 1, 0);
        for (int k = range.start; k < range.end; ++k) {
            // Interior rows only: the kernel reads the rows either side from the image.
            const int top = 1 + k * stride * kBandRows;
            const int bottom = std::min(top + kBandRows, image8.rows - 1);
            cv::Mat response;
            cv::filter2D(image8.rowRange(top, bottom), response, CV_16S, kernel);
            const int channels = image8.channels();
            for (int y = 0; y < response.rows; ++y) {
                const short* row = response.ptr<short>(y);
                for (int i = channels; i < (response.cols - 1) * channels; ++i)
                    ++local[std::abs(row[i])];
            }
        }
        const std::lock_guard<std::mutex> guard(histogramLock);
        for (std::size_t i = 0; i < local.size(); ++i)
            histogram[i] += local[i];
    });
    std::int64_t total = 0;
    for (std::int64_t count : histogram)
        total += count;
    std::int64_t below = 0;
    for (int value = 0; value <= kLargestResponse; ++value) {
        below += histogram[value];
        if (2 * below >= total)
            return float(value) * kMedianToDeviation;
    }
    return 0.0f;
}

float estimateDifferenceNoise(const cv::Mat& first8, const cv::Mat& second8)
{
    CV_Assert(first8.depth() == CV_8U && second8.depth() == CV_8U);
    if (first8.empty() || first8.size() != second8.size() || first8.type() != second8.type())
        return 0.0f;
    const double rowSamples = double(first8.cols) * first8.channels();
    const int step = std::max(1, int(rowSamples * first8.rows / kSampleBudget));
    std::vector<std::int64_t> histogram(256, 0);
    cv::Mat difference;
    for (int y = 0; y < first8.rows; y += step) {
        cv::absdiff(first8.row(y), second8.row(y), difference);
        const uchar* d = difference.ptr<uchar>();
        for (int i = 0; i < int(rowSamples); ++i)
            ++histogram[d[i]];
    }
    std::int64_t total = 0;
    for (std::int64_t count : histogram)
        total += count;
    // The median read between the integer levels: at low noise it lies within the first few.
    double below = 0.0;
    for (int value = 0; value < 256; ++value) {
        if (histogram[value] == 0)
            continue;
        if (2.0 * (below + double(histogram[value])) >= double(total)) {
            const double start = value == 0 ? 0.0 : value - 0.5, width = value == 0 ? 0.5 : 1.0;
            const double median = start + width * (0.5 * double(total) - below) / double(histogram[value]);
            return float(median / (kMedianToUnitDeviation * std::sqrt(2.0)));
        }
        below += double(histogram[value]);
    }
    return 0.0f;
}

float pairNoiseDeviation(float referenceNoise, const cv::Mat& reference8, const cv::Mat& frame8)
{
    if (reference8.size() != frame8.size() || reference8.type() != frame8.type())
        return referenceNoise;
    return std::min(referenceNoise, estimateDifferenceNoise(reference8, frame8));
}

float noiseFloorLevels(float noise)
{
    return std::max(kNoiseDeviations * std::sqrt(2.0f) * noise, kLeastDifference);
}
