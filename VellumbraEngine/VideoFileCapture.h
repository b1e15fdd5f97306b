#pragma once
#include "FrameCapture.h"

#include <memory>

// Video files decoded through libavformat and libavcodec directly. cv::VideoCapture
// seeks by the container's key-frame flags and guesses from timestamps where it
// landed: on a file that lost its index (cut short) every packet may claim to be a
// key frame, and its seeks land on predicted frames. Here the packets are indexed
// without decoding, a seek starts only at a packet that decodes as a real key frame
// (else at an earlier one, at worst at the start), and frames are numbered by
// counting packets, so the frame at any index is the one a sequential decode gives.
// Pixels are converted exactly as cv::VideoCapture converts them (bicubic swscale
// to BGR over the coded size, the stream's rotation applied), so frames equal its own.
class VideoFileCapture : public FrameCapture {
public:
    VideoFileCapture();
    ~VideoFileCapture() override;

    bool open(const std::string& path) override;
    bool isOpened() const override;
    void release() override;
    bool grab() override;
    bool retrieve(cv::Mat& image) override;
    // CAP_PROP_POS_FRAMES: the next grab gives exactly that frame.
    bool set(int property, double value) override;
    // CAP_PROP_FRAME_COUNT is the exact count, from the packet index.
    double get(int property) const override;
    bool seeksExactly() const override { return true; }
    // Kept for the files opened later; opening itself is never interrupted.
    void interruptSeeksWhen(std::function<bool()> pending) override;

private:
    struct Decoder;
    std::unique_ptr<Decoder> decoder;
    std::function<bool()> seekInterrupted;
};
