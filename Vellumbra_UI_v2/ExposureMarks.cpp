#include "ExposureMarks.h"

#include <opencv2/imgproc.hpp>

void markExposure(cv::Mat& picture, int overPercent, int underPercent, bool markOver, bool markUnder)
{
    if (picture.empty() || !(markOver || markUnder) || picture.depth() != CV_8U)
        return;
    if (picture.channels() == 1)
        cv::cvtColor(picture, picture, cv::COLOR_GRAY2BGR);
    const int over = (overPercent * 255) / 100;
    const int under = (underPercent * 255) / 100;
    // The integer mean m = sum / 3 reaches `over` exactly when the sum reaches
    // 3 * over, and stays at or below `under` while the sum is below 3 * (under + 1).
    cv::Mat wide, sum;
    picture.convertTo(wide, CV_16U);
    cv::transform(wide, sum, cv::Matx13f(1.0f, 1.0f, 1.0f));
    cv::Mat overMask = sum >= 3 * over;
    if (markUnder) {
        cv::Mat underMask = sum < 3 * (under + 1);
        if (markOver)
            underMask &= ~overMask;
        picture.setTo(cv::Scalar(0, 0, 110), underMask);
    }
    if (markOver)
        picture.setTo(cv::Scalar(150, 150, 255), overMask);
}
