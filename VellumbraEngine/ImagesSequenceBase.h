#pragma once
#include <opencv2/core.hpp>

#include <functional>

// The frame source interface: numbered frames of a video, a burst of photos or
// images held in memory.
class ImagesSequenceBase {
public:
    virtual ~ImagesSequenceBase() = default;

    // Decodes frame `index` into `output` (a reduced-size frame when `preview`)
    // and returns `output`; an empty image when the frame cannot be read.
    virtual cv::Mat& getFrame(cv::Mat& output, int index, bool preview) = 0;
    virtual bool isAtEnd() = 0;

    // Number of frames, and the index of the last one a walk through the frames
    // may read (the end of the playback range for sources that have one).
    virtual int numberOfFrames() const = 0;
    virtual int lastFrameIndex() const { return numberOfFrames() - 1; }

    // Frames first .. first + count - 1 are about to be read once each, walking out
    // from one of them (a stacking run): a source that decodes keeps no more of them
    // than that walk needs.
    virtual void prepareRange(int /*first*/, int /*count*/) {}
    // While set, the run's reads stop decoding between frames once `pending` is
    // true: the frame read then may come back empty. Cleared by an empty function.
    virtual void interruptReadsWhen(std::function<bool()> /*pending*/) {}
};
