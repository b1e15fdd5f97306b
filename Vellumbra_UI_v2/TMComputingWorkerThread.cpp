#include "TMComputingWorkerThread.h"

#include "RenderPipeline.h"
#include "Threads.h"

TMComputingWorkerThread::TMComputingWorkerThread(RenderPipeline* pipeline, bool fast, int startStage)
    : pipeline(pipeline), fast(fast), startStage(startStage)
{
}

void TMComputingWorkerThread::run()
{
    running = true;
    cv::Mat rendered;
    if (!runGuarded("TMComputingWorkerThread::run", "The render failed", [&] {
            pipeline->renderPreview(startStage, fast);
            rendered = pipeline->output().clone();
        }))
        rendered.release();
    result = rendered;
    const ToneMappingBase* toneMapper = pipeline->toneMapper();
    cancelled = toneMapper && toneMapper->cancel.load();
    running = false;
    if (!result.empty())
        emit processWellFinished();
    else
        emit processCanceled();
}
