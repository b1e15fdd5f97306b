#pragma once
#include <opencv2/core.hpp>

#include <functional>
#include <string>

// The few decoder calls the frame source makes, so that tests can stand in a
// capture that miscounts, cannot seek or fails to read.
class FrameCapture {
public:
    virtual ~FrameCapture() = default;

    virtual bool open(const std::string& path) = 0;
    virtual bool isOpened() const = 0;
    virtual void release() = 0;
    // Decodes the next frame; retrieve then converts the last grabbed one.
    virtual bool grab() = 0;
    virtual bool retrieve(cv::Mat& image) = 0;
    // cv::CAP_PROP_* properties.
    virtual bool set(int property, double value) = 0;
    virtual double get(int property) const = 0;
    // True when CAP_PROP_FRAME_COUNT is the exact number of frames and a frame-number
    // seek always lands on the frame asked for: nothing needs decoding to check them.
    virtual bool seeksExactly() const { return false; }
    // A seek that decodes several frames to reach its own stops between them, and
    // fails, once `pending` is true. Cleared by an empty function.
    virtual void interruptSeeksWhen(std::function<bool()> /*pending*/) {}
};
