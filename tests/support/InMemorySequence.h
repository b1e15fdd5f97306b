#pragma once
#include "ImagesSequenceBase.h"

#include <vector>

// A frame source over images already in memory (tests, benchmarks). It has no
// playback position: it stands at frame 0.
class InMemorySequence : public ImagesSequenceBase {
public:
    explicit InMemorySequence(std::vector<cv::Mat> frames);

    // A deep copy of frame `index`, so callers may write into it; empty out of range.
    cv::Mat& getFrame(cv::Mat& output, int index, bool preview) override;
    bool isAtEnd() override;
    int numberOfFrames() const override;

private:
    const std::vector<cv::Mat> frames;
};
