// Positioning the decoder and stepping through the frames of an ImagesSequence.
#include "ImagesSequence.h"

#include <QMutexLocker>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <cmath>

namespace {

// Up to this many frames ahead, grabbing forward is cheaper than seeking, which
// restarts the decoder from an earlier key frame (phones put one every 30 or so).
constexpr int kForwardGrabLimit = 48;
// Backward steps fill the cache with the frames before them, so stepping or
// playing backwards seeks once per this many frames.
constexpr int kBackwardStepWindow = 15;
// First step back when a seek overshoots.
constexpr int kSeekMargin = 8;
// A run's frames decoded on the way to a read wait in this many bytes at most,
// whatever the range: the rest of a long range is decoded again when its turn comes.
constexpr std::size_t kRunCacheBytes = std::size_t(96) << 20;

}  // namespace

// The frame the capture has just grabbed, known by its presentation time.
int ImagesSequence::grabbedFrameIndex() const
{
    const auto found = frameIndexByTime.find(std::llround(capture->get(cv::CAP_PROP_POS_MSEC) * 1000.0));
    return found == frameIndexByTime.end() ? kLostPosition : found->second;
}

bool ImagesSequence::grabForwardTo(int index)
{
    while (decoderIndex < index) {
        if (runInterrupted())
            return false;
        if (!capture->grab()) {
            decoderIndex = kLostPosition;
            return false;
        }
        ++decoderIndex;
    }
    return decoderIndex == index;
}

// True when a seek leaves the capture on a known frame at or before `index`. A
// seek is trusted only as far as the frame it lands on can be named by its time;
// when it lands past the index, it aims further back.
bool ImagesSequence::seekAtOrBefore(int index)
{
    if (capture->seeksExactly()) {
        // The next grab gives the frame itself.
        const bool placed = capture->set(cv::CAP_PROP_POS_FRAMES, index);
        decoderIndex = placed ? index - 1 : kLostPosition;
        return placed;
    }
    if (!timesNameFrames)
        return false;
    for (int margin = 0;; margin = margin == 0 ? kSeekMargin : 2 * margin) {
        const int target = std::max(index - margin, 0);
        if (!capture->set(cv::CAP_PROP_POS_FRAMES, target))
            return false;  // refused: the capture has not moved
        decoderIndex = capture->grab() ? grabbedFrameIndex() : kLostPosition;
        if (decoderIndex != kLostPosition && decoderIndex <= index)
            return true;
        if (target == 0)
            return false;
    }
}

// Leaves the capture standing on frame `index` (grabbed, ready to retrieve).
bool ImagesSequence::placeDecoderAt(int index)
{
    if (decoderIndex == index)
        return true;
    const bool shortHopForward = decoderIndex != kLostPosition && index > decoderIndex &&
                                 index - decoderIndex <= kForwardGrabLimit;
    if (shortHopForward || seekAtOrBefore(index))
        return grabForwardTo(index);
    // No usable seek: grab forward, from the start when behind.
    if ((decoderIndex == kLostPosition || index < decoderIndex) && !reopenCapture())
        return false;
    return grabForwardTo(index);
}

// Frames first..last that the cache lacks, decoded into it; stops at a frame the decoder cannot reach.
void ImagesSequence::decodeIntoCache(int first, int last)
{
    if (!placeDecoderAt(first))
        return;
    for (int i = first; i <= last; ++i) {
        if (i > first && !grabForwardTo(i))
            return;
        cv::Mat decoded;
        if (!frameCache.contains(i) && capture->retrieve(decoded))
            frameCache.insert(i, decoded);
    }
}

cv::Mat ImagesSequence::decodeVideoFrame(int index, int before, int after)
{
    endRun();
    cv::Mat frame;
    if (!frameCache.find(index, frame)) {
        // The run must fit the cache with room to spare, or it would evict itself.
        before = std::min(before, frameCache.capacity() / 2);
        after = std::min(after, frameCache.capacity() / 2);
        // Frames already held bound the run to decode, so no frame is decoded twice.
        int first = std::max(index - before, 0);
        while (first < index && frameCache.contains(first))
            ++first;
        int last = index;
        while (last < index + after && last + 1 < frameCount && !frameCache.contains(last + 1))
            ++last;
        decodeIntoCache(first, last);
        if (!frameCache.find(index, frame))
            return cv::Mat();
    }
    return frame.clone();
}

void ImagesSequence::prepareRange(int first, int count)
{
    QMutexLocker locker(&decodeLock);
    first = std::max(first, 0);
    count = std::min(count, frameCount - first);
    if (isPhotoList || count < 1)
        return;
    runFirst = first;
    runHandedOver.assign(static_cast<size_t>(count), false);
    capture->interruptSeeksWhen([this] { return runInterrupted(); });
    frameCache.keepOnly(first, first + count - 1);
    frameCache.setCapacity(count, kRunCacheBytes);
}

void ImagesSequence::interruptReadsWhen(std::function<bool()> pending)
{
    QMutexLocker locker(&decodeLock);
    runRequestPending = std::move(pending);
}

// Each 4K frame takes tens of milliseconds to decode: a run's read that passes
// many of them would keep a cancel or a stop waiting.
bool ImagesSequence::runInterrupted() const
{
    return !runHandedOver.empty() && runRequestPending && runRequestPending();
}

