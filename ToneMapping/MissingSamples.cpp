#include "MissingSamples.h"

#include <opencv2/imgproc.hpp>

namespace {

// Every sample of one level from its weighted sums, holes from the coarser levels.
cv::Mat filledLevel(const cv::Mat& sums, const cv::Mat& weights)
{
    double lightest = 0.0;
    cv::minMaxLoc(weights, &lightest);
    cv::Mat filled;
    cv::divide(sums, weights, filled);
    if (lightest > 0.0)
        return filled;
    cv::Mat coarseSums, coarseWeights;
    cv::pyrDown(sums, coarseSums);
    cv::pyrDown(weights, coarseWeights);
    cv::Mat coarse;
    if (coarseSums.size() == sums.size()) {
        // One sample left and still no weight in it: nothing known to spread.
        coarse = cv::Mat(sums.size(), CV_32F, cv::Scalar(0.0));
    } else {
        cv::pyrUp(filledLevel(coarseSums, coarseWeights), coarse, sums.size());
    }
    coarse.copyTo(filled, weights <= 0.0f);
    return filled;
}

}  // namespace

cv::Mat fillMissingSamples(const cv::Mat& image, const cv::Mat& known)
{
    const int knownCount = cv::countNonZero(known);
    if (knownCount == 0 || knownCount == int(image.total()))
        return image;
    cv::Mat weights;
    known.convertTo(weights, CV_32F, 1.0 / 255.0);
    cv::threshold(weights, weights, 0.0, 1.0, cv::THRESH_BINARY);
    cv::Mat sums;
    cv::multiply(image, weights, sums);
    cv::Mat filled = filledLevel(sums, weights);
    image.copyTo(filled, known);
    return filled;
}
