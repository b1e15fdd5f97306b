#pragma once
#include <opencv2/core.hpp>

// Per-pixel 3x3 colour-space transforms of CV_32FC3 images; each returns a new
// image of the same size. Mode 2 multiplies every pixel by the matrix, mode 1
// only the first pixel (one-pixel white points, the rest stays zero), mode 0
// every pixel by the inverse; a mode a transform does not take gives zeros.

// Linear RGB to XYZ (D65), scaled so that the largest Y becomes maxY (left
// unscaled when every Y is 0); every element below 1e-8 becomes 1e-8. brightestY,
// when larger than the image's own (a reduced image's full-size picture's), is the
// largest Y instead.
cv::Mat linearRgbToXyz(const cv::Mat& image, float maxY, double brightestY = 0.0);
// The largest Y (D65) of linear RGB pixels; 0 for none above 0.
double largestLinearY(const cv::Mat& image);
// XYZ to CAT02 RGB. Modes 2, 1, 0.
cv::Mat cat02Transform(const cv::Mat& image, unsigned mode);
// XYZ to the Hunt-Pointer-Estevez cone space. Modes 2, 0.
cv::Mat hpeTransform(const cv::Mat& image, unsigned mode);
// XYZ to LMS. Mode 0 raises |element| to 1/0.43 before the inverse. Modes 2, 0.
cv::Mat xyzLmsTransform(const cv::Mat& image, unsigned mode);
// Nonlinear LMS to IPT. Mode 2 raises |element| to 0.43 before the matrix. Modes 2, 0.
cv::Mat lmsIptTransform(const cv::Mat& image, unsigned mode);
// XYZ to linear RGB.
cv::Mat xyzToLinearRgb(const cv::Mat& image);
// XYZ to the output-white adaptation space. Modes 2, 1, 0.
cv::Mat outputWhiteTransform(const cv::Mat& image, unsigned mode);
