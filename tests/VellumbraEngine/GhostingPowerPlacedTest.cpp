// The estimate on frames as the stacking run gives them: still, or moved by the
// camera and placed back on the reference by the alignment.
#include "FrameAlignment.h"
#include "StackingContext.h"

#include "StackingClips.h"

#include <gtest/gtest.h>

namespace {

constexpr int kNoMotion = 18;  // 2r + 2: nothing moved, or nothing measured
// Low, as in daylight footage: the resampling's blur at edges goes beyond it.
constexpr double kNoise = 2.0;

// Moved: a handheld frame's sub-pixel move; Panned: a pan's, whose band of repeated
// edge is wider than the estimate's probe window.
enum class Camera { Still, Moved, Panned };

struct PlacedCase {
    const char* name;
    Camera camera;
    bool movingObject;
    bool runCancelled;
    bool motionMeasured;
    bool flowSkipped;
};

class GhostingPowerPlaced : public ::testing::TestWithParam<PlacedCase> {};

cv::Mat subPixelShifted(const cv::Mat& image, double dx, double dy)
{
    cv::Mat result;
    const cv::Mat shift = (cv::Mat_<double>(2, 3) << 1, 0, dx, 0, 1, dy);
    cv::warpAffine(image, result, shift, image.size(), cv::INTER_CUBIC, cv::BORDER_REFLECT_101);
    return result;
}

}  // namespace

TEST_P(GhostingPowerPlaced, SkipsTheFlowOnlyWhereNothingMoved)
{
    const PlacedCase c = GetParam();
    const cv::Size size(1920, 1080);
    const cv::Mat garden = stackingtest::gardenPhoto(size);
    const cv::Mat flower = stackingtest::flowerPhoto(size);
    if (garden.empty() || flower.empty())
        GTEST_SKIP() << "test photographs not available";
    cv::Mat reference = garden.clone(), scene = garden.clone();
    if (c.movingObject) {
        const cv::Rect patch(600, 300, 660, 320);
        flower(patch).copyTo(reference(cv::Rect(500, 350, 660, 320)));
        flower(patch).copyTo(scene(cv::Rect(516, 360, 660, 320)));
    }
    reference = stackingtest::withNoise(reference, kNoise, 1);
    const cv::Point2d move = c.camera == Camera::Moved ? cv::Point2d(3.4, -1.7) : cv::Point2d(37.6, -5.3);
    cv::Mat frame = stackingtest::withNoise(c.camera == Camera::Still ? scene : subPixelShifted(scene, move.x, move.y),
                                            kNoise, 2);
    StackingContext run, estimate;
    if (c.camera != Camera::Still) {
        const FrameAlignment::Result found = FrameAlignment(reference, true).locate(frame);
        ASSERT_EQ(found.verdict, FrameAlignment::Verdict::SameShot);
        frame = FrameAlignment::moved(frame, found.shift);
        estimate.placementShift = found.shift;
    }
    run.running = true;
    if (c.runCancelled)
        run.requestCancel();
    estimate.requestOwner = &run;
    estimate.patchRadius = 8;
    estimate.referenceImage = reference;
    estimate.frameImage = frame;
    estimate.updateSearchCopies();

    const int power = estimate.computeGhostingPower();
    EXPECT_EQ(power > kNoMotion, c.motionMeasured) << power;
    EXPECT_GE(power, kNoMotion);
    EXPECT_EQ(estimate.lastEstimateSkippedFlow, c.flowSkipped);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, GhostingPowerPlaced,
    ::testing::Values(PlacedCase{"Still", Camera::Still, false, false, false, true},
                      PlacedCase{"MovedWithoutMotion", Camera::Moved, false, false, false, true},
                      PlacedCase{"PannedWithoutMotion", Camera::Panned, false, false, false, true},
                      PlacedCase{"MovedWithAMovingObject", Camera::Moved, true, false, true, false},
                      PlacedCase{"StillWithAMovingObject", Camera::Still, true, false, true, false},
                      // A cancel ends the estimate before its flow and probes.
                      PlacedCase{"MovingObjectRunCancelled", Camera::Moved, true, true, false, false}),
    [](const ::testing::TestParamInfo<PlacedCase>& info) { return std::string(info.param.name); });
