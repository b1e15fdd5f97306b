#include "LogMapping.h"

#include "ColourPass.h"
#include "DisplayScale.h"
#include "Log.h"
#include "PixelOps.h"
#include "Spline.h"

#include <opencv2/core/hal/hal.hpp>
#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <mutex>
#include <vector>

namespace {

struct Chromaticity {
    float x;
    float y;
};

// The library's XYZ conversion of white, so black pixels match its white point.
Chromaticity whitePoint()
{
    cv::Mat white(1, 1, CV_32FC3, cv::Scalar(1.0f, 1.0f, 1.0f));
    cv::Mat xyz;
    cv::cvtColor(white, xyz, cv::COLOR_BGR2XYZ);
    const cv::Vec3f v = xyz.at<cv::Vec3f>(0, 0);
    const float sum = v[0] + v[1] + v[2];
    return {v[0] / sum, v[1] / sum};
}

// Smallest and largest of values gathered by several threads.
class Extremes {
public:
    Extremes(float smallest, float largest) : low(smallest), high(largest) {}

    void merge(float smallest, float largest)
    {
        std::lock_guard<std::mutex> guard(lock);
        low = std::min(low, smallest);
        high = std::max(high, largest);
    }
    float smallest() const { return low; }
    float largest() const { return high; }

private:
    std::mutex lock;
    float low;
    float high;
};

// Runs body on blocks of a few rows spread over the threads, so that the passes a
// block goes through find it still in the cache.
template <typename Body>
void forEachRowBlock(int rows, const Body& body)
{
    constexpr int kBlockRows = 8;
    cv::parallel_for_(cv::Range(0, (rows + kBlockRows - 1) / kBlockRows), [&](const cv::Range& blocks) {
        for (int b = blocks.start; b < blocks.end; ++b)
            body(cv::Range(b * kBlockRows, std::min(rows, (b + 1) * kBlockRows)));
    });
}

// Y becomes k ln(Y + 1) / ln(2 + 8 (Y / Lmax)^p), k = 1 / log10(Lmax + 1), p = log_0.5(bias),
// on Y scaled by `scale` (the display scale, applied here rather than in a pass of its own).
class LuminanceMapping {
public:
    LuminanceMapping(float maxLuminance, float bias, float scale)
        : p(float(std::log(double(bias)) / -0.693147)),
          k(float(1.0 / std::log10(double(maxLuminance) * scale + 1.0))),
          inverseMax(1.0f / maxLuminance),
          scale(scale)
    {
    }

