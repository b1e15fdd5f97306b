#include "SharpestImageSearcherWorkerThread.h"

#include "ImagesSequenceBase.h"
#include "Log.h"
#include "PixelOps.h"
#include "Threads.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace {

const char* const kWhere = "SharpestImageSearcherWorkerThread::run";

// Sharpness of a frame; NaN and infinite variances (float frames holding them)
// count as unreadable.
bool measure(const cv::Mat& frame, float& score)
{
    if (frame.empty())
        return false;
    score = laplacianVariance(frame);
    return std::isfinite(score);
}

}  // namespace

SharpestImageSearcherWorkerThread::SharpestImageSearcherWorkerThread(const cv::Mat& image, int current,
                                                                     ImagesSequenceBase* source, int halfWidth)
    : image(image), current(current), source(source), halfWidth(std::max(0, halfWidth))
{
    static const int registered = qRegisterMetaType<SharpnessCandidates>("SharpnessCandidates");
    Q_UNUSED(registered);
}

SharpestImageSearcherWorkerThread::~SharpestImageSearcherWorkerThread()
{
    requestInterruption();
    wait();
}

SharpnessCandidates SharpestImageSearcherWorkerThread::search()
{
    float currentScore = 0.0f;
    if (!measure(image, currentScore))
        currentScore = 0.0f;
    SharpnessCandidates candidates;
    candidates.insert({currentScore, current});
    if (!source)
        return candidates;
    const int start = std::max(current - halfWidth, 0);
    const int end = std::min(current + halfWidth, source->numberOfFrames() - 1);
    if (start >= end)
        return candidates;
    const int scored = end - start + 1;
    for (int i = start; i <= end && !isInterruptionRequested(); ++i) {
        progress_ = (i - start) * 100 / scored;
        if (i == current)
            continue;
        cv::Mat frame;
        source->getFrame(frame, i, false);
        float score = 0.0f;
        if (!measure(frame, score)) {
            logError(kWhere, "The frame " + std::to_string(i) + " could not be read; it is skipped.\n");
            continue;
        }
        if (score > currentScore)
            candidates.insert({score, i});
    }
    return candidates;
}

void SharpestImageSearcherWorkerThread::run()
{
    runGuarded(kWhere, "The sharpest-frame search failed", [this] {
        const SharpnessCandidates candidates = search();
        progress_ = 100;
        if (!isInterruptionRequested())
            emit processWellFinished(candidates);
    });
}
