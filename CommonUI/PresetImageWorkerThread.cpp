#include "PresetImageWorkerThread.h"

#include "EngineDefaults.h"
#include "RenderPipeline.h"
#include "Threads.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {

const char* const kWhere = "PresetImageWorkerThread::run";

// The smallest copy of image that still covers the thumbnail size: a tile never
// holds a full-size float copy of a large light image.
cv::Mat reducedForThumbnail(const cv::Mat& image)
{
    const cv::Size target = thumbnailSize();
    const double scale = std::max(static_cast<double>(target.width) / image.cols,
                                  static_cast<double>(target.height) / image.rows);
    if (scale >= 1.0)
        return image;
    const cv::Size size(std::max(1, static_cast<int>(std::ceil(image.cols * scale))),
                        std::max(1, static_cast<int>(std::ceil(image.rows * scale))));
    cv::Mat reduced;
    cv::resize(image, reduced, size, 0.0, 0.0, cv::INTER_AREA);
    return reduced;
}

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
    runGuarded(kWhere, "The preset preview could not be rendered", [this] {
        if (!pendingSource.empty()) {
            pipeline->setSourceImage(reducedForThumbnail(pendingSource), true, pendingKind);
            pendingSource.release();
        }
        // The pipeline never writes a stage in place, so the preview shared with
        // the interface stays as it is while the next render runs.
        const cv::Mat result = render();
        if (!cancelled(*pipeline) && !result.empty())
            emit processWellFinished(result, ticket);
    });
}
