#pragma once
#include "FrameAlignment.h"

#include <opencv2/core.hpp>

#include <atomic>
#include <functional>

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

// True when a neighbour can be stacked with the instant image, without a word.
bool sameSizeAndType(const cv::Mat& frame, const cv::Mat& instant);

// A neighbour placed on the instant image by the run's alignment.
struct NeighbourPlacement {
    enum class Outcome { Passed, Skipped, OtherShot };
    Outcome outcome = Outcome::Passed;
    FrameAlignment::Result found;
    bool failed = false;  // the alignment raised: the frame goes on unaligned
    cv::Mat placed;       // what is stacked when it passed
    cv::Point2f movedBy;  // the shift `placed` was moved by; (0, 0) when not moved
};

// Where `frame` goes: moved onto the instant image when `align` is set; without
// alignment (null) as it is. Skipped when the alignment found no plausible
// translation, OtherShot beyond a cut. Logs nothing, so that placements made
// ahead on threads of their own can be judged in the run's order. `interrupted`
// is asked between the steps: once it answers true, the placement ends at once
// and is of no use.
NeighbourPlacement placeNeighbour(const FrameAlignment* alignment, bool align, const cv::Mat& frame,
                                  const std::function<bool()>& interrupted = {});

// Reads the instant frame again as a preview, leaving the source's decoder on it.
void revisitInstantFrame(ImagesSequenceBase* source, int index);
