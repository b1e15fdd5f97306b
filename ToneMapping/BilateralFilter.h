#pragma once
#include <opencv2/core.hpp>

namespace cv_extend {

// Edge-preserving smoothing of a single-channel image: the fast approximation
// on a down-sampled (row, column, value) grid. Any depth in, the same size and
// type out. Multi-channel input raises the library's assertion error.
// spatialScale: pixels of src per pixel of the full-size picture it was reduced
// from (below 1 for a preview); the grid's spatial sampling, which sets the reach
// of the smoothing, is then the full-size picture's scaled by it, so that a
// reduced image is smoothed over the same part of the picture.
void bilateralFilter(cv::InputArray src, cv::OutputArray dst, float sigmaRange, float sigmaSpace,
                     float spatialScale = 1.0f);

// The core on CV_32FC1; dst32 is allocated by the caller at src32's size. The
// grid is built in slabs of at most maxSlabRows grid rows (0: sized from a memory
// budget); the slab size does not change the result. Non-finite pixels are left
// out of the grid and pass through unchanged.
void bilateralFilterGrid(const cv::Mat& src32, cv::Mat& dst32, float sigmaRange, float sigmaSpace,
                         int maxSlabRows = 0, float spatialScale = 1.0f);

// bilateralFilterGrid on count planes at once, src32[i] into dst32[i]: all their
// slabs share the library's threads in one pass.
void bilateralFilterPlanes(const cv::Mat* src32, cv::Mat* dst32, int count, float sigmaRange, float sigmaSpace,
                           float spatialScale = 1.0f);

}  // namespace cv_extend
