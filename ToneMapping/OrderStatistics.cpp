#include "OrderStatistics.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace {

constexpr int kBucketShift = 16;
constexpr size_t kBucketCount = size_t(1) << (32 - kBucketShift);

// Unsigned order of the keys is the numeric order of the floats.
inline std::uint32_t sortKey(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits & 0x80000000u) ? ~bits : (bits | 0x80000000u);
}

inline std::uint32_t bucketOf(float value)
{
    return sortKey(value) >> kBucketShift;
}

// Calls visit(value) for every sample of the rows [first, last) that the mask keeps.
template <typename Visit>
void visitSamples(const cv::Mat& image, const cv::Mat& mask, int first, int last, const Visit& visit)
{
    const int channels = image.channels();
    for (int r = first; r < last; ++r) {
        const float* v = image.ptr<float>(r);
        if (mask.empty()) {
            for (int i = 0; i < image.cols * channels; ++i)
                visit(v[i]);
            continue;
        }
        const uchar* kept = mask.ptr<uchar>(r);
        for (int c = 0; c < image.cols; ++c)
            if (kept[c])
                for (int k = 0; k < channels; ++k)
                    visit(v[c * channels + k]);
    }
}

// Runs gather(first, last) over stripes of rows, one stripe per thread, so that
// each gathers privately and merges its part once.
template <typename Gather>
void gatherByStripes(int rows, const Gather& gather)
{
    cv::parallel_for_(
        cv::Range(0, rows), [&](const cv::Range& stripe) { gather(stripe.start, stripe.end); },
        cv::getNumThreads());
}

}  // namespace

std::vector<float> valuesAtRanks(const cv::Mat& image, const std::vector<size_t>& ranks, const cv::Mat& mask)
{
    std::vector<std::uint64_t> histogram(kBucketCount, 0);
    std::mutex merging;
    gatherByStripes(image.rows, [&](int first, int last) {
        std::vector<std::uint64_t> local(kBucketCount, 0);
        visitSamples(image, mask, first, last, [&](float value) { ++local[bucketOf(value)]; });
        const std::lock_guard<std::mutex> lock(merging);
        for (size_t b = 0; b < kBucketCount; ++b)
            histogram[b] += local[b];
    });

    // Each rank's bucket and its rank within it.
    std::vector<std::uint32_t> buckets;
    std::vector<size_t> inBucket;
    for (const size_t rank : ranks) {
        size_t below = 0;
        std::uint32_t bucket = 0;
        while (below + histogram[bucket] <= rank)
            below += histogram[bucket++];
        buckets.push_back(bucket);
        inBucket.push_back(rank - below);
    }
    std::vector<std::uint32_t> wanted = buckets;
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());

    // The members of every wanted bucket in one pass; their order does not matter
    // to the value at a rank.
    std::vector<std::vector<float>> members(wanted.size());
    for (size_t w = 0; w < wanted.size(); ++w)
        members[w].reserve(histogram[wanted[w]]);
    gatherByStripes(image.rows, [&](int first, int last) {
        std::vector<std::vector<float>> local(wanted.size());
        visitSamples(image, mask, first, last, [&](float value) {
            const auto found = std::lower_bound(wanted.begin(), wanted.end(), bucketOf(value));
            if (found != wanted.end() && *found == bucketOf(value))
                local[found - wanted.begin()].push_back(value);
        });
        const std::lock_guard<std::mutex> lock(merging);
        for (size_t w = 0; w < wanted.size(); ++w)
            members[w].insert(members[w].end(), local[w].begin(), local[w].end());
    });

    std::vector<float> values;
    for (size_t i = 0; i < ranks.size(); ++i) {
        std::vector<float>& bucket = members[std::lower_bound(wanted.begin(), wanted.end(), buckets[i]) - wanted.begin()];
        std::nth_element(bucket.begin(), bucket.begin() + inBucket[i], bucket.end());
        values.push_back(bucket[inBucket[i]]);
    }
    return values;
}
