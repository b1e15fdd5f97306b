#include "NeighbourLookAhead.h"

#include "FrameBufferPool.h"
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
    int index;
    PreparedNeighbour prepared;
    bool done = false;  // under queueLock
};

bool NeighbourLookAhead::pays(const cv::Mat& instant)
{
    return depthFor(instant) > 0;
}

NeighbourLookAhead::NeighbourLookAhead(StackingContext& owner, const cv::Mat& instantImage, int instantFrame,
                                       const FrameAlignment* frameAlignment, bool alignFrames)
    : context(owner),
      instant(instantImage),
      instantIndex(instantFrame),
      alignment(frameAlignment),
      align(alignFrames),
      buffers(FrameBufferPool::current())
{
    ahead = std::max(depthFor(instant), 1);
    patchRadius = context.patchRadius;
    context.referenceImage = instant;
    context.updateSearchCopies();
    referenceCopy = context.referenceCopy;
    referenceSmall = context.referenceSmall;
    referenceNoise = context.referenceNoise;
    // The frame taken next and those held beyond it are prepared at once.
    for (int k = 0; k <= ahead; ++k)
        if (workers.start([this] { work(); }))
            ++workerCount;
}

NeighbourLookAhead::~NeighbourLookAhead()
{
    {
        const std::lock_guard<std::mutex> guard(queueLock);
        closing = true;
    }
    queueChanged.notify_all();
    workers.join();
}

void NeighbourLookAhead::prepare(int index, const cv::Mat& frame)
{
    auto slot = std::make_unique<Slot>();
    slot->index = index;
    slot->prepared.frame = frame;
    Slot& queuedSlot = *slot;
    slots[index] = std::move(slot);
    if (workerCount == 0) {
        run(queuedSlot);
        queuedSlot.done = true;
        return;
    }
    {
        const std::lock_guard<std::mutex> guard(queueLock);
        queued.push_back(&queuedSlot);
    }
    queueChanged.notify_all();
}

// The same few threads prepare every frame of the run, so that what their work
// allocates stays in as many of the allocator's arenas, however long the run.
void NeighbourLookAhead::work()
{
    const FrameBufferPool::Scope runBuffers(buffers);
    for (;;) {
        Slot* slot = nullptr;
        {
            std::unique_lock<std::mutex> guard(queueLock);
            queueChanged.wait(guard, [this] { return closing || !queued.empty(); });
            if (closing)
                return;
            slot = queued.front();
            queued.pop_front();
        }
        run(*slot);
        {
            const std::lock_guard<std::mutex> guard(queueLock);
            slot->done = true;
        }
        queueChanged.notify_all();
    }
}

void NeighbourLookAhead::finish(Slot& slot, bool wanted)
{
    std::unique_lock<std::mutex> guard(queueLock);
    const auto waiting = std::find(queued.begin(), queued.end(), &slot);
    if (waiting != queued.end()) {
        queued.erase(waiting);
        guard.unlock();
        // No worker has started it: it is prepared here, now, if at all.
        if (wanted)
            run(slot);
        return;
    }
    queueChanged.wait(guard, [&slot] { return slot.done; });
}

PreparedNeighbour NeighbourLookAhead::take(int index)
{
    auto found = slots.find(index);
    finish(*found->second, true);
    PreparedNeighbour prepared = std::move(found->second->prepared);
    slots.erase(found);
    // Dropped here rather than at the end of the run: they stop at once, beyond the cut.
    if (prepared.placement.outcome == NeighbourPlacement::Outcome::OtherShot) {
        for (auto slot = slots.begin(); slot != slots.end();) {
            if (!beyondCut(slot->first)) {
                ++slot;
                continue;
            }
            finish(*slot->second, false);
            slot = slots.erase(slot);
        }
    }
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
    prepared.placement = placeNeighbour(alignment, align, prepared.frame, [this] { return context.requestPending(); });
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
