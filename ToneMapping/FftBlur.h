#pragma once
#include <opencv2/core.hpp>

#include <vector>

// The local adaptation white: the CV_32FC3 image reduced by z (8, 16 or 32 by its
// shorter side, never more than that side; each sample the mean of its z x z block),
// mirror-padded to twice its size,
// blurred through the Fourier transform with exp(-(d / width)^2), width =
// max(h, w) / k (at least 1), cropped and enlarged back. The result is
// (rows / z) * z by (cols / z) * z. With a CV_8U `lit` mask of the image's size,
// samples where it is 0 are left out: the result is the blurred mean of the others.
cv::Mat adaptationBlur(const cv::Mat& image, int k, const cv::Mat& lit = cv::Mat());
// adaptationBlur for each divisor in ks from one reduction of the image, each
// result padded to the image's size by repeating its edges (the surplus split
// evenly, the odd row or column below and right).
std::vector<cv::Mat> adaptationBlurs(const cv::Mat& image, const std::vector<int>& ks, const cv::Mat& lit = cv::Mat());

// out = |circular convolution of plane and kernel| / N (N = element count); the
// two forward transforms run on two threads.
void fftBlur(const cv::Mat& plane, const cv::Mat& kernel, cv::Mat& out);
