#include "MissingSamples.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

TEST(MissingSamples, ChannelsFillAsTheyWouldAlone)
{
    cv::Mat image(70, 90, CV_32FC3);
    cv::RNG(4).fill(image, cv::RNG::UNIFORM, -3.0, 2.0);
    cv::Mat known(image.size(), CV_8U, cv::Scalar(255));
    known.rowRange(0, 12).setTo(0);                  // a border
    known(cv::Rect(40, 30, 25, 20)).setTo(0);        // a patch
    const cv::Mat filled = fillMissingSamples(image, known);

    cv::Mat planes[3];
    cv::split(image, planes);
    for (int k = 0; k < 3; ++k) {
        const cv::Mat alone = fillMissingSamples(planes[k], known);
        cv::Mat channel;
        cv::extractChannel(filled, channel, k);
        EXPECT_LE(cv::norm(channel, alone, cv::NORM_INF), 1e-6) << "channel " << k;
        EXPECT_EQ(cv::norm(alone, planes[k], cv::NORM_INF, known), 0.0) << "known samples kept";
        double low = 0.0;
        double high = 0.0;
        cv::minMaxLoc(planes[k], &low, &high);
        double filledLow = 0.0;
        double filledHigh = 0.0;
        cv::minMaxLoc(alone, &filledLow, &filledHigh);
        EXPECT_GE(filledLow, low);  // holes take averages of known values
        EXPECT_LE(filledHigh, high);
    }
}

class MissingSamplesFromOne : public ::testing::TestWithParam<cv::Size> {};

TEST_P(MissingSamplesFromOne, KnownSampleSpreadsOverTheWholeImage)
{
    const cv::Size size = GetParam();
    cv::Mat image(size, CV_32FC3);
    cv::RNG(5).fill(image, cv::RNG::UNIFORM, -3.0, 2.0);
    cv::Mat known = cv::Mat::zeros(size, CV_8U);
    const cv::Point at(size.width * 2 / 3, size.height / 3);
    known.at<uchar>(at) = 255;
    const cv::Mat filled = fillMissingSamples(image, known);
    const cv::Vec3f value = image.at<cv::Vec3f>(at);
    for (int k = 0; k < 3; ++k) {
        cv::Mat channel;
        cv::extractChannel(filled, channel, k);
        EXPECT_LE(cv::norm(channel - value[k], cv::NORM_INF), 1e-5) << "channel " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, MissingSamplesFromOne,
                         ::testing::Values(cv::Size(1, 1), cv::Size(2, 3), cv::Size(37, 23), cv::Size(64, 48),
                                           cv::Size(301, 517)));
