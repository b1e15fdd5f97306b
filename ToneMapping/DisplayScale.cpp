#include "DisplayScale.h"

#include "LitPixels.h"
#include "RowBands.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

namespace {

// The statistics are taken on the picture reduced to this longer side, so that a
// preview and its export, or a crop and its enlargement, find the same scale.
constexpr int kMeasuredSide = 256;

// The picture reduced for measuring, and `shown` with it when given; `alsoOnRows`
// runs on every band of the picture's rows, just after the band is reduced, while it
// is in the cache.
cv::Mat reducedForMeasuring(const cv::Mat& image, const RowsVisitor& alsoOnRows, cv::Mat& shown)
{
    const int longer = std::max(image.cols, image.rows);
    // Never more than the shorter side: a line of pixels stays a line.
    const int blocks = longer <= kMeasuredSide ? 1 : std::min(longer / kMeasuredSide, std::min(image.cols, image.rows));
    cv::Mat reduced = image;
    if (blocks > 1) {
        // A whole-number reduction first: averaging whole blocks is much faster than a
        // fractional reduction over the whole picture. The library does a float image's
        // on one thread, so the rows of whole blocks go to the threads one by one (a
        // row is reduced alike whichever thread takes it).
        const cv::Size whole(image.cols / blocks, image.rows / blocks);
        reduced.create(whole, image.type());
        cv::Mat reducedShown(shown.empty() ? cv::Size() : whole, CV_8U);
        cv::parallel_for_(cv::Range(0, (image.rows + blocks - 1) / blocks), [&](const cv::Range& blockRows) {
            for (int row = blockRows.start; row < blockRows.end; ++row) {
                const cv::Range rows(row * blocks, std::min(image.rows, (row + 1) * blocks));
                if (row < whole.height) {
                    const cv::Rect block(0, rows.start, whole.width * blocks, blocks);
                    cv::Mat target = reduced.row(row);
                    cv::resize(image(block), target, target.size(), 0.0, 0.0, cv::INTER_AREA);
                    if (!shown.empty()) {
                        cv::Mat shownTarget = reducedShown.row(row);
                        cv::resize(shown(block), shownTarget, shownTarget.size(), 0.0, 0.0, cv::INTER_AREA);
                    }
                }
                if (alsoOnRows)
                    alsoOnRows(rows);
            }
        });
        shown = reducedShown;
    } else if (alsoOnRows) {
        forEachRowBand(image.rows, alsoOnRows);
    }
    if (longer <= kMeasuredSide)
        return reduced;
    const double reduction = double(kMeasuredSide) / longer;
    const cv::Size measured(std::max(1, int(std::lround(image.cols * reduction))),
                            std::max(1, int(std::lround(image.rows * reduction))));
    cv::resize(reduced, reduced, measured, 0.0, 0.0, cv::INTER_AREA);
    if (!shown.empty())
        cv::resize(shown, shown, measured, 0.0, 0.0, cv::INTER_AREA);
    return reduced;
}

// Luminance of the lit pixels: exactly black ones (borders, rotation corners), pixels
// not wholly shown, the edge pixels next to them and non-finite ones are left out.
std::vector<float> litLuminance(const cv::Mat& image, const cv::Mat& shown)
{
    cv::Mat luminance;
    if (image.channels() == 3)
        cv::transform(image, luminance, cv::Matx13f(1.0f / 61.0f, 40.0f / 61.0f, 20.0f / 61.0f));
    else
        luminance = shown.empty() ? image : image.clone();
    if (!shown.empty())
        luminance.setTo(0.0f, shown < 255);
    const cv::Mat measured = litInterior(luminance > 0.0f);
    std::vector<float> values;
    values.reserve(image.total());
    for (int r = 0; r < luminance.rows; ++r) {
        const float* l = luminance.ptr<float>(r);
        const uchar* inside = measured.ptr<uchar>(r);
        for (int c = 0; c < luminance.cols; ++c)
            if (inside[c] && l[c] > 0.0f && l[c] <= FLT_MAX)
                values.push_back(l[c]);
    }
    return values;
}

double log2AtFraction(std::vector<float>& values, double q)
{
    const size_t rank = std::min(values.size() - 1, size_t(q * double(values.size())));
    std::nth_element(values.begin(), values.begin() + rank, values.end());
    return std::log2(double(values[rank]));
}

// The key a scene should have, from where its average lies between its dark and
// bright tones (in stops): a low-key scene (a night, a studio) stays darker than a
// bright one.
double targetKey(std::vector<float>& values, double log2Key)
{
    const double dark = log2AtFraction(values, 0.01);
    const double bright = log2AtFraction(values, 0.99);
    if (!(bright > dark))
        return display_scale::kMiddleKey;
    return display_scale::kMiddleKey * std::pow(4.0, (2.0 * log2Key - dark - bright) / (bright - dark));
}

}  // namespace

