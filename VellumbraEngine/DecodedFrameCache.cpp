#include "DecodedFrameCache.h"

#include <algorithm>

void DecodedFrameCache::setCapacity(int frames)
{
    maxFrames = std::max(frames, 0);
    entries.clear();
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

void DecodedFrameCache::insert(int index, const cv::Mat& frame)
{
    if (maxFrames == 0 || frame.empty() || contains(index))
        return;
    if (static_cast<int>(entries.size()) >= maxFrames) {
        auto oldest = std::min_element(entries.begin(), entries.end(),
                                       [](const Entry& a, const Entry& b) { return a.lastUse < b.lastUse; });
        entries.erase(oldest);
    }
    entries.push_back({index, frame, ++useCounter});
}
