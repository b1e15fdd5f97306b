#include "Spline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

void expectPoint(const Spline& curve, int slot, float x, float y)
{
    ASSERT_GT(curve.points().size(), static_cast<size_t>(slot));
    EXPECT_FLOAT_EQ(curve.points()[slot].x, x) << "slot " << slot;
    EXPECT_FLOAT_EQ(curve.points()[slot].y, y) << "slot " << slot;
}

struct Settings {
    float whites, highlights, shadows, blacks;
};

class SplineShape : public ::testing::TestWithParam<Settings> {};

}  // namespace

TEST(Spline, NeutralSettingsAreTheIdentity)
{
    const Spline curve(0.f, 0.f, 0.f, 0.f);
    for (float x = 0.f; x <= 0.999f; x += 0.0625f)
        EXPECT_NEAR(curve.evaluate(x), x, 1e-6f) << "x = " << x;
}

TEST(Spline, ValuesOutsideThePointsReadTheTableEnds)
{
    const Spline curve(0.3f, 0.2f, -0.1f, 0.1f);
    EXPECT_EQ(curve.evaluate(-0.5f), curve.evaluate(0.f));
    // The last point's x itself is not sampled: it reads the entry one step before.
    EXPECT_EQ(curve.evaluate(1.f), curve.evaluate(7.f));
    EXPECT_LT(curve.evaluate(1.f), 1.f + 1e-6f);
}

TEST(Spline, ConstructorAppliesSettingsInItsOrder)
{
    const Spline curve(0.f, -0.5f, 0.5f, 0.25f);
    expectPoint(curve, 1, 0.2925f, 0.4221875f);
    expectPoint(curve, 2, 0.66f, 0.5475f);
}

TEST(Spline, PositiveHighlightsKeepTheShadowFactorOfEarlierNegativeOnes)
{
    Spline curve(0.f, 0.f, 0.5f, 0.25f);
    curve.setHighlights(-0.5f);
    curve.setHighlights(0.5f);
    curve.setShadows(0.5f);
    // 0.33 + 0.5 * 0.184375, the factor computed for highlights -0.5.
    EXPECT_FLOAT_EQ(curve.points()[1].y, 0.4221875f);
}

TEST(Spline, SettingsOutsideTheirRangeAreClamped)
{
    const Spline wild(5.f, -7.f, 3.f, -9.f);
    const Spline edge(1.f, -1.f, 1.f, -1.f);
    ASSERT_EQ(wild.points().size(), edge.points().size());
    for (size_t i = 0; i < wild.points().size(); ++i) {
        EXPECT_EQ(wild.points()[i].x, edge.points()[i].x);
        EXPECT_EQ(wild.points()[i].y, edge.points()[i].y);
    }
    Spline curve(0.f, 0.f, 0.f, 0.f);
    curve.setBlacks(NAN);
    EXPECT_EQ(curve.blacks(), 0.f);
    EXPECT_FLOAT_EQ(curve.evaluate(0.5f), 0.5f);
}

TEST(Spline, RepeatedXKeepsThePreviousTable)
{
    Spline curve(0.f, 0.f, 0.f, 0.f);
    const float before = curve.evaluate(0.5f);
    curve.addPoint(0.66f, 0.2f);  // same x as an existing point
    EXPECT_EQ(curve.evaluate(0.5f), before);
}

TEST(Spline, AddedPointBendsTheCurve)
{
    Spline curve(0.f, 0.f, 0.f, 0.f);
    curve.addPoint(0.5f, 0.8f);
    EXPECT_EQ(curve.points().size(), 5u);
    EXPECT_GT(curve.evaluate(0.5f), 0.7f);
}

TEST_P(SplineShape, TableIsNonDecreasingFiniteAndCappedByTheLastPoint)
{
    const Settings s = GetParam();
    Spline curve(s.whites, s.highlights, s.shadows, s.blacks);
    float previous = -1.f;
    for (int i = 0; i <= 2048; ++i) {
        const float value = curve.evaluate(i / 2048.f);
        ASSERT_TRUE(std::isfinite(value));
        EXPECT_GE(value, previous);
        EXPECT_LE(value, 1.f);
        previous = value;
    }
    // The setters chain into each other; applying them again must also end.
    curve.setShadows(s.shadows);
    curve.setBlacks(s.blacks);
    curve.setHighlights(s.highlights);
    curve.setWhites(s.whites);
    EXPECT_TRUE(std::isfinite(curve.evaluate(0.5f)));
}

INSTANTIATE_TEST_SUITE_P(Corners, SplineShape,
                         ::testing::Values(Settings{0, 0, 0, 0}, Settings{1, 1, 1, 1}, Settings{-1, -1, -1, -1},
                                           Settings{1, -1, 1, -1}, Settings{-1, 1, -1, 1}, Settings{0, -0.5f, 0.5f, 0.25f},
                                           Settings{0.3f, -0.8f, -0.6f, -0.4f}, Settings{-0.7f, 0.9f, -0.2f, 0.6f}));