bool ImagesSequence::inRun(int index) const
{
    return index >= runFirst && index - runFirst < static_cast<int>(runHandedOver.size());
}

void ImagesSequence::endRun()
{
    if (runHandedOver.empty())
        return;
    runHandedOver.clear();
    frameCache.setCapacity(playbackCacheFrames);
}

// The run walks out from one frame: the frames after it come in decoding order,
// those before it in reverse, so only the frames passed on the way to a read and
// not read yet are kept, and each leaves the cache as it is handed over.
cv::Mat ImagesSequence::takeRunFrame(int index)
{
    cv::Mat frame;
    if (!frameCache.take(index, frame)) {
        int first = index;
        while (inRun(first - 1) && !runHandedOver[static_cast<size_t>(first - 1 - runFirst)] &&
               !frameCache.contains(first - 1))
            --first;
        decodeIntoCache(first, index);
        frameCache.take(index, frame);
    }
    runHandedOver[static_cast<size_t>(index - runFirst)] = true;
    // The frame shown since opening came from the cache with its pixels.
    return frame.data == currentFrame.data ? frame.clone() : frame;
}

void ImagesSequence::seek(int index)
{
    QMutexLocker locker(&decodeLock);
    if (index == currentIndex || index < 0 || index >= frameCount)
        return;
    if (!isPhotoList)
        placeDecoderAt(index);
    currentIndex = index;
}

void ImagesSequence::rewindHoldingLock(bool preview)
{
    const int first = firstIndex;
    // A video frame on display already is the one a decode would give (opening shows frame 0).
    if (!isPhotoList && currentFrameIndex == first) {
        updateDisplayImage();
        currentIndex = first;
        return;
    }
    const cv::Mat frame = isPhotoList ? readPhoto(first, preview, "main", "The image'") : decodeVideoFrame(first, 0, 0);
    if (!frame.empty()) {
        setCurrentFrame(frame, first);
        updateDisplayImage();
    }
    currentIndex = first;
}

void ImagesSequence::rewind(bool preview)
{
    QMutexLocker locker(&decodeLock);
    rewindHoldingLock(preview);
}

void ImagesSequence::pace(bool forward, bool preview)
{
    if (!(secondsPerFrame > 0.0f))
        return;
    const QDateTime now = clock->now();
    // A clock set back would otherwise ask for a long sleep under the lock.
    const float elapsed = std::max(static_cast<float>(lastShownTime.msecsTo(now)) / 1000.0f, 0.0f);
    const float remaining = secondsPerFrame - elapsed;
    lastShownTime = now;
    if (remaining > 0.0f) {
        if (forward)
            clock->sleepMicroseconds(static_cast<qint64>(remaining * 1e6f));
        else
            clock->sleepMicroseconds(static_cast<qint64>(remaining * 1000.0f) * 1000);
        // The frame shows after the sleep; counting from before it would let every
        // other frame through at once and play at about twice the speed.
        lastShownTime = clock->now();
        return;
    }
    // After 0.1 s the interface was busy rather than the decoder slow: no skip.
    if (elapsed >= 0.1f)
        return;
    const int skip = static_cast<int>(std::min(-remaining / secondsPerFrame, static_cast<float>(frameCount)));
    if (skip < 1)
        return;
    // The skip stops one frame inside the range, so the step itself ends on its edge at most.
    const int target = forward ? std::min(currentIndex + skip, lastIndex - 1) : std::max(currentIndex - skip, firstIndex + 1);
    if (forward ? target > currentIndex : target < currentIndex) {
        cv::Mat shown;
        getDisplayImageAt(shown, target, preview, true);
    }
}

cv::Mat& ImagesSequence::nextFrame(cv::Mat& output, bool paced, bool preview)
{
    QMutexLocker locker(&decodeLock);
    if (paced)
        pace(true, preview);
    if (!atEnd()) {
        const int next = currentIndex + 1;
        cv::Mat frame;
        if (isPhotoList) {
            currentIndex = next;
            frame = readPhoto(next, preview, "main", "The image'");
        } else {
            frame = decodeVideoFrame(next, 0, 0);
            if (!frame.empty())
                currentIndex = next;
        }
        // A photo that cannot be read shows as such (empty), never as its neighbour;
        // a video frame that cannot be decoded leaves the previous one on display.
        if (!frame.empty() || isPhotoList) {
            setCurrentFrame(frame, next);
            updateDisplayImage();
        }
    }
    output = displayImage;
    return output;
}

cv::Mat& ImagesSequence::previousFrame(cv::Mat& output, bool paced, bool preview)
{
    QMutexLocker locker(&decodeLock);
    if (currentIndex < 1 || currentIndex <= firstIndex) {
        output = displayImage;
        return output;
    }
    if (paced)
        pace(false, preview);
    --currentIndex;
    const cv::Mat frame = isPhotoList ? readPhoto(currentIndex, preview, "main", "The image'")
                                      : decodeVideoFrame(currentIndex, kBackwardStepWindow, 0);
    if (!frame.empty() || isPhotoList)
        setCurrentFrame(frame, currentIndex);
    updateDisplayImage();
    output = displayImage;
    return output;
}

cv::Mat& ImagesSequence::playNextFrame(cv::Mat& output, bool preview)
{
    return nextFrame(output, true, preview);
}

cv::Mat& ImagesSequence::playPreviousFrame(cv::Mat& output, bool preview)
{
    return previousFrame(output, true, preview);
}
