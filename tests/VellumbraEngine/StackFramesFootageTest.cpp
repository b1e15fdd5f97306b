// Stacking runs over clips made from real photographs: people walking across a
// still shot, a pan that cuts to another shot, a shifted burst.
#include "FrameSourceTestSupport.h"
#include "ImageCompare.h"
#include "RecordingSequence.h"
#include "StackingClips.h"
#include "StackingContext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

const cv::Size kClipSize(640, 360);
constexpr float kAutomatic = -1.0f, kMediumAntighosting = 4.0f, kNoAntighosting = 100.0f;

cv::Mat stack(const std::vector<cv::Mat>& frames, int instant, int first, int* count, float tolerance,
              bool align = true)
{
    stackingtest::RecordingSequence source(frames);
    StackingContext context;
    return context.stackFrames(&source, instant, first, count, kAutomatic, tolerance, align, 5, 3);
}

const std::vector<stackingtest::Walker> kThreeWalkers{{"LadyBird.jpg", {150, 90, 70, 170}, {9, 0}},
                                                      {"YellowFlower.jpg", {330, 150, 64, 160}, {-12, 1}},
                                                      {"RainDrops.jpg", {480, 60, 60, 150}, {5, 0}}};
const std::vector<stackingtest::Walker> kTwoFastWalkers{{"Wood.jpg", {100, 100, 80, 200}, {25, 0}},
                                                        {"LadyBird.jpg", {400, 80, 70, 180}, {-30, 2}}};

class StackFramesWalkers : public ::testing::TestWithParam<std::vector<stackingtest::Walker>> {};

// Where a walker has no counterpart within the search radius, the instant frame's
// own pixels stand: the people of the chosen moment keep their look, and no block
// of the lawn is pasted over them.
TEST_P(StackFramesWalkers, KeepThePeopleOfTheChosenMoment)
{
    const stackingtest::WalkersClip clip = stackingtest::walkersClip(kClipSize, 9, 4, GetParam(), 4.0, 100);
    if (clip.frames.empty())
        GTEST_SKIP() << "test photographs not available";
    int count = 9;
    cv::Mat light, difference, largest;
    stack(clip.frames, 4, 0, &count, kMediumAntighosting).convertTo(light, CV_8U, 255.0);
    cv::absdiff(light, clip.frames[4], difference);
    cv::reduce(difference.reshape(1, int(difference.total())), largest, 1, cv::REDUCE_MAX);
    const cv::Mat faraway = (largest.reshape(1, light.rows) > 20) & clip.movingArea;
    EXPECT_LT(cv::countNonZero(faraway), 0.03 * cv::countNonZero(clip.movingArea));
    for (int y = 0; y + 15 <= light.rows; y += 15)
        for (int x = 0; x + 15 <= light.cols; x += 15)
            if (cv::countNonZero(clip.movingArea(cv::Rect(x, y, 15, 15))) == 15 * 15) {
                EXPECT_LT(cv::mean(difference(cv::Rect(x, y, 15, 15)))[0], 10.0) << x << ", " << y;
            }
}

INSTANTIATE_TEST_SUITE_P(Clips, StackFramesWalkers, ::testing::Values(kThreeWalkers, kTwoFastWalkers));

struct NoiseCase {
    const char* name;
    double brightness;  // of the scene, 1 as photographed
    double sigma;       // of each frame's noise, in 8-bit levels
    float tolerance;
    bool align;
};

class StackFramesNoise : public ::testing::TestWithParam<NoiseCase> {};

