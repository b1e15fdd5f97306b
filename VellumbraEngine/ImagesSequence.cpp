#include "ImagesSequence.h"

#include "ImageIO.h"
#include "Log.h"
#include "VideoFileCapture.h"

#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr float kPhotoFps = 25.0f;
// Reads off the timeline (the stacking order and the searches walk back and forth
// around one frame) decode a run of neighbours with the frame asked for: a seek
// costs as much as decoding dozens of frames.
constexpr int kFreshRunBefore = 16;
constexpr int kFreshRunAfter = 8;
constexpr int kMinWalkRun = 8;
constexpr int kMaxWalkRun = 16;
constexpr size_t kCacheBytes = size_t(384) << 20;
constexpr int kMinCachedFrames = 8;
constexpr int kMaxCachedFrames = 96;

std::string localPath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QString minutesAndSeconds(float seconds)
{
    const int minutes = static_cast<int>(std::floor(seconds / 60.0f));
    const int rest = static_cast<int>(std::floor(seconds - 60.0f * minutes));
    return QString::asprintf("%02d:%02d", minutes, rest);
}

}  // namespace

ImagesSequence::ImagesSequence(const QString& path, std::unique_ptr<FrameCapture> videoCapture,
                               std::shared_ptr<PlaybackClock> playbackClock)
    : videoPath(path),
      capture(videoCapture ? std::move(videoCapture) : std::make_unique<VideoFileCapture>()),
      clock(playbackClock ? std::move(playbackClock) : std::make_shared<SystemPlaybackClock>())
{
    // A file that is there but gives no frame is damaged, not missing.
    const std::string openError = QFileInfo(path).isFile()
                                      ? "The video '" + path.toStdString() +
                                            "' exists but gives no frame: it is damaged or in a form we can not decode."
                                      : "The video '" + path.toStdString() + "' does not exist or we can not open it.";
    if (!capture->open(localPath(path)) || !capture->grab()) {
        logError("main", openError);
        return;
    }
    cv::Mat first;
    if (!capture->retrieve(first) || first.empty()) {
        logError("main", openError);
        return;
    }
    setCurrentFrame(first, 0);
    if (capture->seeksExactly()) {
        // The count comes from the capture's packet index: opening costs the same whatever the length.
        const double reported = capture->get(cv::CAP_PROP_FRAME_COUNT);
        frameCount = std::isfinite(reported) ? static_cast<int>(reported) : 0;
        decoderIndex = 0;
    } else {
        frameCount = scanVideoFrames();
    }
    if (frameCount < 1) {
        logError("main", openError);
        return;
    }
    const size_t frameBytes = first.total() * first.elemSize();
    playbackCacheFrames = static_cast<int>(std::clamp<size_t>(kCacheBytes / frameBytes, kMinCachedFrames, kMaxCachedFrames));
    frameCache.setCapacity(playbackCacheFrames);
    // The first frame is decoded already: rewinding to it converts nothing again.
    frameCache.insert(0, first);
    rewindHoldingLock(false);

    const double reportedFps = capture->get(cv::CAP_PROP_FPS);
    if (std::isfinite(reportedFps) && reportedFps > 0.0) {
        fps = static_cast<float>(reportedFps);
    } else {
        logError("ImagesSequence", "The video '" + path.toStdString() + "' reports no frame rate; 25 fps is assumed.");
        fps = kPhotoFps;
    }
    initSequence();
}

ImagesSequence::ImagesSequence(const QStringList& files, std::shared_ptr<PlaybackClock> playbackClock)
    : isPhotoList(true),
      clock(playbackClock ? std::move(playbackClock) : std::make_shared<SystemPlaybackClock>()),
      photoFiles(files)
{
    photoFiles.sort(Qt::CaseSensitive);
    if (photoFiles.isEmpty()) {
        logError("main", "No image to open.");
        return;
    }
    const cv::Mat first = readPhoto(0, false, "main", "The image'");
    if (first.empty())
        return;
    setCurrentFrame(first, 0);
    frameCount = photoFiles.size();
    fps = kPhotoFps;
    initSequence();
}

