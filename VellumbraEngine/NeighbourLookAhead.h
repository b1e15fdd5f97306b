#pragma once
#include "StackingRunSupport.h"
#include "Threads.h"

#include <opencv2/core.hpp>

#include <atomic>
#include <climits>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class FrameBufferPool;
class StackingContext;

// A neighbour of an automatic stacking run as its ghost removal takes it: placed on
// the instant image and its ghosting power estimated.
struct PreparedNeighbour {
    // As read; once placed, the placed frame (of the same size and type).
    cv::Mat frame;
    // False when read in place, or when it cannot be stacked with the instant image.
    bool placedAhead = false;
    NeighbourPlacement placement;
    int estimatedPower = 0;    // 0: none made, the ghost removal estimates it itself
};

// The next neighbours of an automatic run, placed and estimated on threads of its
// own while the run removes the ghosts of the one before: the dense flow of
// the estimate, on one core, would otherwise hold up every frame. The estimates
// run on scratch contexts against the reference's copies, sharing the corners the
// first one finds; off the critical path, they probe only the corners they use.
// The run's cancel and stop end the preparations under way, and frames beyond a
// cut to another shot are no longer prepared.
class NeighbourLookAhead {
public:
    // True when frames of `instant`'s size are worth preparing ahead.
    static bool pays(const cv::Mat& instant);

    // Makes the context's reference search copies from `instant`, the image of
    // frame `instantIndex`.
    NeighbourLookAhead(StackingContext& context, const cv::Mat& instant, int instantIndex,
                       const FrameAlignment* alignment, bool align);
    ~NeighbourLookAhead();
    NeighbourLookAhead(const NeighbourLookAhead&) = delete;
    NeighbourLookAhead& operator=(const NeighbourLookAhead&) = delete;

    // How many neighbours to keep prepared beyond the one taken next.
    int depth() const { return ahead; }
    bool holds(int index) const { return slots.count(index) != 0; }
    // True when a frame of another shot was found between the instant frame and
    // frame `index`: the run's range ends before it, so it needs no reading.
    bool beyondCut(int index) const { return index > cutAfter || index < cutBefore; }
    // Starts preparing frame `index`, as read; a frame left unprepared by a request
    // or a cut comes back as read, not placed ahead.
    void prepare(int index, const cv::Mat& frame);
    // Waits for frame index's preparation and hands it over; it must be held. A
    // frame of another shot drops the frames held beyond it.
    PreparedNeighbour take(int index);

private:
    struct Slot;
    void work();
    void run(Slot& slot);
    // Waits for the slot's preparation; one no worker has started yet is prepared
    // on this thread when `wanted`, else left as read.
    void finish(Slot& slot, bool wanted);
    int estimate(const NeighbourPlacement& placement) const;
    bool stopped(int index) const;
    void noteCut(int index);

    StackingContext& context;
    cv::Mat instant;
    int instantIndex;
    const FrameAlignment* alignment;
    bool align;
    // The run's, whose buffers the preparations take.
    FrameBufferPool* buffers;
    int ahead;
    int patchRadius;
    cv::Mat referenceCopy, referenceSmall;
    float referenceNoise;
    // The reference's corners, found by the first estimate and shared by the next.
    mutable std::mutex cornersLock;
    mutable cv::Mat featureMask;
    mutable std::vector<cv::Point> texturedCorners;
    // The nearest frames of another shot found after and before the instant frame.
    std::atomic<int> cutAfter{INT_MAX}, cutBefore{INT_MIN};
    std::map<int, std::unique_ptr<Slot>> slots;
    std::mutex queueLock;
    std::condition_variable queueChanged;
    std::deque<Slot*> queued;
    bool closing = false;
    int workerCount = 0;
    // Last: joined before what their threads read is destroyed.
    WorkerThreads workers;
};
