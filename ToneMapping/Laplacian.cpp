#include "Laplacian.h"

#include "ColourRatios.h"
#include "DisplayScale.h"
#include "LitPixels.h"
#include "Log.h"
#include "MissingSamples.h"
#include "PixelOps.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// 2^-23: keeps the logarithm of a zero luminance finite.
constexpr float kLogOffset = 1.1920929e-7f;
// The float one unit below the nearest to 1 / 2.2.
constexpr float kDisplayGamma = 0.45454544f;
// The 0.5th percentile is taken as at least this fraction of the 99.5th: black corners,
// letterboxing or clipped blacks covering it would otherwise wash the picture out.
constexpr float kLowestPercentileRatio = 1e-3f;

// Ascending, not-a-number last, so the order is strict and weak even with NaN.
bool ascending(float a, float b)
{
    return a < b || (std::isnan(b) && !std::isnan(a));
}

std::vector<float> valuesOf(const cv::Mat& image)
{
    std::vector<float> values;
    values.reserve(image.total());
    for (int r = 0; r < image.rows; ++r)
        values.insert(values.end(), image.ptr<float>(r), image.ptr<float>(r) + image.cols);
    return values;
}

// Monotonic unsigned key of a float in the ascending order above (NaN last).
uint32_t orderKey(float value)
{
    if (std::isnan(value))
        return 0xFFFFFFFFu;
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits & 0x80000000u) ? ~bits : bits | 0x80000000u;
}

// The values of ranks `rank` and `rank + 1` (ascending; the second is the first when
// rank is the last) without sorting: a parallel histogram of the keys' top 16 bits
// finds the buckets holding them, and only the values in those buckets are ordered.
void orderStatistics(const cv::Mat& image, size_t rank, float& atRank, float& next)
{
    constexpr int kBuckets = 1 << 16;
    constexpr int kChunks = 16;
    const size_t count = image.total();
    const size_t nextRank = std::min(rank + 1, count - 1);
    auto chunkRows = [&](int chunk) {
        return cv::Range(int(int64_t(image.rows) * chunk / kChunks), int(int64_t(image.rows) * (chunk + 1) / kChunks));
    };
    std::vector<std::vector<uint32_t>> histograms(kChunks);
    cv::parallel_for_(cv::Range(0, kChunks), [&](const cv::Range& chunks) {
        for (int chunk = chunks.start; chunk < chunks.end; ++chunk) {
            std::vector<uint32_t>& histogram = histograms[chunk];
            histogram.assign(kBuckets, 0);
            const cv::Range rows = chunkRows(chunk);
            for (int r = rows.start; r < rows.end; ++r) {
                const float* values = image.ptr<float>(r);
                for (int c = 0; c < image.cols; ++c)
                    ++histogram[orderKey(values[c]) >> 16];
            }
        }
    });
    std::vector<size_t> total(kBuckets, 0);
    for (const std::vector<uint32_t>& histogram : histograms)
        for (int bucket = 0; bucket < kBuckets; ++bucket)
            total[bucket] += histogram[bucket];
    size_t before = 0;  // values in the buckets below `first`
    int first = 0;
    while (before + total[first] <= rank)
        before += total[first++];
    size_t through = before + total[first];  // values up to and including bucket `last`
    int last = first;
    while (through <= nextRank)
        through += total[++last];
    std::vector<std::vector<float>> gathered(kChunks);
    cv::parallel_for_(cv::Range(0, kChunks), [&](const cv::Range& chunks) {
        for (int chunk = chunks.start; chunk < chunks.end; ++chunk) {
            const cv::Range rows = chunkRows(chunk);
            for (int r = rows.start; r < rows.end; ++r) {
                const float* values = image.ptr<float>(r);
                for (int c = 0; c < image.cols; ++c) {
                    const int bucket = int(orderKey(values[c]) >> 16);
                    if (bucket >= first && bucket <= last)
                        gathered[chunk].push_back(values[c]);
                }
            }
        }
    });
    std::vector<float> candidates;
    for (const std::vector<float>& part : gathered)
        candidates.insert(candidates.end(), part.begin(), part.end());
    // A bucket can hold most of the image (a flat or black picture): select, do not sort.
    const auto atRankPosition = candidates.begin() + (rank - before);
    std::nth_element(candidates.begin(), atRankPosition, candidates.end(), ascending);
    atRank = *atRankPosition;
    next = nextRank == rank ? atRank : *std::min_element(atRankPosition + 1, candidates.end(), ascending);
}

