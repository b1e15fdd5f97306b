#include "InMemorySequence.h"

InMemorySequence::InMemorySequence(std::vector<cv::Mat> frames) : frames(std::move(frames)) {}

cv::Mat& InMemorySequence::getFrame(cv::Mat& output, int index, bool)
{
    if (index < 0 || index >= numberOfFrames())
        output.release();
    else
        output = frames[static_cast<size_t>(index)].clone();
    return output;
}

bool InMemorySequence::isAtEnd()
{
    return numberOfFrames() <= 1;
}

int InMemorySequence::numberOfFrames() const
{
    return static_cast<int>(frames.size());
}
