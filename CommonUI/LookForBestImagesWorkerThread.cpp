#include "LookForBestImagesWorkerThread.h"

#include "Threads.h"

LookForBestImagesWorkerThread::LookForBestImagesWorkerThread(ImagesSequenceBase* source, int instant)
    : instant(instant), source(source)
{
}

LookForBestImagesWorkerThread::~LookForBestImagesWorkerThread()
{
    // requestCancel is ignored before the search has started: keep asking until
    // the thread has ended.
    while (!wait(10))
        context.requestCancel();
}

void LookForBestImagesWorkerThread::run()
{
    runGuarded("LookForBestImagesWorkerThread::run", "The best-images search failed", [this] {
        context.lookForBestImages(source, instant, &first, &last);
        emit processWellFinished(first, last);
    });
}
