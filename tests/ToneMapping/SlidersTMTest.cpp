#include "SlidersTM.h"
#include "ToneMapperFactory.h"

#include <gtest/gtest.h>

TEST(SlidersTM, ResultIgnoresParametersAndStaysInRange)
{
    cv::Mat in(17, 23, CV_32FC3);
    cv::RNG(99).fill(in, cv::RNG::UNIFORM, 0.f, 1.5f);
    SlidersTM op;
    const float first[3] = {0.f, 0.f, 0.f};
    const float second[3] = {5.f, -3.f, 20000.f};
    cv::Mat a, b;
    op.apply(a, in, first);
    op.apply(b, in, second);
    ASSERT_EQ(a.size(), in.size());
    ASSERT_EQ(a.type(), CV_32FC3);
    EXPECT_EQ(cv::norm(a, b, cv::NORM_INF), 0.0);
    double low, high;
    cv::minMaxLoc(a.reshape(1), &low, &high);
    EXPECT_GE(low, 0.0);
    EXPECT_LE(high, 1.0);
}

TEST(SlidersTM, AcceptsIntegerInput)
{
    const cv::Mat in(4, 4, CV_16UC3, cv::Scalar::all(32768));
    SlidersTM op;
    cv::Mat out;
    op.apply(out, in, nullptr);
    ASSERT_EQ(out.type(), CV_32FC3);
    cv::Mat asFloat;
    op.apply(asFloat, cv::Mat(4, 4, CV_32FC3, cv::Scalar::all(32768.0 / 65535.0)), nullptr);
    EXPECT_LT(cv::norm(out, asFloat, cv::NORM_INF), 1e-6);
}

TEST(ToneMapperFactory, MakesTheSlidersOperatorAndNothingOutsideTheIndices)
{
    EXPECT_NE(dynamic_cast<SlidersTM*>(makeToneMapper(SlidersTMIndex).get()), nullptr);
    for (int index : {-1, 5, 100})
        EXPECT_EQ(makeToneMapper(index), nullptr) << index;
}
