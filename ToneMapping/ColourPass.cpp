#include "ColourPass.h"

#include "Log.h"
#include "PixelOps.h"
#include "Threads.h"
#include "WorkerCount.h"

#include <opencv2/core/hal/intrin.hpp>

#include <algorithm>
#include <cmath>

namespace {

// Shared read-only by every worker of one pass.
struct LightImageJob {
    ColourPassTerms terms;
    cv::Mat in;
    mutable cv::Mat out;  // each worker writes its own rows
    int stride;
};

inline float toeAndContrast(const ColourPassTerms& terms, float x)
{
    const ExposureToe& toe = terms.exposure;
    const float lo = toe.blackPoint - toe.kneeWidth;
    float y;
    if (x <= lo)
        y = 0.f;
    else if (x < toe.blackPoint + toe.kneeWidth)
        y = toe.kneeCurvature * (x - lo) * (x - lo);
    else
        y = toe.gain * (x - toe.blackPoint);
    if (terms.highContrast) {
        const float root = std::sqrt(y > 0.f ? y : 0.f);
        const float toe = root * (terms.toeLinear + terms.toeSquare * root);
        y = root < terms.toeEnd ? toe * toe : terms.contrastRoot * root + terms.contrastLinear * y + terms.contrastOffset;
    } else
        y = terms.contrastLinear * y + terms.contrastOffset;
    return y > 0.f ? std::min(y, 1.f) : 0.f;
}

// The same per element, four or more at a time; the operations and their order
// match the scalar form, so both give the same bits.
void toeAndContrastRow(const ColourPassTerms& terms, float* data, int count)
{
    int i = 0;
#if CV_SIMD
    using namespace cv;
    const v_float32 zero = vx_setzero_f32();
    const v_float32 one = vx_setall_f32(1.f);
    const ExposureToe& exposure = terms.exposure;
    const v_float32 lo = vx_setall_f32(exposure.blackPoint - exposure.kneeWidth);
    const v_float32 hi = vx_setall_f32(exposure.blackPoint + exposure.kneeWidth);
    const v_float32 blackPoint = vx_setall_f32(exposure.blackPoint);
    const v_float32 curvature = vx_setall_f32(exposure.kneeCurvature);
    const v_float32 gain = vx_setall_f32(exposure.gain);
    const v_float32 root = vx_setall_f32(terms.contrastRoot);
    const v_float32 linear = vx_setall_f32(terms.contrastLinear);
    const v_float32 offset = vx_setall_f32(terms.contrastOffset);
    const v_float32 toeEnd = vx_setall_f32(terms.toeEnd);
    const v_float32 toeLinear = vx_setall_f32(terms.toeLinear);
    const v_float32 toeSquare = vx_setall_f32(terms.toeSquare);
    for (; i + v_float32::nlanes <= count; i += v_float32::nlanes) {
        const v_float32 x = vx_load(data + i);
        const v_float32 d = x - lo;
        const v_float32 toe = curvature * d * d;
        const v_float32 line = gain * (x - blackPoint);
        v_float32 y = v_select(x <= lo, zero, v_select(x < hi, toe, line));
        if (terms.highContrast) {
            const v_float32 sqrtY = v_sqrt(v_max(y, zero));
            const v_float32 toe = sqrtY * (toeLinear + toeSquare * sqrtY);
            y = v_select(sqrtY < toeEnd, toe * toe, root * sqrtY + linear * y + offset);
        } else
            y = linear * y + offset;
        v_store(data + i, v_min(v_max(y, zero), one));
    }
#endif
    for (; i < count; ++i)
        data[i] = toeAndContrast(terms, data[i]);
}

inline void sectorToRgb(float h, float s, float v, float& r, float& g, float& b)
{
    if (s <= 0.f) {
        r = g = b = v;
        return;
    }
    if (h >= 6.f)
        h -= 6.f;
    else if (h < 0.f)
        h += 6.f;
    // A hue still outside [0, 6) (NaN or far out) must not pick a missing sector.
    const int k = std::clamp(static_cast<int>(std::isfinite(h) ? h : 0.f), 0, 5);
    const float f = h - static_cast<float>(k);
    const float p = v * (1.f - s);
    const float q = v * (1.f - s * f);
    const float t = v * (1.f - s * (1.f - f));
    switch (k) {
    case 0: r = v; g = t; b = p; break;
    case 1: r = q; g = v; b = p; break;
    case 2: r = p; g = v; b = t; break;
    case 3: r = p; g = q; b = v; break;
    case 4: r = t; g = p; b = v; break;
    default: r = v; g = p; b = q; break;
    }
}

// The factor that saturation and vibrance scale a saturation s by.
inline float saturationFactor(const ColourPassTerms& terms, float s)
{
    float f = std::sqrt(std::max(0.f, s * s + terms.vibrance)) + terms.saturation - s;
    f = std::max(0.f, f);
    if (f > 1.f)
        f = (1.f - s) * (f - 1.f) + 1.f;
    return f;
}

inline void shiftHueAndSaturation(const ColourPassTerms& terms, float& r, float& g, float& b)
{
    const float v = std::max({r, g, b});
    const float d = v - std::min({r, g, b});
    float h = 0.f;
    float s = 0.f;
    if (d > 0.f && v > 0.f) {
        s = d / v;
        if (r == v)
            h = (g - b) / d + ((g - b) < 0.f ? 6.f : 0.f);
        else if (g == v)
            h = (b - r) / d + 2.f;
        else
            h = (r - g) / d + 4.f;
    }
    h += 6.f * terms.hue;
    if (h > 6.f)
        h -= 6.f;
    else if (h < 0.f)
        h += 6.f;
    sectorToRgb(h, saturationFactor(terms, s) * s, v, r, g, b);
}

// The hue and saturation steps without a hue shift. Back from HSV each channel c
// comes out as v (1 - f s (v - c) / d) with s = d / v, that is v - f (v - c): no
// hue, no sector, no division beyond the saturation's.
inline void scaleSaturation(const ColourPassTerms& terms, float& r, float& g, float& b)
{
    const float v = std::max({r, g, b});
    const float d = v - std::min({r, g, b});
    const float s = d > 0.f && v > 0.f ? d / v : 0.f;
    const float f = saturationFactor(terms, s);
    if (f * s <= 0.f) {
        r = g = b = v;
        return;
    }
    r = v - f * (v - r);
    g = v - f * (v - g);
    b = v - f * (v - b);
}

#if CV_SIMD
// std::max and std::min of an initializer list keep the first of equals.
inline cv::v_float32 largestOf(const cv::v_float32& b, const cv::v_float32& g, const cv::v_float32& r)
{
    const cv::v_float32 v = cv::v_select(r < g, g, r);
    return cv::v_select(v < b, b, v);
}

inline cv::v_float32 smallestOf(const cv::v_float32& b, const cv::v_float32& g, const cv::v_float32& r)
{
    const cv::v_float32 v = cv::v_select(g < r, g, r);
    return cv::v_select(b < v, b, v);
}

// saturationFactor() on vectors, its comparisons as selections.
class VectorSaturationFactor {
public:
    explicit VectorSaturationFactor(const ColourPassTerms& terms)
        : vibrance(cv::vx_setall_f32(terms.vibrance)), saturation(cv::vx_setall_f32(terms.saturation))
    {
    }