// Nine frames of a still scene, each with noise of its own: whatever the
// antighosting, nothing moved, so every frame is averaged and the noise falls by
// about the square root of the frame count.
TEST_P(StackFramesNoise, FallsByTheSquareRootOfTheFrameCount)
{
    const NoiseCase c = GetParam();
    const cv::Mat photo = stackingtest::gardenPhoto(kClipSize);
    if (photo.empty())
        GTEST_SKIP() << "test photograph not available";
    cv::Mat scene;
    photo.convertTo(scene, CV_8U, c.brightness);
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 9; ++i)
        frames.push_back(stackingtest::withNoise(scene, c.sigma, 500 + unsigned(i)));
    int count = 9;
    cv::Mat light;
    stack(frames, 4, 0, &count, c.tolerance, c.align).convertTo(light, CV_32F, 255.0);
    ASSERT_EQ(count, 9);
    const cv::Rect inside(8, 8, kClipSize.width - 16, kClipSize.height - 16);
    cv::Mat clean;
    scene.convertTo(clean, CV_32F);
    const double remaining = cv::norm(light(inside), clean(inside), cv::NORM_L2) / std::sqrt(double(inside.area() * 3));
    // The linear-light mean of noisy samples leans a little bright in the darks.
    EXPECT_LT(remaining, 1.3 * c.sigma / 3.0);
}

constexpr float kHighAntighosting = 0.0f;

INSTANTIATE_TEST_SUITE_P(
    Modes, StackFramesNoise,
    ::testing::Values(NoiseCase{"HighNoisy", 1.0, 8.0, kHighAntighosting, true},
                      NoiseCase{"MediumNoisy", 1.0, 8.0, kMediumAntighosting, true},
                      NoiseCase{"OffNoisy", 1.0, 8.0, kNoAntighosting, true},
                      NoiseCase{"HighLightNoise", 1.0, 3.0, kHighAntighosting, true},
                      NoiseCase{"MediumLightNoise", 1.0, 3.0, kMediumAntighosting, true},
                      NoiseCase{"HighDim", 0.3, 4.0, kHighAntighosting, true},
                      NoiseCase{"MediumDim", 0.3, 4.0, kMediumAntighosting, true},
                      NoiseCase{"HighNoisyUnaligned", 1.0, 8.0, kHighAntighosting, false},
                      NoiseCase{"MediumDimUnaligned", 0.3, 4.0, kMediumAntighosting, false}),
    [](const ::testing::TestParamInfo<NoiseCase>& info) { return std::string(info.param.name); });

struct CutCase {
    int cut;  // first frame of the second shot
    float tolerance;
    int first, count;  // the instant frame's shot alone
};

class StackFramesCut : public ::testing::TestWithParam<CutCase> {};

// Nine frames of a pan around frame 4 with a cut after or before it: the other
// shot is not stacked, as if the range ended at the cut.
TEST_P(StackFramesCut, StacksTheInstantShotAlone)
{
    const CutCase c = GetParam();
    const std::vector<cv::Mat> frames =
        stackingtest::panWithCut(kClipSize, 9, c.cut, {3, 1}, "Garden.jpg", "Wood.jpg", 4.0, 200);
    if (frames.empty())
        GTEST_SKIP() << "test photographs not available";
    framesource::LogCapture log;
    int across = 9, alone = c.count;
    const cv::Mat acrossCut = stack(frames, 4, 0, &across, c.tolerance);
    EXPECT_TRUE(testmedia::identical(acrossCut, stack(frames, 4, c.first, &alone, c.tolerance)));
    EXPECT_EQ(across, alone);
    const int otherShot = c.cut < 4 ? c.first - 1 : c.first + c.count;
    EXPECT_TRUE(log.text().contains(QString("image number %1 belongs to another shot").arg(otherShot)));
}

INSTANTIATE_TEST_SUITE_P(Pans, StackFramesCut,
                         ::testing::Values(CutCase{6, kNoAntighosting, 0, 6}, CutCase{6, kMediumAntighosting, 0, 6},
                                           CutCase{5, kMediumAntighosting, 0, 5}, CutCase{2, kNoAntighosting, 2, 7},
                                           CutCase{2, kMediumAntighosting, 2, 7}));

struct BurstCase {
    const char* name;
    int shift;  // of each neighbour from the instant frame, in its own direction, in pixels
    int cut;    // first frame of another shot, or -1
    bool align;
    int count, stacked;
};

