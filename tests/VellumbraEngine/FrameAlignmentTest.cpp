// A still or moving camera with subjects moving on their own: the translation
// found is the camera's, to a twentieth of a pixel.
#include "FrameAlignment.h"

#include "StackingClips.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

struct BlockCase {
    const char* name;
    cv::Size size;
    double share;         // of the frame's sides the block covers
    cv::Point blockStep;  // the block's own motion
    cv::Point camera;     // the whole scene's
};

class FrameAlignmentMovingBlock : public ::testing::TestWithParam<BlockCase> {};

TEST_P(FrameAlignmentMovingBlock, FindsTheCamerasShiftNotTheBlocks)
{
    const BlockCase c = GetParam();
    const cv::Size margin(40, 40);
    const cv::Mat garden = stackingtest::gardenPhoto(c.size + margin + margin);
    const cv::Mat flower = stackingtest::flowerPhoto(c.size);
    if (garden.empty() || flower.empty())
        GTEST_SKIP() << "test photographs not available";
    const cv::Rect view(cv::Point(margin), c.size);
    const cv::Rect block(c.size.width / 4, c.size.height / 4, int(c.size.width * c.share),
                         int(c.size.height * c.share));
    cv::Mat instant = garden(view).clone(), frame = garden(view + c.camera).clone();
    flower(block).copyTo(instant(block));
    flower(block).copyTo(frame(block + c.blockStep));
    const FrameAlignment alignment(stackingtest::withNoise(instant, 3.0, 1), true);
    const FrameAlignment::Result found = alignment.locate(stackingtest::withNoise(frame, 3.0, 2));
    EXPECT_EQ(found.verdict, FrameAlignment::Verdict::SameShot);
    // The instant image's content lies in the frame against the camera's motion.
    EXPECT_LT(cv::norm(found.shift + cv::Point2f(c.camera)), 0.05) << found.shift;
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, FrameAlignmentMovingBlock,
    ::testing::Values(BlockCase{"StillSmallBlock", {640, 360}, 0.2, {24, 6}, {0, 0}},
                      BlockCase{"StillLargeBlock", {640, 360}, 0.4, {32, 9}, {0, 0}},
                      BlockCase{"StillLargeBlockDown", {640, 360}, 0.4, {-3, 30}, {0, 0}},
                      BlockCase{"StillLargeBlockHd", {1280, 720}, 0.4, {64, 18}, {0, 0}},
                      BlockCase{"StillSlowBlockHd", {1280, 720}, 0.3, {5, 2}, {0, 0}},
                      BlockCase{"MovedLargeBlock", {640, 360}, 0.4, {32, 9}, {7, -4}},
                      BlockCase{"MovedLargeBlockHd", {1280, 720}, 0.4, {-40, 12}, {-23, 31}}),
    [](const ::testing::TestParamInfo<BlockCase>& info) { return std::string(info.param.name); });

class FrameAlignmentWalkers : public ::testing::TestWithParam<std::vector<stackingtest::Walker>> {};

// A camera on a tripod while people walk across: every frame stays in place.
TEST_P(FrameAlignmentWalkers, LeaveAStillCameraInPlace)
{
    const stackingtest::WalkersClip clip = stackingtest::walkersClip({640, 360}, 9, 4, GetParam(), 4.0, 100);
    if (clip.frames.empty())
        GTEST_SKIP() << "test photographs not available";
    const FrameAlignment alignment(clip.frames[4], true);
    for (int i = 0; i < 9; ++i) {
        const FrameAlignment::Result found = alignment.locate(clip.frames[i]);
        EXPECT_EQ(found.verdict, FrameAlignment::Verdict::SameShot) << i;
        EXPECT_LT(cv::norm(found.shift), 0.05) << i << ": " << found.shift;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Clips, FrameAlignmentWalkers,
    ::testing::Values(std::vector<stackingtest::Walker>{{"LadyBird.jpg", {150, 90, 70, 170}, {9, 0}},
                                                        {"YellowFlower.jpg", {330, 150, 64, 160}, {-12, 1}},
                                                        {"RainDrops.jpg", {480, 60, 60, 150}, {5, 0}}},
                      std::vector<stackingtest::Walker>{{"Wood.jpg", {100, 100, 160, 220}, {25, 0}},
                                                        {"LadyBird.jpg", {360, 80, 140, 240}, {-30, 2}}}));

struct PanCase {
    const char* name;
    const char* photo;
    cv::Size size;
    cv::Point2d pan;  // of the camera between the instant image and the frame
    bool placed;
};

class FrameAlignmentPan : public ::testing::TestWithParam<PanCase> {};

// A frame far along a slow pan whose reduced copies' iteration does not settle is
// still placed when it correlates well, as its neighbour whose iteration settles.
TEST_P(FrameAlignmentPan, KeepsAPlacementThatCorrelatesWell)
{
    const PanCase c = GetParam();
    const cv::Mat scene = stackingtest::photo(c.photo, cv::Size(c.size.width * 2, c.size.height + 100));
    if (scene.empty())
        GTEST_SKIP() << "test photograph not available";
    const cv::Rect view(c.size.width / 2, 50, c.size.width, c.size.height);
    const cv::Mat warp = (cv::Mat_<double>(2, 3) << 1, 0, -c.pan.x, 0, 1, -c.pan.y);
    cv::Mat panned;
    cv::warpAffine(scene, panned, warp, scene.size(), cv::INTER_CUBIC, cv::BORDER_REFLECT_101);
    const FrameAlignment alignment(stackingtest::withNoise(scene(view), 3.0, 1), true);
    const FrameAlignment::Result found = alignment.locate(stackingtest::withNoise(panned(view), 3.0, 82));
    EXPECT_EQ(found.verdict == FrameAlignment::Verdict::SameShot, c.placed) << found.correlation;
    if (c.placed) {
        EXPECT_LT(cv::norm(cv::Point2d(found.shift) + c.pan), 0.1) << found.shift;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pans, FrameAlignmentPan,
    ::testing::Values(PanCase{"UnsettledCoarseStep", "Wood.jpg", {1920, 1080}, {-215.63, -1.98}, true},
                      PanCase{"SettledCoarseStep", "Wood.jpg", {1920, 1080}, {-203.63, -1.87}, true}),
    [](const ::testing::TestParamInfo<PanCase>& info) { return std::string(info.param.name); });

}  // namespace

// A shift within a hundredth of whole pixels moves by whole pixels, on either side
// of them and on either axis; a half pixel beside them is interpolated.
TEST(FrameAlignmentMove, NearWholeShiftsMoveByWholePixels)
{
    cv::Mat frame(48, 64, CV_8UC3);
    cv::randu(frame, 0, 256);
    struct Case {
        cv::Point2f shift;
        cv::Point whole;
        bool interpolated;
    };
    for (const Case& c : {Case{{2.995f, 0.0f}, {3, 0}, false}, Case{{3.004f, -1.002f}, {3, -1}, false},
                          Case{{0.0f, 2.5f}, {0, 2}, true}}) {
        const cv::Mat moved = FrameAlignment::moved(frame, c.shift);
        cv::Mat byWholePixels;
        const cv::Mat warp = (cv::Mat_<double>(2, 3) << 1, 0, -c.whole.x, 0, 1, -c.whole.y);
        cv::warpAffine(frame, byWholePixels, warp, frame.size(), cv::INTER_NEAREST, cv::BORDER_REPLICATE);
        EXPECT_EQ(cv::norm(moved, byWholePixels, cv::NORM_INF) > 0, c.interpolated) << c.shift;
    }
}
