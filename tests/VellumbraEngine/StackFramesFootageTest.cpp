// Stacking runs over clips made from real photographs: people walking across a
// still shot, a pan that cuts to another shot, a shifted burst.
#include "FrameSourceTestSupport.h"
#include "ImageCompare.h"
#include "LinearAccumulator.h"
#include "PixelOps.h"
#include "RecordingSequence.h"
#include "StackingClips.h"
#include "StackingContext.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using stackingtest::RecordingSequence;

namespace {

const cv::Size kClipSize(640, 360);
constexpr int kFrames = 9, kInstant = 4;
constexpr float kAutomatic = -1.0f, kMediumAntighosting = 4.0f, kNoAntighosting = 100.0f;

cv::Mat stack(const std::vector<cv::Mat>& frames, int instant, int first, int* count, float tolerance, int quality)
{
    RecordingSequence source(frames);
    StackingContext context;
    return context.stackFrames(&source, instant, first, count, kAutomatic, tolerance, true, quality, 3);
}

cv::Mat as8Bit(const cv::Mat& light)
{
    cv::Mat result;
    light.convertTo(result, CV_8U, 255.0);
    return result;
}


struct WalkersCase {
    const char* name;
    int quality;
    std::vector<stackingtest::Walker> walkers;
};

class StackFramesWalkers : public ::testing::TestWithParam<WalkersCase> {};

// Where a walker has no counterpart within the search radius, the instant frame's
// own pixels stand: the people of the chosen moment keep their look.
TEST_P(StackFramesWalkers, KeepThePeopleOfTheChosenMoment)
{
    const WalkersCase c = GetParam();
    const stackingtest::WalkersClip clip =
        stackingtest::walkersClip(kClipSize, kFrames, kInstant, c.walkers, 4.0, 100);
    if (clip.frames.empty())
        GTEST_SKIP() << "test photographs not available";
    int count = kFrames;
    const cv::Mat light = stack(clip.frames, kInstant, 0, &count, kMediumAntighosting, c.quality);
    ASSERT_FALSE(light.empty());
    const cv::Mat& chosen = clip.frames[kInstant];
    cv::Mat difference;
    cv::absdiff(as8Bit(light), chosen, difference);
    cv::Mat pixelLargest;
    cv::reduce(difference.reshape(1, int(difference.total())), pixelLargest, 1, cv::REDUCE_MAX);
    pixelLargest = pixelLargest.reshape(1, light.rows);

    const double area = cv::countNonZero(clip.movingArea);
    const double faraway = cv::countNonZero((pixelLargest > 20) & clip.movingArea) / area;
    const double meanDifference = cv::mean(difference, clip.movingArea)[0];
    EXPECT_LT(faraway, 0.03);
    EXPECT_LT(meanDifference, 4.0);
    // No block of foreign content: every 15-pixel block inside the walkers stays close.
    double worstBlock = 0.0;
    for (int y = 0; y + 15 <= light.rows; y += 15)
        for (int x = 0; x + 15 <= light.cols; x += 15) {
            const cv::Rect block(x, y, 15, 15);
            if (cv::countNonZero(clip.movingArea(block)) == block.area())
                worstBlock = std::max(worstBlock, cv::mean(difference(block))[0]);
        }
    EXPECT_LT(worstBlock, 10.0);
}

const std::vector<stackingtest::Walker> kThreeWalkers{{"LadyBird.jpg", cv::Rect(150, 90, 70, 170), cv::Point(9, 0)},
                                                      {"YellowFlower.jpg", cv::Rect(330, 150, 64, 160), cv::Point(-12, 1)},
                                                      {"RainDrops.jpg", cv::Rect(480, 60, 60, 150), cv::Point(5, 0)}};
const std::vector<stackingtest::Walker> kTwoFastWalkers{{"Wood.jpg", cv::Rect(100, 100, 80, 200), cv::Point(25, 0)},
                                                        {"LadyBird.jpg", cv::Rect(400, 80, 70, 180), cv::Point(-30, 2)}};

INSTANTIATE_TEST_SUITE_P(Clips, StackFramesWalkers,
                         ::testing::Values(WalkersCase{"ThreeWalkersQuality15", 15, kThreeWalkers},
                                           WalkersCase{"ThreeWalkersQuality5", 5, kThreeWalkers},
                                           WalkersCase{"TwoFastWalkersQuality5", 5, kTwoFastWalkers}),
                         [](const ::testing::TestParamInfo<WalkersCase>& info) { return std::string(info.param.name); });


// The run keeps the instant image's copies and corners from frame to frame: its
// result is that of every frame freed of its ghosts by a fresh context.
TEST(StackFramesRun, EqualsEachFrameFreedOfItsGhostsAlone)
{
    const stackingtest::WalkersClip clip = stackingtest::walkersClip(kClipSize, 5, 2, kThreeWalkers, 4.0, 500);
    if (clip.frames.empty())
        GTEST_SKIP() << "test photographs not available";
    RecordingSequence source(clip.frames);
    StackingContext run;
    int count = 5;
    const cv::Mat light = run.stackFrames(&source, 2, 0, &count, kAutomatic, kMediumAntighosting, false, 5, 3);

    StackingContext expected;
    initLinearAccumulator(8, clip.frames[2], &expected);
    const int order[] = {3, 1, 4, 0};
    for (int p = 1; p <= 4; ++p) {
        StackingContext fresh;
        cv::Mat ghostFree;
        ASSERT_TRUE(fresh.removeGhosts(3, clip.frames[2], clip.frames[order[p - 1]], -1, kMediumAntighosting, 5, p,
                                       &ghostFree));
        addToLinearAccumulator(8, ghostFree, &expected);
    }
    cv::Mat mean;
    finishLinearMean(&expected, 8, mean);
    EXPECT_TRUE(testmedia::identical(light, mean));
}

struct CutCase {
    const char* name;
    int cut;  // first frame of the second shot
    float tolerance;
    int first, count;  // the range of the first shot alone
};

class StackFramesCut : public ::testing::TestWithParam<CutCase> {};

// A pan of nine frames around frame 4 with a cut after or before it: the frames of
// the other shot are not stacked, as if the range ended at the cut.
TEST_P(StackFramesCut, StacksTheInstantShotAlone)
{
    const CutCase c = GetParam();
    const std::vector<cv::Mat> frames =
        stackingtest::panWithCut(kClipSize, kFrames, c.cut, cv::Point(3, 1), "Garden.jpg", "Wood.jpg", 4.0, 200);
    if (frames.empty())
        GTEST_SKIP() << "test photographs not available";
    framesource::LogCapture log;
    int across = kFrames;
    const cv::Mat acrossCut = stack(frames, kInstant, 0, &across, c.tolerance, 5);
    int alone = c.count;
    const cv::Mat shotAlone = stack(frames, kInstant, c.first, &alone, c.tolerance, 5);
    ASSERT_FALSE(acrossCut.empty());
    EXPECT_TRUE(testmedia::identical(acrossCut, shotAlone));
    EXPECT_EQ(across, alone);
    const int firstOfOtherShot = c.cut < kInstant ? c.first - 1 : c.first + c.count;
    EXPECT_TRUE(log.text().contains("The image number " + QString::number(firstOfOtherShot) + " belongs to another shot"))
        << log.text().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Pans, StackFramesCut,
                         ::testing::Values(CutCase{"AfterAntighostingOff", 6, kNoAntighosting, 0, 6},
                                           CutCase{"AfterAutomaticAntighosting", 6, kMediumAntighosting, 0, 6},
                                           CutCase{"NextFrame", 5, kMediumAntighosting, 0, 5},
                                           CutCase{"BeforeAntighostingOff", 2, kNoAntighosting, 2, 7},
                                           CutCase{"BeforeAutomaticAntighosting", 2, kMediumAntighosting, 2, 7}),
                         [](const ::testing::TestParamInfo<CutCase>& info) { return std::string(info.param.name); });

// Frames shifted by up to 6 pixels and aligned: what the shifts bring in at the
// edges is not black, so the edges of the average are as bright as the instant frame's.
TEST(StackFramesEdges, KeepTheirBrightness)
{
    const cv::Mat scene = stackingtest::gardenPhoto(kClipSize + cv::Size(12, 12));
    if (scene.empty())
        GTEST_SKIP() << "test photograph not available";
    const cv::Point shifts[] = {{0, 0}, {6, 2}, {12, 5}, {3, 12}, {9, 9}};
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 5; ++i)
        frames.push_back(stackingtest::withNoise(scene(cv::Rect(shifts[i], kClipSize)), 3.0, 300 + i));
    int count = 5;
    const cv::Mat light = as8Bit(stack(frames, 0, 0, &count, kNoAntighosting, 5));
    ASSERT_FALSE(light.empty());
    const cv::Rect centre(12, 12, kClipSize.width - 24, kClipSize.height - 24);
    cv::Mat edges(kClipSize, CV_8U, cv::Scalar(255));
    edges(centre).setTo(0);
    const double edgeRatio = cv::mean(light, edges)[1] / cv::mean(frames[0], edges)[1];
    const double centreRatio = cv::mean(light(centre))[1] / cv::mean(frames[0](centre))[1];
    EXPECT_NEAR(centreRatio, 1.0, 0.01);
    EXPECT_GT(edgeRatio, centreRatio - 0.01);
}

}  // namespace
