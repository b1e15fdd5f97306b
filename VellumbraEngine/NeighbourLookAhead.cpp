#include "NeighbourLookAhead.h"

#include "StackingContext.h"
#include "Threads.h"

#include <algorithm>

namespace {

// Frames held ahead: as many pixels as four 1080p frames. Their alignments and
// flows, running at once, raise a 1080p run's peak by about 250 MB.
constexpr double kLookAheadPixels = 4.0 * 1920 * 1080;
constexpr int kMostAhead = 4;
// Below a quarter-VGA frame the flow takes a millisecond or two: preparing ahead
// saves less than its threads cost, and the frames are read in their own positions.
constexpr double kLeastPixels = 320.0 * 240;

// Two frames ahead at least, or none: with one only, the estimate hides behind a
// single ghost removal, and at 4K the run's peak memory would grow by half.
int depthFor(const cv::Mat& instant)
{
    const double pixels = double(instant.rows) * instant.cols;
    if (pixels < kLeastPixels)
        return 0;
    const int depth = std::min(int(kLookAheadPixels / pixels), kMostAhead);
    return depth >= 2 ? depth : 0;
}

bool estimateWanted(const NeighbourPlacement& placement)
{
    return placement.outcome == NeighbourPlacement::Outcome::Passed;
}

}  // namespace

struct NeighbourLookAhead::Slot {
    PreparedNeighbour prepared;
    // Last: joined before the result it writes is destroyed.
    WorkerThreads thread;
};

bool NeighbourLookAhead::pays(const cv::Mat& instant)
{
    return depthFor(instant) > 0;
}

NeighbourLookAhead::NeighbourLookAhead(StackingContext& owner, const cv::Mat& instantImage,
                                       const FrameAlignment* frameAlignment, bool alignFrames)
    : context(owner), instant(instantImage), alignment(frameAlignment), align(alignFrames)
{
    ahead = std::max(depthFor(instant), 1);
    patchRadius = context.patchRadius;
    context.referenceImage = instant;
    context.updateSearchCopies();
    referenceCopy = context.referenceCopy;
    referenceSmall = context.referenceSmall;
    referenceNoise = context.referenceNoise;
}

NeighbourLookAhead::~NeighbourLookAhead() = default;

void NeighbourLookAhead::prepare(int index, const cv::Mat& frame)
{
    auto slot = std::make_unique<Slot>();
    slot->prepared.frame = frame;
    Slot& started = *slot;
    slots[index] = std::move(slot);
    if (!started.thread.start([this, &started] { run(started); }))
        run(started);
}

PreparedNeighbour NeighbourLookAhead::take(int index)
{
    auto found = slots.find(index);
    found->second->thread.join();
    PreparedNeighbour prepared = std::move(found->second->prepared);
    slots.erase(found);
    return prepared;
}

void NeighbourLookAhead::run(Slot& slot) const
{
    PreparedNeighbour& prepared = slot.prepared;
    if (!sameSizeAndType(prepared.frame, instant))
        return;
    prepared.placedAhead = true;
    prepared.placement = placeNeighbour(alignment, align, prepared.frame);
    prepared.frame = prepared.placement.placed;
    if (estimateWanted(prepared.placement) && context.request == StackingContext::RequestNone)
        prepared.estimatedPower = estimate(prepared.placement);
}

int NeighbourLookAhead::estimate(const NeighbourPlacement& placement) const
{
    try {
        StackingContext scratch;
        scratch.referenceImage = instant;
        scratch.referenceCopy = referenceCopy;
        scratch.referenceSmall = referenceSmall;
        scratch.referenceNoise = referenceNoise;
        scratch.patchRadius = patchRadius;
        scratch.probeWhileFlowing = false;
        {
            const std::lock_guard<std::mutex> guard(cornersLock);
            scratch.featureMask = featureMask;
            scratch.texturedCorners = texturedCorners;
        }
        scratch.frameImage = placement.placed;
        scratch.placementShift = placement.movedBy;
        scratch.updateSearchCopies();
        const int power = scratch.computeGhostingPower();
        const std::lock_guard<std::mutex> guard(cornersLock);
        if (featureMask.empty() && !scratch.featureMask.empty()) {
            featureMask = scratch.featureMask;
            texturedCorners = scratch.texturedCorners;
        }
        return power;
    } catch (...) {
        // Left to the ghost removal, which meets the error again and logs it.
        return 0;
    }
}