double samplePosition(size_t i, size_t count)
{
    return 100.0 * (double(i) + 0.5) / double(count);
}

// First index whose sample position is at or above p, or count when none is.
size_t firstIndexAtOrAbove(float p, size_t count)
{
    size_t i = size_t(std::max(0.0, std::floor(double(p) * double(count) / 100.0 - 0.5)));
    while (i > 0 && p <= samplePosition(i - 1, count))
        --i;
    while (i < count && p > samplePosition(i, count))
        ++i;
    return i;
}

// Interpolated percentile from the two neighbouring order statistics.
float interpolate(float p, size_t index, size_t count, float below, float at)
{
    const double low = samplePosition(index - 1, count);
    const double high = samplePosition(index, count);
    return float(below + (p - low) / (high - low) * (double(at) - below));
}

// The library's power of 0 is a tiny positive number; black must stay exactly 0.
void powKeepingZero(cv::Mat& values, float exponent)
{
    cv::Mat powered;
    cv::pow(values, exponent, powered);
    powered.copyTo(values, values > 0.0f);
}

// Percentile p of the values of a single-channel float image after its `skipped`
// lowest ones, from two order statistics.
float percentileAboveLowest(const cv::Mat& image, float p, size_t skipped)
{
    const size_t count = image.total() - skipped;
    const size_t index = (count == 1 || p == 0.0f) ? 0 : firstIndexAtOrAbove(p, count);
    float below = 0.0f;
    float at = 0.0f;
    if (index == 0 || index == count) {
        orderStatistics(image, skipped + (index == 0 ? 0 : count - 1), at, below);
        return at;
    }
    orderStatistics(image, skipped + index - 1, below, at);
    return interpolate(p, index, count, below, at);
}

// R becomes max(R / high, 0)^exponent, so that `low` maps to 0.01 and `high` to 1.
// The percentiles are those of the lit pixels: black borders and patches, filled
// before the filter, must not move them.
cv::Mat normalisePercentiles(const cv::Mat& filtered, const cv::Mat& lit)
{
    const size_t litCount = size_t(cv::countNonZero(lit));
    if (litCount == 0)
        return cv::Mat::zeros(filtered.size(), CV_32F);
    cv::Mat ranked = filtered;
    if (litCount < filtered.total()) {
        ranked = filtered.clone();
        ranked.setTo(-FLT_MAX, lit == 0);
    }
    const size_t skipped = filtered.total() - litCount;
    const float high = percentileAboveLowest(ranked, 99.5f, skipped);
    if (!(high > 0.0f))
        return cv::Mat::zeros(filtered.size(), CV_32F);
    const float low = std::max(percentileAboveLowest(ranked, 0.5f, skipped), high * kLowestPercentileRatio);
    const float exponent = high > low ? float(std::log(100.0) / std::log(double(high) / low)) : 1.0f;
    cv::Mat normalised(filtered.size(), CV_32F);
    cv::parallel_for_(cv::Range(0, filtered.rows), [&](const cv::Range& band) {
        cv::Mat target = normalised.rowRange(band);
        cv::max(filtered.rowRange(band) * (1.0f / high), 0.0f, target);
        cv::patchNaNs(target, 0.0);
        if (exponent != 1.0f)
            powKeepingZero(target, exponent);
    });
    return normalised;
}

