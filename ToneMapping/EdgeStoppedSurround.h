#pragma once
#include <opencv2/core.hpp>

#include <atomic>

// The edge-stopped surround of a CV_32F luminance: at each pixel the mean over a
// square window of radius trunc(3 spread) + 1, weighted exp(-d^2 / (2 spread)^2), where
// every position behind an edge pixel of `edges` (non-zero), as seen from the
// pixel, is weighted with edgeSpread instead. Rows and columns are split over
// threads and `cancel` is polled per row or column; an empty image when it was
// found set. All state is local to the call.
cv::Mat edgeStoppedSurround(const cv::Mat& luminance, const cv::Mat& edges, float spread, float edgeSpread,
                            const std::atomic<bool>& cancel);
