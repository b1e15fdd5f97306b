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

// The holes (weights <= 0) of filled take coarse's values enlarged by the library's
// pyrUp, band by band and only in bands that have holes: a whole enlarged image
// would run on one thread and be mapped afresh for a few holes. Each band enlarges
// its coarse rows and one more on either side, all that its kernel reads, so the
// values are those of the whole.
void fillHolesFrom(const cv::Mat& coarse, cv::Mat& filled, const cv::Mat& weights)
{
    const int trimmed = 2 * coarse.rows - filled.rows;  // an odd height drops the last row
    forEachRowBand(coarse.rows, [&](const cv::Range& rows) {
        const int top = 2 * rows.start;
        const int bottom = std::min(filled.rows, 2 * rows.end);
        const cv::Mat holes = weights.rowRange(top, bottom) <= 0.0f;
        if (cv::countNonZero(holes) == 0)
            return;
        const int first = std::max(0, rows.start - 1);
        const int last = std::min(coarse.rows, rows.end + 1);
        const int height = 2 * (last - first) - (last == coarse.rows ? trimmed : 0);
        cv::Mat enlarged;
        cv::pyrUp(coarse.rowRange(first, last), enlarged, cv::Size(filled.cols, height));
        cv::Mat band = filled.rowRange(top, bottom);
        enlarged.rowRange(top - 2 * first, bottom - 2 * first).copyTo(band, holes);
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
    if (coarseSums.size() == sums.size()) {
        // One sample left and still no weight in it: nothing known to spread.
        filled.setTo(cv::Scalar::all(0.0), weights <= 0.0f);
        return filled;
    }
    double lightest = 0.0;
    cv::minMaxLoc(coarseWeights, &lightest);
    const cv::Mat coarse =
        lightest > 0.0 ? normalise(coarseSums, coarseWeights) : filledLevel(coarseSums, coarseWeights);
    fillHolesFrom(coarse, filled, weights);
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
