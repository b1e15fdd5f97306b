#include "GhostingPower.h"
#include "StackingContext.h"

#include "StackingTestImages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

// A context set up as the best-images search sets it before the estimate.
void prepare(StackingContext& context, const cv::Mat& reference, const cv::Mat& frame)
{
    context.patchRadius = 8;
    context.referenceCopy = reference;
    const double factor = 1024.0 / std::max({reference.rows, reference.cols, 1024});
    cv::resize(reference, context.referenceSmall, cv::Size(), factor, factor, cv::INTER_LINEAR);
    context.frameCopy = frame;
    context.featureMask.release();
}

}  // namespace

TEST(SearchCopies, SixteenBitSamplesAreScaledThenTruncated)
{
    const cv::Mat source = (cv::Mat_<ushort>(1, 5) << 65535, 65534, 257, 256, 0);
    cv::Mat copy;
    makeSearchCopy16U(source, copy);
    ASSERT_EQ(copy.type(), CV_8UC1);
    EXPECT_EQ(std::vector<uchar>(copy.begin<uchar>(), copy.end<uchar>()), (std::vector<uchar>{255, 254, 1, 0, 0}));
}

TEST(SearchCopies, FloatSamplesAreScaledToTheirLargestFiniteValue)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    struct Case {
        std::vector<float> samples;
        std::vector<uchar> expected;
    } cases[] = {
        {{0.5f, 0.25f, 0.0f}, {255, 127, 0}},
        {{0.0f, 0.0f, 0.0f}, {0, 0, 0}},
        {{nan, inf, -1.0f, 0.5f, 0.25f}, {0, 255, 0, 255, 127}},
        {{nan, -inf, -2.0f}, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        cv::Mat copy;
        makeSearchCopy32F(cv::Mat(c.samples).reshape(1, 1), copy);
        EXPECT_EQ(std::vector<uchar>(copy.begin<uchar>(), copy.end<uchar>()), c.expected);
    }
}

TEST(FloatArrays, SmallHelpersFollowTheirDefinitions)
{
    const float one[] = {-3.0f};
    EXPECT_EQ(maxOfFloats(one, 1), -3.0f);
    const float four[] = {1, 2, 3, 4};
    EXPECT_EQ(meanOfFloats(four, 4), 2.5f);
    EXPECT_EQ(maxOfFloats(four, 4), 4.0f);

    float values[] = {5, 1, 4, 2, 3};
    EXPECT_EQ(partitionFloats(values, 0, 4, 2), 3);
    EXPECT_EQ(std::vector<float>(values, values + 5), (std::vector<float>{1, 3, 2, 4, 5}));
    float unsorted[] = {5, 1, 4, 2, 3, 3, -1, 9};
    quickSortFloats(unsorted, 0, 7);
    EXPECT_EQ(std::vector<float>(unsorted, unsorted + 8), (std::vector<float>{-1, 1, 2, 3, 3, 4, 5, 9}));
}

TEST(ProbeDisplacement, FindsAShiftAndCopesWithBorders)
{
    const cv::Mat image = stackingtest::gardenPhoto(cv::Size(320, 200));
    if (image.empty())
        GTEST_SKIP() << "test photograph not available";
    const cv::Mat moved = stackingtest::shifted(image, 6, -4);
    int dy = 9, dx = 9;
    const double score = probeDisplacement(image, moved, 100, 150, 16, 30, &dy, &dx);
    EXPECT_EQ(dy, -4);
    EXPECT_EQ(dx, 6);
    EXPECT_LT(score, 100.0);  // the matcher's float rounding

    // Windows at the corners, and radii below the template size, are moved or
    // grown inside the image, so the template still finds itself.
    const cv::Point places[] = {{0, 0}, {319, 0}, {0, 199}, {319, 199}, {160, 100}};
    for (const cv::Point& p : places) {
        for (int radius : {0, 3, 17, 40}) {
            EXPECT_LT(probeDisplacement(image, image, p.y, p.x, 8, radius, &dy, &dx), 100.0)
                << "at " << p << " radius " << radius;
            EXPECT_EQ(cv::Point(dx, dy), cv::Point(0, 0)) << "at " << p << " radius " << radius;
        }
    }

    // An image smaller than the template: no offset.
    const cv::Mat tiny(10, 10, CV_8UC3, cv::Scalar::all(1));
    EXPECT_TRUE(std::isinf(probeDisplacement(tiny, tiny, 5, 5, 8, 17, &dy, &dx)));
    EXPECT_EQ(dy, 0);
    EXPECT_EQ(dx, 0);
}

TEST(GhostingPower, IdenticalFrameGivesTheSmallestMeasuredPower)
{
    const cv::Mat image = stackingtest::gardenPhoto(cv::Size(1280, 800));
    if (image.empty())
        GTEST_SKIP() << "test photograph not available";
    StackingContext context;
    prepare(context, image, image);
    EXPECT_EQ(context.computeGhostingPower(), 18);
    EXPECT_EQ(context.featureMask.size(), context.referenceSmall.size());
}

TEST(GhostingPower, ReferencesWithoutCornersOrTooSmallGiveTheFallback)
{
    const cv::Mat flat(600, 800, CV_8UC3, cv::Scalar(40, 90, 200));
    cv::Mat noisy(600, 800, CV_8UC3);
    cv::randu(noisy, 0, 256);
    StackingContext context;
    prepare(context, flat, noisy);
    EXPECT_EQ(context.computeGhostingPower(), 17);
    EXPECT_TRUE(context.featureMask.empty());

    for (const cv::Size size : {cv::Size(33, 200), cv::Size(200, 20), cv::Size(1, 1)}) {
        cv::Mat small(size, CV_8UC3);
        cv::randu(small, 0, 256);
        StackingContext tiny;
        prepare(tiny, small, small);
        EXPECT_EQ(tiny.computeGhostingPower(), 17) << size;
    }
}

struct GhostingShiftCase {
    int fullShift;
    int expected;
};

class GhostingPowerShift : public ::testing::TestWithParam<GhostingShiftCase> {};

// The reduced copy is half the full width, so d = 2 x the reduced displacement.
TEST_P(GhostingPowerShift, MeasuresHowFarATexturedFrameMoved)
{
    const cv::Mat image = stackingtest::gardenPhoto(cv::Size(2048, 1280));
    if (image.empty())
        GTEST_SKIP() << "test photograph not available";
    const GhostingShiftCase c = GetParam();
    StackingContext context;
    prepare(context, image, stackingtest::shifted(image, c.fullShift, 0));
    EXPECT_EQ(context.computeGhostingPower(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Shifts, GhostingPowerShift,
                         ::testing::Values(GhostingShiftCase{20, 20 + 2 + 16}, GhostingShiftCase{30, 30 + 2 + 8}));
