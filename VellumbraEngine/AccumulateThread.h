#pragma once
#include <opencv2/core.hpp>

class StackingContext;
class WorkerThreads;

// Starts a thread of `threads` running addToLinearAccumulator(bits, frame, context)
// on a shared reference to frame. False when the thread could not be created: the
// caller then accumulates the frame itself.
bool launchAccumulateThread(WorkerThreads& threads, int bits, const cv::Mat& frame, StackingContext* context);
