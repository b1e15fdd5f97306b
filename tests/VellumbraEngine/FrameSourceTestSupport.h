#pragma once
// Stand-ins and generated media for the frame-source tests.
#include "FrameCapture.h"
#include "ImagesSequence.h"
#include "Log.h"
#include "PlaybackClock.h"
#include "TestMedia.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace framesource {

// A tiny frame whose pixels name its index exactly (blue = low byte, green = high byte).
inline cv::Mat tinyFrame(int index)
{
    return cv::Mat(4, 6, CV_8UC3, cv::Scalar(index % 256, index / 256, 77));
}

inline int tinyFrameIndex(const cv::Mat& frame)
{
    if (frame.empty())
        return -1;
    const cv::Vec3b pixel = frame.at<cv::Vec3b>(0, 0);
    return pixel[0] + 256 * pixel[1];
}

// `count` PNG photos of tiny frames 0, 1, ... named prefix00.png, prefix01.png, ...
inline QStringList writeTinyPhotos(const QString& folder, const QString& prefix, int count)
{
    QStringList files;
    for (int i = 0; i < count; ++i) {
        files << QString("%1/%2%3.png").arg(folder, prefix).arg(i, 2, 10, QChar('0'));
        cv::imwrite(QFile::encodeName(files.back()).toStdString(), tinyFrame(i));
    }
    return files;
}

// Counts the images made through it that are still alive, wherever they went.
class CountingAllocator : public cv::MatAllocator {
public:
    cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, size_t* step, cv::AccessFlag flags,
                           cv::UMatUsageFlags usage) const override
    {
        cv::UMatData* made = cv::Mat::getStdAllocator()->allocate(dims, sizes, type, data, step, flags, usage);
        made->currAllocator = this;
        ++live;
        ++made_;
        return made;
    }
    bool allocate(cv::UMatData* data, cv::AccessFlag flags, cv::UMatUsageFlags usage) const override
    {
        return cv::Mat::getStdAllocator()->allocate(data, flags, usage);
    }
    void deallocate(cv::UMatData* data) const override
    {
        --live;
        cv::Mat::getStdAllocator()->deallocate(data);
    }
    int alive() const { return live; }
    int made() const { return made_; }

private:
    mutable int live = 0;
    mutable int made_ = 0;
};

// A capture over generated frames that can misreport its length, refuse to seek,
// pretend to seek, or fail to retrieve chosen frames.
class FakeCapture : public FrameCapture {
public:
    int decodable = 30;
    double reportedCount = 30;
    double reportedFps = 25;
    bool refusesSeek = false;   // set() returns false
    bool ignoresSeek = false;   // set() returns true but the position stays
    int seekLandsOff = 0;       // a seek lands this many frames after the one asked for
    bool hasTimes = true;       // false: every frame reports time 0
    bool opens = true;
    std::set<int> unreadable;   // retrieve fails on these frames
    CountingAllocator* allocator = nullptr;  // makes the frames it retrieves

    int grabs = 0;
    int seeks = 0;
    int openings = 0;

    bool open(const std::string&) override
    {
        ++openings;
        isOpen = opens;
        next = 0;
        grabbed = -1;
        return isOpen;
    }
    bool isOpened() const override { return isOpen; }
    void release() override { isOpen = false; }
    bool grab() override
    {
        if (!isOpen || next >= decodable)
            return false;
        ++grabs;
        grabbed = next++;
        return true;
    }
    bool retrieve(cv::Mat& image) override
    {
        if (grabbed < 0 || unreadable.count(grabbed)) {
            image.release();
            return false;
        }
        if (allocator) {
            image = cv::Mat();
            image.allocator = allocator;
            tinyFrame(grabbed).copyTo(image);
        } else {
            image = tinyFrame(grabbed);
        }
        return true;
    }
    bool set(int property, double value) override
    {
        if (property != cv::CAP_PROP_POS_FRAMES || refusesSeek)
            return false;
        ++seeks;
        if (!ignoresSeek)
            next = std::max(static_cast<int>(value) + seekLandsOff, 0);
        return true;
    }
    double get(int property) const override
    {
        switch (property) {
        case cv::CAP_PROP_POS_FRAMES: return next;
        case cv::CAP_PROP_POS_MSEC: return hasTimes && grabbed >= 0 ? 40.0 * grabbed + 12.5 : 0.0;
        case cv::CAP_PROP_FRAME_COUNT: return reportedCount;
        case cv::CAP_PROP_FPS: return reportedFps;
        default: return 0;
        }
    }

private:
    bool isOpen = false;
    int next = 0;
    int grabbed = -1;
};

