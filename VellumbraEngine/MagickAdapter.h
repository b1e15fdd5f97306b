#pragma once
#include <Magick++.h>
#include <opencv2/core.hpp>

// Conversions between cv::Mat (BGR order) and Magick++ images.

// Three BGR channels for colour images, one for grey; depth from the image's depth():
// up to 8 bits 8U, 10 to 16 bits 16U, 32 bits 32F, 64 bits 64F, otherwise empty.
cv::Mat magickToMat(const Magick::Image& image);

// One channel as intensity, two as intensity and alpha, three as BGR, four as BGRA.
// Elements other than 8U, 16U, 32F and 64F give an empty Magick::Image.
Magick::Image matToMagick(const cv::Mat& image);
