#include "LayerProcessing.h"

#include "BilateralFilter.h"
#include "ColourMatrices.h"
#include "ColourPass.h"
#include "FftBlur.h"
#include "FiniteSamples.h"
#include "LitPixels.h"
#include "MissingSamples.h"
#include "OrderStatistics.h"
#include "PixelOps.h"
#include "RowBands.h"
#include "Spline.h"
#include "Threads.h"

#include <opencv2/core/hal/hal.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <limits>
#include <vector>

namespace {

constexpr float kRangeSigma = 0.35f;
constexpr float kSpaceSigmaFactor = 0.02f;
constexpr float kDetailExponent = 0.25f;
const cv::Vec3f kD65White(95.05f, 100.0f, 108.88f);
const double kLn10 = std::log(10.0);

// Exposure of the finishing colour pass: -0.3 EV.
constexpr float kFinishGain = 0.8122524f;
constexpr float kFinishKneeWidth = 0.0025f;
constexpr float kFinishKneeCurvature = 81.225235f;

// The luminance-level adaptation factor FL of an adapting luminance La, given
// 5 La and its cube root.
inline float adaptationFactor(float fiveLa, float cubeRoot)
{
    const float k = 1.0f / (fiveLa + 1.0f);
    const float k4 = k * k * k * k;
    return 0.2f * k4 * fiveLa + 0.1f * (1.0f - k4) * (1.0f - k4) * cubeRoot;
}

// values[i]^exponent for values >= 0, through the library's vectorised log and exp:
// the per-pixel powers dominate the cost of the model.
void powInPlace(std::vector<float>& values, float exponent)
{
    const int n = static_cast<int>(values.size());
    cv::hal::log32f(values.data(), values.data(), n);
    for (float& v : values)
        v *= exponent;
    cv::hal::exp32f(values.data(), values.data(), n);
}

cv::Mat onePixel(const cv::Vec3f& value)
{
    return cv::Mat(1, 1, CV_32FC3, cv::Scalar(value[0], value[1], value[2]));
}

float largestY(const cv::Mat& image)
{
    return static_cast<float>(largestInBands(image, 1));
}

// Pixels above the floor of the scaled XYZ: black borders and patches are not.
cv::Mat litPixels(const cv::Mat& xyz)
{
    cv::Mat lit(xyz.size(), CV_8U);
    forEachRowBand(xyz.rows, [&](const cv::Range& rows) {
        cv::Mat y;
        cv::extractChannel(xyz.rowRange(rows), y, 1);
        cv::Mat band = lit.rowRange(rows);
        cv::compare(y, 1e-8f, band, cv::CMP_GT);
    });
    return lit;
}

// The library's split and merge run on one thread; these share them out by bands.
void splitChannels(const cv::Mat& image, cv::Mat (&channels)[3])
{
    for (cv::Mat& channel : channels)
        channel.create(image.size(), CV_32FC1);
    forEachRowBand(image.rows, [&](const cv::Range& rows) {
        cv::Mat bands[3] = {channels[0].rowRange(rows), channels[1].rowRange(rows), channels[2].rowRange(rows)};
        cv::split(image.rowRange(rows), bands);
    });
}

cv::Mat mergedChannels(const cv::Mat (&channels)[3])
{
    cv::Mat image(channels[0].size(), CV_32FC3);
    forEachRowBand(image.rows, [&](const cv::Range& rows) {
        const cv::Mat bands[3] = {channels[0].rowRange(rows), channels[1].rowRange(rows), channels[2].rowRange(rows)};
        cv::Mat band = image.rowRange(rows);
        cv::merge(bands, 3, band);
    });
    return image;
}

cv::Mat rgbOf(const cv::Mat& bgr)
{
    cv::Mat rgb;
    if (!bgr.empty())
        cv::cvtColor(bgr, rgb, cv::COLOR_BGR2RGB);
    return rgb;
}

// brightestY: see linearRgbToXyz.
cv::Mat rgbToScaledXyz(const cv::Mat& bgr, float maxY, double brightestY = 0.0)
{
    return linearRgbToXyz(rgbOf(bgr), maxY, brightestY);
}

// Filters the channels of the log image together; false when cancelled.
bool decomposeLayers(LayerProcessing& op, const cv::Mat& logXyz, cv::Mat& baseLog)
{
    cv::Mat channels[3];
    splitChannels(logXyz, channels);
    if (op.cancel)
        return false;
    const float spaceSigma = kSpaceSigmaFactor * std::min(logXyz.rows, logXyz.cols);
    cv::Mat filtered[3];
    for (cv::Mat& plane : filtered)
        plane.create(logXyz.size(), CV_32FC1);
    cv_extend::bilateralFilterPlanes(channels, filtered, 3, kRangeSigma, spaceSigma, op.spatialScale);
    op.progress = 45;
    if (op.cancel)
        return false;
    baseLog = mergedChannels(filtered);
    return true;
}

// The layers of one run are each used once, so a step can write its result into
// the pixels of a layer it consumes: every fresh whole image is mapped and
// zero-faulted anew. `into` is that layer, or empty for a fresh image.
cv::Mat resultImage(const cv::Mat& into, cv::Size size)
{
    return into.empty() ? cv::Mat(size, CV_32FC3) : into;
}

cv::Mat scaledBy(const cv::Mat& image, float factor, const cv::Mat& into)
{
    cv::Mat result = resultImage(into, image.size());
    forEachRowBand(image.rows, [&](const cv::Range& rows) {
        cv::Mat band = result.rowRange(rows);
        image.rowRange(rows).convertTo(band, CV_32F, factor);
    });
    return result;
}

// The base adapted to the local white unitWhite * whiteScale, scaled band by band
// rather than kept whole.
cv::Mat chromaticAdapt(const cv::Mat& base, const cv::Mat& unitWhite, float whiteScale, const cv::Mat& into)
{
    const cv::Vec3f d65 = cat02Transform(onePixel(kD65White), 1).at<cv::Vec3f>(0, 0);
    cv::Mat result = resultImage(into, base.size());
    forEachRowBand(base.rows, [&](const cv::Range& rows) {
        cv::Mat whiteBand;
        unitWhite.rowRange(rows).convertTo(whiteBand, CV_32F, whiteScale);
        cv::Mat adapted = cat02Transform(base.rowRange(rows), 2);
        const cv::Mat whiteCat = cat02Transform(whiteBand, 2);
        for (int r = 0; r < adapted.rows; ++r) {
            cv::Vec3f* pixel = adapted.ptr<cv::Vec3f>(r);
            const cv::Vec3f* w = whiteCat.ptr<cv::Vec3f>(r);
            const cv::Vec3f* xyzWhite = whiteBand.ptr<cv::Vec3f>(r);
            for (int c = 0; c < adapted.cols; ++c) {
                const float la = 0.2f * xyzWhite[c][1];
                const float degree = 0.3f * (1.0f - std::exp(-(la - 42.0f) / 92.0f) / 3.6f);
                for (int k = 0; k < 3; ++k)
                    pixel[c][k] *= degree * d65[k] / (w[c][k] + 1e-7f) + 1.0f - degree;
            }
        }
        cat02Transform(adapted, 0).copyTo(result.rowRange(rows));
    });
    return result;
}

// The white of the linear RGB input (1, 1, 1) in the cone space.
cv::Vec3f coneWhite()
{
    const cv::Mat white = linearRgbToXyz(onePixel(cv::Vec3f(1.0f, 1.0f, 1.0f)), 1.0f);
    return hpeTransform(white, 2).at<cv::Vec3f>(0, 0);
}

// Cone and rod responses of the adapted base under the local white, band by
// band; compressed stays unfinished when cancel is found set. The cones respond
// to their signal relative to the white's, so that a grey stays grey: the same
// response in all three, the rods' added alike, then scaled back by the white.
void toneCompress(const cv::Mat& adapted, const cv::Mat& white, float p, const std::atomic<bool>& cancel,
                  cv::Mat& compressed)
{
    if (cancel)
        return;
    const cv::Vec3f neutral = coneWhite();
    const float sw = 5.0f * 0.2f * largestY(white);
    compressed.create(adapted.size(), CV_32FC3);
    const int cols = adapted.cols;
    forEachRowBand(adapted.rows, [&](const cv::Range& rows) {
        if (cancel)
            return;
        cv::Mat response = hpeTransform(adapted.rowRange(rows), 2);
        std::vector<float> cubeRoots(cols), sixthRoots(cols), cones(3 * cols), rods(cols), rodScale(cols);
        for (int r = 0; r < response.rows; ++r) {
            cv::Vec3f* h = response.ptr<cv::Vec3f>(r);
            const cv::Vec3f* w = white.ptr<cv::Vec3f>(rows.start + r);
            const cv::Vec3f* a = adapted.ptr<cv::Vec3f>(rows.start + r);
            for (int c = 0; c < cols; ++c) {
                cubeRoots[c] = w[c][1];  // 5 La with La = 0.2 W_Y
                sixthRoots[c] = 5.0f * (0.452f * w[c][1]) / 2.26f;
            }
            powInPlace(cubeRoots, 1.0f / 3.0f);
            powInPlace(sixthRoots, 1.0f / 6.0f);
            for (int c = 0; c < cols; ++c) {
                const float la = 0.2f * w[c][1];
                const float fl = adaptationFactor(5.0f * la, cubeRoots[c]);
                for (int k = 0; k < 3; ++k)
                    cones[3 * c + k] = fl * 0.2f * std::fabs(h[c][k] / neutral[k]) / la;
                const float l5 = 5.0f * (0.452f * w[c][1]) / 2.26f;
                const float s = std::fabs(a[c][1]) / sw;
                const float ls = l5 * s;
                const float j = 1e-5f / (l5 + 1e-5f);
                const float j2 = j * j;
                const float oneMinus = 1.0f - j2;
                const float fls = 3800.0f * j2 * l5 + 0.2f * oneMinus * oneMinus * oneMinus * oneMinus * sixthRoots[c];
                rods[c] = fls * s;
                rodScale[c] = 3.05f * (0.5f / (1.0f + 0.3f * ls * ls * ls) + 0.5f / (1.0f + 5.0f * l5)) * 400.0f;
            }
            powInPlace(cones, p);
            powInPlace(rods, p);
            for (int c = 0; c < cols; ++c) {
                const float rod = rodScale[c] * rods[c] / (rods[c] + 27.13f) + 0.03f;
                for (int k = 0; k < 3; ++k) {
                    const float sign = h[c][k] > 0.0f ? 1.0f : h[c][k] < 0.0f ? -1.0f : 0.0f;
                    const float x = cones[3 * c + k];
                    h[c][k] = (sign * 400.0f * x / (x + 27.13f) + 0.1f + rod) * neutral[k];
                }
            }
        }
        hpeTransform(response, 0).copyTo(compressed.rowRange(rows));
    });
}

// Detail layer raised to (FL(La) + 0.8)^e, La from the base's Y.
void detailEnhance(const cv::Mat& detail, const cv::Mat& base, float e, cv::Mat& enhanced)
{
    enhanced.create(detail.size(), CV_32FC3);
    const int cols = detail.cols;
    forEachRowBand(detail.rows, [&](const cv::Range& rows) {
        std::vector<float> exponents(cols), values(3 * cols);
        for (int r = rows.start; r < rows.end; ++r) {
            const cv::Vec3f* b = base.ptr<cv::Vec3f>(r);
            for (int c = 0; c < cols; ++c)
                exponents[c] = b[c][1];  // 5 La with La = 0.2 B_Y
            powInPlace(exponents, 1.0f / 3.0f);
            for (int c = 0; c < cols; ++c)
                exponents[c] = adaptationFactor(b[c][1], exponents[c]) + 0.8f;
            powInPlace(exponents, e);
            // D^x = exp(x ln D), D > 0.
            const float* d = detail.ptr<float>(r);
            cv::hal::log32f(d, values.data(), 3 * cols);
            for (int c = 0; c < cols; ++c)
                for (int k = 0; k < 3; ++k)
                    values[3 * c + k] *= exponents[c];
            cv::hal::exp32f(values.data(), enhanced.ptr<float>(r), 3 * cols);
        }
    });
}

// Tone compression and, unless the detail is empty (its enhancement already made),
// detail enhancement on two threads; false when cancelled.
bool compressAndEnhance(LayerProcessing& op, const cv::Mat& adapted, const cv::Mat& white, const cv::Mat& detail,
                        const cv::Mat& base, float p, bool consume, cv::Mat& compressed, cv::Mat& enhanced)
{
    // Into the consumed layers' pixels, or each thread allocates its own output, so
    // that a cancelled run never pays for it. Neither writes what the other reads.
    compressed = consume ? adapted : cv::Mat();
    if (!detail.empty())
        enhanced = consume ? detail : cv::Mat();
    runOnWorkerThreads(detail.empty() ? 1 : 2, [&](int task) {
        if (task == 0)
            toneCompress(adapted, white, p, op.cancel, compressed);
        else
            detailEnhance(detail, base, kDetailExponent, enhanced);
    });
    return !op.cancel;
}

// The compressed base times the enhanced detail, per element, into the base's pixels.
cv::Mat multiplyLayers(cv::Mat& compressed, const cv::Mat& enhanced)
{
    forEachRowBand(compressed.rows, [&](const cv::Range& rows) {
        cv::Mat band = compressed.rowRange(rows);
        cv::multiply(band, enhanced.rowRange(rows), band);
    });
    return compressed;
}

// The image's pixels replaced band by band with step(band): whole-image
// temporaries would each be mapped and zero-faulted afresh.
template <typename Step>
void replaceByBands(cv::Mat& image, const Step& step)
{
    forEachRowBand(image.rows, [&](const cv::Range& rows) {
        cv::Mat band = image.rowRange(rows);
        step(band).copyTo(band);
    });
}

// Colourfulness and lightness adjusted in IPT, in xyz's own pixels.
void iptAdjust(LayerProcessing& op, cv::Mat& xyz, const cv::Mat& base, float gamma)
{
    // A gamma of 0 makes every lightness the largest (and 0^0 undefined): a flat
    // picture whose colour is only rounding. It is taken as its limit, the slider's
    // next step, whose lightness still varies enough for the display stretch.
    constexpr float kSmallestGamma = 0.01f;
    gamma = std::max(gamma, kSmallestGamma);
    replaceByBands(xyz, [](const cv::Mat& band) { return lmsIptTransform(xyzLmsTransform(band, 2), 2); });
    op.progress = 84;
    op.progress = 85;
    const float largestI = static_cast<float>(largestInBands(xyz, 0));
    op.progress = 86;
    // The white's P and T per unit of I: the matrices' rounding leaves them a little
    // off 0, which a flattened lightness and the display stretch would show as a tint.
    const cv::Vec3f whiteIpt = lmsIptTransform(xyzLmsTransform(onePixel(kD65White), 2), 2).at<cv::Vec3f>(0, 0);
    const cv::Vec3f white(1.0f, whiteIpt[1] / whiteIpt[0], whiteIpt[2] / whiteIpt[0]);
    const int cols = xyz.cols;
    // A gamma of 1 leaves I as it is; a power of one through log and exp would not.
    const bool raiseI = largestI > 0.0f && gamma != 1.0f;
    forEachRowBand(xyz.rows, [&](const cv::Range& rows) {
        cv::Mat ipt = xyz.rowRange(rows);
        std::vector<float> boosts(cols), lightness(cols);
        for (int r = 0; r < ipt.rows; ++r) {
            cv::Vec3f* pixel = ipt.ptr<cv::Vec3f>(r);
            const cv::Vec3f* b = base.ptr<cv::Vec3f>(rows.start + r);
            for (int c = 0; c < cols; ++c)
                boosts[c] = b[c][1];  // 5 La with La = 0.2 B_Y
            powInPlace(boosts, 1.0f / 3.0f);
            for (int c = 0; c < cols; ++c)
                boosts[c] = adaptationFactor(b[c][1], boosts[c]) + 1.0f;
            powInPlace(boosts, 0.15f);
            if (raiseI) {
                for (int c = 0; c < cols; ++c)
                    lightness[c] = pixel[c][0] / largestI;
                powInPlace(lightness, gamma);
            }
            for (int c = 0; c < cols; ++c) {
                const float i = pixel[c][0];
                // Chroma measured from the white's axis, which follows the new lightness.
                const float p = pixel[c][1] - i * white[1];
                const float t = pixel[c][2] - i * white[2];
                const float chroma = std::sqrt(p * p + t * t);
                const float factor = boosts[c] * (1.29f * chroma * chroma - 0.27f * chroma + 0.42f) /
                                     (chroma * chroma - 0.31f * chroma + 0.42f);
                const float lit = largestI > 0.0f ? (raiseI ? lightness[c] : i / largestI) * largestI : i;
                pixel[c] = cv::Vec3f(lit, p * factor + lit * white[1], t * factor + lit * white[2]);
            }
        }
        xyzLmsTransform(lmsIptTransform(ipt, 0), 0).copyTo(ipt);
    });
    op.progress = 88;
    op.progress = 89;
}

// Complete von Kries adaptation from the source white to the output white (both
// D65), in xyz's own pixels.
void outputWhiteAdapt(cv::Mat& xyz)
{
    const cv::Vec3f sourceWhite = outputWhiteTransform(onePixel(kD65White), 1).at<cv::Vec3f>(0, 0);
    const cv::Vec3f outputWhite = outputWhiteTransform(onePixel(kD65White), 1).at<cv::Vec3f>(0, 0);
    cv::Vec3f ratio;
    for (int k = 0; k < 3; ++k)
        ratio[k] = outputWhite[k] / sourceWhite[k] + 1.0f - 1.0f;
    replaceByBands(xyz, [&](const cv::Mat& band) {
        cv::Mat adapted = outputWhiteTransform(band, 2);
        cv::multiply(adapted, cv::Scalar(ratio[0], ratio[1], ratio[2]), adapted);
        return outputWhiteTransform(adapted, 0);
    });
}

// sRGB encoding of values in [0, 1], given each value's power 1/2.4.
inline float srgbEncode(float v, float powered)
{
    return v > 0.0031308f ? 1.055f * powered - 0.055f : 12.92f * v;
}

// Linear RGB clipped at the 1st and 99th percentiles of its lit pixels, then
// sRGB-encoded; black ones (a border) come out black.
void clipAndEncode(cv::Mat& rgb, const cv::Mat& lit)
{
    const cv::Mat measured = litInterior(lit);
    const size_t litCount = size_t(cv::countNonZero(measured));
    const bool allMeasured = litCount == 0 || litCount == rgb.total();
    const size_t count = 3 * (allMeasured ? rgb.total() : litCount);
    const std::vector<float> percentiles =
        valuesAtRanks(rgb, {count / 100, count * 99 / 100}, allMeasured ? cv::Mat() : measured);
    const bool anyLit = cv::countNonZero(lit) > 0;
    const float low = std::max(0.0f, percentiles[0]);
    const float high = percentiles[1];
    const float range = high - low;
    const int width = rgb.cols * 3;
    forEachRowBand(rgb.rows, [&](const cv::Range& rows) {
        std::vector<float> powered(width);
        for (int r = rows.start; r < rows.end; ++r) {
            float* v = rgb.ptr<float>(r);
            const uchar* shown = lit.ptr<uchar>(r);
            for (int i = 0; i < width; ++i) {
                const float value = anyLit && !shown[i / 3] ? 0.0f : v[i];
                // A flat image has no range to stretch: below or at it is black, above it white.
                const float stretched = range > 0.0f ? (value - low) / range : (value > low ? 1.0f : 0.0f);
                v[i] = std::min(1.0f, std::max(0.0f, stretched));
            }
            std::copy(v, v + width, powered.begin());
            powInPlace(powered, 1.0f / 2.4f);
            for (int i = 0; i < width; ++i)
                v[i] = srgbEncode(v[i], powered[i]);
        }
    });
}

cv::Mat xyzToDisplayRgb(cv::Mat xyz, const cv::Mat& lit)
{
    // Non-finite values (a degenerate white) would poison the percentiles.
    forEachRowBand(xyz.rows, [&](const cv::Range& rows) {
        cv::Mat band = xyz.rowRange(rows);
        cv::patchNaNs(band, 0.0);
        cv::min(band, std::numeric_limits<float>::max(), band);
        cv::max(band, -std::numeric_limits<float>::max(), band);
    });
    const float largest = largestY(xyz);
    // The clip and the encoding treat every channel alike, so the swap to
    // blue-green-red can come first.
    replaceByBands(xyz, [&](cv::Mat& band) {
        if (largest > 0.0f)
            band /= largest;
        cv::Mat bgr;
        cv::cvtColor(xyzToLinearRgb(band), bgr, cv::COLOR_RGB2BGR);
        return bgr;
    });
    clipAndEncode(xyz, lit);
    return xyz;
}

void applyFinishingColourPass(const cv::Mat& display, cv::Mat& out)
{
    const Spline curve(0.0f, 0.75f, 0.0f, 0.0f);
    // The pass leaves its input unchanged, so the display image itself serves.
    ColourPassParameters finish;
    finish.vibrance = 0.42f;
    finish.exposure = {0.0f, kFinishKneeWidth, kFinishGain, kFinishKneeCurvature};
    finish.contrast = 1.2f;
    parallelComputeLightImage(curve, out, display, finish);
}

// One step of the model and the progress reached once it is done.
struct Step {
    std::function<void()> run;
    int progressAfter;
};

// Runs the steps in order; false as soon as one ends with op.cancel set.
bool runSteps(LayerProcessing& op, std::initializer_list<Step> steps)
{
    for (const Step& step : steps) {
        step.run();
        if (op.cancel)
            return false;
        op.progress = step.progressAfter;
    }
    return true;
}

cv::Mat log10Of(const cv::Mat& xyz)
{
    cv::Mat logXyz(xyz.size(), CV_32FC3);
    forEachRowBand(xyz.rows, [&](const cv::Range& rows) {
        cv::Mat band = logXyz.rowRange(rows);
        cv::log(xyz.rowRange(rows), band);
        band *= 1.0 / kLn10;
    });
    return logXyz;
}

void exp10InPlace(cv::Mat& image)
{
    forEachRowBand(image.rows, [&](const cv::Range& rows) {
        cv::Mat band = image.rowRange(rows);
        band *= kLn10;
        cv::exp(band, band);
    });
}

// The bilateral base of the log image into base (still log10, capped at the image's
// largest value) and the linear detail layer, in the log image's own pixels; empty
// when cancelled.
cv::Mat splitIntoLayers(LayerProcessing& op, cv::Mat& logXyz, cv::Mat& base)
{
    if (!decomposeLayers(op, logXyz, base) || op.cancel)
        return cv::Mat();
    const double ceiling = std::max(0.0, largestInBands(logXyz, -1));
    cv::Mat detail = logXyz;
    forEachRowBand(base.rows, [&](const cv::Range& rows) {
        cv::Mat baseBand = base.rowRange(rows);
        cv::Mat detailBand = detail.rowRange(rows);
        cv::min(baseBand, ceiling, baseBand);
        cv::subtract(logXyz.rowRange(rows), baseBand, detailBand);
        detailBand *= kLn10;
        cv::exp(detailBand, detailBand);
    });
    return detail;
}

// finiteSamples with its check shared out by bands: a whole-image check runs on
// one thread.
cv::Mat finiteInput(const cv::Mat& image)
{
    std::atomic<bool> finite{true};
    forEachRowBand(image.rows, [&](const cv::Range& rows) {
        if (!cv::checkRange(image.rowRange(rows)))
            finite = false;
    });
    return finite ? image : finiteSamples(image);
}

}  // namespace

