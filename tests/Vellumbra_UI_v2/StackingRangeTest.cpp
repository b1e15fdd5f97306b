#include "StackingRange.h"

#include <gtest/gtest.h>

using namespace stackingrange;

TEST(StackingRange, LimitsAndPlaybackRangeFollowTheChosenFrame)
{
    struct Case {
        const char* name;
        int chosen, frames, shown, before, after;
        Limits limits;
        Range range;
    };
    const Case cases[] = {
        {"two either side of frame 10 of 100", 10, 100, 10, 2, 2, {10, 89}, {8, 12}},
        {"the first frame has nothing before it", 0, 100, 0, 3, 3, {0, 99}, {0, 3}},
        {"the last frame has nothing after it", 99, 100, 99, 3, 3, {99, 0}, {96, 99}},
        {"more before than exist starts at 0", 2, 50, 2, 5, 1, {2, 47}, {0, 3}},
        {"more after than exist ends at the last frame", 45, 50, 45, 1, 9, {45, 4}, {44, 49}},
        {"the range never leaves out a frame shown before it", 20, 50, 14, 2, 2, {20, 29}, {14, 22}},
        {"the range never leaves out a frame shown after it", 20, 50, 30, 2, 2, {20, 29}, {18, 30}},
        {"a single frame", 0, 1, 0, 2, 2, {0, 0}, {0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Limits l = limits(c.chosen, c.frames);
        EXPECT_EQ(l.beforeMaximum, c.limits.beforeMaximum);
        EXPECT_EQ(l.afterMaximum, c.limits.afterMaximum);
        const Range r = playbackRange(c.chosen, c.frames, c.shown, c.before, c.after);
        EXPECT_EQ(r.first, c.range.first);
        EXPECT_EQ(r.last, c.range.last);
    }
}

TEST(StackingRange, DraggedRangeGivesTheFramesAroundTheChosenOne)
{
    struct Case {
        int chosen;
        Range range;
        Counts counts;
    };
    const Case cases[] = {{10, {8, 12}, {2, 2}}, {0, {0, 5}, {0, 5}}, {40, {31, 40}, {9, 0}}};
    for (const Case& c : cases) {
        const Counts counts = framesAround(c.chosen, c.range);
        EXPECT_EQ(counts.before, c.counts.before);
        EXPECT_EQ(counts.after, c.counts.after);
    }
}
