#include "LitPixels.h"

#include <opencv2/imgproc.hpp>

cv::Mat litInterior(const cv::Mat& lit, int depth)
{
    if (lit.empty() || cv::countNonZero(lit) == int(lit.total()))
        return lit;
    cv::Mat interior;
    // The image's own edge is no black pixel: the border counts as lit.
    cv::erode(lit, interior, cv::Mat(), cv::Point(-1, -1), depth, cv::BORDER_CONSTANT, cv::Scalar(255));
    // A picture smaller than its edges keeps what it has.
    return cv::countNonZero(interior) > 0 ? interior : lit;
}