// A clock that only moves when told to, or by the sleeps it is asked for.
class ManualClock : public PlaybackClock {
public:
    qint64 sleptMicroseconds = 0;

    QDateTime now() override { return QDateTime::fromMSecsSinceEpoch(microseconds / 1000, Qt::UTC); }
    void sleepMicroseconds(qint64 duration) override
    {
        sleptMicroseconds += duration;
        microseconds += duration;
    }
    void advanceSeconds(double seconds) { microseconds += qRound64(seconds * 1e6); }

private:
    qint64 microseconds = 1'600'000'000'000'000LL;
};

// A sequence over a FakeCapture, paced by a ManualClock.
struct FakeVideo {
    FakeCapture* capture;
    std::shared_ptr<ManualClock> clock;
    std::unique_ptr<ImagesSequence> sequence;
};

inline FakeVideo openFake(const std::function<void(FakeCapture&)>& configure = {})
{
    auto capture = std::make_unique<FakeCapture>();
    if (configure)
        configure(*capture);
    FakeCapture* raw = capture.get();
    auto clock = std::make_shared<ManualClock>();
    auto sequence = std::make_unique<ImagesSequence>(QString("fake.mp4"), std::move(capture), clock);
    return {raw, clock, std::move(sequence)};
}

// Frames for MJPG clips: 16 black or white blocks spell the index, which
// survives JPEG compression exactly.
constexpr int kClipWidth = 128;
constexpr int kClipHeight = 64;

inline cv::Mat codedFrame(int index)
{
    cv::Mat frame(kClipHeight, kClipWidth, CV_8UC3, cv::Scalar(40, 40, 40));
    for (int bit = 0; bit < 16; ++bit) {
        const cv::Rect block((bit % 8) * 16, (bit / 8) * 32, 16, 32);
        frame(block).setTo((index >> bit) & 1 ? cv::Scalar(230, 230, 230) : cv::Scalar(20, 20, 20));
    }
    return frame;
}

inline int codedFrameIndex(const cv::Mat& frame)
{
    if (frame.rows != kClipHeight || frame.cols != kClipWidth)
        return -1;
    int index = 0;
    for (int bit = 0; bit < 16; ++bit) {
        const cv::Rect centre((bit % 8) * 16 + 4, (bit / 8) * 32 + 8, 8, 16);
        if (cv::mean(frame(centre))[1] > 128)
            index |= 1 << bit;
    }
    return index;
}

// Writes an MJPG .avi of `frames` coded frames at 25 fps into `directory`.
inline QString writeCodedClip(const QString& directory, int frames)
{
    const QString path = QDir(directory).filePath(QString("coded-%1.avi").arg(frames));
    cv::VideoWriter writer(QFile::encodeName(path).toStdString(), cv::CAP_OPENCV_MJPEG,
                           cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25.0, cv::Size(kClipWidth, kClipHeight));
    for (int i = 0; i < frames; ++i)
        writer.write(codedFrame(i));
    return path;
}

// A video of the fetched real media, or an empty string when it is absent.
inline QString realVideo(const QString& name)
{
    return testmedia::mediaFile("forensics-samples-files/usr/share/forensics-samples/original-files/" + name);
}

inline std::uint64_t pixelHash(const cv::Mat& image)
{
    std::uint64_t hash = 1469598103934665603ULL;
    for (int row = 0; row < image.rows; ++row) {
        const uchar* data = image.ptr(row);
        for (size_t i = 0; i < image.cols * image.elemSize(); ++i)
            hash = (hash ^ data[i]) * 1099511628211ULL;
    }
    return hash;
}

// The hash of every frame of a plain cv::VideoCapture read from the start.
inline std::vector<std::uint64_t> sequentialHashes(const QString& path)
{
    std::vector<std::uint64_t> hashes;
    cv::VideoCapture capture(QFile::encodeName(path).toStdString(), cv::CAP_FFMPEG);
    for (cv::Mat frame; capture.read(frame);)
        hashes.push_back(pixelHash(frame));
    return hashes;
}

}  // namespace framesource

namespace framesource {

// Sends the log to a fresh folder for one test and reads it back.
class LogCapture {
public:
    LogCapture() : directory(testmedia::makeTempDir("vb-log"))
    {
        setLogDirectory(QFile::encodeName(directory + "/").toStdString());
    }
    QString text() const
    {
        QFile file(directory + "/VellumbraLog.txt");
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private:
    QString directory;
};

}  // namespace framesource
