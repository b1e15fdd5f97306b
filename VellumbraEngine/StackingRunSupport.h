#pragma once
#include <opencv2/core.hpp>

#include <atomic>

class ImagesSequenceBase;

// Shared by the stacking run and the best-images search: reading and checking
// their frames, and their running flag.

// Clears the running flag however the run leaves.
struct RunningFlagGuard {
    std::atomic<bool>& flag;
    ~RunningFlagGuard() { flag = false; }
};

// True for the sample depths the stacking engine handles: 8-bit, 16-bit unsigned, float.
bool stackableDepth(const cv::Mat& image);

// The instant frame at full size, or an empty image (logged under `where`) when
// the index lies outside the source or the frame cannot be read or stacked.
cv::Mat readInstantFrame(ImagesSequenceBase* source, int index, const char* where);

// True when a neighbour can be stacked with the instant image; otherwise logs
// why (unreadable, another size, another type) and returns false.
bool neighbourMatchesInstant(const cv::Mat& frame, const cv::Mat& instant, int index);

// Reads the instant frame again as a preview, leaving the source's decoder on it.
void revisitInstantFrame(ImagesSequenceBase* source, int index);
