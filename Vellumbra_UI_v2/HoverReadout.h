#pragma once
#include <QPoint>
#include <QSize>
#include <QString>
#include <opencv2/core.hpp>

#include <optional>

// The pixel of the shown image under the mouse over the picture label. The
// position maps through the image's own size, so a frame of another size than
// the media's (bursts may mix sizes) is never read outside; none when the label
// or the image is empty.
std::optional<cv::Point> hoverPixel(const QPoint& mouse, const QSize& labelSize, const cv::Size& imageSize);

// "x: %d   y: %d   R: %u  G: %u  B: %u" for a colour image when withColour,
// else "x: %d   y: %d ". Colours of 16-bit and float images are read as 8-bit.
QString hoverReadout(const cv::Mat& image, const cv::Point& pixel, bool withColour);
