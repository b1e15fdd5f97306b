#include "StackingRunSupport.h"

#include "ImagesSequenceBase.h"
#include "Log.h"

#include <string>

namespace {

const char* const kNeighbourWhere = "parallelComputeLightImage";

std::string unreadableMessage(int index)
{
    return "Error during accessing the image at index " + std::to_string(index) + "\n";
}

}  // namespace

bool stackableDepth(const cv::Mat& image)
{
    return image.depth() == CV_8U || image.depth() == CV_16U || image.depth() == CV_32F;
}

cv::Mat readInstantFrame(ImagesSequenceBase* source, int index, const char* where)
{
    cv::Mat frame;
    if (index < 0 || index >= source->numberOfFrames()) {
        logError(where, "The instant image index " + std::to_string(index) + " is outside the sequence.\n");
        return frame;
    }
    source->getFrame(frame, index, false);
    if (frame.rows == 0 || frame.cols == 0) {
        logError(where, unreadableMessage(index));
        return cv::Mat();
    }
    if (!stackableDepth(frame)) {
        logError(where, "The image at index " + std::to_string(index) + " has a sample depth that cannot be stacked.\n");
        return cv::Mat();
    }
    return frame;
}

bool sameSizeAndType(const cv::Mat& frame, const cv::Mat& instant)
{
    return frame.rows != 0 && frame.cols != 0 && frame.size() == instant.size() && frame.type() == instant.type();
}

NeighbourPlacement placeNeighbour(const FrameAlignment* alignment, bool align, const cv::Mat& frame,
                                  const std::function<bool()>& interrupted)
{
    NeighbourPlacement placement;
    placement.placed = frame;
    if (!alignment)
        return placement;
    try {
        placement.found = alignment->locate(frame, interrupted);
        switch (placement.found.verdict) {
        case FrameAlignment::Verdict::OtherShot:
            placement.outcome = NeighbourPlacement::Outcome::OtherShot;
            break;
        case FrameAlignment::Verdict::Unreliable:
            if (align)
                placement.outcome = NeighbourPlacement::Outcome::Skipped;
            break;
        case FrameAlignment::Verdict::SameShot:
            if (align && interrupted && interrupted()) {
                placement.outcome = NeighbourPlacement::Outcome::Skipped;
            } else if (align) {
                placement.placed = FrameAlignment::moved(frame, placement.found.shift);
                placement.movedBy = placement.found.shift;
            }
            break;
        }
    } catch (...) {
        placement = NeighbourPlacement{};
        placement.failed = true;
        placement.placed = frame;
    }
    return placement;
}

bool neighbourMatchesInstant(const cv::Mat& frame, const cv::Mat& instant, int index)
{
    if (frame.rows == 0 || frame.cols == 0) {
        logError(kNeighbourWhere, unreadableMessage(index));
        return false;
    }
    if (frame.rows != instant.rows || frame.cols != instant.cols) {
        logError(kNeighbourWhere,
                 "The image number " + std::to_string(index) + " has not the same size as the instant image.\n");
        return false;
    }
    if (frame.type() != instant.type()) {
        logError(kNeighbourWhere,
                 "The image number " + std::to_string(index) + " has not the same type as the instant image.\n");
        return false;
    }
    return true;
}

void revisitInstantFrame(ImagesSequenceBase* source, int index)
{
    cv::Mat discarded;
    source->getFrame(discarded, index, true);
}