    // On a row of Y (never negative), in place; `buffer` holds 2 n floats.
    void operator()(float* luminance, float* buffer, int n) const
    {
        float* logs = buffer;
        float* powers = logs + n;
        for (int c = 0; c < n; ++c) {
            logs[c] = scale * luminance[c] + 1.0f;
            powers[c] = std::max(luminance[c] * inverseMax, FLT_MIN);
        }
        // (Y / Lmax)^p as exp(p ln(Y / Lmax)); the logarithms of both rows in one call.
        cv::hal::log32f(logs, logs, p == 1.0f ? n : 2 * n);
        if (p == 0.0f) {
            std::fill(powers, powers + n, 1.0f);
        } else if (p != 1.0f) {
            for (int c = 0; c < n; ++c)
                powers[c] *= p;
            cv::hal::exp32f(powers, powers, n);
        }
        for (int c = 0; c < n; ++c)
            powers[c] = 2.0f + 8.0f * powers[c];
        cv::hal::log32f(powers, powers, n);
        for (int c = 0; c < n; ++c)
            luminance[c] = k * logs[c] / powers[c];
    }

private:
    float p;
    float k;
    float inverseMax;
    float scale;
};

// v * 6.7500014 up to 0.011999996, else 1.099 v^0.40909088 - 0.099, on a block of rows.
// The power is cv::pow's own road (log, product in double, exp) without its scalar
// product loop, so the bits are the same.
void applyGamma(cv::Mat& block)
{
    constexpr double kPower = 0.40909088;
    const int n = block.cols * 3;
    std::vector<float> buffer(n);
    float* pw = buffer.data();
    for (int r = 0; r < block.rows; ++r) {
        float* v = block.ptr<float>(r);
        cv::hal::log32f(v, pw, n);
        int c = 0;
#if CV_SIMD_64F
        using namespace cv;
        const v_float64 power = vx_setall_f64(kPower);
        for (; c + v_float32::nlanes <= n; c += v_float32::nlanes) {
            const v_float32 logs = vx_load(pw + c);
            v_store(pw + c, v_cvt_f32(v_cvt_f64(logs) * power, v_cvt_f64_high(logs) * power));
        }
#endif
        for (; c < n; ++c)
            pw[c] = float(pw[c] * kPower);
        cv::hal::exp32f(pw, pw, n);
        c = 0;
#if CV_SIMD
        // Without branches: which side of the knee a value falls on is not predictable.
        using namespace cv;
        const v_float32 knee = vx_setall_f32(0.011999996f);
        const v_float32 slope = vx_setall_f32(6.7500014f);
        const v_float32 gain = vx_setall_f32(1.099f);
        const v_float32 offset = vx_setall_f32(0.099f);
        for (; c + v_float32::nlanes <= n; c += v_float32::nlanes) {
            const v_float32 value = vx_load(v + c);
            v_store(v + c, v_select(value <= knee, value * slope, gain * vx_load(pw + c) - offset));
        }
#endif
        for (; c < n; ++c)
            v[c] = v[c] <= 0.011999996f ? v[c] * 6.7500014f : 1.099f * pw[c] - 0.099f;
    }
}

// The channel values that the stretch takes to 0 and 1.
struct StretchRange {
    float low;
    float high;
};

// Widens the extremes with channel `channel` of a 3-channel float image, clamped at 0.
void widenWithLuminance(const cv::Mat& image, int channel, Extremes& extremes)
{
    float smallest = 1e10f;
    float largest = 1e-6f;
    for (int r = 0; r < image.rows; ++r) {
        const float* pixel = image.ptr<float>(r);
        int c = 0;
#if CV_SIMD
        // The scalar form's comparisons as selections: the same extremes, NaN left out alike.
        using namespace cv;
        const v_float32 zero = vx_setzero_f32();
        v_float32 smallests = vx_setall_f32(smallest);
        v_float32 largests = vx_setall_f32(largest);
        for (; c + v_float32::nlanes <= image.cols; c += v_float32::nlanes) {
            v_float32 channels[3];
            v_load_deinterleave(pixel + 3 * c, channels[0], channels[1], channels[2]);
            const v_float32 clamped = v_select(zero < channels[channel], channels[channel], zero);
            smallests = v_select(clamped < smallests, clamped, smallests);
            largests = v_select(largests < clamped, clamped, largests);
        }
        smallest = v_reduce_min(smallests);
        largest = v_reduce_max(largests);
#endif
        for (; c < image.cols; ++c) {
            const float clamped = std::max(0.0f, pixel[3 * c + channel]);
            smallest = std::min(smallest, clamped);
            largest = std::max(largest, clamped);
        }
    }
    extremes.merge(smallest, largest);
}

// Y and X + Y + Z as weighted sums of B, G and R: the library's conversion without
// the two channels that are not needed on their own.
struct XyzWeights {
    cv::Vec3f luminance;
    cv::Vec3f sum;
};

XyzWeights xyzWeights()
{
    cv::Mat unit(1, 3, CV_32FC3, cv::Scalar::all(0.0));
    for (int c = 0; c < 3; ++c)
        unit.at<cv::Vec3f>(0, c)[c] = 1.0f;
    cv::Mat xyz;
    cv::cvtColor(unit, xyz, cv::COLOR_BGR2XYZ);
    XyzWeights weights;
    for (int c = 0; c < 3; ++c) {
        const cv::Vec3f v = xyz.at<cv::Vec3f>(0, c);
        weights.luminance[c] = v[1];
        weights.sum[c] = v[0] + v[1] + v[2];
    }
    return weights;
}

// The weighted sum of the channels of one row of B, G, R pixels; vectors and the
// scalar tail give the same bits.
void weightedRow(const float* bgr, const cv::Vec3f& weights, float* target, int cols)
{
    int c = 0;
#if CV_SIMD
    using namespace cv;
    const v_float32 wb = vx_setall_f32(weights[0]), wg = vx_setall_f32(weights[1]), wr = vx_setall_f32(weights[2]);
    for (; c + v_float32::nlanes <= cols; c += v_float32::nlanes) {
        v_float32 b, g, r;
        v_load_deinterleave(bgr + 3 * c, b, g, r);
        v_store(target + c, b * wb + g * wg + r * wr);
    }
#endif
    for (; c < cols; ++c)
        target[c] = bgr[3 * c] * weights[0] + bgr[3 * c + 1] * weights[1] + bgr[3 * c + 2] * weights[2];
}

// Widens the extremes with the Y (clamped at 0) of the BGR rows of `bgr`.
void widenWithY(const cv::Mat& bgr, const cv::Vec3f& weights, Extremes& extremes)
{
    std::vector<float> luminance(bgr.cols);
    float smallest = 1e10f;
    float largest = 1e-6f;
    for (int r = 0; r < bgr.rows; ++r) {
        weightedRow(bgr.ptr<float>(r), weights, luminance.data(), bgr.cols);
        for (const float y : luminance) {
            const float clamped = std::max(0.0f, y);
            smallest = std::min(smallest, clamped);
            largest = std::max(largest, clamped);
        }
    }
    extremes.merge(smallest, largest);
}

// (Y, x, y) of the BGR rows `bgr` into `yxy` (resized to match).
void toYxy(const cv::Mat& bgr, cv::Mat& yxy, const Chromaticity& white)
{
    cv::cvtColor(bgr, yxy, cv::COLOR_BGR2XYZ);
    for (int r = 0; r < yxy.rows; ++r) {
        float* pixel = yxy.ptr<float>(r);
        int c = 0;
#if CV_SIMD
        // The scalar form's operations in its order, its choices as selections: the same bits.
        using namespace cv;
        const v_float32 zero = vx_setzero_f32();
        const v_float32 whiteX = vx_setall_f32(white.x);
        const v_float32 whiteY = vx_setall_f32(white.y);
        for (; c + v_float32::nlanes <= yxy.cols; c += v_float32::nlanes, pixel += 3 * v_float32::nlanes) {
            v_float32 X, Y, Z;
            v_load_deinterleave(pixel, X, Y, Z);
            const v_float32 sum = X + Y + Z;
            const v_float32 coloured = sum > zero;
            v_store_interleave(pixel, Y & (zero < Y), v_select(coloured, X / sum, whiteX), v_select(coloured, Y / sum, whiteY));
        }
#endif
        for (; c < yxy.cols; ++c, pixel += 3) {
            const float X = pixel[0];
            const float Y = pixel[1];
            const float sum = X + Y + pixel[2];
            const bool coloured = sum > 0.0f;
            pixel[0] = std::max(0.0f, Y);
            pixel[1] = coloured ? X / sum : white.x;
            pixel[2] = coloured ? Y / sum : white.y;
        }
    }
}

// The smallest and largest channel values of lit pixels, gathered from vectors and
// single pixels alike. Vectors follow the scalar form's comparisons (NaN left out),
// so both give the same extremes.
class LitRange {
public:
    LitRange(float low, float high)
        : low_(low), high_(high)
#if CV_SIMD
          ,
          lows_(cv::vx_setall_f32(low)), highs_(cv::vx_setall_f32(high))
#endif
    {
    }

#if CV_SIMD
    void add(const cv::v_float32& lit, const cv::v_float32& b, const cv::v_float32& g, const cv::v_float32& r)
    {
        for (const cv::v_float32& v : {b, g, r}) {
            lows_ = cv::v_select(lit & (v < lows_), v, lows_);
            highs_ = cv::v_select(lit & (highs_ < v), v, highs_);
        }
    }
#endif

