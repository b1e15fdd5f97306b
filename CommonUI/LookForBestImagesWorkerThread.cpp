#include "LookForBestImagesWorkerThread.h"

#include "Log.h"

#include <exception>
#include <string>

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
    try {
        context.lookForBestImages(source, instant, &first, &last);
        emit processWellFinished(first, last);
    } catch (const std::exception& error) {
        logError("LookForBestImagesWorkerThread::run", std::string("The best-images search failed: ") + error.what());
    } catch (...) {
        logError("LookForBestImagesWorkerThread::run", "The best-images search failed.");
    }
}
