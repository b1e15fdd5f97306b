#pragma once
#include "ImagesSequenceBase.h"

#include <functional>
#include <vector>

namespace stackingtest {

// Frames held in memory that records every read. An empty frame reads as
// unreadable; beforeRead runs before each read (to request a stop, or throw).
class RecordingSequence : public ImagesSequenceBase {
public:
    explicit RecordingSequence(std::vector<cv::Mat> frames, int lastIndex = -1)
        : frames(std::move(frames)), lastIndex(lastIndex)
    {
    }

    cv::Mat& getFrame(cv::Mat& output, int index, bool preview) override
    {
        (preview ? previewReads : reads).push_back(index);
        if (beforeRead)
            beforeRead(index, preview);
        output = index >= 0 && index < numberOfFrames() ? frames[index].clone() : cv::Mat();
        return output;
    }
    bool isAtEnd() override { return false; }
    int numberOfFrames() const override { return static_cast<int>(frames.size()); }
    int lastFrameIndex() const override { return lastIndex >= 0 ? lastIndex : numberOfFrames() - 1; }

    std::vector<int> reads, previewReads;
    std::function<void(int index, bool preview)> beforeRead;

private:
    std::vector<cv::Mat> frames;
    int lastIndex;
};

}  // namespace stackingtest
