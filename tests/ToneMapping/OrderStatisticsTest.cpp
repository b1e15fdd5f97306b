#include "OrderStatistics.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <algorithm>
#include <vector>

TEST(OrderStatistics, MatchTheSortedSamplesAtEveryRank)
{
    cv::Mat image(37, 53, CV_32FC3);
    cv::RNG(1).fill(image, cv::RNG::NORMAL, 0.0, 1000.0);
    image.rowRange(0, 5).setTo(cv::Scalar::all(2.5));  // many equal samples
    image.at<float>(3, 7) = -0.0f;
    const cv::Mat flat = image.reshape(1, 1);
    std::vector<float> sorted(flat.begin<float>(), flat.end<float>());
    std::sort(sorted.begin(), sorted.end());

    const std::vector<size_t> ranks = {0, 1, sorted.size() / 100, sorted.size() / 2, sorted.size() * 99 / 100,
                                       sorted.size() - 1};
    const std::vector<float> values = valuesAtRanks(image, ranks);
    ASSERT_EQ(values.size(), ranks.size());
    for (size_t i = 0; i < ranks.size(); ++i)
        EXPECT_EQ(values[i], sorted[ranks[i]]) << "rank " << ranks[i];
}

TEST(OrderStatistics, FlatImageGivesItsValueAtAnyRank)
{
    const cv::Mat flat(10, 10, CV_32FC3, cv::Scalar::all(0.75));
    const std::vector<float> values = valuesAtRanks(flat, {0, 150, 299});
    EXPECT_EQ(values, std::vector<float>({0.75f, 0.75f, 0.75f}));
}

TEST(OrderStatistics, MaskLeavesItsZeroPixelsOut)
{
    cv::Mat image(41, 29, CV_32FC3);
    cv::RNG(2).fill(image, cv::RNG::UNIFORM, -50.0, 50.0);
    cv::Mat mask(image.size(), CV_8U);
    cv::RNG(3).fill(mask, cv::RNG::UNIFORM, 0, 2);
    std::vector<float> kept;
    for (int r = 0; r < image.rows; ++r)
        for (int c = 0; c < image.cols; ++c)
            if (mask.at<uchar>(r, c))
                for (int k = 0; k < 3; ++k)
                    kept.push_back(image.at<cv::Vec3f>(r, c)[k]);
    std::sort(kept.begin(), kept.end());

    const std::vector<size_t> ranks = {0, kept.size() / 100, kept.size() * 99 / 100, kept.size() - 1};
    const std::vector<float> values = valuesAtRanks(image, ranks, mask);
    for (size_t i = 0; i < ranks.size(); ++i)
        EXPECT_EQ(values[i], kept[ranks[i]]) << "rank " << ranks[i];
}
