#pragma once
#include "ImagesSequenceBase.h"
#include "InMemorySequence.h"
#include "TestMedia.h"

#include <QTest>
#include <QThread>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

// Shared by the tile and search-thread tests.
namespace tiletest {

// A real camera photo reduced to width pixels wide; empty when the media is absent.
inline cv::Mat realPhoto(int width, const QString& name = QStringLiteral("nature/LadyBird.jpg"))
{
    const QString path = testmedia::mediaFile("mate-backgrounds/usr/share/backgrounds/mate/" + name);
    if (path.isEmpty())
        return cv::Mat();
    const cv::Mat photo = cv::imread(path.toStdString(), cv::IMREAD_COLOR);
    if (photo.empty())
        return photo;
    cv::Mat reduced;
    cv::resize(photo, reduced, cv::Size(width, photo.rows * width / photo.cols), 0.0, 0.0, cv::INTER_AREA);
    return reduced;
}

inline cv::Mat blurred(const cv::Mat& image, double sigma)
{
    if (sigma <= 0.0)
        return image.clone();
    cv::Mat out;
    cv::GaussianBlur(image, out, cv::Size(), sigma);
    return out;
}

// Processes events until done() holds or the generous deadline passes; the final done().
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000)
{
    return QTest::qWaitFor(done, timeoutMs);
}

// Frames in memory; records which frames were read and may take its time over each.
class RecordingSequence : public ImagesSequenceBase {
public:
    explicit RecordingSequence(std::vector<cv::Mat> frames, int delayMs = 0)
        : frames(std::move(frames)), delayMs(delayMs)
    {
    }

    cv::Mat& getFrame(cv::Mat& output, int index, bool preview) override
    {
        ++reading;
        {
            std::lock_guard<std::mutex> lock(readLock);
            reads.push_back(index);
        }
        if (delayMs > 0)
            QThread::msleep(static_cast<unsigned long>(delayMs));
        frames.getFrame(output, index, preview);
        --reading;
        return output;
    }
    bool isAtEnd() override { return frames.isAtEnd(); }
    int numberOfFrames() const override { return frames.numberOfFrames(); }

    std::vector<int> readIndices()
    {
        std::lock_guard<std::mutex> lock(readLock);
        return reads;
    }

    // Reads under way: none once whoever reads has been waited for.
    int readsInProgress() const { return reading; }

private:
    InMemorySequence frames;
    const int delayMs;
    std::mutex readLock;
    std::vector<int> reads;
    std::atomic<int> reading{0};
};

}  // namespace tiletest
