// The noise of a burst read from what differs between its frames: fine texture
// cancels, so a detailed scene reads the noise its frames carry, as a flat one.
#include "NoiseEstimate.h"

#include "StackingClips.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct NoiseCase {
    const char* name;
    bool textured;
    double sigma;
};

class DifferenceNoise : public ::testing::TestWithParam<NoiseCase> {};

TEST_P(DifferenceNoise, ReadsTheFramesNoiseWhateverTheTexture)
{
    const NoiseCase c = GetParam();
    cv::Mat scene = stackingtest::detailedPhoto({640, 360});
    if (scene.empty())
        GTEST_SKIP() << "test photograph not available";
    if (!c.textured)
        cv::GaussianBlur(scene, scene, cv::Size(0, 0), 3.0);
    const cv::Mat first = stackingtest::withNoise(scene, c.sigma, 1), second = stackingtest::withNoise(scene, c.sigma, 2);
    EXPECT_NEAR(estimateDifferenceNoise(first, second), c.sigma, 0.15 * c.sigma);
}

INSTANTIATE_TEST_SUITE_P(Scenes, DifferenceNoise,
                         ::testing::Values(NoiseCase{"FlatLowNoise", false, 2.0}, NoiseCase{"FlatHighNoise", false, 6.0},
                                           NoiseCase{"TexturedLowNoise", true, 2.0},
                                           NoiseCase{"TexturedHighNoise", true, 6.0}),
                         [](const ::testing::TestParamInfo<NoiseCase>& info) { return std::string(info.param.name); });

}  // namespace
