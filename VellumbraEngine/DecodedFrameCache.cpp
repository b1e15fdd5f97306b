#include "DecodedFrameCache.h"

#include <algorithm>

void DecodedFrameCache::setCapacity(int frames)
{
    maxFrames = std::max(frames, 0);
    dropOldestBeyond(maxFrames);
}

void DecodedFrameCache::keepOnly(int first, int last)
{
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [first, last](const Entry& entry) { return entry.index < first || entry.index > last; }),
                  entries.end());
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
    entries.erase(found);
    return true;
}

void DecodedFrameCache::insert(int index, const cv::Mat& frame)
{
    if (maxFrames == 0 || frame.empty() || contains(index))
        return;
    dropOldestBeyond(maxFrames - 1);
    entries.push_back({index, frame, ++useCounter});
}

void DecodedFrameCache::dropOldestBeyond(int frames)
{
    while (static_cast<int>(entries.size()) > frames) {
        auto oldest = std::min_element(entries.begin(), entries.end(),
                                       [](const Entry& a, const Entry& b) { return a.lastUse < b.lastUse; });
        entries.erase(oldest);
    }
}
