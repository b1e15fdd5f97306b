#include "LC_Model.h"

#include "ColourRatios.h"
#include "DisplayScale.h"
#include "EdgeStoppedSurround.h"
#include "FiniteSamples.h"
#include "LitPixels.h"
#include "OrderStatistics.h"
#include "PixelOps.h"
#include "RowBands.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

constexpr float kLuminanceFloor = 0.001f;
constexpr float kExponentSlope = 0.16666667f;
constexpr float kExponentOffset = 0.6666667f;
constexpr double kCannyLow = 50.0;
constexpr double kCannyHigh = 120.0;
constexpr int kCannyAperture = 3;
const float kLn100 = std::log(100.0f);
constexpr float kSpread = 16.0f;
constexpr float kEdgeSpread = 5.0f;
constexpr float kSmallestSpread = 0.5f;
// Two in a thousand: an interactive preview finds its ends at the tones its export
// finds, an HDR's sun in the picture too; a wider margin clips more of the picture's
// darkest and lightest tones, and darkens the whole picture with them.
constexpr double kStretchMargin = 2e-3;

// The image of the given size and type whose rows are band(rows), each band run
// on the library's threads: the per-pixel steps compose library calls on bands.
template <typename Band>
cv::Mat byRowBands(cv::Size size, int type, const Band& band)
{
    cv::Mat result(size, type);
    forEachRowBand(size.height, [&](const cv::Range& rows) { band(rows).copyTo(result.rowRange(rows)); });
    return result;
}

cv::Mat threeChannelFloat(const cv::Mat& in)
{
    cv::Mat image = asFloat(in);
    if (image.channels() == 1)
        cv::cvtColor(image, image, cv::COLOR_GRAY2BGR);
    else if (image.channels() == 4)
        cv::cvtColor(image, image, cv::COLOR_BGRA2BGR);
    return image;
}

// The stretch's ends where `range` is non-zero (empty: everywhere): the values two
// in a thousand in from either end. The extremes themselves are single
// pixels that a preview, at its own resolution, does not have.
void stretchEnds(const cv::Mat& image, const cv::Mat& range, double& low, double& high)
{
    const size_t inside = range.empty() ? image.total() : size_t(cv::countNonZero(range));
    const size_t skipped = image.total() - inside;
    cv::Mat ranked = image;
    if (skipped > 0) {
        ranked = image.clone();
        ranked.setTo(-FLT_MAX, range == 0);
    }
    const size_t margin = size_t(double(inside) * kStretchMargin);
    const std::vector<float> ends = valuesAtRanks(ranked, {skipped + margin, skipped + inside - 1 - margin});
    low = ends[0];
    high = ends[1];
}

}  // namespace

