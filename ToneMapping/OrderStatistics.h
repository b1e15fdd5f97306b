#pragma once
#include <opencv2/core.hpp>

#include <cstddef>
#include <vector>

// The samples of a float image (any channel count, NaN-free) that a full sort
// would put at the given ranks, each below the sample count (64-bit: three
// channels of a large photo exceed 32 bits of index), without sorting: a
// histogram of the keys' upper bits finds each rank's bucket, and only that
// bucket is ordered. With a CV_8U mask of the image's size only the pixels where
// it is non-zero count, all of their channels.
std::vector<float> valuesAtRanks(const cv::Mat& image, const std::vector<size_t>& ranks,
                                 const cv::Mat& mask = cv::Mat());
