#include "AccumulateThread.h"
#include "FrameAlignment.h"
#include "FrameBufferPool.h"
#include "ImagesSequenceBase.h"
#include "LinearAccumulator.h"
#include "Log.h"
#include "NeighbourLookAhead.h"
#include "PixelOps.h"
#include "StackingContext.h"
#include "StackingProgress.h"
#include "StackingRunSupport.h"
#include "Threads.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const kAlignWhere = "Aligning images";
// From a tolerance of 100 % of full scale on, no difference is a ghost: the
// ghost removal copies the frame and never asks for an estimate.
constexpr float kToleranceWithoutGhosts = 100.0f;

struct RunSettings {
    int instant, first, count;
    float power, tolerance;
    bool align;
    int quality, threadCount;
};

// instant, then alternately the frame k after and the frame k before it, each
// while it lies in [first, first + count).
std::vector<int> stackingOrder(int instant, int first, int count)
{
    std::vector<int> order{instant};
    const long long end = static_cast<long long>(first) + count;
    for (long long k = 1; static_cast<int>(order.size()) < count; ++k) {
        const bool afterInside = instant + k < end, beforeInside = instant - k >= first;
        if (!afterInside && !beforeInside)
            break;
        if (afterInside)
            order.push_back(static_cast<int>(instant + k));
        if (beforeInside && static_cast<int>(order.size()) < count)
            order.push_back(static_cast<int>(instant - k));
    }
    return order;
}

// Search radius of the ghost removal in pixels; -1 (automatic) for a negative or
// undefined power.
int ghostingPowerFor(float power, const cv::Mat& instant)
{
    if (!(power >= 0.0f))
        return -1;
    const int side = std::max(instant.rows, instant.cols);
    // A search wider than the image finds nothing more; the bound keeps the cast defined.
    const float pixels = std::min(float(side) * power / 100.0f, float(side));
    return std::max(17, static_cast<int>(pixels));
}

void logAlignFailure()
{
    logError(kAlignWhere,
             "The align option failed maybe because of a lack of memory, try to disable this option next times.");
}

// A read started before a request stops decoding at the next frame; the instant
// frame's revisit after the loop reads in full.
class ReadsEndOnRequest {
public:
    ReadsEndOnRequest(ImagesSequenceBase& source, const StackingContext& context) : source(source)
    {
        source.interruptReadsWhen([&context] { return context.request != StackingContext::RequestNone; });
    }
    ~ReadsEndOnRequest() { source.interruptReadsWhen({}); }
    ReadsEndOnRequest(const ReadsEndOnRequest&) = delete;
    ReadsEndOnRequest& operator=(const ReadsEndOnRequest&) = delete;

private:
    ImagesSequenceBase& source;
};

// One stacking run over a checked range.
class FrameStackingRun {
public:
    FrameStackingRun(StackingContext& context, ImagesSequenceBase& source, const RunSettings& settings)
        : context(context),
          source(source),
          settings(settings),
          first(settings.first),
          count(settings.count),
          progress(context.progress, settings.align, !(settings.power >= 0.0f), settings.quality)
    {
    }

