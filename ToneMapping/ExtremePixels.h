#pragma once
#include <opencv2/core.hpp>

// The pixels of a float BGR picture (CV_32FC3) that hold the extremes an operator's
// stretch may end at: the darkest and brightest lit ones (Y of XYZ above 0) and, at
// each brightness (a sixteenth of a stop wide), the one of least and the one of most
// channel over luminance. However a monotone mapping of luminance treats the picture,
// its extreme channel values lie among them, to within a sixteenth of a stop. A
// reduced copy averages a small light or a dark speck away; an operator given these
// beside the copy finds the full-size picture's extremes.
// `shown` (CV_8U, the picture's size) limits the search to its non-zero pixels; empty
// for all. The result is one row of pixels, CV_32FC3; empty without lit pixels.
cv::Mat extremePixels(const cv::Mat& bgr, const cv::Mat& shown);