    cv::v_float32 operator()(const cv::v_float32& s) const
    {
        using namespace cv;
        const v_float32 zero = vx_setzero_f32();
        const v_float32 one = vx_setall_f32(1.f);
        const v_float32 squares = s * s + vibrance;
        v_float32 f = v_sqrt(v_select(zero < squares, squares, zero)) + saturation - s;
        f = v_select(zero < f, f, zero);
        return v_select(f > one, (one - s) * (f - one) + one, f);
    }

private:
    cv::v_float32 vibrance;
    cv::v_float32 saturation;
};
#endif

// step(r, g, b) on the pixels of one row of B, G, R from `from` on: the scalar
// remainder after the vectors.
template <typename PixelStep>
void forEachPixelFrom(int from, const float* in, float* out, int cols, const PixelStep& step)
{
    for (int x = from; x < cols; ++x) {
        float b = in[3 * x], g = in[3 * x + 1], r = in[3 * x + 2];
        step(r, g, b);
        out[3 * x] = b;
        out[3 * x + 1] = g;
        out[3 * x + 2] = r;
    }
}

// scaleSaturation() on one row of B, G, R (in may equal out), vectors following
// the scalar form step by step so that both give the same bits.
void scaleSaturationRow(const ColourPassTerms& terms, const float* in, float* out, int cols)
{
    int x = 0;
#if CV_SIMD
    using namespace cv;
    const v_float32 zero = vx_setzero_f32();
    const VectorSaturationFactor saturationFactor(terms);
    for (; x + v_float32::nlanes <= cols; x += v_float32::nlanes) {
        v_float32 b, g, r;
        v_load_deinterleave(in + 3 * x, b, g, r);
        const v_float32 v = largestOf(b, g, r);
        const v_float32 d = v - smallestOf(b, g, r);
        const v_float32 s = (d / v) & ((d > zero) & (v > zero));
        const v_float32 f = saturationFactor(s);
        const v_float32 grey = f * s <= zero;
        v_store_interleave(out + 3 * x, v_select(grey, v, v - f * (v - b)), v_select(grey, v, v - f * (v - g)),
                           v_select(grey, v, v - f * (v - r)));
    }
#endif
    forEachPixelFrom(x, in, out, cols, [&terms](float& r, float& g, float& b) { scaleSaturation(terms, r, g, b); });
}

// The hue and saturation steps on one row of B, G, R (in may equal out). Vectors
// follow the scalar form step by step, its comparisons written as selections, so
// that both give the same bits for every input, NaN and signed zeros included.
void shiftHueAndSaturationRow(const ColourPassTerms& terms, const float* in, float* out, int cols)
{
    int x = 0;
#if CV_SIMD
    using namespace cv;
    const v_float32 zero = vx_setzero_f32();
    const v_float32 one = vx_setall_f32(1.f);
    const v_float32 two = vx_setall_f32(2.f);
    const v_float32 four = vx_setall_f32(4.f);
    const v_float32 six = vx_setall_f32(6.f);
    const v_float32 shift = vx_setall_f32(6.f * terms.hue);
    const VectorSaturationFactor saturationFactor(terms);
    const auto sector = [](const v_int32& k, int n) { return v_reinterpret_as_f32(k == vx_setall_s32(n)); };
    for (; x + v_float32::nlanes <= cols; x += v_float32::nlanes) {
        v_float32 b, g, r;
        v_load_deinterleave(in + 3 * x, b, g, r);
        const v_float32 v = largestOf(b, g, r);
        const v_float32 d = v - smallestOf(b, g, r);
        const v_float32 coloured = (d > zero) & (v > zero);
        // Selecting against zero is a mask: one operation instead of a selection.
        const v_float32 s = (d / v) & coloured;
        // The sector's difference and offset are picked first: one division instead of three.
        const v_float32 ofRed = r == v;
        const v_float32 ofGreen = g == v;
        const v_float32 difference = v_select(ofRed, g - b, v_select(ofGreen, b - r, r - g));
        const v_float32 offset = v_select(ofRed, six & ((g - b) < zero), v_select(ofGreen, two, four));
        v_float32 h = (difference / d + offset) & coloured;
        h = h + shift;
        h = v_select(h > six, h - six, v_select(h < zero, h + six, h));
        const v_float32 fs = saturationFactor(s) * s;
        // The sector conversion; a NaN or out-of-range hue truncates to INT_MIN and
        // so, like the scalar form's, picks sector 0.
        h = v_select(h >= six, h - six, v_select(h < zero, h + six, h));
        const v_int32 k = v_min(v_max(v_trunc(h), vx_setzero_s32()), vx_setall_s32(5));
        const v_float32 fraction = h - v_cvt_f32(k);
        const v_float32 p = v * (one - fs);
        const v_float32 q = v * (one - fs * fraction);
        const v_float32 t = v * (one - fs * (one - fraction));
        const v_float32 grey = fs <= zero;
        r = v_select(sector(k, 1), q, v_select(sector(k, 2) | sector(k, 3), p, v_select(sector(k, 4), t, v)));
        g = v_select(sector(k, 0), t, v_select(sector(k, 3), q, v_select(sector(k, 4) | sector(k, 5), p, v)));
        b = v_select(sector(k, 0) | sector(k, 1), p, v_select(sector(k, 2), t, v_select(sector(k, 5), q, v)));
        v_store_interleave(out + 3 * x, v_select(grey, v, b), v_select(grey, v, g), v_select(grey, v, r));
    }
#endif
    forEachPixelFrom(x, in, out, cols, [&terms](float& r, float& g, float& b) { shiftHueAndSaturation(terms, r, g, b); });
}

// In place on one row of B, G, R: luminance through the curve, channels scaled by it.
// Vectors take chunks of pixels, calling the curve on each in a row of its own and
// following the scalar form's steps and selections, so both give the same bits.
inline void applyCurve(const ColourPassTerms& terms, float* px, int cols)
{
    int x = 0;
#if CV_SIMD
    using namespace cv;
    constexpr int kChunk = 64;
    static_assert(kChunk % v_float32::nlanes == 0, "whole vectors per chunk");
    const v_float32 zero = vx_setzero_f32();
    const v_float32 one = vx_setall_f32(1.f);
    const auto luminanceOf = [](const v_float32& b, const v_float32& g, const v_float32& r) {
        return (vx_setall_f32(20.f) * r + vx_setall_f32(40.f) * g + b) / vx_setall_f32(61.f);
    };
    const auto clamped = [&](const v_float32& v) {
        const v_float32 raised = v_select(v < zero, zero, v);
        return v_select(one < raised, one, raised);
    };
    float luminances[kChunk];
    float curved[kChunk];
    for (; x + kChunk <= cols; x += kChunk) {
        float* chunk = px + 3 * x;
        for (int i = 0; i < kChunk; i += v_float32::nlanes) {
            v_float32 b, g, r;
            v_load_deinterleave(chunk + 3 * i, b, g, r);
            const v_float32 luminance = luminanceOf(b, g, r);
            v_store(luminances + i, luminance);
            v_store(curved + i, luminance * luminance);
        }
        for (int i = 0; i < kChunk; ++i)
            curved[i] = terms.curve->evaluate(curved[i]);
        for (int i = 0; i < kChunk; i += v_float32::nlanes) {
            v_float32 b, g, r;
            v_load_deinterleave(chunk + 3 * i, b, g, r);
            const v_float32 luminance = vx_load(luminances + i);
            const v_float32 value = vx_load(curved + i);
            const v_float32 ratio = v_sqrt(v_select(zero < value, value, zero)) / luminance;
            // Contrast above 1 can pull a pixel to black; 0 / 0 would give NaN.
            const v_float32 lit = luminance > zero;
            v_store_interleave(chunk + 3 * i, clamped(ratio * b) & lit, clamped(ratio * g) & lit, clamped(ratio * r) & lit);
        }
    }
    px += 3 * x;
#endif
    for (; x < cols; ++x, px += 3) {
        const float luminance = (20.f * px[2] + 40.f * px[1] + px[0]) / 61.f;
        if (!(luminance > 0.f)) {
            px[0] = px[1] = px[2] = 0.f;
            continue;
        }
        const float ratio = std::sqrt(std::max(0.f, terms.curve->evaluate(luminance * luminance))) / luminance;
        px[0] = std::clamp(ratio * px[0], 0.f, 1.f);
        px[1] = std::clamp(ratio * px[1], 0.f, 1.f);
        px[2] = std::clamp(ratio * px[2], 0.f, 1.f);
    }
}

void lightImageWorker(int startRow, const LightImageJob& job)
{
    for (int y = startRow; y < job.in.rows; y += job.stride)
        colourPassRow(job.terms, job.in.ptr<float>(y), job.in.channels(), job.out.ptr<float>(y), job.in.cols);
}

}  // namespace

