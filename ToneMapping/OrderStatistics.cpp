#include "OrderStatistics.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace {

// Unsigned order of the keys is the numeric order of the floats.
inline std::uint32_t sortKey(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits & 0x80000000u) ? ~bits : (bits | 0x80000000u);
}

}  // namespace

std::vector<float> valuesAtRanks(const cv::Mat& image, const std::vector<size_t>& ranks)
{
    constexpr int kBucketShift = 16;
    const size_t bucketCount = size_t(1) << (32 - kBucketShift);
    const int width = image.cols * image.channels();
    std::vector<std::uint64_t> histogram(bucketCount, 0);
    std::mutex merging;
    cv::parallel_for_(
        cv::Range(0, image.rows),
        [&](const cv::Range& rows) {
            std::vector<std::uint64_t> local(bucketCount, 0);
            for (int r = rows.start; r < rows.end; ++r) {
                const float* v = image.ptr<float>(r);
                for (int i = 0; i < width; ++i)
                    ++local[sortKey(v[i]) >> kBucketShift];
            }
            std::lock_guard<std::mutex> lock(merging);
            for (size_t b = 0; b < bucketCount; ++b)
                histogram[b] += local[b];
        },
        cv::getNumThreads());

    std::vector<float> values;
    for (const size_t rank : ranks) {
        size_t below = 0;
        size_t bucket = 0;
        while (below + histogram[bucket] <= rank)
            below += histogram[bucket++];
        std::vector<float> members;
        members.reserve(histogram[bucket]);
        for (int r = 0; r < image.rows; ++r) {
            const float* v = image.ptr<float>(r);
            for (int i = 0; i < width; ++i)
                if ((sortKey(v[i]) >> kBucketShift) == bucket)
                    members.push_back(v[i]);
        }
        std::nth_element(members.begin(), members.begin() + (rank - below), members.end());
        values.push_back(members[rank - below]);
    }
    return values;
}

