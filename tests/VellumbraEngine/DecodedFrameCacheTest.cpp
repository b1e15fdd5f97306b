// The decoded frames kept by index, bounded in frames and in bytes.
#include "DecodedFrameCache.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

constexpr std::size_t kFrameBytes = 64 * 64 * 3;
constexpr std::size_t kUnbounded = std::numeric_limits<std::size_t>::max();

struct BudgetCase {
    const char* name;
    int frames;
    std::size_t bytes;
    std::vector<int> kept;  // of frames 0 to 5 inserted in order
};

class DecodedFrameCacheBudget : public ::testing::TestWithParam<BudgetCase> {};

}  // namespace

TEST_P(DecodedFrameCacheBudget, KeepsTheNewestFramesWithinBothBounds)
{
    const BudgetCase c = GetParam();
    DecodedFrameCache cache;
    cache.setCapacity(c.frames, c.bytes);
    for (int i = 0; i < 6; ++i)
        cache.insert(i, cv::Mat(64, 64, CV_8UC3, cv::Scalar::all(i)));
    std::vector<int> kept;
    for (int i = 0; i < 6; ++i)
        if (cache.contains(i))
            kept.push_back(i);
    EXPECT_EQ(kept, c.kept);
    // What was taken out leaves room for another frame.
    cv::Mat frame;
    ASSERT_TRUE(cache.take(c.kept.back(), frame));
    cache.insert(6, frame);
    EXPECT_TRUE(cache.contains(6));
    EXPECT_EQ(cache.contains(c.kept.front()), c.kept.size() > 1);
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, DecodedFrameCacheBudget,
    ::testing::Values(BudgetCase{"Frames", 4, kUnbounded, {2, 3, 4, 5}},
                      BudgetCase{"Bytes", 10, 3 * kFrameBytes, {3, 4, 5}},
                      BudgetCase{"BytesBelowOneFrame", 10, kFrameBytes / 2, {5}},
                      BudgetCase{"BothTheFramesTighter", 2, 3 * kFrameBytes, {4, 5}}),
    [](const ::testing::TestParamInfo<BudgetCase>& info) { return std::string(info.param.name); });

TEST(DecodedFrameCache, ANewBudgetDropsTheOldestAtOnce)
{
    DecodedFrameCache cache;
    cache.setCapacity(10);
    for (int i = 0; i < 5; ++i)
        cache.insert(i, cv::Mat(64, 64, CV_8UC3, cv::Scalar::all(i)));
    cache.setCapacity(10, 2 * kFrameBytes);
    EXPECT_FALSE(cache.contains(2));
    EXPECT_TRUE(cache.contains(3));
    EXPECT_TRUE(cache.contains(4));
}