namespace lc_model {

cv::Mat compressLuminance(const cv::Mat& image, float scale, cv::Mat& chroma, cv::Mat* litOut)
{
    cv::Mat luminance(image.size(), CV_32F);
    // Ratios of the pixels brought to the display range.
    const ColourRatios colour(1.0);
    chroma.create(image.size(), CV_32FC3);
    forEachRowBand(image.rows, [&](const cv::Range& range) {
        for (int r = range.start; r < range.end; ++r) {
            const float* pixel = image.ptr<float>(r);
            float* l = luminance.ptr<float>(r);
            float* ratio = chroma.ptr<float>(r);
            for (int c = 0; c < image.cols; ++c) {
                const float scaled[3] = {pixel[3 * c] * scale, pixel[3 * c + 1] * scale, pixel[3 * c + 2] * scale};
                // Negative channels count as black.
                l[c] = std::max({0.0f, scaled[0], scaled[1], scaled[2]});
                colour.restore(scaled, l[c], 1.0f, ratio + 3 * c);
            }
        }
    });
    // The log-average of the lit pixels: a black border must not change the exponent.
    const cv::Mat lit = luminance > 0.0f;
    if (litOut)
        *litOut = lit;
    const cv::Mat measured = litInterior(lit);
    std::vector<double> rowLogSums(image.rows, 0.0);
    forEachRowBand(image.rows, [&](const cv::Range& range) {
        cv::Mat band = luminance.rowRange(range);
        band = cv::max(band, kLuminanceFloor);
        cv::Mat logLuminance;
        cv::log(band * 100.0f, logLuminance);
        for (int r = range.start; r < range.end; ++r)
            rowLogSums[r] = cv::sum(logLuminance.row(r - range.start).setTo(0.0f, measured.row(r) == 0))[0];
    });
    const int counted = cv::countNonZero(measured);
    double logSum = 0.0;
    for (const double rowSum : rowLogSums)
        logSum += rowSum;
    const double meanLog10 = counted > 0 ? logSum / counted / std::log(10.0) : 0.0;
    const double exponent = kExponentSlope * meanLog10 + kExponentOffset;
    forEachRowBand(image.rows, [&](const cv::Range& range) {
        cv::Mat band = luminance.rowRange(range);
        cv::pow(band, exponent, band);
    });
    return luminance;
}

cv::Mat detectEdges(const cv::Mat& luminance)
{
    const cv::Mat luminance8 = convertBitDepth(luminance, 8);
    cv::Mat edges8;
    cv::Canny(luminance8, edges8, kCannyLow, kCannyHigh, kCannyAperture, false);
    cv::Mat edges = convert8UTo32F(edges8);
    cv::threshold(edges, edges, 0.0, 1.0, cv::THRESH_BINARY);
    return cleanEdgeMap(edges);
}

cv::Mat cleanEdgeMap(const cv::Mat& binaryMap)
{
    double low = 0.0;
    double high = 0.0;
    cv::minMaxLoc(binaryMap, &low, &high);
    if (low < 0.0 || high > 1.0)
        std::printf("input image must be binary\n");
    const cv::Matx33f kernel(0, 1, 0, 1, 0, 1, 0, 0, 0);
    // A band reads the rows around it from the whole map, so bands add no border.
    return byRowBands(binaryMap.size(), CV_32F, [&](const cv::Range& rows) {
        cv::Mat neighbours;
        cv::filter2D(binaryMap.rowRange(rows), neighbours, CV_32F, kernel);
        cv::threshold(neighbours, neighbours, 1.5, 1.0, cv::THRESH_BINARY);
        return neighbours;
    });
}

cv::Mat adaptiveSurround(const cv::Mat& luminance, const cv::Mat& edges, float spread, float edgeSpread,
                         const std::atomic<bool>& cancel, const cv::Mat& lit)
{
    if (lit.empty() || cv::countNonZero(lit) == int(lit.total()))
        return edgeStoppedSurround(luminance, edges, spread, edgeSpread, cancel);
    // The weighted mean over lit pixels only: the same weights applied to the
    // masked luminance and to the mask.
    cv::Mat mask;
    lit.convertTo(mask, CV_32F, 1.0 / 255.0);
    const cv::Mat sums = edgeStoppedSurround(luminance.mul(mask), edges, spread, edgeSpread, cancel);
    const cv::Mat weights = edgeStoppedSurround(mask, edges, spread, edgeSpread, cancel);
    if (sums.empty() || weights.empty())
        return cv::Mat();
    cv::Mat surround;
    cv::divide(sums, weights, surround);
    // A pixel with no lit one in reach keeps its own value.
    luminance.copyTo(surround, weights <= 0.0f);
    return surround;
}

cv::Mat localAdaptation(const cv::Mat& luminance, const cv::Mat& surround, float p0, float p1, float p2,
                        const cv::Mat& lit)
{
    auto logScaled = [&](const cv::Mat& image) {
        cv::Mat result;
        cv::log(cv::max(image * 100.0f, p0), result);
        return cv::Mat(result / (std::log(10.0f) * kLn100));
    };
    const cv::Size size = luminance.size();
    cv::Mat a(size, CV_32F);
    cv::Mat b(size, CV_32F);
    const cv::Mat g = byRowBands(size, CV_32F, [&](const cv::Range& rows) {
        const cv::Mat aRows = logScaled(luminance.rowRange(rows));
        aRows.copyTo(a.rowRange(rows));
        logScaled(surround.rowRange(rows)).copyTo(b.rowRange(rows));
        return cv::Mat(cv::min(cv::max(aRows, 0.0f), 1.0f) * 255.0f);
    });
    const cv::Mat d = sigmFac(g, static_cast<int>(p1), static_cast<int>(p2), lit);
    const cv::Mat f = byRowBands(size, CV_32F, [&](const cv::Range& rows) {
        return cv::Mat(a.rowRange(rows) - d.rowRange(rows).mul(b.rowRange(rows)));
    });
    return scaleImage(f, 0.0f, 1.0f, lit);
}

cv::Mat sigmFac(const cv::Mat& g, int slope, int centre, const cv::Mat& lit)
{
    double low = 0.0;
    double high = 0.0;
    cv::minMaxLoc(g, &low, &high);
    if (low < 0.0 || high > 255.0)
        std::printf("ERROR: sigmFac: lum must be between 0 and 255\n");
    // The same factor everywhere: it adds nothing, and the rescaling would find no range.
    if (slope == 0)
        return cv::Mat::zeros(g.size(), CV_32F);
    // With the whole picture below the sigmoid's centre, 1 - S is 1 less a share too
    // small for a float: its variation lies in S alone. The rescaling is blind to an
    // affine map, so it takes -S / S(top), which keeps every digit.
    const double top = slope * ((slope > 0 ? high : low) / 255.0 - centre);
    const cv::Mat distance = byRowBands(g.size(), CV_32F, [&](const cv::Range& rows) {
        const cv::Mat z = (g.rowRange(rows) / 255.0f - static_cast<float>(centre)) * static_cast<float>(slope);
        cv::Mat sigmoid;
        if (top < 0.0) {
            cv::Mat fromTop;
            cv::exp(z - top, fromTop);
            cv::exp(z, sigmoid);
            return cv::Mat(fromTop * -(1.0 + std::exp(top)) / (1.0f + sigmoid));
        }
        cv::exp(-z, sigmoid);
        sigmoid = 1.0f / (1.0f + sigmoid);
        return cv::Mat(cv::abs(1.0f - sigmoid));
    });
    return scaleImage(distance, 0.0f, 1.0f, lit);
}

cv::Mat scaleImage(const cv::Mat& image, float low, float high, const cv::Mat& lit)
{
    const cv::Mat range = lit.empty() || cv::countNonZero(lit) == 0 ? cv::Mat() : lit;
    double minimum = 0.0;
    double maximum = 0.0;
    stretchEnds(image, range, minimum, maximum);
    // A few values apart from one: the whole range, so that no value is lost.
    if (!(maximum > minimum))
        cv::minMaxLoc(image, &minimum, &maximum, nullptr, nullptr, range);
    const double largest = maximum - minimum;
    if (!(largest > 0.0)) {
        std::printf("ERROR in scaleImage.m : divide by zero\n");
        return cv::Mat::zeros(image.size(), CV_32F);
    }
    return byRowBands(image.size(), CV_32F, [&](const cv::Range& rows) {
        return cv::Mat((image.rowRange(rows) - minimum) * ((high - low) / largest) + low);
    });
}

cv::Mat recombineColour(const cv::Mat& chroma, const cv::Mat& luminance)
{
    cv::Mat luminance3;
    cv::Mat planes[] = {luminance, luminance, luminance};
    cv::merge(planes, 3, luminance3);
    return chroma.mul(luminance3);
}

}  // namespace lc_model

