#include "LinearAccumulator.h"

#include "Log.h"
#include "StackingContext.h"

#include <opencv2/core/utility.hpp>

#include <cmath>
#include <vector>

namespace {

constexpr double kGamma = 2.2;

double linearPower(double sample)
{
    return std::pow(sample, kGamma);
}

// x^2.2 for every integer sample value: the same pow the float path calls, so the
// sums are bit-identical to calling it per sample.
const std::vector<double>& powerTable(int entries)
{
    static const std::vector<double> table8 = [] {
        std::vector<double> table(256);
        for (int i = 0; i < 256; ++i)
            table[i] = linearPower(i);
        return table;
    }();
    static const std::vector<double> table16 = [] {
        std::vector<double> table(65536);
        for (int i = 0; i < 65536; ++i)
            table[i] = linearPower(i);
        return table;
    }();
    return entries == 256 ? table8 : table16;
}

// Negative, NaN and infinite samples carry no light we can average.
double floatLinearPower(float sample)
{
    return sample > 0.0f && std::isfinite(sample) ? linearPower(sample) : 0.0;
}

int depthForBits(int bits)
{
    switch (bits) {
    case 8: return CV_8U;
    case 16: return CV_16U;
    case 32: return CV_32F;
    default: return -1;
    }
}

// Runs combine(accumulator sample, linear power of frame sample) over every sample,
// rows spread over the library's threads.
template <typename Combine>
void combineFrame(int bits, const cv::Mat& frame, cv::Mat& accumulator, Combine combine)
{
    const int elements = frame.cols * frame.channels();
    cv::parallel_for_(cv::Range(0, frame.rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            double* sum = accumulator.ptr<double>(y);
            if (bits == 32) {
                const float* in = frame.ptr<float>(y);
                for (int i = 0; i < elements; ++i)
                    combine(sum[i], floatLinearPower(in[i]));
            } else if (bits == 16) {
                const double* table = powerTable(65536).data();
                const ushort* in = frame.ptr<ushort>(y);
                for (int i = 0; i < elements; ++i)
                    combine(sum[i], table[in[i]]);
            } else {
                const double* table = powerTable(256).data();
                const uchar* in = frame.ptr<uchar>(y);
                for (int i = 0; i < elements; ++i)
                    combine(sum[i], table[in[i]]);
            }
        }
    });
}

bool acceptsFrame(int bits, const cv::Mat& frame, StackingContext* context)
{
    return context && !frame.empty() && depthForBits(bits) >= 0 && frame.depth() == depthForBits(bits);
}

}  // namespace

void initLinearAccumulator(int bits, const cv::Mat& frame, StackingContext* context)
{
    if (!acceptsFrame(bits, frame, context))
        return;
    context->linearAccumulator.create(frame.rows, frame.cols, CV_64FC(frame.channels()));
    combineFrame(bits, frame, context->linearAccumulator, [](double& sum, double power) { sum = power; });
    context->accumulatedCount = 1;
}

void addToLinearAccumulator(int bits, const cv::Mat& frame, StackingContext* context)
{
    if (!acceptsFrame(bits, frame, context))
        return;
    const cv::Mat& accumulator = context->linearAccumulator;
    if (accumulator.size() != frame.size() || accumulator.channels() != frame.channels()) {
        logError("addToLinearAccumulator", "The frame has not the size or the channels of the accumulated frames.");
        return;
    }
    combineFrame(bits, frame, context->linearAccumulator, [](double& sum, double power) { sum += power; });
    ++context->accumulatedCount;
}

bool finishLinearMean(StackingContext* context, int bits, cv::Mat& out)
{
    if (!context || depthForBits(bits) < 0 || context->accumulatedCount < 1 || context->linearAccumulator.empty())
        return false;
    const cv::Mat& accumulator = context->linearAccumulator;
    const double fullScale = bits == 8 ? 255.0 : bits == 16 ? 65535.0 : 1.0;
    const double scale = 1.0 / (linearPower(fullScale) * context->accumulatedCount);
    const double inverseGamma = 1.0 / kGamma;
    // Every sample is written: no zero fill. Row by row through one row's
    // buffer, so that a stop at 4K waits for one pass over the sums and allocates
    // no image-sized intermediate.
    cv::Mat mean(accumulator.rows, accumulator.cols, CV_32FC(accumulator.channels()));
    cv::parallel_for_(cv::Range(0, accumulator.rows), [&](const cv::Range& rows) {
        cv::Mat row;
        for (int y = rows.start; y < rows.end; ++y) {
            accumulator.row(y).convertTo(row, CV_64F, scale);
            cv::pow(row, inverseGamma, row);
            row.convertTo(mean.row(y), CV_32F);
        }
    });
    out = mean;
    return true;
}
