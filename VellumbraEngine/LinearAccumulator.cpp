#include "LinearAccumulator.h"

#include "Log.h"
#include "StackingContext.h"

#include <opencv2/core/utility.hpp>

#include <cmath>
#include <initializer_list>
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

// Runs combine(sum[i], linear power of the frame's sample i) over row y's samples.
template <typename Combine>
void combineRow(int bits, const cv::Mat& frame, int y, double* sum, Combine combine)
{
    const int elements = frame.cols * frame.channels();
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

// The sums set from the first frame (`restart`) or added to, then each further
// frame added, row by row while the row's sums are in cache; rows spread over the
// library's threads.
void combineFrames(int bits, std::initializer_list<cv::Mat> frames, bool restart, cv::Mat& accumulator)
{
    const auto assign = [](double& sum, double power) { sum = power; };
    const auto add = [](double& sum, double power) { sum += power; };
    cv::parallel_for_(cv::Range(0, frames.begin()->rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            double* sum = accumulator.ptr<double>(y);
            const cv::Mat* frame = frames.begin();
            if (restart)
                combineRow(bits, *frame++, y, sum, assign);
            for (; frame != frames.end(); ++frame)
                combineRow(bits, *frame, y, sum, add);
        }
    });
}

bool acceptsFrame(int bits, const cv::Mat& frame, StackingContext* context)
{
    return context && !frame.empty() && depthForBits(bits) >= 0 && frame.depth() == depthForBits(bits);
}

bool fitsAccumulator(const cv::Mat& accumulator, const cv::Mat& frame)
{
    return accumulator.size() == frame.size() && accumulator.channels() == frame.channels();
}

}  // namespace

void initLinearAccumulator(int bits, const cv::Mat& frame, StackingContext* context)
{
    if (!acceptsFrame(bits, frame, context))
        return;
    context->linearAccumulator.create(frame.rows, frame.cols, CV_64FC(frame.channels()));
    combineFrames(bits, {frame}, true, context->linearAccumulator);
    context->accumulatedCount = 1;
}

void initLinearAccumulator(int bits, const cv::Mat& first, const cv::Mat& second, StackingContext* context)
{
    if (!acceptsFrame(bits, first, context))
        return;
    if (!acceptsFrame(bits, second, context) || !fitsAccumulator(first, second)) {
        initLinearAccumulator(bits, first, context);
        addToLinearAccumulator(bits, second, context);
        return;
    }
    context->linearAccumulator.create(first.rows, first.cols, CV_64FC(first.channels()));
    combineFrames(bits, {first, second}, true, context->linearAccumulator);
    context->accumulatedCount = 2;
}

void addToLinearAccumulator(int bits, const cv::Mat& frame, StackingContext* context)
{
    if (!acceptsFrame(bits, frame, context))
        return;
    if (!fitsAccumulator(context->linearAccumulator, frame)) {
        logError("addToLinearAccumulator", "The frame has not the size or the channels of the accumulated frames.");
        return;
    }
    combineFrames(bits, {frame}, false, context->linearAccumulator);
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