namespace layer_processing {

bool inputSteps(LayerProcessing& op, const cv::Mat& in32, LayerProcessing::InputResult& result)
{
    result.maxLuminance = 0.0f;
    cv::Mat xyz, logXyz, baseLog;
    return runSteps(op, {
        {[&] {
             // At a largest Y of 1: another p2 only scales what follows. A reduced
             // input's sun is averaged down: the full-size picture's is the largest.
             xyz = rgbToScaledXyz(in32, 1.0f, largestLinearY(rgbOf(op.fullSizeExtremes)));
             result.lit = litPixels(xyz);
             // Black pixels' values continued from the picture around them, so that the
             // layers there neither pull the picture's base down nor widen the filter's
             // value range.
             logXyz = fillMissingSamples(log10Of(xyz), result.lit);
         }, 5},
        {[&] {
             result.detail = splitIntoLayers(op, logXyz, baseLog);
             logXyz.release();
         }, 50},
        {[&] {
             exp10InPlace(baseLog);
             result.unitBase = baseLog;
             const std::vector<cv::Mat> whites = adaptationBlurs(xyz, {2, 3}, result.lit);
             result.unitWhite2 = whites[0];
             result.unitWhite3 = whites[1];
             xyz.release();
         }, 55},
    });
}

bool scaledSteps(LayerProcessing& op, LayerProcessing::InputResult& input, float p2, bool consume)
{
    // Made anew below: a cancelled run leaves nothing that looks current.
    input.maxLuminance = 0.0f;
    const auto into = [consume](const cv::Mat& layer) { return consume ? layer : cv::Mat(); };
    input.base = scaledBy(input.unitBase, p2, into(input.unitBase));
    input.white = scaledBy(input.unitWhite3, p2, into(input.unitWhite3));
    input.adapted = chromaticAdapt(input.base, input.unitWhite2, p2, into(input.unitWhite2));
    if (consume) {
        input.unitBase.release();
        input.unitWhite2.release();
        input.unitWhite3.release();
    }
    if (op.cancel)
        return false;
    op.progress = 60;
    input.maxLuminance = p2;
    return true;
}

bool compressBase(LayerProcessing& op, LayerProcessing::InputResult& input, float p0, bool enhanceDetail,
                  bool consume, cv::Mat& compressed)
{
    const bool finished =
        compressAndEnhance(op, input.adapted, input.white, enhanceDetail ? input.detail : cv::Mat(), input.base, p0,
                           consume, compressed, input.enhanced);
    if (!finished)
        input.maxLuminance = 0.0f;
    return finished;
}

void finishSteps(LayerProcessing& op, LayerProcessing::InputResult& input, bool consume, cv::Mat& compressed,
                 float p1, cv::Mat& out)
{
    const auto consumed = [consume](cv::Mat& layer) {
        if (consume)
            layer.release();
    };
    cv::Mat adjusted;
    const bool finished = runSteps(op, {
        {[&] {
             consumed(input.white);
             consumed(input.adapted);
         }, 80},
        {[&] {
             adjusted = multiplyLayers(compressed, input.enhanced);
             compressed.release();
             consumed(input.enhanced);
             consumed(input.detail);
         }, 83},
        {[&] {
             iptAdjust(op, adjusted, input.base, p1);
             consumed(input.base);
         }, 90},
        {[&] { outputWhiteAdapt(adjusted); }, 92},
    });
    if (!finished) {
        out = cv::Mat();
        return;
    }
    const cv::Mat display = xyzToDisplayRgb(adjusted, input.lit);
    adjusted.release();
    op.progress = 100;

    applyFinishingColourPass(display, out);
}

}  // namespace layer_processing

