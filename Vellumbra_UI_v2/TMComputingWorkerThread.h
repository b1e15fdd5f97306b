#pragma once
#include <QThread>
#include <opencv2/core.hpp>

#include <atomic>

class RenderPipeline;

// Renders one pipeline's preview from a start stage on its own thread. The window
// watches `running` and reads the rest once it has dropped; nothing else may touch
// the pipeline meanwhile.
class TMComputingWorkerThread : public QThread {
    Q_OBJECT

public:
    // Running from construction on, so a watcher that looks right after start() sees it.
    TMComputingWorkerThread(RenderPipeline* pipeline, bool fast, int startStage);

    RenderPipeline* const pipeline;
    // Interactive preview (smaller box).
    const bool fast;
    cv::Mat result;
    std::atomic<bool> running{true};
    // The operator's cancel flag as the render left it.
    std::atomic<bool> cancelled{false};
    const int startStage;

signals:
    void processWellFinished();
    void processCanceled();

protected:
    void run() override;
};
