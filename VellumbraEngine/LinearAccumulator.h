#pragma once
#include <opencv2/core.hpp>

class StackingContext;

// Averages frames in linear light (gamma 2.2) into the context's double-precision
// linearAccumulator. bits is the frames' sample size: 8 (8-bit unsigned), 16
// (16-bit unsigned) or 32 (float, full scale 1.0); any other value, or a frame of
// another depth, changes nothing. Negative and non-finite float samples count as 0.

// Restarts the sum with this frame alone.
void initLinearAccumulator(int bits, const cv::Mat& frame, StackingContext* context);
// Restarts the sum with `first`, then adds `second`, in one pass over the sums:
// the same sums as the two calls one after the other.
void initLinearAccumulator(int bits, const cv::Mat& first, const cv::Mat& second, StackingContext* context);
// Adds a frame of the accumulator's size and channels; another size is refused (logged).
void addToLinearAccumulator(int bits, const cv::Mat& frame, StackingContext* context);
// out becomes the 32-bit float linear-light mean, values in [0, 1]. False, out
// unchanged, for an unknown bits value or when nothing has been accumulated.
bool finishLinearMean(StackingContext* context, int bits, cv::Mat& out);
