#include "MissingSamples.h"

#include "RowBands.h"

#include <opencv2/imgproc.hpp>

namespace {

// Every channel of sums divided by the single-channel weights, 0 where a weight is
// 0, in sums' own pixels, band by band: the library's divide runs on one thread
// and wants equal channels.
cv::Mat normalise(cv::Mat& sums, const cv::Mat& weights)
{
    const int channels = sums.channels();
    forEachRowBand(sums.rows, [&](const cv::Range& rows) {
        for (int r = rows.start; r < rows.end; ++r) {
            float* s = sums.ptr<float>(r);
            const float* w = weights.ptr<float>(r);
            for (int c = 0; c < sums.cols; ++c)
                for (int k = 0; k < channels; ++k)
                    s[c * channels + k] = w[c] != 0.0f ? s[c * channels + k] / w[c] : 0.0f;
        }
    });
    return sums;
}

// from copied into to where maskOf(rows) is non-zero, band by band.
template <typename MaskOf>
void copyWhere(const cv::Mat& from, cv::Mat& to, const MaskOf& maskOf)
{
    forEachRowBand(to.rows, [&](const cv::Range& rows) {
        cv::Mat band = to.rowRange(rows);
        from.rowRange(rows).copyTo(band, maskOf(rows));
    });
}

// Every sample of one level from its weighted sums, which have holes (zero
// weights) somewhere, in the sums' own pixels; the holes from the coarser levels.
cv::Mat filledLevel(cv::Mat& sums, const cv::Mat& weights)
{
    cv::Mat coarseSums, coarseWeights;
    cv::pyrDown(sums, coarseSums);
    cv::pyrDown(weights, coarseWeights);
    cv::Mat filled = normalise(sums, weights);
    cv::Mat coarse;
    if (coarseSums.size() == sums.size()) {
        // One sample left and still no weight in it: nothing known to spread.
        coarse = cv::Mat::zeros(sums.size(), sums.type());
    } else {
        double lightest = 0.0;
        cv::minMaxLoc(coarseWeights, &lightest);
        const cv::Mat coarseFilled =
            lightest > 0.0 ? normalise(coarseSums, coarseWeights) : filledLevel(coarseSums, coarseWeights);
        cv::pyrUp(coarseFilled, coarse, sums.size());
    }
    copyWhere(coarse, filled, [&](const cv::Range& rows) { return cv::Mat(weights.rowRange(rows) <= 0.0f); });
    return filled;
}

}  // namespace

cv::Mat fillMissingSamples(const cv::Mat& image, const cv::Mat& known)
{
    const int knownCount = cv::countNonZero(known);
    if (knownCount == 0 || knownCount == int(image.total()))
        return image;
    const int channels = image.channels();
    cv::Mat weights(image.size(), CV_32F);
    cv::Mat sums(image.size(), image.type());
    forEachRowBand(image.rows, [&](const cv::Range& rows) {
        for (int r = rows.start; r < rows.end; ++r) {
            const uchar* isKnown = known.ptr<uchar>(r);
            const float* v = image.ptr<float>(r);
            float* w = weights.ptr<float>(r);
            float* s = sums.ptr<float>(r);
            for (int c = 0; c < image.cols; ++c) {
                w[c] = isKnown[c] ? 1.0f : 0.0f;
                for (int k = 0; k < channels; ++k)
                    s[c * channels + k] = v[c * channels + k] * w[c];
            }
        }
    });
    cv::Mat filled = filledLevel(sums, weights);
    copyWhere(image, filled, [&](const cv::Range& rows) { return known.rowRange(rows); });
    return filled;
}