namespace lc_model {

bool inputSteps(LC_Model& op, const cv::Mat& in32, float spread, float edgeSpread, LC_Model::InputResult& result)
{
    result.spread = spread;
    // The check for samples to clear, over row bands: most inputs have none.
    std::atomic<bool> finite{true};
    forEachRowBand(in32.rows, [&](const cv::Range& rows) {
        if (!cv::checkRange(in32.rowRange(rows)))
            finite = false;
    });
    cv::Mat input = finite ? in32 : finiteSamples(in32);
    result.luminance =
        compressLuminance(input, static_cast<float>(displayScale(input, op.sourceKind)), result.chroma, &result.lit);
    input.release();
    if (op.cancel)
        return false;
    op.progress = 10;

    const cv::Mat edges = detectEdges(result.luminance);
    if (op.cancel)
        return false;
    op.progress = 30;

    result.surround = adaptiveSurround(result.luminance, edges, spread, edgeSpread, op.cancel, result.lit);
    if (op.cancel)
        return false;
    op.progress = 60;
    return true;
}

void parameterSteps(LC_Model& op, const LC_Model::InputResult& input, float p0, float p1, float p2, cv::Mat& out)
{
    const cv::Mat adapted = localAdaptation(input.luminance, input.surround, p0, p1, p2, litInterior(input.lit));
    if (op.cancel) {
        out = cv::Mat();
        return;
    }
    op.progress = 80;

    // Negative input channels would give negative chroma ratios, and black pixels,
    // left out of the stretch, may fall below it: 0 x a negative value is -0.
    out = byRowBands(adapted.size(), CV_32FC3, [&](const cv::Range& rows) {
        const cv::Mat band = recombineColour(input.chroma.rowRange(rows), cv::max(adapted.rowRange(rows), 0.0f));
        return cv::Mat(cv::min(cv::max(band, 0.0f), 1.0f));
    });
    op.progress = 100;
}

}  // namespace lc_model

cv::Mat& LC_Model::apply(cv::Mat& out, const cv::Mat& in, const float params[3])
{
    // In pixels of the full-size picture: a preview's surround covers the same part of it.
    const float spread = std::max(kSmallestSpread, kSpread * spatialScale);
    const float edgeSpread = std::max(kSmallestSpread, kEdgeSpread * spatialScale);
    const InputResult* input = keepInputSteps ? kept_.find(in) : nullptr;
    if (input && input->spread != spread)
        input = nullptr;
    if (input) {
        lc_model::parameterSteps(*this, *input, params[0], params[1], params[2], out);
        return out;
    }
    InputResult fresh;
    if (!lc_model::inputSteps(*this, threeChannelFloat(in), spread, edgeSpread, fresh)) {
        out = cv::Mat();
        return out;
    }
    lc_model::parameterSteps(*this, keepInputSteps ? kept_.keep(in, std::move(fresh)) : fresh, params[0], params[1],
                             params[2], out);
    return out;
}

void lcModelToneMap(LC_Model& op, cv::Mat& out, const cv::Mat& in32, float spread, float edgeSpread, float p0, float p1,
                    float p2)
{
    LC_Model::InputResult input;
    if (!lc_model::inputSteps(op, in32, spread, edgeSpread, input)) {
        out = cv::Mat();
        return;
    }
    lc_model::parameterSteps(op, input, p0, p1, p2, out);
}
