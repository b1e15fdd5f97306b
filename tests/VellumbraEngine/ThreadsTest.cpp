#include "Threads.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace {

int failingCreate(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) { return EAGAIN; }

std::atomic<int> launches{0};
int everyOtherCreate(pthread_t* handle, const pthread_attr_t* attributes, void* (*entry)(void*), void* argument)
{
    return launches++ % 2 ? EAGAIN : pthread_create(handle, attributes, entry, argument);
}

struct HookGuard {
    explicit HookGuard(ThreadCreateHook hook) { setThreadCreateHook(hook); }
    ~HookGuard() { setThreadCreateHook(nullptr); }
};

}  // namespace

TEST(WorkerThreads, JoinWaitsForTheTask)
{
    int total = 5;
    WorkerThreads threads;
    ASSERT_TRUE(threads.start([&total] { total += 37; }));
    threads.join();
    EXPECT_EQ(total, 42);
}

TEST(WorkerThreads, ExceptionInATaskIsCaughtInsideItsThread)
{
    WorkerThreads threads;
    ASSERT_TRUE(threads.start([] { throw std::runtime_error("work failed"); }));
    threads.join();
}

TEST(WorkerThreads, ForcedCreationFailureReturnsFalseWithoutRunningTheTask)
{
    HookGuard failAll(&failingCreate);
    bool ran = false;
    WorkerThreads threads;
    EXPECT_FALSE(threads.start([&ran] { ran = true; }));
    threads.join();
    EXPECT_FALSE(ran);
}

TEST(WorkerThreads, TaskOwnsTheImageItCaptured)
{
    cv::Mat shared(4, 4, CV_8UC1, cv::Scalar(0));
    const cv::Mat keep = shared;  // the thread writes into the same pixels
    WorkerThreads threads;
    {
        cv::Mat callersOwn = shared;
        ASSERT_TRUE(threads.start([callersOwn]() mutable { callersOwn.setTo(9); }));
    }
    shared.release();
    threads.join();
    EXPECT_EQ(keep.at<uchar>(3, 3), 9);
}

TEST(RunOnWorkerThreads, EveryIndexRunsOnceWhetherItsThreadStartsOrNot)
{
    for (ThreadCreateHook hook : {ThreadCreateHook(nullptr), &failingCreate, &everyOtherCreate}) {
        HookGuard guard(hook);
        std::atomic<int> runs[5] = {};
        runOnWorkerThreads(5, [&](int index) { ++runs[index]; });
        for (const std::atomic<int>& count : runs)
            EXPECT_EQ(count.load(), 1);
    }
}

TEST(RunOnWorkerThreads, ABodyThrowingOnTheCallerStillJoinsTheStartedThreads)
{
    launches = 0;
    HookGuard guard(&everyOtherCreate);  // index 0 on a thread, index 1 on the caller
    std::atomic<bool> released{false};
    std::atomic<bool> threadDone{false};
    EXPECT_THROW(runOnWorkerThreads(2,
                                    [&](int index) {
                                        if (index == 1) {
                                            released = true;
                                            throw std::runtime_error("inline work failed");
                                        }
                                        while (!released)
                                            std::this_thread::yield();
                                        threadDone = true;
                                    }),
                 std::runtime_error);
    EXPECT_TRUE(threadDone);
}