    void add(bool lit, const float* pixel)
    {
        if (lit)
            for (int ch = 0; ch < 3; ++ch) {
                low_ = std::min(low_, pixel[ch]);
                high_ = std::max(high_, pixel[ch]);
            }
    }

    // Widens [low, high] with what was gathered.
    void widen(float& low, float& high) const
    {
        low = std::min(low, low_);
        high = std::max(high, high_);
#if CV_SIMD
        low = std::min(low, cv::v_reduce_min(lows_));
        high = std::max(high, cv::v_reduce_max(highs_));
#endif
    }

private:
    float low_;
    float high_;
#if CV_SIMD
    cv::v_float32 lows_;
    cv::v_float32 highs_;
#endif
};

// Widens [low, high] with the channel values of the pixels of one row whose
// luminance is above 0.
void widenWithLitRow(const float* luminance, const float* bgr, int cols, float& low, float& high)
{
    LitRange range(low, high);
    int c = 0;
#if CV_SIMD
    using namespace cv;
    const v_float32 zero = vx_setzero_f32();
    for (; c + v_float32::nlanes <= cols; c += v_float32::nlanes) {
        v_float32 b, g, r;
        v_load_deinterleave(bgr + 3 * c, b, g, r);
        range.add(vx_load(luminance + c) > zero, b, g, r);
    }
#endif
    for (; c < cols; ++c)
        range.add(luminance[c] > 0.0f, bgr + 3 * c);
    range.widen(low, high);
}

// One row of (Y, x, y) to (X, Y, Z). Y / y times (x, y, 1 - x - y) is X = xY/y, Y,
// Z = X/x - X - Y without dividing by x. Vectors follow the scalar form's operations
// in its order, its choices as masks: the same bits.
void toXyzRow(const float* from, float* target, int cols)
{
    int c = 0;
#if CV_SIMD
    using namespace cv;
    const v_float32 zero = vx_setzero_f32();
    const v_float32 one = vx_setall_f32(1.0f);
    for (; c + v_float32::nlanes <= cols; c += v_float32::nlanes) {
        v_float32 Y, x, y;
        v_load_deinterleave(from + 3 * c, Y, x, y);
        const v_float32 positive = y > zero;
        const v_float32 scale = (Y / y) & positive;
        v_store_interleave(target + 3 * c, x * scale, Y & positive, (one - x - y) * scale);
    }
#endif
    for (; c < cols; ++c) {
        const float Y = from[3 * c];
        const float x = from[3 * c + 1];
        const float y = from[3 * c + 2];
        const float scale = y > 0.0f ? Y / y : 0.0f;
        target[3 * c] = x * scale;
        target[3 * c + 1] = y > 0.0f ? Y : 0.0f;
        target[3 * c + 2] = (1.0f - x - y) * scale;
    }
}

// The stretch that takes the lit pixels' extremes to 0 and 1. Black pixels (Y = 0:
// borders, rotation corners), which come back as 0, do not stretch the picture;
// without a lit pixel the extremes of all of them serve.
StretchRange stretchRange(const Extremes& lit, const cv::Mat& bgr)
{
    if (lit.smallest() < 1e10f)
        return {lit.smallest(), lit.largest()};
    double low = 0.0;
    double high = 0.0;
    cv::minMaxLoc(bgr.reshape(1), &low, &high);
    return {std::min(1e10f, float(low)), std::max(1e-6f, float(high))};
}

// bgr = the BGR image of a Yxy image, not yet stretched, block by block.
StretchRange convertToBgr(const cv::Mat& yxy, cv::Mat& bgr)
{
    Extremes litExtremes(1e10f, 1e-6f);
    forEachRowBlock(bgr.rows, [&](const cv::Range& rows) {
        const cv::Mat from = yxy.rowRange(rows);
        cv::Mat xyz(from.size(), CV_32FC3);
        for (int r = 0; r < xyz.rows; ++r)
            toXyzRow(from.ptr<float>(r), xyz.ptr<float>(r), xyz.cols);
        cv::Mat block = bgr.rowRange(rows);
        cv::cvtColor(xyz, block, cv::COLOR_XYZ2BGR);
        float litLow = 1e10f;
        float litHigh = 1e-6f;
        cv::Mat luminance;
        for (int r = 0; r < block.rows; ++r) {
            cv::extractChannel(from.row(r), luminance, 0);
            widenWithLitRow(luminance.ptr<float>(), block.ptr<float>(r), block.cols, litLow, litHigh);
        }
        litExtremes.merge(litLow, litHigh);
    });
    return stretchRange(litExtremes, bgr);
}

// One row of the input with its luminance mapped: in Yxy only Y changes, so the
// round trip through Yxy scales X, Y and Z, and with them B, G and R, by the mapped
// Y over Y. A pixel without chromaticity (X + Y + Z <= 0) takes the white point's,
// which is grey. `scratch` holds 4 cols floats. Widens [low, high] with the result's
// lit pixels.
void mapRow(const float* in, float* out, int cols, const XyzWeights& weights, const LuminanceMapping& mapping,
            float* scratch, float& low, float& high)
{
    float* luminance = scratch;
    float* mapped = scratch + cols;
    weightedRow(in, weights.luminance, luminance, cols);
    for (int c = 0; c < cols; ++c)
        mapped[c] = std::max(0.0f, luminance[c]);
    mapping(mapped, scratch + 2 * cols, cols);
    LitRange range(low, high);
    int c = 0;
#if CV_SIMD
    using namespace cv;
    const v_float32 zero = vx_setzero_f32();
    const v_float32 sb = vx_setall_f32(weights.sum[0]), sg = vx_setall_f32(weights.sum[1]), sr = vx_setall_f32(weights.sum[2]);
    for (; c + v_float32::nlanes <= cols; c += v_float32::nlanes) {
        v_float32 b, g, r;
        v_load_deinterleave(in + 3 * c, b, g, r);
        const v_float32 target = vx_load(mapped + c);
        const v_float32 factor = target / vx_load(luminance + c);
        const v_float32 coloured = b * sb + g * sg + r * sr > zero;
        const v_float32 lit = target > zero;
        b = v_select(coloured, b * factor, target) & lit;
        g = v_select(coloured, g * factor, target) & lit;
        r = v_select(coloured, r * factor, target) & lit;
        v_store_interleave(out + 3 * c, b, g, r);
        range.add(lit, b, g, r);
    }
#endif
    for (; c < cols; ++c) {
        const float* pixel = in + 3 * c;
        const float target = mapped[c];
        const float factor = target / luminance[c];
        const bool coloured = pixel[0] * weights.sum[0] + pixel[1] * weights.sum[1] + pixel[2] * weights.sum[2] > 0.0f;
        for (int ch = 0; ch < 3; ++ch)
            out[3 * c + ch] = target > 0.0f ? (coloured ? pixel[ch] * factor : target) : 0.0f;
        range.add(target > 0.0f, out + 3 * c);
    }
    range.widen(low, high);
}

// Stretches the range to [0, 1] (clamps when it is flat) block by block, then runs
// `finish` on each block.
template <typename Finish>
void stretch(cv::Mat& bgr, const StretchRange& range, const Finish& finish)
{
    forEachRowBlock(bgr.rows, [&](const cv::Range& rows) {
        cv::Mat block = bgr.rowRange(rows);
        if (range.high > range.low)
            block.convertTo(block, CV_32F, 1.0 / (double(range.high) - range.low),
                            -double(range.low) / (double(range.high) - range.low));
        else
            cv::min(cv::max(block, 0.0), 1.0, block);
        finish(block);
    });
}

// The fixed colour finish: identity curve, a small exposure lift, vibrance and contrast.
ColourPassParameters finishParameters()
{
    ColourPassParameters finish;
    finish.vibrance = 0.42f;
    finish.exposure = exposureToe(-0.2f);
    finish.contrast = 1.3333334f;
    return finish;
}

}  // namespace