class StackFramesBurst : public ::testing::TestWithParam<BurstCase> {};

// Five photos around instant 2 taken by a hand that moved between them: however
// far a neighbour lies, it is of the same shot and stacked, aligned or not; the
// photos after a cut are not, and the range ends before them.
TEST_P(StackFramesBurst, StacksEveryFrameOfTheInstantShot)
{
    const BurstCase c = GetParam();
    const cv::Size margin(100, 100);
    const cv::Mat shots[] = {stackingtest::gardenPhoto(kClipSize + margin + margin),
                             stackingtest::photo("Wood.jpg", kClipSize + margin + margin)};
    if (shots[0].empty() || shots[1].empty())
        GTEST_SKIP() << "test photographs not available";
    const cv::Point2d directions[] = {{-1, -0.5}, {0.25, 1}, {0, 0}, {1, -0.25}, {-0.5, 1}};
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 5; ++i) {
        const cv::Point offset(cvRound(c.shift * directions[i].x), cvRound(c.shift * directions[i].y));
        const cv::Mat& shot = shots[c.cut >= 0 && i >= c.cut];
        frames.push_back(stackingtest::withNoise(shot(cv::Rect(cv::Point(margin) + offset, kClipSize)), 3.0,
                                                 700 + unsigned(i)));
    }
    stackingtest::RecordingSequence source(frames);
    StackingContext context;
    int count = 5;
    ASSERT_FALSE(context.stackFrames(&source, 2, 0, &count, kAutomatic, kNoAntighosting, c.align, 5, 3).empty());
    EXPECT_EQ(count, c.count);
    EXPECT_EQ(context.accumulatedCount, c.stacked);
}

INSTANTIATE_TEST_SUITE_P(
    ShiftsAndCuts, StackFramesBurst,
    ::testing::Values(BurstCase{"Still", 0, -1, true, 5, 5}, BurstCase{"Shift5", 5, -1, true, 5, 5},
                      BurstCase{"Shift20", 20, -1, true, 5, 5}, BurstCase{"Shift40", 40, -1, true, 5, 5},
                      BurstCase{"Shift80", 80, -1, true, 5, 5}, BurstCase{"StillUnaligned", 0, -1, false, 5, 5},
                      BurstCase{"Shift5Unaligned", 5, -1, false, 5, 5},
                      BurstCase{"Shift20Unaligned", 20, -1, false, 5, 5},
                      BurstCase{"Shift40Unaligned", 40, -1, false, 5, 5},
                      BurstCase{"Shift80Unaligned", 80, -1, false, 5, 5}, BurstCase{"CutAfter", 20, 3, true, 3, 3},
                      BurstCase{"CutAfterUnaligned", 20, 3, false, 3, 3}, BurstCase{"CutBefore", 5, 2, true, 3, 3},
                      BurstCase{"CutBeforeUnaligned", 5, 2, false, 3, 3}),
    [](const ::testing::TestParamInfo<BurstCase>& info) { return std::string(info.param.name); });

// Frames shifted by up to 12 pixels and aligned: what the shifts bring in at the
// edges is not black, so the edges of the average are as bright as its centre.
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
    cv::Mat light;
    stack(frames, 0, 0, &count, kNoAntighosting).convertTo(light, CV_8U, 255.0);
    const cv::Rect centre(12, 12, kClipSize.width - 24, kClipSize.height - 24);
    cv::Mat edges(kClipSize, CV_8U, cv::Scalar(255));
    edges(centre).setTo(0);
    const double centreRatio = cv::mean(light(centre))[1] / cv::mean(frames[0](centre))[1];
    EXPECT_NEAR(centreRatio, 1.0, 0.01);
    EXPECT_GT(cv::mean(light, edges)[1] / cv::mean(frames[0], edges)[1], centreRatio - 0.01);
}

}  // namespace