ExposureToe exposureToe(float exposure)
{
    ExposureToe toe;
    toe.blackPoint = 0.f;
    const float whitePoint = 1.f / std::pow(2.f, exposure);
    toe.gain = 1.f / (whitePoint - toe.blackPoint);
    toe.kneeWidth = std::min(0.5f * 0.005f, 0.0625f / toe.gain);
    toe.kneeCurvature = toe.kneeWidth > 0.f ? toe.gain / (4.f * toe.kneeWidth) : 0.f;
    return toe;
}

ExposureToe toeOfScaledInput(const ExposureToe& toe, float scale)
{
    if (scale == 1.f)
        return toe;
    return {toe.blackPoint / scale, toe.kneeWidth / scale, toe.gain * scale, toe.kneeCurvature * scale * scale};
}

ColourPassTerms colourPassTerms(const InterpolationCurve& curve, const ColourPassParameters& parameters)
{
    ColourPassTerms terms;
    static_cast<ColourPassParameters&>(terms) = parameters;
    terms.curve = &curve;
    terms.identityCurve = curve.isIdentity();
    const float contrast = parameters.contrast;
    terms.highContrast = contrast >= 1.f;
    if (terms.highContrast) {
        const float knee = 0.8f * (contrast - 1.f);
        terms.toeEnd = 3.f * knee / contrast;
        terms.toeLinear = contrast / 3.f;
        terms.toeSquare = knee > 0.f ? contrast * contrast / (9.f * knee) : 0.f;
        terms.contrastLinear = contrast * contrast;
        terms.contrastRoot = 1.6f * (contrast - contrast * contrast);
        terms.contrastOffset = 0.8f * 0.8f * (1.f - 2.f * contrast + contrast * contrast);
    } else {
        terms.contrastLinear = contrast;
        terms.contrastOffset = 0.75f - 0.75f * contrast;
    }
    return terms;
}

