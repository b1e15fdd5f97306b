#pragma once
#include "SharpnessCandidates.h"

#include <QThread>
#include <opencv2/core.hpp>

#include <atomic>

class ImagesSequenceBase;

// Scores every frame within halfWidth of the current one by sharpness (variance
// of the Laplacian) and reports the current frame with every sharper frame.
// The result leaves the thread by value. Whoever owns the thread deletes it, and
// the frame source must outlive it; deleting it cancels the search and waits.
class SharpestImageSearcherWorkerThread : public QThread {
    Q_OBJECT

public:
    // image: the current frame (shared, never written); source: not owned.
    SharpestImageSearcherWorkerThread(const cv::Mat& image, int current, ImagesSequenceBase* source, int halfWidth);
    ~SharpestImageSearcherWorkerThread() override;

    // Percent of the frames scored so far; any thread may read it.
    int progress() const { return progress_.load(); }

signals:
    // Not emitted when the search was cancelled or failed.
    void processWellFinished(SharpnessCandidates candidates);

protected:
    void run() override;

private:
    SharpnessCandidates search();

    const cv::Mat image;
    const int current;
    ImagesSequenceBase* const source;
    const int halfWidth;
    std::atomic<int> progress_{0};
};
