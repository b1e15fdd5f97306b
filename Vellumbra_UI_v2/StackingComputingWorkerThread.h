#pragma once
#include "StackingRunSettings.h"

#include <QThread>
#include <opencv2/core.hpp>

#include <atomic>

class ImagesSequenceBase;
class StackingContext;

// Runs one stacking run on its own thread and says how it ended. The context and
// the frame source belong to the workspace and must outlive the run; the thread
// deletes itself once finished, so watchers hold it through a QPointer.
class StackingComputingWorkerThread : public QThread {
    Q_OBJECT

public:
    StackingComputingWorkerThread(StackingContext* context, ImagesSequenceBase* frameSource,
                                  const StackingRunSettings& settings);

    // True from construction until the run has stored its outcome; after that the
    // thread no longer touches the context or the frame source.
    bool isComputing() const { return running.load(); }

signals:
    // count: the frames really accumulated.
    void processWellFinished(int count);
    void processStopped(int count);
    void processCanceled();

protected:
    void run() override;

private:
    StackingContext* const context;
    ImagesSequenceBase* const frameSource;
    const StackingRunSettings settings;
    int frameCount;
    std::atomic<bool> running{true};
    cv::Mat result;
};