cv::Mat& LayerProcessing::apply(cv::Mat& out, const cv::Mat& in, const float params[3])
{
    InputResult* input = keepInputSteps ? kept_.find(in) : nullptr;
    InputResult fresh;
    if (!input) {
        if (!layer_processing::inputSteps(*this, finiteInput(asFloat(in)), fresh)) {
            out = cv::Mat();
            return out;
        }
        input = keepInputSteps ? &kept_.keep(in, std::move(fresh)) : &fresh;
    }
    const bool consume = input == &fresh;
    // A new largest luminance rescales the layers and redoes what depends on it.
    const bool rescale = input->maxLuminance != params[2];
    cv::Mat compressed;
    if ((rescale && !layer_processing::scaledSteps(*this, *input, params[2], consume)) ||
        !layer_processing::compressBase(*this, *input, params[0], rescale, consume, compressed)) {
        out = cv::Mat();
        return out;
    }
    layer_processing::finishSteps(*this, *input, consume, compressed, params[1], out);
    return out;
}

void layerProcessingToneMap(LayerProcessing& op, cv::Mat& out, const cv::Mat& in32, float p0, float p1, float p2)
{
    LayerProcessing::InputResult input;
    cv::Mat compressed;
    if (!layer_processing::inputSteps(op, in32, input) || !layer_processing::scaledSteps(op, input, p2, true) ||
        !layer_processing::compressBase(op, input, p0, true, true, compressed)) {
        out = cv::Mat();
        return;
    }
    layer_processing::finishSteps(op, input, true, compressed, p1, out);
}
