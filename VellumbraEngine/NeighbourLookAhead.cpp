#include "NeighbourLookAhead.h"

#include "StackingContext.h"
#include "Threads.h"

#include <algorithm>
#include <iterator>

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
    int index;
    PreparedNeighbour prepared;
    // Last: joined before the result it writes is destroyed.
    WorkerThreads thread;
};

bool NeighbourLookAhead::pays(const cv::Mat& instant)
{
    return depthFor(instant) > 0;
}

NeighbourLookAhead::NeighbourLookAhead(StackingContext& owner, const cv::Mat& instantImage, int instantFrame,
                                       const FrameAlignment* frameAlignment, bool alignFrames)
    : context(owner), instant(instantImage), instantIndex(instantFrame), alignment(frameAlignment), align(alignFrames)
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
    slot->index = index;
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
    // Joined here rather than at the end of the run: they stop at once, beyond the cut.
    if (prepared.placement.outcome == NeighbourPlacement::Outcome::OtherShot)
        for (auto slot = slots.begin(); slot != slots.end();)
            slot = beyondCut(slot->first) ? slots.erase(slot) : std::next(slot);
    return prepared;
}

bool NeighbourLookAhead::stopped(int index) const
{
    return context.requestPending() || beyondCut(index);
}

void NeighbourLookAhead::noteCut(int index)
{
    const bool after = index > instantIndex;
    std::atomic<int>& cut = after ? cutAfter : cutBefore;
    int nearest = cut;
    while (after ? index < nearest : index > nearest)
        if (cut.compare_exchange_weak(nearest, index))
            return;
}

void NeighbourLookAhead::run(Slot& slot)
{
    PreparedNeighbour& prepared = slot.prepared;
    if (!sameSizeAndType(prepared.frame, instant) || stopped(slot.index))
        return;
    prepared.placedAhead = true;
    prepared.placement = placeNeighbour(alignment, align, prepared.frame);
    prepared.frame = prepared.placement.placed;
    if (prepared.placement.outcome == NeighbourPlacement::Outcome::OtherShot)
        noteCut(slot.index);
    if (estimateWanted(prepared.placement) && !stopped(slot.index))
        prepared.estimatedPower = estimate(prepared.placement);
}

int NeighbourLookAhead::estimate(const NeighbourPlacement& placement) const
{
    try {
        StackingContext scratch;
        scratch.requestOwner = &context;
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
