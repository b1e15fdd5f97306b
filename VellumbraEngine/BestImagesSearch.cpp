#include "ImagesSequenceBase.h"
#include "Log.h"
#include "StackingContext.h"
#include "StackingRunSupport.h"

#include <optional>

namespace {

enum class Verdict { Accepted, StopsWalk, Cancelled };

bool requested(const StackingContext& context)
{
    return context.request != StackingContext::RequestNone;
}

// Neighbour i measured against the instant image in referenceImage. A neighbour
// that cannot be compared is skipped: it does not stop the walk.
Verdict examineNeighbour(StackingContext& context, ImagesSequenceBase& source, int i, int limit)
{
    if (requested(context))
        return Verdict::Cancelled;
    context.progress = 0.0f;
    source.getFrame(context.frameImage, i, false);
    if (!neighbourMatchesInstant(context.frameImage, context.referenceImage, i))
        return Verdict::Accepted;
    context.progress = 10.0f;
    if (requested(context))
        return Verdict::Cancelled;
    context.updateSearchCopies();
    context.progress = 20.0f;
    bool beyondProbes = false;
    const int power = context.computeGhostingPower(&beyondProbes);
    context.progress = 80.0f;
    if (power > limit || beyondProbes)
        return Verdict::StopsWalk;
    if (requested(context))
        return Verdict::Cancelled;
    context.progress = 100.0f;
    return Verdict::Accepted;
}

// Walks from the instant frame by step (-1 or +1); the index where the walk
// stopped, or nothing when it was cancelled.
std::optional<int> walk(StackingContext& context, ImagesSequenceBase& source, int instant, int step, int limit)
{
    for (int i = instant + step;; i += step) {
        const bool outside =
            step < 0 ? i < 0 : i >= source.numberOfFrames() || i > source.lastFrameIndex();
        if (outside)
            return i;
        switch (examineNeighbour(context, source, i, limit)) {
        case Verdict::Cancelled: return std::nullopt;
        case Verdict::StopsWalk: return i;
        case Verdict::Accepted: break;
        }
    }
}

}  // namespace

void StackingContext::lookForBestImages(ImagesSequenceBase* source, int instant, int* first, int* last)
{
    request = RequestNone;
    if (!source || !first || !last) {
        logError("lookForBestImages", "No frame source or no place for the result.\n");
        return;
    }
    running = true;
    const RunningFlagGuard runningGuard{running};
    progress = 0.0f;
    patchRadius = 8;
    try {
        referenceImage = readInstantFrame(source, instant, "Main");
        if (referenceImage.empty())
            return;
        // The copies and corners of an earlier search are of another instant frame;
        // this search's serve every neighbour.
        referenceCopy.release();
        featureMask.release();
        const int limit = static_cast<int>(float(referenceImage.cols) * 0.3f);
        const std::optional<int> before = walk(*this, *source, instant, -1, limit);
        if (before && !requested(*this)) {
            *first = *before;
            if (const std::optional<int> after = walk(*this, *source, instant, +1, limit))
                *last = *after;
        }
        revisitInstantFrame(source, instant);
    } catch (...) {
        logError("Computing best images to stack", "The automatic looking for best images to stack failed maybe "
                                                   "because of a lack of memory, try to not use this option next "
                                                   "times");
        try {
            revisitInstantFrame(source, instant);
        } catch (...) {
            logError("lookForBestImages", "The instant image could not be read again.\n");
        }
    }
}