// max(0, R x colour ratio) per channel; clamped to 1 and gamma-encoded when displayable.
void recolour(const cv::Mat& filtered, const cv::Mat& in, const cv::Mat& luminance, double scale, bool display,
              cv::Mat& out)
{
    const int channels = in.channels();
    out.create(filtered.size(), CV_MAKETYPE(CV_32F, channels));
    const ColourRatios ratios(scale);
    cv::parallel_for_(cv::Range(0, filtered.rows), [&](const cv::Range& band) {
        for (int r = band.start; r < band.end; ++r) {
            const float* f = filtered.ptr<float>(r);
            float* o = out.ptr<float>(r);
            if (channels == 3) {
                const float* bgr = in.ptr<float>(r);
                const float* l = luminance.ptr<float>(r);
                for (int c = 0; c < filtered.cols; ++c)
                    ratios.restoreLifted(bgr + 3 * c, l[c], f[c], o + 3 * c);
                for (int c = 0; c < 3 * filtered.cols; ++c)
                    o[c] = std::max(0.0f, o[c]);
            } else {
                for (int c = 0; c < filtered.cols; ++c)
                    o[c] = std::max(0.0f, f[c]);
            }
        }
        if (display) {
            cv::Mat target = out.rowRange(band);
            cv::min(target, 1.0f, target);
            powKeepingZero(target, kDisplayGamma);
        }
    });
}

// The operator's body through the input's steps, made when missing; the filter's
// sums are kept in them when `keep` is set.
cv::Mat& toneMapWithSteps(Laplacian& op, cv::Mat& out, const cv::Mat& in, Laplacian::InputResult& steps, bool keep)
{
    // Cancel is looked at between the stages too, so it acts quickly on large images.
    auto stopped = [&](bool failed) {
        if (!failed && !op.cancel)
            return false;
        out = cv::Mat();
        return true;
    };
    op.gaussianPyr.clear();
    op.laplacianPyr.clear();
    if (stopped(false))
        return out;
    if (std::max(in.rows, in.cols) > SHRT_MAX) {
        logError("laplacianToneMap", "image sides above 32767 pixels exceed the pyramid windows");
        out = cv::Mat();
        return out;
    }
    // The colour ratios are applied at the end straight from the input, which spares
    // a three-channel image.
    if (steps.luminance.empty()) {
        laplacianLuminance(steps.luminance, in);
        if (stopped(steps.luminance.empty()))
            return out;
        // Black pixels (borders, rotation corners, patches) are left out: the filter sees
        // the picture continued into them, the normalisation sees only the picture.
        steps.lit = steps.luminance > 0.0f;
        steps.litInterior = litInterior(steps.lit);
    }
    cv::Mat filtered;
    if (op.alpha == 1.0f && op.beta == 1.0f) {
        filtered = steps.luminance;
    } else {
        if (steps.logLuminance.empty()) {
            // The pixels next to black are partly black where a rotation or a reduction
            // drew them: the filter sees the picture continued over them too, and they
            // keep their own offset from it.
            constexpr int kDrawnEdge = 2;
            const cv::Mat ownLog = toLogDomain(steps.luminance);
            const cv::Mat wholePixels = litInterior(steps.lit, kDrawnEdge);
            steps.logLuminance = fillMissingSamples(ownLog, wholePixels);
            if (wholePixels.data != steps.lit.data) {
                steps.edgeOffset = cv::Mat::zeros(ownLog.size(), CV_32F);
                cv::subtract(ownLog, steps.logLuminance, steps.edgeOffset, steps.lit & ~wholePixels);
            }
        }
        cv::Mat logFiltered;
        lapfilterWithSteps(op, logFiltered, steps.logLuminance, steps.core, keep);
        op.gaussianPyr.clear();
        op.laplacianPyr.clear();
        if (stopped(logFiltered.empty()))
            return out;
        if (!steps.edgeOffset.empty())
            logFiltered = logFiltered + steps.edgeOffset;
        filtered = fromLogDomain(logFiltered);
    }

    const bool display = op.beta <= 1.0f;
    if (display) {
        if (stopped(false))
            return out;
        filtered = normalisePercentiles(filtered, steps.litInterior);
    }
    if (stopped(false))
        return out;
    recolour(filtered, in, steps.luminance, displayScale(in, op.sourceKind), display, out);
    return out;
}

}  // namespace

