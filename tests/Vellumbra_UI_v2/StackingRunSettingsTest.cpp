#include "StackingContext.h"
#include "StackingRunSettings.h"

#include <gtest/gtest.h>

namespace {

StackingChoices choices(int before, int after, bool automatic, int power, int mode, int quality, int threads)
{
    return {10, before, after, automatic, power, mode, 100, true, quality, threads};
}

}  // namespace

TEST(StackingRunSettings, FollowTheParameterStep)
{
    struct Case {
        const char* name;
        StackingChoices in;
        int first, count;
        float power, weight;
        int quality, threads;
    };
    const Case cases[] = {
        {"the chosen frame alone", choices(0, 0, true, 30, 80, 0, 8), 10, 1, -1.0f, 4.0f, 15, 7},
        {"automatic power whatever the slider", choices(2, 3, true, 70, 80, 1, 4), 8, 6, -1.0f, 4.0f, 5, 3},
        {"slider 30 gives power 3", choices(2, 2, false, 30, 80, 2, 2), 8, 5, 3.0f, 4.0f, 1, 1},
        {"high antighosting weighs nothing", choices(1, 1, false, 55, 100, 0, 1), 9, 3, 5.5f, 0.0f, 15, 1},
        {"long exposure weighs 100", choices(4, 0, false, 0, 0, 0, 3), 6, 5, 0.0f, 100.0f, 15, 2},
        {"a quality out of the table is clamped", choices(0, 1, true, 30, 80, 7, 8), 10, 2, -1.0f, 4.0f, 1, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const StackingRunSettings settings = stackingRunSettings(c.in);
        EXPECT_EQ(settings.instantFrame, 10);
        EXPECT_EQ(settings.firstFrame, c.first);
        EXPECT_EQ(settings.frameCount, c.count);
        EXPECT_FLOAT_EQ(settings.antighostingPower, c.power);
        EXPECT_FLOAT_EQ(settings.ghostWeight, c.weight);
        EXPECT_TRUE(settings.align);
        EXPECT_EQ(settings.quality, c.quality);
        EXPECT_EQ(settings.threadCount, c.threads);
    }
}

TEST(StackingRunSettings, ARunThatKeptNothingEndsAsCancelled)
{
    const cv::Mat light(4, 4, CV_32FC3, cv::Scalar::all(0.5));
    struct Case {
        const char* name;
        int request;
        cv::Mat result;
        int accumulated;
        StackingOutcome expected;
    };
    const Case cases[] = {
        {"finished", StackingContext::RequestNone, light, 5, StackingOutcome::Finished},
        {"stopped with frames kept", StackingContext::RequestStop, light, 2, StackingOutcome::Stopped},
        {"cancelled", StackingContext::RequestCancel, light, 3, StackingOutcome::Cancelled},
        {"stopped before the first frame", StackingContext::RequestStop, cv::Mat(), 0, StackingOutcome::Cancelled},
        {"an image but no frame counted", StackingContext::RequestStop, light, 0, StackingOutcome::Cancelled},
        {"the engine refused the run", StackingContext::RequestNone, cv::Mat(), 5, StackingOutcome::Cancelled},
    };
    for (const Case& c : cases)
        EXPECT_EQ(stackingOutcome(c.request, c.result, c.accumulated), c.expected) << c.name;
}