    // The light image into context.lightImage and the positions walked into
    // *walked; false on a cancel or when the instant frame cannot be used.
    bool run(int* walked)
    {
        const FrameBufferPool::Scope buffersOfThisRun(&buffers);
        instantImage = readInstantFrame(&source, settings.instant, "Main");
        if (instantImage.empty())
            return false;
        // The instant image's working copies and corners then serve every frame.
        context.referenceCopy.release();
        context.referenceHalf.release();
        context.featureMask.release();
        bits = depthInBits(instantImage);
        context.frameDepth = instantImage.depth();
        ghostingPower = ghostingPowerFor(settings.power, instantImage);
        alignment = prepareAlignment();
        if (ghostingPower < 0 && settings.tolerance < kToleranceWithoutGhosts && count > 1 &&
            NeighbourLookAhead::pays(instantImage))
            lookAhead = std::make_unique<NeighbourLookAhead>(context, instantImage, settings.instant, alignment.get(),
                                                             settings.align);
        order = stackingOrder(settings.instant, first, count);
        progress.plan(count - 1);
        if (count == 1)
            restartAccumulator(false);

        int p = 1;
        {
            const ReadsEndOnRequest readsEnd(source, context);
            // The run's one accumulation thread: joined before the accumulator is
            // touched again, and at the latest when the run leaves, by an exception too.
            WorkerThreads accumulation;
            while (p < count && context.request == StackingContext::RequestNone) {
                progress.nextPosition();
                context.frameOrdinal = p;
                cv::Mat ghostFree;
                const Outcome outcome = ghostFreeFrame(order[p], p, accumulation, ghostFree);
                if (outcome == Outcome::LeaveLoop)
                    break;
                if (outcome == Outcome::OtherShot) {
                    endRangeBefore(order[p]);
                    progress.plan(count - p);
                    continue;  // position p now holds the next frame of the shorter range
                }
                if (outcome == Outcome::Passed)
                    accumulate(ghostFree, p, accumulation);
                else
                    context.leftOutFrames.push_back(order[p]);
                ++p;
                // In the sums, and past the positions a stop restarts them from.
                if (accumulatorStarted && p > 3)
                    held.release();
            }
            lookAhead.reset();
        }
        revisitInstantFrame(&source, settings.instant);

        const int request = context.request;
        if (request == StackingContext::RequestCancel)
            return false;
        // A stop after two positions keeps the instant image alone, after three the
        // instant image and the held first neighbour.
        if (request == StackingContext::RequestStop && (p == 2 || p == 3))
            restartAccumulator(p == 3);
        if (!accumulatorStarted)
            restartAccumulator(true);
        *walked = p;
        if (finishLinearMean(&context, bits, context.lightImage)) {
            progress.finishRun();
            return true;
        }
        logError("stackFrames", "The stacked frames could not be averaged.\n");
        return false;
    }

private:
    // Without alignment the reduced copies still tell a cut to another shot.
    std::unique_ptr<FrameAlignment> prepareAlignment() const
    {
        try {
            return std::make_unique<FrameAlignment>(instantImage, settings.align);
        } catch (...) {
            if (settings.align)
                logAlignFailure();
            else
                logError(kAlignWhere, "The frames cannot be compared with the instant image: a cut to another shot "
                                      "will not end the stacking range.\n");
            return nullptr;
        }
    }

    enum class Outcome { Passed, Skipped, OtherShot, LeaveLoop };

    // What the placement of frame n means for the run; OtherShot and Skipped logged.
    Outcome judgePlacement(const NeighbourPlacement& placement, int n) const
    {
        const std::string correlation = " (correlation " + std::to_string(placement.found.correlation);
        switch (placement.outcome) {
        case NeighbourPlacement::Outcome::OtherShot:
            logError(kAlignWhere, "The image number " + std::to_string(n) + " belongs to another shot" + correlation +
                                      " with the instant image): the stacking range ends before it.\n");
            return Outcome::OtherShot;
        case NeighbourPlacement::Outcome::Skipped:
            logError(kAlignWhere, "The translation found for the image number " + std::to_string(n) +
                                      " is not plausible" + correlation + "): the image is not stacked.\n");
            return Outcome::Skipped;
        case NeighbourPlacement::Outcome::Passed:
            break;
        }
        if (placement.failed && settings.align)
            logAlignFailure();
        return Outcome::Passed;
    }

    // The frames of positions p to p + the look-ahead's depth read, in order, and
    // handed to it unless it holds them already.
    void readAhead(int p)
    {
        const int last = std::min(p + lookAhead->depth(), count - 1);
        for (int q = p; q <= last && context.request == StackingContext::RequestNone; ++q) {
            if (lookAhead->holds(order[q]) || lookAhead->beyondCut(order[q]))
                continue;
            cv::Mat frame;
            source.getFrame(frame, order[q], false);
            lookAhead->prepare(order[q], frame);
        }
    }

    // Frame n as read, or as the look-ahead prepared it in an automatic run.
    PreparedNeighbour readNeighbour(int n, int p)
    {
        PreparedNeighbour prepared;
        if (lookAhead) {
            readAhead(p);
            if (lookAhead->holds(n))
                prepared = lookAhead->take(n);
            return prepared;
        }
        source.getFrame(prepared.frame, n, false);
        return prepared;
    }

