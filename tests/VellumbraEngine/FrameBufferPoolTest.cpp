// The buffers a stacking run reuses: none handed out while shared, and taken from
// the pool only on the thread of a run's scope.
#include "FrameBufferPool.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

const cv::Size kSize(64, 48);

}  // namespace

TEST(FrameBufferPool, HandsABufferOutAgainOnlyOnceNothingSharesIt)
{
    FrameBufferPool pool;
    cv::Mat first = pool.take(kSize, CV_8UC3);
    const uchar* pixels = first.data;
    EXPECT_NE(pool.take(kSize, CV_8UC3).data, pixels);
    cv::Mat keptElsewhere = first;
    first.release();
    EXPECT_NE(pool.take(kSize, CV_8UC3).data, pixels);
    keptElsewhere.release();
    EXPECT_EQ(pool.take(kSize, CV_8UC3).data, pixels);
}

TEST(FrameBufferPool, ServesOnlyItsSizeAndTypeAndOnlyInsideAScope)
{
    FrameBufferPool pool;
    const uchar* pixels = pool.take(kSize, CV_8UC3).data;
    EXPECT_NE(pool.take(cv::Size(48, 64), CV_8UC3).data, pixels);
    EXPECT_NE(pool.take(kSize, CV_8UC1).data, pixels);
    EXPECT_NE(runBuffer(kSize, CV_8UC3).data, pixels);
    {
        const FrameBufferPool::Scope scope(&pool);
        EXPECT_EQ(runBuffer(kSize, CV_8UC3).data, pixels);
        std::thread([] { EXPECT_EQ(FrameBufferPool::current(), nullptr); }).join();
        {
            const FrameBufferPool::Scope none(nullptr);
            EXPECT_NE(runBuffer(kSize, CV_8UC3).data, pixels);
        }
        EXPECT_EQ(FrameBufferPool::current(), &pool);
    }
    EXPECT_EQ(FrameBufferPool::current(), nullptr);
}