ImagesSequence::~ImagesSequence()
{
    if (capture)
        capture->release();
}

void ImagesSequence::initSequence()
{
    updateDisplayImage();
    secondsPerFrame = 1.65f / fps;
    lastShownTime = clock->now();
    // Frames come out upright: OpenCV 4 applies a phone video's rotation tag
    // (CAP_PROP_ORIENTATION_AUTO is on by default), so this is the shape shown.
    aspectRatio = static_cast<float>(currentFrame.cols) / static_cast<float>(currentFrame.rows);
    lastIndex = frameCount - 1;
    duration = static_cast<float>(frameCount - 1) / fps;
    durationLabel = minutesAndSeconds(duration);
    opened = true;
}

// Counts the frames by decoding them all (starting with the one grabbed at
// opening) and notes when each is shown. Reported counts and frame-number seeks
// are both unreliable: variable-rate streams land a frame or two early, and
// containers announce frames that never decode.
int ImagesSequence::scanVideoFrames()
{
    std::vector<qint64> times;
    do
        times.push_back(std::llround(capture->get(cv::CAP_PROP_POS_MSEC) * 1000.0));
    while (capture->grab());
    decoderIndex = kLostPosition;
    frameIndexByTime.clear();
    for (int i = 0; i < static_cast<int>(times.size()); ++i) {
        // A time shared by two frames (often 0 for frames flushed at the end) names neither.
        const auto inserted = frameIndexByTime.emplace(times[i], i);
        if (!inserted.second)
            inserted.first->second = kLostPosition;
    }
    timesNameFrames = std::any_of(frameIndexByTime.begin(), frameIndexByTime.end(),
                                  [](const auto& entry) { return entry.second != kLostPosition; });
    return static_cast<int>(times.size());
}

bool ImagesSequence::reopenCapture()
{
    capture->release();
    decoderIndex = -1;
    if (capture->open(localPath(videoPath)))
        return true;
    decoderIndex = kLostPosition;
    return false;
}

cv::Mat ImagesSequence::readPhoto(int index, bool preview, const char* where, const char* messageStart)
{
    if (index < 0 || index >= photoFiles.size())
        return cv::Mat();
    const QString& path = photoFiles[index];
    cv::Mat image;
    readImage(image, localPath(path), preview);
    if (image.rows == 0 || image.cols == 0) {
        logError(where, messageStart + path.toStdString() + "' does not exist or we can not open it.");
        return cv::Mat();
    }
    return image;
}

cv::Mat& ImagesSequence::getCvImageAt(cv::Mat& output, int index, bool preview, bool restorePosition, bool noLock)
{
    if (index < 0 || index >= frameCount) {
        output.release();
        return output;
    }
    QMutexLocker locker(noLock ? nullptr : &decodeLock);
    if (preview && index == currentFrameIndex) {
        output = currentFrame;
        return output;
    }
    cv::Mat frame;
    if (isPhotoList) {
        frame = readPhoto(index, preview, "getCvImageAt", "The image '");
    } else if (restorePosition && inRun(index)) {
        frame = takeRunFrame(index);
    } else if (restorePosition) {
        int before = 0;
        int after = 0;
        walkRun(index, before, after);
        frame = decodeVideoFrame(index, before, after);
    } else {
        frame = decodeVideoFrame(index, 0, 0);
    }
    if (!restorePosition)
        currentIndex = index;
    output = frame;
    return output;
}