// Each row goes through the steps one at a time, so that consecutive pixels are
// independent work for the processor instead of one long chain per pixel.
void colourPassRow(const ColourPassTerms& terms, const float* in, int channels, float* out, int cols)
{
    if (channels == 1) {
        for (int x = 0; x < cols; ++x)
            out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = in[x];
    } else if (terms.hue == 0.f)
        scaleSaturationRow(terms, in, out, cols);
    else
        shiftHueAndSaturationRow(terms, in, out, cols);
    toeAndContrastRow(terms, out, 3 * cols);
    // The toe and contrast leave the channels in [0, 1], where the identity keeps them.
    if (!terms.identityCurve)
        applyCurve(terms, out, cols);
}

void hsvSectorToRgb(float h, float s, float v, float& r, float& g, float& b)
{
    sectorToRgb(h, s, v, r, g, b);
}

cv::Mat& parallelComputeLightImage(const InterpolationCurve& curve, cv::Mat& out, const cv::Mat& in,
                                   const ColourPassParameters& parameters)
{
    if (in.empty() || (in.channels() != 1 && in.channels() != 3)) {
        if (!in.empty())
            logError("parallelComputeLightImage", "expected 1 or 3 channels, got " + std::to_string(in.channels()));
        out = cv::Mat();
        return out;
    }
    LightImageJob job{colourPassTerms(curve, parameters), asFloat(in), cv::Mat(), toneMappingWorkerCount()};
    if (job.in.empty()) {
        logError("parallelComputeLightImage", "unsupported sample depth");
        out = cv::Mat();
        return out;
    }
    if (out.data == in.data)
        out = cv::Mat();  // never write over the input
    out.create(in.rows, in.cols, CV_32FC3);
    job.out = out;
    // A row band whose thread cannot start costs parallelism only.
    runOnWorkerThreads(std::min(job.stride, in.rows), [&job](int startRow) { lightImageWorker(startRow, job); });
    return out;
}
