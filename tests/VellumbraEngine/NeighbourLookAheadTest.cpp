// Frames prepared ahead of an automatic run: none once the run is asked to end,
// none beyond a cut to another shot.
#include "FrameAlignment.h"
#include "NeighbourLookAhead.h"
#include "StackingContext.h"
#include "Threads.h"

#include "StackingClips.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

const cv::Size kSize(640, 360);
constexpr int kInstant = 5;

struct RequestCase {
    const char* name;
    StackingContext::Request request;
    bool prepared;
    bool threadsStart = true;  // false: its threads cannot start, the caller prepares
};

int failingCreate(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)
{
    return EAGAIN;
}

class NeighbourLookAheadRequest : public ::testing::TestWithParam<RequestCase> {};

}  // namespace

TEST_P(NeighbourLookAheadRequest, PreparesNothingOnceTheRunIsAskedToEnd)
{
    const RequestCase c = GetParam();
    const cv::Mat garden = stackingtest::gardenPhoto(kSize);
    if (garden.empty())
        GTEST_SKIP() << "test photograph not available";
    const cv::Mat instant = stackingtest::withNoise(garden, 4.0, 1);
    StackingContext context;
    context.running = true;
    const FrameAlignment alignment(instant, true);
    if (!c.threadsStart)
        setThreadCreateHook(&failingCreate);
    NeighbourLookAhead lookAhead(context, instant, kInstant, &alignment, true);
    setThreadCreateHook(nullptr);
    if (c.request == StackingContext::RequestCancel)
        context.requestCancel();
    if (c.request == StackingContext::RequestStop)
        context.requestStop();
    lookAhead.prepare(kInstant + 1, stackingtest::withNoise(stackingtest::shifted(garden, 3, -2), 4.0, 2));
    const PreparedNeighbour neighbour = lookAhead.take(kInstant + 1);
    EXPECT_EQ(neighbour.placedAhead, c.prepared);
    EXPECT_EQ(neighbour.estimatedPower > 0, c.prepared);
    EXPECT_FALSE(neighbour.frame.empty());
}

INSTANTIATE_TEST_SUITE_P(Requests, NeighbourLookAheadRequest,
                         ::testing::Values(RequestCase{"None", StackingContext::RequestNone, true},
                                           RequestCase{"Cancel", StackingContext::RequestCancel, false},
                                           RequestCase{"Stop", StackingContext::RequestStop, false},
                                           RequestCase{"NoneWithoutThreads", StackingContext::RequestNone, true, false},
                                           RequestCase{"CancelWithoutThreads", StackingContext::RequestCancel, false,
                                                       false}),
                         [](const ::testing::TestParamInfo<RequestCase>& info) { return std::string(info.param.name); });

TEST(NeighbourLookAhead, DropsAndSkipsTheFramesBeyondACut)
{
    const cv::Mat garden = stackingtest::gardenPhoto(kSize);
    const cv::Mat wood = stackingtest::photo("Wood.jpg", kSize);
    if (garden.empty() || wood.empty())
        GTEST_SKIP() << "test photographs not available";
    const cv::Mat instant = stackingtest::withNoise(garden, 4.0, 1);
    StackingContext context;
    const FrameAlignment alignment(instant, true);
    NeighbourLookAhead lookAhead(context, instant, kInstant, &alignment, true);
    lookAhead.prepare(kInstant + 1, stackingtest::withNoise(wood, 4.0, 2));
    lookAhead.prepare(kInstant - 1, stackingtest::withNoise(garden, 4.0, 3));
    lookAhead.prepare(kInstant + 2, stackingtest::withNoise(wood, 4.0, 4));

    EXPECT_EQ(lookAhead.take(kInstant + 1).placement.outcome, NeighbourPlacement::Outcome::OtherShot);
    EXPECT_FALSE(lookAhead.holds(kInstant + 2));
    EXPECT_TRUE(lookAhead.beyondCut(kInstant + 2));
    // The other side goes on.
    EXPECT_FALSE(lookAhead.beyondCut(kInstant - 2));
    const PreparedNeighbour before = lookAhead.take(kInstant - 1);
    EXPECT_TRUE(before.placedAhead);
    EXPECT_EQ(before.placement.outcome, NeighbourPlacement::Outcome::Passed);
}
