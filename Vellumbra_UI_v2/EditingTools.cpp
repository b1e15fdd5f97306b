#include "EditingTools.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr double kPi = 3.14159265358979323846;

int withinHalfTurn(long degrees)
{
    if (degrees < -180)
        degrees += 360;
    else if (degrees > 180)
        degrees -= 360;
    return static_cast<int>(degrees);
}

}  // namespace

float rotationRadians(int degrees)
{
    return static_cast<float>(-degrees * kPi / 180.0);
}

int rotationDegrees(double radians)
{
    // Rounded, not cut: a float angle made from whole degrees lies a hair off them.
    return withinHalfTurn(std::lround(-radians * 180.0 / kPi));
}

cv::Rect cropFromFrame(const QRect& frame, const QSize& label, int fullWidth, int fullHeight)
{
    if (label.width() <= 0 || label.height() <= 0)
        return cv::Rect(-1, -1, -1, -1);
    const int x1 = frame.left() * fullWidth / label.width();
    const int y1 = frame.top() * fullHeight / label.height();
    const int x2 = frame.right() * fullWidth / label.width();
    const int y2 = frame.bottom() * fullHeight / label.height();
    return cv::Rect(std::min(x1, x2), std::min(y1, y2), std::abs(x2 - x1), std::abs(y2 - y1));
}

int horizonDegrees(const QPoint& p1, const QPoint& p2, const QSize& label, const cv::Size& image)
{
    if (label.width() <= 0 || label.height() <= 0)
        return 0;
    const int dy = p2.y() * image.height / label.height() - p1.y() * image.height / label.height();
    const int dx = p2.x() * image.width / label.width() - p1.x() * image.width / label.width();
    return rotationDegrees(std::atan2(static_cast<double>(dy), static_cast<double>(dx)));
}
