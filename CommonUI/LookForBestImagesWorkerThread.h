#pragma once
#include "StackingContext.h"

#include <QThread>

class ImagesSequenceBase;

// Runs the best-images search around the instant frame on a context of its own.
// The interface polls context.progress and may call context.requestCancel();
// after the thread has finished it reads first and last. Deleting the thread
// cancels a search still running and waits for it; the frame source must
// outlive the thread.
class LookForBestImagesWorkerThread : public QThread {
    Q_OBJECT

public:
    LookForBestImagesWorkerThread(ImagesSequenceBase* source, int instant);
    ~LookForBestImagesWorkerThread() override;

    const int instant;
    ImagesSequenceBase* const source;
    // Where the backward and forward walks stopped; -1 until the search writes
    // them. Written by run: read them only after the thread has finished.
    int first = -1;
    int last = -1;
    StackingContext context;

signals:
    void processWellFinished(int first, int last);

protected:
    void run() override;
};
