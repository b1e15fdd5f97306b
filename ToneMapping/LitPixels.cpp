#include "LitPixels.h"

#include <opencv2/imgproc.hpp>

cv::Mat litInterior(const cv::Mat& lit, int depth)
{
    if (lit.empty() || cv::countNonZero(lit) == int(lit.total()))
        return lit;
    // The image's own edge is no black pixel: the border counts as lit, except along
    // a side that black pixels reach, where a rotated picture's corner meets the
    // canvas's edge partly covered.
    auto sideLit = [&](const cv::Mat& line) { return cv::countNonZero(line) == int(line.total()) ? 255 : 0; };
    cv::Mat padded(lit.rows + 2 * depth, lit.cols + 2 * depth, CV_8U);
    padded.rowRange(0, depth).setTo(sideLit(lit.row(0)));
    padded.rowRange(padded.rows - depth, padded.rows).setTo(sideLit(lit.row(lit.rows - 1)));
    padded.colRange(0, depth).setTo(sideLit(lit.col(0)));
    padded.colRange(padded.cols - depth, padded.cols).setTo(sideLit(lit.col(lit.cols - 1)));
    const cv::Rect inner(depth, depth, lit.cols, lit.rows);
    lit.copyTo(padded(inner));
    cv::Mat eroded;
    cv::erode(padded, eroded, cv::Mat(), cv::Point(-1, -1), depth, cv::BORDER_CONSTANT, cv::Scalar(255));
    const cv::Mat interior = eroded(inner).clone();
    // A picture smaller than its edges keeps what it has.
    return cv::countNonZero(interior) > 0 ? interior : lit;
}
