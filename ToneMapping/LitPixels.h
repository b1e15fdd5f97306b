#pragma once
#include <opencv2/core.hpp>

// The lit pixels of a CV_8U mask (non-zero: not black) that lie at least four pixels
// from a black one. A rotated or resampled picture's edge pixels are only partly
// covered by it, darker than the picture for no reason of its own: statistics (a
// stretch's extremes, a percentile) leave them out with the black pixels, so that a
// rotated preview and its export, whose edges are drawn at different sizes, find
// the same values. A mask without black pixels is returned as it is.
// depth: the distance, in pixels, kept from a black one.
cv::Mat litInterior(const cv::Mat& lit, int depth = 4);