double displayScale(const cv::Mat& image, SourceKind kind, const RowsVisitor& alsoOnRows, const cv::Mat& shown)
{
    using namespace display_scale;
    if (kind == SourceKind::DisplayReferred || image.empty() || image.depth() != CV_32F ||
        (image.channels() != 1 && image.channels() != 3)) {
        if (alsoOnRows)
            forEachRowBand(image.rows, alsoOnRows);
        return 1.0;
    }
    cv::Mat measuredShown = shown;
    const cv::Mat reduced = reducedForMeasuring(image, alsoOnRows, measuredShown);
    std::vector<float> values = litLuminance(reduced, measuredShown);
    if (values.empty())
        return 1.0;
    double logSum = 0.0;
    for (const float l : values)
        logSum += std::log2(double(l));
    const double log2Key = logSum / double(values.size());
    const double log2Target = std::log2(targetKey(values, log2Key));
    double log2Shown = log2Target;
    if (kind == SourceKind::Unknown) {
        const double log2Largest = std::log2(double(*std::max_element(values.begin(), values.end())));
        // How far the picture is scene-referred at `stops` of exposure against its own: a
        // peak above white by one stop (partly) to two (wholly), or a bright few far above
        // a picture that sits below one sample step. Each test passes over a stop, and
        // the picture's key with it, so that no exposure makes the picture jump.
        auto overAStop = [](double log2Ratio) { return std::min(1.0, std::max(0.0, log2Ratio)); };
        const double fewAbove = overAStop(log2Largest - log2Key - std::log2(50.0));
        auto shown = [&](double stops) {
            const double share = std::max(overAStop(log2Largest + stops - 1.0),
                                          overAStop(std::log2(2.0 * kSampleStep) - log2Key - stops) * fewAbove);
            return (1.0 - share) * (log2Key + stops) + share * log2Target;
        };
        // Passing between the two could darken the picture as its exposure rises: it is
        // shown as bright as at the brightest lower exposure. Below `lowest` the share no
        // longer changes and the picture only darkens with the exposure.
        const double lowest = std::max(-64.0, std::min({0.0, 1.0 - log2Largest, std::log2(kSampleStep) - log2Key}));
        constexpr double kStep = 1.0 / 64.0;
        log2Shown = shown(0.0);
        for (double stops = -kStep; stops >= lowest - kStep; stops -= kStep)
            log2Shown = std::max(log2Shown, shown(stops));
    }
    const double scale = std::exp2(log2Shown - log2Key);
    // A picture brought to the range already (the render pipeline does it first) stays as it is.
    return std::abs(scale - 1.0) < 1e-4 ? 1.0 : scale;
}

cv::Mat scaledToDisplay(const cv::Mat& image, double scale)
{
    if (scale == 1.0)
        return image;
    cv::Mat scaled;
    image.convertTo(scaled, CV_32F, scale);
    return scaled;
}
