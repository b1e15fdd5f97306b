#pragma once
#include <opencv2/core.hpp>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

// The most recently decoded video frames by index, so that reads walking back
// and forth around one frame do not send the decoder back to a key frame for
// each of them. Entries are never written to; readers copy them, or take them.
class DecodedFrameCache {
public:
    // Keeps at most `frames` entries of at most `bytes` of pixels together,
    // dropping the least recently used first; an entry inserted is always kept.
    void setCapacity(int frames, std::size_t bytes = std::numeric_limits<std::size_t>::max());
    int capacity() const { return maxFrames; }
    // Drops the entries outside first..last.
    void keepOnly(int first, int last);
    bool contains(int index) const;
    // Shares the cached pixels; false when the index is not held.
    bool find(int index, cv::Mat& frame);
    // Hands the entry over and forgets it; false when the index is not held.
    bool take(int index, cv::Mat& frame);
    void insert(int index, const cv::Mat& frame);

private:
    struct Entry {
        int index;
        cv::Mat frame;
        std::uint64_t lastUse;
    };
    void dropOldestBeyond(int frames, std::size_t bytes);

    std::vector<Entry> entries;
    int maxFrames = 0;
    std::size_t maxBytes = std::numeric_limits<std::size_t>::max();
    std::size_t heldBytes = 0;
    std::uint64_t useCounter = 0;
};
