#include "AccumulateThread.h"
#include "LinearAccumulator.h"
#include "StackingContext.h"
#include "Threads.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr double kTwoFrameMean = 0.7297400528407231;  // 0.5^(1/2.2)

cv::Mat meanOfFrames(int bits, const std::vector<cv::Mat>& frames)
{
    StackingContext context;
    initLinearAccumulator(bits, frames[0], &context);
    for (std::size_t i = 1; i < frames.size(); ++i)
        addToLinearAccumulator(bits, frames[i], &context);
    cv::Mat out;
    EXPECT_TRUE(finishLinearMean(&context, bits, out));
    return out;
}

int failingCreate(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)
{
    return EAGAIN;
}

}  // namespace

TEST(StackingContext, RequestsAreHonouredOnlyWhileRunning)
{
    StackingContext context;
    EXPECT_EQ(context.request, 0);
    context.requestStop();
    context.requestCancel();
    EXPECT_EQ(context.request, 0);

    context.running = true;
    context.requestStop();
    EXPECT_EQ(context.request, StackingContext::RequestStop);
    context.running = false;
    EXPECT_EQ(context.request, StackingContext::RequestStop);  // kept for the caller to read
    context.requestCancel();
    EXPECT_EQ(context.request, StackingContext::RequestStop);

    context.running = true;
    context.requestCancel();
    EXPECT_EQ(context.request, StackingContext::RequestCancel);
}

struct RoundTripCase {
    int bits;
    int type;
    double value;
    float expected;
};

class LinearMeanRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(LinearMeanRoundTrip, OneFrameComesBackInUnitScale)
{
    const RoundTripCase c = GetParam();
    const cv::Mat frame(5, 7, c.type, cv::Scalar::all(c.value));
    const cv::Mat out = meanOfFrames(c.bits, {frame});
    ASSERT_EQ(out.type(), CV_MAKETYPE(CV_32F, frame.channels()));
    ASSERT_EQ(out.size(), frame.size());
    double low, high;
    cv::minMaxLoc(out.reshape(1), &low, &high);
    EXPECT_NEAR(low, c.expected, 1e-6);
    EXPECT_NEAR(high, c.expected, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(
    Depths, LinearMeanRoundTrip,
    ::testing::Values(RoundTripCase{8, CV_8UC3, 255, 1.0f}, RoundTripCase{8, CV_8UC3, 0, 0.0f},
                      RoundTripCase{8, CV_8UC1, 51, 0.2f}, RoundTripCase{16, CV_16UC3, 65535, 1.0f},
                      RoundTripCase{16, CV_16UC3, 13107, 0.2f}, RoundTripCase{32, CV_32FC3, 0.25, 0.25f},
                      RoundTripCase{32, CV_32FC1, 1.0, 1.0f}));

TEST(LinearAccumulator, AveragesInLinearLight)
{
    const cv::Mat black(4, 4, CV_8UC3, cv::Scalar::all(0)), white(4, 4, CV_8UC3, cv::Scalar::all(255));
    const cv::Mat out = meanOfFrames(8, {black, white});
    EXPECT_NEAR(out.at<cv::Vec3f>(2, 3)[1], kTwoFrameMean, 1e-6);

    const cv::Mat black16(4, 4, CV_16UC1, cv::Scalar(0)), white16(4, 4, CV_16UC1, cv::Scalar(65535));
    EXPECT_NEAR(meanOfFrames(16, {white16, black16, black16, white16}).at<float>(0, 0), kTwoFrameMean, 1e-6);
}

TEST(LinearAccumulator, TableSumsEqualThePowerOfEverySample)
{
    cv::Mat frame8(31, 17, CV_8UC3), frame16(31, 17, CV_16UC3);
    cv::RNG rng(7);
    rng.fill(frame8, cv::RNG::UNIFORM, 0, 256);
    rng.fill(frame16, cv::RNG::UNIFORM, 0, 65536);
    for (const cv::Mat& frame : {frame8, frame16}) {
        StackingContext context;
        const int bits = frame.depth() == CV_8U ? 8 : 16;
        initLinearAccumulator(bits, frame, &context);
        addToLinearAccumulator(bits, frame, &context);
        StackingContext onePass;
        initLinearAccumulator(bits, frame, frame, &onePass);
        EXPECT_EQ(cv::norm(onePass.linearAccumulator, context.linearAccumulator, cv::NORM_INF), 0.0);
        EXPECT_EQ(onePass.accumulatedCount, 2);
        cv::Mat asDouble;
        frame.convertTo(asDouble, CV_64F);
        for (int i = 0; i < int(asDouble.total() * 3); ++i) {
            const double sample = asDouble.ptr<double>()[i];
            ASSERT_EQ(context.linearAccumulator.ptr<double>()[i], std::pow(sample, 2.2) + std::pow(sample, 2.2));
        }
        EXPECT_EQ(context.accumulatedCount, 2);
    }
}

TEST(LinearAccumulator, NegativeAndNonFiniteFloatSamplesCountAsBlack)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const cv::Mat bad = (cv::Mat_<float>(1, 4) << -0.5f, nan, inf, -inf);
    const cv::Mat white(1, 4, CV_32F, cv::Scalar(1.0));
    const cv::Mat out = meanOfFrames(32, {bad, white});
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(out.at<float>(0, i), kTwoFrameMean, 1e-6) << "sample " << i;
}

TEST(LinearAccumulator, RefusesWhatItCannotAverage)
{
    StackingContext context;
    cv::Mat out(2, 2, CV_8U, cv::Scalar(9));
    EXPECT_FALSE(finishLinearMean(&context, 8, out));  // nothing accumulated
    EXPECT_EQ(out.type(), CV_8U);

    const cv::Mat frame(3, 3, CV_8UC3, cv::Scalar::all(10));
    initLinearAccumulator(64, frame, &context);
    initLinearAccumulator(16, frame, &context);  // depth does not match bits
    EXPECT_EQ(context.accumulatedCount, 0);
    initLinearAccumulator(8, frame, &context);
    addToLinearAccumulator(7, frame, &context);
    addToLinearAccumulator(8, cv::Mat(4, 3, CV_8UC3, cv::Scalar::all(1)), &context);
    addToLinearAccumulator(8, cv::Mat(3, 3, CV_8UC1, cv::Scalar(1)), &context);
    EXPECT_EQ(context.accumulatedCount, 1);
    initLinearAccumulator(8, frame, cv::Mat(4, 3, CV_8UC3, cv::Scalar::all(1)), &context);  // second refused
    EXPECT_EQ(context.accumulatedCount, 1);
    EXPECT_FALSE(finishLinearMean(&context, 64, out));
    EXPECT_EQ(out.type(), CV_8U);
    EXPECT_TRUE(finishLinearMean(&context, 8, out));
    EXPECT_EQ(out.type(), CV_32FC3);
}

TEST(AccumulateThread, AddsTheFrameOnItsOwnThread)
{
    StackingContext context;
    cv::Mat frame(8, 8, CV_8UC3, cv::Scalar::all(255));
    initLinearAccumulator(8, cv::Mat(8, 8, CV_8UC3, cv::Scalar::all(0)), &context);
    WorkerThreads threads;
    ASSERT_TRUE(launchAccumulateThread(threads, 8, frame, &context));
    frame.release();  // the thread keeps its own reference
    threads.join();
    EXPECT_EQ(context.accumulatedCount, 2);
    cv::Mat out;
    ASSERT_TRUE(finishLinearMean(&context, 8, out));
    EXPECT_NEAR(out.at<cv::Vec3f>(7, 7)[2], kTwoFrameMean, 1e-6);
}

TEST(AccumulateThread, ReportsAThreadThatCannotStart)
{
    StackingContext context;
    const cv::Mat frame(8, 8, CV_8UC1, cv::Scalar(3));
    initLinearAccumulator(8, frame, &context);
    setThreadCreateHook(&failingCreate);
    WorkerThreads threads;
    const bool started = launchAccumulateThread(threads, 8, frame, &context);
    setThreadCreateHook(nullptr);
    EXPECT_FALSE(started);
    EXPECT_EQ(context.accumulatedCount, 1);
}
