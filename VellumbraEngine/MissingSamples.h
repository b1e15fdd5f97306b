#pragma once
#include <opencv2/core.hpp>

// The float image (any channel count) with its missing samples (known == 0) filled
// smoothly from the known ones around them, by a pyramid of masked sums: each
// level's holes take the next coarser level's normalised value. Known samples
// keep their values. A filter over the result then sees a picture continued into
// its black border or patch instead of an edge down to black. Without any known
// sample the image is returned as it is.
cv::Mat fillMissingSamples(const cv::Mat& image, const cv::Mat& known);