cv::Mat& LogMapping::apply(cv::Mat& out, const cv::Mat& in, const float params[3])
{
    // A float input is only read, so it is shared rather than copied.
    input = asFloat(in);
    if (input.channels() != 3) {
        logError("LogMapping::apply", "expected a 3-channel image");
        out = cv::Mat();
        return out;
    }
    if (cancel)
        return out = cv::Mat();
    progress = 5;
    // The extremes of Y are found while the display scale's measuring reads the input.
    Extremes luminance(1e10f, 1e-6f);
    const XyzWeights weights = xyzWeights();
    const float scale = float(displayScale(input, sourceKind, [&](const cv::Range& rows) {
        widenWithY(input.rowRange(rows), weights.luminance, luminance);
    }));
    // A preview maps and stretches between the full-size picture's extremes, as its export does.
    if (!fullSizeExtremes.empty())
        widenWithY(fullSizeExtremes, weights.luminance, luminance);
    maxLuminance = luminance.largest();
    minLuminance = luminance.smallest();
    if (cancel)
        return out = cv::Mat();
    progress = 20;
    // Brought to the display range: only the luminance scales, the chromaticity does not.
    const LuminanceMapping mapping(maxLuminance, params[0], scale);
    // Never written over while anyone else holds it: the caller keeps the last result.
    std::swap(result, spare);
    if (result.u == nullptr || result.u->refcount != 1)
        result = cv::Mat();
    result.create(input.size(), CV_32FC3);
    Extremes lit(1e10f, 1e-6f);
    forEachRowBlock(input.rows, [&](const cv::Range& rows) {
        std::vector<float> scratch(4 * size_t(input.cols));
        float litLow = 1e10f;
        float litHigh = 1e-6f;
        for (int r = rows.start; r < rows.end; ++r)
            mapRow(input.ptr<float>(r), result.ptr<float>(r), input.cols, weights, mapping, scratch.data(), litLow, litHigh);
        lit.merge(litLow, litHigh);
    });
    if (!fullSizeExtremes.empty()) {
        const int cols = fullSizeExtremes.cols;
        std::vector<float> scratch(4 * size_t(cols));
        cv::Mat mapped(1, cols, CV_32FC3);
        float litLow = 1e10f;
        float litHigh = 1e-6f;
        mapRow(fullSizeExtremes.ptr<float>(), mapped.ptr<float>(), cols, weights, mapping, scratch.data(), litLow, litHigh);
        lit.merge(litLow, litHigh);
    }
    const StretchRange range = stretchRange(lit, result);
    maxLuminance *= scale;
    minLuminance *= scale;
    if (cancel)
        return out = cv::Mat();
    // Gamma and the colour finish run on each block just after its stretch, in place
    // and on all threads, while the block is in the cache.
    progress = 100;
    const Spline identityCurve(0.0f, 0.0f, 0.0f, 0.0f);
    const ColourPassTerms finish = colourPassTerms(identityCurve, finishParameters());
    stretch(result, range, [&finish](cv::Mat& block) {
        applyGamma(block);
        for (int r = 0; r < block.rows; ++r)
            colourPassRow(finish, block.ptr<float>(r), 3, block.ptr<float>(r), block.cols);
    });
    out = result;
    return out;
}

void bgrToYxy(const cv::Mat& in, cv::Mat& yxy, float& maxLuminance, float& minLuminance)
{
    yxy.create(in.size(), CV_32FC3);
    const Chromaticity white = whitePoint();
    Extremes extremes(1e10f, 1e-6f);
    forEachRowBlock(in.rows, [&](const cv::Range& rows) {
        cv::Mat block = yxy.rowRange(rows);
        toYxy(in.rowRange(rows), block, white);
        widenWithLuminance(block, 0, extremes);
    });
    maxLuminance = extremes.largest();
    minLuminance = extremes.smallest();
}

cv::Mat yxyToBgr(const cv::Mat& yxy)
{
    cv::Mat bgr(yxy.size(), CV_32FC3);
    const StretchRange range = convertToBgr(yxy, bgr);
    stretch(bgr, range, [](const cv::Mat&) {});
    return bgr;
}
