#include "DecodedFrameCache.h"

#include <algorithm>

namespace {

std::size_t pixelBytes(const cv::Mat& frame)
{
    return frame.total() * frame.elemSize();
}

}  // namespace

void DecodedFrameCache::setCapacity(int frames, std::size_t bytes)
{
    maxFrames = std::max(frames, 0);
    maxBytes = bytes;
    dropOldestBeyond(maxFrames, maxBytes);
}

void DecodedFrameCache::keepOnly(int first, int last)
{
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [first, last](const Entry& entry) { return entry.index < first || entry.index > last; }),
                  entries.end());
    heldBytes = 0;
    for (const Entry& entry : entries)
        heldBytes += pixelBytes(entry.frame);
}

bool DecodedFrameCache::contains(int index) const
{
    return std::any_of(entries.begin(), entries.end(), [index](const Entry& entry) { return entry.index == index; });
}

bool DecodedFrameCache::find(int index, cv::Mat& frame)
{
    for (Entry& entry : entries) {
        if (entry.index == index) {
            entry.lastUse = ++useCounter;
            frame = entry.frame;
            return true;
        }
    }
    return false;
}

bool DecodedFrameCache::take(int index, cv::Mat& frame)
{
    const auto found =
        std::find_if(entries.begin(), entries.end(), [index](const Entry& entry) { return entry.index == index; });
    if (found == entries.end())
        return false;
    frame = found->frame;
    heldBytes -= pixelBytes(found->frame);
    entries.erase(found);
    return true;
}

void DecodedFrameCache::insert(int index, const cv::Mat& frame)
{
    if (maxFrames == 0 || frame.empty() || contains(index))
        return;
    const std::size_t bytes = pixelBytes(frame);
    dropOldestBeyond(maxFrames - 1, maxBytes > bytes ? maxBytes - bytes : 0);
    entries.push_back({index, frame, ++useCounter});
    heldBytes += bytes;
}

void DecodedFrameCache::dropOldestBeyond(int frames, std::size_t bytes)
{
    while (!entries.empty() && (static_cast<int>(entries.size()) > frames || heldBytes > bytes)) {
        auto oldest = std::min_element(entries.begin(), entries.end(),
                                       [](const Entry& a, const Entry& b) { return a.lastUse < b.lastUse; });
        heldBytes -= pixelBytes(oldest->frame);
        entries.erase(oldest);
    }
}
