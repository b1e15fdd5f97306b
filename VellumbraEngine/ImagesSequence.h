#pragma once
#include "DecodedFrameCache.h"
#include "FrameCapture.h"
#include "ImagesSequenceBase.h"
#include "PlaybackClock.h"

#include <QDateTime>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <unordered_map>
#include <vector>

// The frame source over a video or a sorted list of photos. Worker threads read
// frames through getFrame while the interface thread plays and scrubs; every
// decoder access and position change runs under decodeLock, taken once.
class ImagesSequence : public ImagesSequenceBase {
public:
    // A video, decoded by `capture` (the libav-backed VideoFileCapture when null).
    explicit ImagesSequence(const QString& videoPath, std::unique_ptr<FrameCapture> capture = nullptr,
                            std::shared_ptr<PlaybackClock> clock = nullptr);
    // Photos, played in case-sensitive order of their paths.
    explicit ImagesSequence(const QStringList& files, std::shared_ptr<PlaybackClock> clock = nullptr);
    ~ImagesSequence() override;

    ImagesSequence(const ImagesSequence&) = delete;
    ImagesSequence& operator=(const ImagesSequence&) = delete;

    // Frame `index` as a new image; empty beyond the last frame or when it cannot be
    // read. `preview` asks for a reduced decode of photos and lets the frame on
    // display be returned as is. With `restorePosition` the playback position is
    // left where it was. `noLock` is for calls made with decodeLock already held.
    cv::Mat& getCvImageAt(cv::Mat& output, int index, bool preview, bool restorePosition, bool noLock);
    // Reads without moving the playback position.
    cv::Mat& getFrame(cv::Mat& output, int index, bool preview) override;
    // At the last frame or at the end of the playback range.
    bool isAtEnd() override;
    int numberOfFrames() const override { return frameCount; }
    int lastFrameIndex() const override { return lastIndex; }
    // Until a read outside the range or the next move of the playback position, the
    // cache holds only the range's frames that were decoded on the way to a read and
    // are still to be read; each leaves the cache as it is handed over.
    void prepareRange(int first, int count) override;
    // Only reads of the prepared range are interrupted: the decoder is left on the
    // last frame it decoded.
    void interruptReadsWhen(std::function<bool()> pending) override;

    // Moves the position to `index`, shows that frame and returns the display image.
    cv::Mat& getDisplayImageAt(cv::Mat& output, int index, bool preview, bool noLock);
    QString currentFileName();
    // Time of a video frame ("%02d:%02d") or number of a photo ("%d/%d"); -1: current position.
    QString positionLabel(int index);
    // The video's duration, or the file name of the photo at the index; -1: current position.
    QString infoLabel(int index);
    // Display brightness step: the display image is the frame times 2^(value/3).
    void setBrightness(int value);
    // Playback speed step: 0 normal, +4 twice as fast, -4 half as fast.
    void setSpeed(int value);
    // The playback range, kept within 0 <= first <= last <= frameCount - 1.
    void setFirstIndex(int index);
    void setLastIndex(int index);
    int getCurrentIndex();

    // Playback and seeking, for the interface thread (ImagesSequencePlayback.cpp).
    // Places the decoder at `index` and makes it the playback position.
    void seek(int index);
    // Back to the start of the playback range, shown as the current frame.
    void rewind(bool preview);
    // One step forward / backward; `paced` keeps the speed's rhythm, sleeping or
    // skipping frames. Each returns the display image.
    cv::Mat& nextFrame(cv::Mat& output, bool paced, bool preview);
    cv::Mat& previousFrame(cv::Mat& output, bool paced, bool preview);
    cv::Mat& playNextFrame(cv::Mat& output, bool preview);
    cv::Mat& playPreviousFrame(cv::Mat& output, bool preview);

    // Set at opening; plain reads.
    bool isPhotoList = false;
    QString videoPath;
    int frameCount = 0;
    float aspectRatio = 0.0f;
    bool opened = false;
    // Frames per second as the frames are shown: the container's rate, or the rate
    // of the frames' own times where the two disagree (a clip with dropped frames);
    // 25 for photos. Unrounded; the pace and the duration follow it.
    float fps = 25.0f;
    // Seconds from the first frame to the last.
    float duration = 0.0f;
    QString durationLabel;
    // Owned by the interface thread; workers may read the range.
    int brightness = 0;
    float secondsPerFrame = 0.0f;
    std::atomic<int> firstIndex{0};
    std::atomic<int> lastIndex{0};

private:
    static constexpr int kLostPosition = -2;

    cv::Mat readPhoto(int index, bool preview, const char* where, const char* messageStart);
    void initSequence();
    int scanVideoFrames();
    int grabbedFrameIndex() const;
    bool reopenCapture();
    bool seekAtOrBefore(int index);
    bool placeDecoderAt(int index);
    bool grabForwardTo(int index);
    // A video frame from the cache or the decoder. Reads `before` frames before it
    // and `after` frames after it into the cache along the way.
    cv::Mat decodeVideoFrame(int index, int before, int after);
    void decodeIntoCache(int first, int last);
    bool inRun(int index) const;
    cv::Mat takeRunFrame(int index);
    void endRun();
    bool runInterrupted() const;
    void walkRun(int index, int& before, int& after) const;
    cv::Mat applyBrightness(const cv::Mat& image) const;
    void updateDisplayImage();
    void setCurrentFrame(const cv::Mat& frame, int index);
    bool atEnd() const;
    void rewindHoldingLock(bool preview);
    void pace(bool forward, bool preview);

    std::unique_ptr<FrameCapture> capture;
    std::shared_ptr<PlaybackClock> clock;
    QMutex decodeLock;
    QStringList photoFiles;
    DecodedFrameCache frameCache;
    // The cache's size while no stacking run reads.
    int playbackCacheFrames = 0;
    // The range of a stacking run while it reads (prepareRange), and which of its
    // frames it has been handed; empty when no run reads.
    int runFirst = 0;
    std::vector<bool> runHandedOver;
    std::function<bool()> runRequestPending;
    cv::Mat currentFrame;
    cv::Mat displayImage;
    // The index whose pixels currentFrame holds; -1 when it holds none.
    int currentFrameIndex = -1;
    int currentIndex = 0;
    // The frame the capture last grabbed: -1 before the first one, kLostPosition
    // when a failed grab left it unknown. Reads that restore the playback
    // position leave the decoder where it is; steps move it back when needed.
    int decoderIndex = -1;
    // Frame index by presentation time (microseconds), from the scan at opening:
    // tells which frame a seek really landed on.
    std::unordered_map<qint64, int> frameIndexByTime;
    // False when no time names a frame: seeks cannot be checked, so none is made.
    bool timesNameFrames = false;
    QDateTime lastShownTime;
};
