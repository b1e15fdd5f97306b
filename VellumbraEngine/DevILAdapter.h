#pragma once
#include <opencv2/core.hpp>

// Conversions between cv::Mat (BGR order) and DevIL images. DevIL binds one image
// per process: callers hold imageLibraryMutex().

// The currently bound DevIL image as one grey or three BGR channels; empty for an
// element type without a cv::Mat equivalent.
cv::Mat devilToMat();

// A new, bound DevIL image holding the pixels; its name, or -1 for an unsupported
// depth or channel count.
int matToDevil(const cv::Mat& image);
