#include "DetailCurveNodes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

struct CurveCase {
    float threshold;
    float noiseLevel;
};

class DetailCurveNodesStandIn : public ::testing::TestWithParam<CurveCase> {};

}  // namespace

// The nodes are placed for alphas 0.05 apart; those between, and the ends, must be
// followed as closely.
TEST_P(DetailCurveNodesStandIn, FollowsTheCurveAtEveryAlphaOfTheSliders)
{
    const CurveCase& c = GetParam();
    constexpr int kSteps = 16384;
    const DetailCurveNodes nodes(c.threshold, c.noiseLevel, kSteps);
    for (float alpha : {0.0f, 0.025f, 0.33f, 0.975f, 1.0f, 1.49f, 1.975f, 2.0f}) {
        const std::vector<float> values = nodes.values(alpha);
        double worst = 0.0;
        for (int i = 0; i <= kSteps; ++i) {
            const float position = nodes.nodePositions()[i];
            const int node = std::min(int(position), nodes.size() - 2);
            const double standIn = values[node] + (position - node) * (values[node + 1] - values[node]);
            const double curve = detailCurveValue(double(i) / kSteps, alpha, c.threshold, c.noiseLevel);
            worst = std::max(worst, std::fabs(standIn - curve));
        }
        EXPECT_LT(worst, 1.5 * DetailCurveNodes::kTolerance) << "alpha " << alpha;
    }
}

INSTANTIATE_TEST_SUITE_P(ThresholdsAndNoise, DetailCurveNodesStandIn,
                         ::testing::Values(CurveCase{std::log(2.5f), 0.01f}, CurveCase{std::log(4.0f), 0.02f},
                                           CurveCase{std::log(1.5f), 0.002f}));
