#pragma once
#include <opencv2/core.hpp>
#include <pthread.h>

class StackingContext;

// Starts a joinable thread running addToLinearAccumulator(bits, frame, context) on
// a shared reference to frame. False when the thread could not be created: the
// caller then accumulates the frame itself and does not join the handle.
bool launchAccumulateThread(int bits, const cv::Mat& frame, StackingContext* context, pthread_t* handle);
