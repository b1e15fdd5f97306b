#include "RecordingSequence.h"
#include "StackingContext.h"
#include "StackingTestImages.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

namespace {

constexpr int kFrames = 15;

cv::Mat scene(unsigned seed)
{
    cv::Mat image(96, 128, CV_8UC3);
    cv::RNG(seed).fill(image, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(image, image, cv::Size(0, 0), 4.0);
    return image;
}

enum class Clip { Still, MovingSquare, PanCutAtFirst };

std::vector<cv::Mat> clip(Clip kind)
{
    std::vector<cv::Mat> frames;
    for (int i = 0; i < kFrames; ++i) {
        frames.push_back(kind == Clip::PanCutAtFirst ? stackingtest::shifted(scene(7), i % 3 - 1, i % 2) : scene(7));
        if (kind == Clip::MovingSquare)
            cv::rectangle(frames.back(), cv::Rect(30 + 2 * i, 30, 16, 16), cv::Scalar::all(255), cv::FILLED);
    }
    if (kind == Clip::PanCutAtFirst)
        frames[0] = scene(8);
    return frames;
}

struct ProgressCase {
    const char* name;
    Clip clip;
    bool align;
    float power, tolerance;
    int instant, quality, walked;  // walked: fewer than the frames when a cut shortens the range
};

class StackingProgressOverARun : public ::testing::TestWithParam<ProgressCase> {};

}  // namespace

// Sampled as each frame is read: between two reads lies one position, which bounds every step.
TEST_P(StackingProgressOverARun, RisesInSmallStepsToAHundredAtTheEndWithTheOrdinal)
{
    const ProgressCase c = GetParam();
    stackingtest::RecordingSequence source(clip(c.clip));
    StackingContext context;
    std::vector<float> samples;
    std::vector<int> ordinals;
    source.beforeRead = [&](int, bool preview) {
        samples.push_back(context.progress);
        if (!preview)
            ordinals.push_back(context.frameOrdinal);
    };
    int count = kFrames;
    const cv::Mat light =
        context.stackFrames(&source, c.instant, 0, &count, c.power, c.tolerance, c.align, c.quality, 2);

    ASSERT_FALSE(light.empty());
    EXPECT_EQ(count, c.walked);
    EXPECT_LT(samples.back(), 100.0f);
    samples.push_back(context.progress);
    EXPECT_EQ(samples.back(), 100.0f);
    std::adjacent_difference(samples.begin(), samples.end(), samples.begin());
    EXPECT_GE(*std::min_element(samples.begin(), samples.end()), 0.0f);
    EXPECT_LE(*std::max_element(samples.begin(), samples.end()), 10.0f);
    // One ordinal a position: after a cut the position is walked again with another frame.
    EXPECT_TRUE(std::is_sorted(ordinals.begin(), ordinals.end()));
    ordinals.erase(std::unique(ordinals.begin(), ordinals.end()), ordinals.end());
    EXPECT_EQ(int(ordinals.size()), c.walked);
    EXPECT_EQ(ordinals.back(), c.walked - 1);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, StackingProgressOverARun,
    ::testing::Values(
        ProgressCase{"StillLongExposure", Clip::Still, false, 3.0f, 100.0f, 7, 15, kFrames},
        ProgressCase{"MovingSubjectAutomaticPower", Clip::MovingSquare, false, -1.0f, 4.0f, 7, 5, kFrames},
        ProgressCase{"MovingSubjectAlignedFinest", Clip::MovingSquare, true, -1.0f, 4.0f, 7, 1, kFrames},
        ProgressCase{"PanAlignedCutBeforeTheInstant", Clip::PanCutAtFirst, true, 3.0f, 4.0f, 2, 5, kFrames - 1}),
    [](const ::testing::TestParamInfo<ProgressCase>& info) { return std::string(info.param.name); });
