#include "Threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

namespace {

int failingCreate(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) { return EAGAIN; }

struct HookGuard {
    explicit HookGuard(ThreadCreateHook hook) { setThreadCreateHook(hook); }
    ~HookGuard() { setThreadCreateHook(nullptr); }
};

void addArguments(void* total, void* amount)
{
    *static_cast<int*>(total) += *static_cast<int*>(amount);
}

void throwingWork(void*, void*) { throw std::runtime_error("work failed"); }

void fillImage(cv::Mat& image, void* value) { image.setTo(*static_cast<int*>(value)); }

void sumPair(cv::Mat& a, cv::Mat& b, void* result, float weight)
{
    *static_cast<double*>(result) = (cv::sum(a)[0] + cv::sum(b)[0]) * weight;
}

}  // namespace

TEST(LaunchWorkerThread, PassesBothArgumentsAndJoins)
{
    int total = 5;
    int amount = 37;
    pthread_t handle;
    ASSERT_TRUE(launchWorkerThread(&addArguments, &total, &amount, &handle));
    ASSERT_EQ(pthread_join(handle, nullptr), 0);
    EXPECT_EQ(total, 42);
}

TEST(LaunchWorkerThread, ExceptionInWorkIsCaughtInsideTheThread)
{
    pthread_t handle;
    ASSERT_TRUE(launchWorkerThread(&throwingWork, nullptr, nullptr, &handle));
    EXPECT_EQ(pthread_join(handle, nullptr), 0);
}

TEST(LaunchWorkerThread, ForcedCreationFailureReturnsFalseAndCallerRunsSliceInline)
{
    HookGuard failAll(&failingCreate);
    int total = 1;
    int amount = 2;
    pthread_t handle;
    const bool started = launchWorkerThread(&addArguments, &total, &amount, &handle);
    EXPECT_FALSE(started);
    if (!started)
        addArguments(&total, &amount);
    EXPECT_EQ(total, 3);
}

TEST(LaunchFftBlurThread, ImageOutlivesCallersReference)
{
    int value = 9;
    cv::Mat shared(4, 4, CV_8UC1, cv::Scalar(0));
    const cv::Mat keep = shared;  // the thread writes into the same pixels
    pthread_t handle;
    {
        cv::Mat callersOwn = shared;
        ASSERT_TRUE(launchFftBlurThread(&fillImage, callersOwn, &value, &handle));
    }
    shared.release();
    ASSERT_EQ(pthread_join(handle, nullptr), 0);
    EXPECT_EQ(keep.at<uchar>(3, 3), 9);
}

TEST(LaunchMatPairThread, PassesImagesPointerAndFloat)
{
    double result = 0;
    pthread_t handle;
    ASSERT_TRUE(launchMatPairThread(&sumPair, cv::Mat(2, 2, CV_32FC1, cv::Scalar(1)),
                                    cv::Mat(2, 2, CV_32FC1, cv::Scalar(2)), &result, 0.5f, &handle));
    ASSERT_EQ(pthread_join(handle, nullptr), 0);
    EXPECT_DOUBLE_EQ(result, 6.0);

    HookGuard failAll(&failingCreate);
    EXPECT_FALSE(launchMatPairThread(&sumPair, cv::Mat(), cv::Mat(), &result, 1.f, &handle));
}