cv::Mat& Laplacian::apply(cv::Mat& out, const cv::Mat& in, const float params[3])
{
    alpha = params[0];
    beta = params[1];
    InputResult* kept = keepInputSteps ? kept_.find(in) : nullptr;
    InputResult fresh;
    // A float input is only read, so it needs no copy.
    toneMapWithSteps(*this, out, asFloat(in), kept ? *kept : fresh, keepInputSteps);
    if (keepInputSteps && !kept && !out.empty())
        kept_.keep(in, std::move(fresh));
    return out;
}

size_t Laplacian::keptNodeSumBytes(const cv::Mat& in) const
{
    const InputResult* kept = kept_.find(in);
    return kept ? kept->core.sums.nodeSumBytes() : 0;
}

cv::Mat& laplacianToneMap(Laplacian& op, cv::Mat& out, const cv::Mat& in)
{
    Laplacian::InputResult steps;
    return toneMapWithSteps(op, out, in, steps, false);
}

cv::Mat& laplacianLuminance(cv::Mat& out, const cv::Mat& in, cv::Mat* ratios)
{
    if (in.channels() == 1) {
        out = in;
        return out;
    }
    if (in.channels() != 3) {
        out = cv::Mat();
        return out;
    }
    out.create(in.size(), CV_32F);
    cv::parallel_for_(cv::Range(0, in.rows), [&](const cv::Range& band) {
        for (int r = band.start; r < band.end; ++r) {
            const float* bgr = in.ptr<float>(r);
            float* l = out.ptr<float>(r);
            // NaN becomes 0 and infinity the largest float, so the logarithm stays finite.
            for (int c = 0; c < in.cols; ++c)
                l[c] = std::min(std::max(0.0f, (20.0f * bgr[3 * c + 2] + 40.0f * bgr[3 * c + 1] + bgr[3 * c]) / 61.0f),
                                FLT_MAX);
        }
    });
    if (!ratios)
        return out;
    const ColourRatios colour(displayScale(in));
    ratios->create(in.size(), CV_32FC3);
    cv::parallel_for_(cv::Range(0, in.rows), [&](const cv::Range& band) {
        for (int r = band.start; r < band.end; ++r) {
            const float* bgr = in.ptr<float>(r);
            const float* l = out.ptr<float>(r);
            float* ratio = ratios->ptr<float>(r);
            for (int c = 0; c < in.cols; ++c)
                colour.restore(bgr + 3 * c, l[c], 1.0f, ratio + 3 * c);
        }
    });
    return out;
}

cv::Mat toLogDomain(const cv::Mat& in)
{
    cv::Mat result(in.size(), in.type());
    cv::parallel_for_(cv::Range(0, in.rows), [&](const cv::Range& band) {
        cv::Mat target = result.rowRange(band);
        cv::add(in.rowRange(band), kLogOffset, target);
        cv::log(target, target);
    });
    return result;
}

cv::Mat fromLogDomain(const cv::Mat& in)
{
    cv::Mat result(in.size(), in.type());
    cv::parallel_for_(cv::Range(0, in.rows), [&](const cv::Range& band) {
        cv::Mat target = result.rowRange(band);
        cv::exp(in.rowRange(band), target);
        cv::subtract(target, kLogOffset, target);
    });
    return result;
}

float matPercentile(const cv::Mat& image, float p, bool sorted, cv::Mat* sortedCopy)
{
    if (!(p >= 0.0f && p <= 100.0f) || image.channels() != 1 || image.depth() != CV_32F || image.empty())
        return -1.0f;
    const size_t count = image.total();
    const size_t index = (count == 1 || p == 0.0f) ? 0 : firstIndexAtOrAbove(p, count);
    // Without a sorted copy to hand back, two order statistics are all that is needed.
    if (!sorted && !sortedCopy)
        return percentileAboveLowest(image, p, 0);
    std::vector<float> values = valuesOf(image);
    if (sorted) {
        if (sortedCopy)
            *sortedCopy = image;
    } else {
        std::sort(values.begin(), values.end(), ascending);
        *sortedCopy = cv::Mat(values, true).reshape(1, 1);
    }
    if (index == 0 || index == count)
        return index == 0 ? values.front() : values.back();
    return interpolate(p, index, count, values[index - 1], values[index]);
}
