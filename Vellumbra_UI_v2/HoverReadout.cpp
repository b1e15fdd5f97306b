#include "HoverReadout.h"

#include "PixelOps.h"

#include <algorithm>

std::optional<cv::Point> hoverPixel(const QPoint& mouse, const QSize& labelSize, const cv::Size& imageSize)
{
    if (labelSize.isEmpty() || imageSize.empty())
        return std::nullopt;
    const int x = mouse.x() * imageSize.width / labelSize.width();
    const int y = mouse.y() * imageSize.height / labelSize.height();
    return cv::Point(std::clamp(x, 0, imageSize.width - 1), std::clamp(y, 0, imageSize.height - 1));
}

QString hoverReadout(const cv::Mat& image, const cv::Point& pixel, bool withColour)
{
    if (!withColour || image.channels() != 3 || !cv::Rect(0, 0, image.cols, image.rows).contains(pixel))
        return QString::asprintf("x: %d   y: %d ", pixel.x, pixel.y);
    const cv::Mat one = convertBitDepth(image(cv::Rect(pixel, cv::Size(1, 1))), 8);
    const cv::Vec3b bgr = one.at<cv::Vec3b>(0, 0);
    return QString::asprintf("x: %d   y: %d   R: %u  G: %u  B: %u", pixel.x, pixel.y, unsigned(bgr[2]),
                             unsigned(bgr[1]), unsigned(bgr[0]));
}
