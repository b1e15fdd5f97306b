#pragma once
#include <opencv2/core.hpp>

// The local adaptation white: the CV_32FC3 image decimated by z (8, 16 or 32 by
// its shorter side, never more than that side), mirror-padded to twice its size,
// blurred through the Fourier transform with exp(-(d / width)^2), width =
// max(h, w) / k (at least 1), cropped and enlarged back. The result is
// (rows / z) * z by (cols / z) * z.
cv::Mat adaptationBlur(const cv::Mat& image, int k);

// out = |circular convolution of plane and kernel| / N (N = element count); the
// two forward transforms run on two threads.
void fftBlur(const cv::Mat& plane, const cv::Mat& kernel, cv::Mat& out);
