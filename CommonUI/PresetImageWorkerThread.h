#pragma once
#include "DisplayScale.h"
#include "MatMetaType.h"

#include <QThread>
#include <opencv2/core.hpp>

class RenderPipeline;

// Renders one preview of a preset tile's pipeline off the interface thread.
// The owner touches the pipeline only while the thread is not running.
class PresetImageWorkerThread : public QThread {
    Q_OBJECT

public:
    enum Mode { FullRender = 0, PreviewRender = 1, ScaledRender = 2 };

    // pipeline: not owned.
    PresetImageWorkerThread(RenderPipeline* pipeline, Mode mode);
    ~PresetImageWorkerThread() override;

    // Stops a running render through the operator's cancel flag and waits for it.
    void cancelAndWait();

    // Tags the next render; its result carries the tag. Set while not running.
    void setTicket(int value) { ticket = value; }
    // The picture the next run reduces to the thumbnail size and gives the
    // pipeline before it renders: many tiles reduce in parallel, off the
    // interface thread. Set while not running.
    void setSource(const cv::Mat& image, SourceKind kind)
    {
        pendingSource = image;
        pendingKind = kind;
    }

signals:
    // The finished preview, a copy nobody else writes to; not emitted when the
    // render was cancelled.
    void processWellFinished(cv::Mat result, int ticket);

protected:
    void run() override;

private:
    cv::Mat render();

    RenderPipeline* const pipeline;
    const Mode mode;
    int ticket = 0;
    cv::Mat pendingSource;
    SourceKind pendingKind = SourceKind::Unknown;
};
