#include "StackingComputingWorkerThread.h"

#include "StackingContext.h"
#include "Threads.h"

StackingComputingWorkerThread::StackingComputingWorkerThread(StackingContext* context,
                                                             ImagesSequenceBase* frameSource,
                                                             const StackingRunSettings& settings)
    : context(context), frameSource(frameSource), settings(settings), frameCount(settings.frameCount)
{
}

void StackingComputingWorkerThread::run()
{
    running = true;
    if (!runGuarded("StackingComputingWorkerThread::run", "The stacking run failed", [this] {
            result = context->stackFrames(frameSource, settings.instantFrame, settings.firstFrame, &frameCount,
                                          settings.antighostingPower, settings.ghostWeight, settings.align,
                                          settings.quality, settings.threadCount);
        }))
        result.release();
    const StackingOutcome outcome = stackingOutcome(context->request.load(), result, frameCount);
    // From here on the window may release the context.
    running = false;
    switch (outcome) {
    case StackingOutcome::Cancelled:
        emit processCanceled();
        break;
    case StackingOutcome::Stopped:
        emit processStopped(frameCount);
        break;
    case StackingOutcome::Finished:
        emit processWellFinished(frameCount);
        break;
    }
}
