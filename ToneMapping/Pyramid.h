#pragma once
#include <opencv2/core.hpp>

#include <vector>

// Windowed Gaussian and Laplacian pyramids. A window is a 1x4 CV_16S matrix holding
// the first row, last row, first column and last column (inclusive) of the region of
// the full-resolution image that an image covers; an empty matrix means the whole
// image. Reductions keep the samples at even absolute coordinates, so the pyramid
// of a sub-region lines up with the pyramid of the whole image.

// 5x5 float kernel: outer product of (0.05, 0.25, 0.4, 0.25, 0.05) with itself.
extern const cv::Mat pyramidKernel;
cv::Mat initPyramidKernel();

cv::Mat pyramidWindow(int firstRow, int lastRow, int firstColumn, int lastColumn);
// (ceil(r0 / 2), floor(r1 / 2), ceil(c0 / 2), floor(c1 / 2)).
cv::Mat childWindow(const cv::Mat& window);
// 1 for a side of 1, 2 for 2, 3 for 3 and 4, 4 for 5 ... (halving the shorter side).
int pyramidLevelCount(int rows, int columns);

// Filters with a zero border (not renormalised) and keeps the even absolute samples.
cv::Mat pyramidDown(const cv::Mat& input, cv::Mat window, cv::Mat& childWindowOut);
// Spreads the samples over the window's grid and filters, renormalised by the weights.
cv::Mat pyramidUp(const cv::Mat& input, const cv::Mat& window);

std::vector<cv::Mat> gaussianPyramid(const cv::Mat& input, const cv::Mat& window);
// levels -1: the level count of the input.
std::vector<cv::Mat> laplacianPyramid(const cv::Mat& input, int levels, const cv::Mat& window);
cv::Mat reconstructLaplacianPyramid(const std::vector<cv::Mat>& pyramid, const cv::Mat& window);
