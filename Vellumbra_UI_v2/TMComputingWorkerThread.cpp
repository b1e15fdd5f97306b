#include "TMComputingWorkerThread.h"

#include "Log.h"
#include "RenderPipeline.h"

#include <exception>

TMComputingWorkerThread::TMComputingWorkerThread(RenderPipeline* pipeline, bool fast, int startStage)
    : pipeline(pipeline), fast(fast), startStage(startStage)
{
}

void TMComputingWorkerThread::run()
{
    running = true;
    cv::Mat rendered;
    try {
        pipeline->renderPreview(startStage, fast);
        rendered = pipeline->output().clone();
    } catch (const std::exception& error) {
        logError("TMComputingWorkerThread::run", error.what());
        rendered.release();
    }
    result = rendered;
    const ToneMappingBase* toneMapper = pipeline->toneMapper();
    cancelled = toneMapper && toneMapper->cancel.load();
    running = false;
    if (!result.empty())
        emit processWellFinished();
    else
        emit processCanceled();
}
