#include "PresetImageWorkerThread.h"

#include "Log.h"
#include "RenderPipeline.h"

#include <exception>
#include <string>

namespace {

const char* const kWhere = "PresetImageWorkerThread::run";

bool cancelled(const RenderPipeline& pipeline)
{
    const ToneMappingBase* toneMapper = pipeline.toneMapper();
    return toneMapper && toneMapper->cancel.load();
}

}  // namespace

PresetImageWorkerThread::PresetImageWorkerThread(RenderPipeline* pipeline, Mode mode)
    : pipeline(pipeline), mode(mode)
{
    static const int registered = qRegisterMetaType<cv::Mat>("cv::Mat");
    Q_UNUSED(registered);
}

PresetImageWorkerThread::~PresetImageWorkerThread()
{
    cancelAndWait();
}

void PresetImageWorkerThread::cancelAndWait()
{
    // The pipeline clears the flag when its render starts: keep setting it until
    // the thread has ended.
    while (isRunning()) {
        if (ToneMappingBase* toneMapper = pipeline->toneMapper())
            toneMapper->cancel = true;
        wait(5);
    }
    wait();
}

cv::Mat PresetImageWorkerThread::render()
{
    switch (mode) {
    case FullRender:
        return pipeline->renderFull();
    case PreviewRender:
        pipeline->renderPreview(RenderPipeline::RotationStage, false);
        return pipeline->output().clone();
    case ScaledRender:
        return pipeline->renderScaled();
    }
    return cv::Mat();
}

void PresetImageWorkerThread::run()
{
    try {
        // The pipeline never writes a stage in place, so the preview shared with
        // the interface stays as it is while the next render runs.
        const cv::Mat result = render();
        if (!cancelled(*pipeline) && !result.empty())
            emit processWellFinished(result, ticket);
    } catch (const std::exception& error) {
        logError(kWhere, std::string("The preset preview could not be rendered: ") + error.what());
    } catch (...) {
        logError(kWhere, "The preset preview could not be rendered.");
    }
}
