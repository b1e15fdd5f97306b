#include "StackingComputingWorkerThread.h"

#include "Log.h"
#include "StackingContext.h"

#include <exception>
#include <string>

namespace {

const char* const kWhere = "StackingComputingWorkerThread::run";

}  // namespace

StackingComputingWorkerThread::StackingComputingWorkerThread(StackingContext* context,
                                                             ImagesSequenceBase* frameSource,
                                                             const StackingRunSettings& settings)
    : context(context), frameSource(frameSource), settings(settings), frameCount(settings.frameCount)
{
}

void StackingComputingWorkerThread::run()
{
    running = true;
    try {
        result = context->stackFrames(frameSource, settings.instantFrame, settings.firstFrame, &frameCount,
                                      settings.antighostingPower, settings.ghostWeight, settings.align,
                                      settings.quality, settings.threadCount);
    } catch (const std::exception& error) {
        logError(kWhere, std::string("The stacking run failed: ") + error.what());
        result.release();
    } catch (...) {
        logError(kWhere, "The stacking run failed.");
        result.release();
    }
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
