#pragma once
#include <opencv2/core.hpp>

class QImage;

// Display copy of a blue-green-red image in QImage::Format_RGB32 (alpha 255).
// 8-bit channels are copied, 16-bit ones scaled by 255/65535 and float ones by 255
// (truncated, saturated to 0..255). One channel gives grey, channels past the third
// are dropped. Null for an empty image, two channels or 64-bit channels.
// The caller owns the result.
QImage* matToQImage(cv::Mat image);