// A read next to cached frames carries the walk on in its direction, by half as
// much as it has covered already; a read elsewhere decodes a run around the frame.
void ImagesSequence::walkRun(int index, int& before, int& after) const
{
    auto cachedRun = [this](int from, int step) {
        int length = 0;
        while (length < 2 * kMaxWalkRun && frameCache.contains(from + step * length))
            ++length;
        return std::clamp(length / 2, kMinWalkRun, kMaxWalkRun) * (length > 0);
    };
    const int forward = cachedRun(index - 1, -1);
    const int backward = forward > 0 ? 0 : cachedRun(index + 1, 1);
    const bool fresh = forward == 0 && backward == 0;
    before = fresh ? kFreshRunBefore : backward;
    after = fresh ? kFreshRunAfter : forward;
}

cv::Mat& ImagesSequence::getFrame(cv::Mat& output, int index, bool preview)
{
    return getCvImageAt(output, index, preview, true, false);
}

bool ImagesSequence::atEnd() const
{
    return currentIndex + 1 >= frameCount || currentIndex >= lastIndex;
}

bool ImagesSequence::isAtEnd()
{
    QMutexLocker locker(&decodeLock);
    return atEnd();
}

int ImagesSequence::getCurrentIndex()
{
    QMutexLocker locker(&decodeLock);
    return currentIndex;
}

cv::Mat& ImagesSequence::getDisplayImageAt(cv::Mat& output, int index, bool preview, bool noLock)
{
    QMutexLocker locker(noLock ? nullptr : &decodeLock);
    if (index < 0 || index >= frameCount) {
        output = displayImage;
        return output;
    }
    cv::Mat frame;
    getCvImageAt(frame, index, preview, false, true);
    setCurrentFrame(frame, index);
    if (preview)
        updateDisplayImage();
    else
        displayImage = currentFrame;
    output = displayImage;
    return output;
}

void ImagesSequence::setCurrentFrame(const cv::Mat& frame, int index)
{
    currentFrame = frame;
    currentFrameIndex = frame.empty() ? -1 : index;
}

QString ImagesSequence::currentFileName()
{
    if (!isPhotoList)
        return videoPath;
    return photoFiles.value(getCurrentIndex());
}

QString ImagesSequence::positionLabel(int index)
{
    if (index == -1)
        index = getCurrentIndex();
    if (isPhotoList)
        return QString::asprintf("%d/%d", index + 1, frameCount);
    // One frame or none has no time span to divide.
    const float seconds = frameCount > 1 ? index * duration / static_cast<float>(frameCount - 1) : 0.0f;
    return minutesAndSeconds(seconds);
}

QString ImagesSequence::infoLabel(int index)
{
    if (!isPhotoList)
        return durationLabel;
    if (index == -1)
        index = getCurrentIndex();
    if (index < 0 || index >= photoFiles.size())
        return QString();
    const QFileInfo file(photoFiles[index]);
    return file.completeBaseName() + "." + file.suffix();
}

cv::Mat ImagesSequence::applyBrightness(const cv::Mat& image) const
{
    if (brightness == 0 || image.empty())
        return image;
    cv::Mat adjusted;
    // convertTo rounds to nearest and saturates at the integer depths' limits.
    image.convertTo(adjusted, -1, std::pow(2.0f, static_cast<float>(brightness) / 3.0f));
    return adjusted;
}

void ImagesSequence::updateDisplayImage()
{
    displayImage = applyBrightness(currentFrame);
}

void ImagesSequence::setBrightness(int value)
{
    QMutexLocker locker(&decodeLock);
    brightness = value;
    updateDisplayImage();
}

void ImagesSequence::setSpeed(int value)
{
    if (value == 0)
        secondsPerFrame = 1.65f / fps;
    else if (value > 0)
        secondsPerFrame = 6.6f / (static_cast<float>(value + 4) * fps);
    else
        secondsPerFrame = static_cast<float>(4 - value) * 1.65f * 0.25f / fps;
}

void ImagesSequence::setFirstIndex(int index)
{
    firstIndex = std::clamp(index, 0, std::max(lastIndex.load(), 0));
}

void ImagesSequence::setLastIndex(int index)
{
    lastIndex = std::clamp(index, firstIndex.load(), std::max(frameCount - 1, firstIndex.load()));
}