    // Frame n read, checked, aligned and freed of its ghosts into ghostFree, a
    // buffer of its own. Joins the accumulation of the previous frame once this
    // one is aligned, and leaves the loop when a request has arrived by then.
    Outcome ghostFreeFrame(int n, int p, WorkerThreads& accumulation, cv::Mat& ghostFree)
    {
        PreparedNeighbour prepared = readNeighbour(n, p);
        // A large frame takes long to read: a request made meanwhile is not kept waiting for its alignment.
        if (requestArrived())
            return Outcome::LeaveLoop;
        if (!neighbourMatchesInstant(prepared.frame, instantImage, n))
            return Outcome::Skipped;
        progress.finish(StackingProgress::Reading);
        if (!prepared.placedAhead)
            prepared.placement = placeNeighbour(alignment.get(), settings.align, prepared.frame, requestArrived);
        // Moved, the frame as read would otherwise stay through the ghost removal.
        prepared.frame.release();
        // Placing a 4K frame takes a while: a request made meanwhile ended it early.
        if (requestArrived())
            return Outcome::LeaveLoop;
        const Outcome placement = judgePlacement(prepared.placement, n);
        if (placement != Outcome::Passed)
            return placement;
        progress.finish(StackingProgress::Alignment);
        accumulation.join();
        if (requestArrived())
            return Outcome::LeaveLoop;
        context.ghostRemovalProgress = progress.span(StackingProgress::GhostRemoval);
        context.estimatedPower = prepared.estimatedPower;
        context.placementShift = prepared.placement.movedBy;
        return removeGhostsForDepth(&context, bits, instantImage, prepared.placement.placed, ghostingPower,
                                    settings.tolerance, settings.quality, settings.threadCount, p, ghostFree)
                   ? Outcome::Passed
                   : Outcome::Skipped;
    }

    // The run goes on as if its range ended before frame n, which lies beyond a cut:
    // the order of the shorter range repeats the positions already walked.
    void endRangeBefore(int n)
    {
        const int end = first + count;
        if (n > settings.instant) {
            count = n - first;
        } else {
            first = n + 1;
            count = end - first;
        }
        order = stackingOrder(settings.instant, first, count);
    }

    // The first neighbour that passes is held until a second position has run, so
    // that a stop right after it can still keep it.
    void accumulate(const cv::Mat& ghostFree, int p, WorkerThreads& accumulation)
    {
        // A cancel discards the sums: the run does not wait for them to grow.
        if (context.request == StackingContext::RequestCancel)
            return;
        if (count >= 3 && p == 1) {
            held = ghostFree;
            return;
        }
        if (!accumulatorStarted)
            restartAccumulator(true);
        if (!launchAccumulateThread(accumulation, bits, ghostFree, &context))
            addToLinearAccumulator(bits, ghostFree, &context);
    }

    void restartAccumulator(bool withHeld)
    {
        if (withHeld && !held.empty())
            initLinearAccumulator(bits, instantImage, held, &context);
        else
            initLinearAccumulator(bits, instantImage, &context);
        accumulatorStarted = true;
    }

    StackingContext& context;
    ImagesSequenceBase& source;
    const RunSettings settings;
    // Frames and their working copies take their pixels from here, on this thread and the look-ahead's.
    FrameBufferPool buffers;
    int first, count;  // the range, shortened at a cut
    std::vector<int> order;
    cv::Mat instantImage, held;
    std::unique_ptr<FrameAlignment> alignment;
    int bits = 0, ghostingPower = -1;
    bool accumulatorStarted = false;
    StackingProgress progress;
    const std::function<bool()> requestArrived = [this] {
        return context.request != StackingContext::RequestNone;
    };
    // Last: its threads read the members above.
    std::unique_ptr<NeighbourLookAhead> lookAhead;
};

}  // namespace

cv::Mat StackingContext::stackFrames(ImagesSequenceBase* source, int instant, int first, int* count, float power,
                                     float toleranceValue, bool align, int quality, int threads)
{
    request = RequestNone;
    leftOutFrames.clear();
    if (!source || !count || *count < 1 || instant < first ||
        static_cast<long long>(instant) >= static_cast<long long>(first) + *count) {
        logError("stackFrames", "The frames to stack do not form a range holding the instant image.\n");
        return cv::Mat();
    }
    running = true;
    const RunningFlagGuard runningGuard{running};
    source->prepareRange(first, *count);
    try {
        FrameStackingRun run(*this, *source, RunSettings{instant, first, *count, power, toleranceValue, align,
                                                          quality, threads});
        int walked = 0;
        if (!run.run(&walked))
            return cv::Mat();
        *count = walked;
        return lightImage;
    } catch (const std::exception& error) {
        logError("stackFrames", error.what());
    } catch (...) {
        logError("stackFrames", "Unknown exception during the stacking.");
    }
    return cv::Mat();
}
