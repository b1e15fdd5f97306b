#include "StackingContext.h"
#include "Threads.h"

#include "StackingTestImages.h"

#include "ImageCompare.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <limits>
#include <tuple>

namespace {

cv::Mat atDepth(const cv::Mat& image8, int depth)
{
    cv::Mat result;
    if (depth == CV_8U)
        result = image8.clone();
    else
        image8.convertTo(result, depth, depth == CV_16U ? 257.0 : 1.0 / 255.0);
    return result;
}

using testmedia::identical;

// Background photograph with a textured square at `corner`.
cv::Mat sceneWithSquare(const cv::Mat& background, const cv::Mat& square, cv::Point corner)
{
    cv::Mat scene = background.clone();
    square.copyTo(scene(cv::Rect(corner, square.size())));
    return scene;
}

struct MovingSquare {
    cv::Mat reference, frame;
    cv::Rect before, after;
};

MovingSquare movingSquare()
{
    const cv::Mat background = stackingtest::gardenPhoto(cv::Size(480, 320));
    const cv::Mat flower = stackingtest::flowerPhoto(cv::Size(480, 320));
    if (background.empty() || flower.empty())
        return {};
    const cv::Mat square = flower(cv::Rect(200, 120, 64, 64)).clone();
    const cv::Rect before(cv::Point(190, 110), square.size()), after(cv::Point(204, 120), square.size());
    return {sceneWithSquare(background, square, before.tl()), sceneWithSquare(background, square, after.tl()), before,
            after};
}

cv::Mat removeGhosts(const cv::Mat& reference, const cv::Mat& frame, int threads, int power, int quality,
                     StackingContext* used = nullptr)
{
    StackingContext local;
    StackingContext& context = used ? *used : local;
    cv::Mat out;
    EXPECT_TRUE(context.removeGhosts(threads, reference, frame, power, 10.0f, quality, 1, &out));
    return out;
}

std::atomic<int> launches{0};

int failingCreate(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)
{
    return EAGAIN;
}

int everyOtherCreate(pthread_t* handle, const pthread_attr_t* attributes, void* (*entry)(void*), void* argument)
{
    return launches++ % 2 ? EAGAIN : pthread_create(handle, attributes, entry, argument);
}

// Stops the run as its first band thread starts, so the request arrives mid-work.
StackingContext* stoppedWhileStarting = nullptr;

int stoppingCreate(pthread_t* handle, const pthread_attr_t* attributes, void* (*entry)(void*), void* argument)
{
    stoppedWhileStarting->requestStop();
    return pthread_create(handle, attributes, entry, argument);
}

}  // namespace

class GhostRemovalIdentical : public ::testing::TestWithParam<std::tuple<int, int, int>> {};

TEST_P(GhostRemovalIdentical, LeavesAnIdenticalFrameUnchanged)
{
    const cv::Mat photo = stackingtest::gardenPhoto(cv::Size(240, 150));
    if (photo.empty())
        GTEST_SKIP() << "test photograph not available";
    const auto [depth, quality, ordinal] = GetParam();
    const cv::Mat reference = atDepth(photo, depth);
    const cv::Mat frame = reference.clone();
    StackingContext context;
    cv::Mat out;
    ASSERT_TRUE(context.removeGhosts(3, reference, frame, -1, 10.0f, quality, ordinal, &out));
    EXPECT_TRUE(identical(out, frame));
    EXPECT_EQ(context.ghostingPower, 9);  // no ghost, so no estimate
    EXPECT_TRUE(context.frameImage.empty());
    EXPECT_TRUE(context.ghostMask.empty());
}

INSTANTIATE_TEST_SUITE_P(DepthsQualitiesOrdinals, GhostRemovalIdentical,
                         ::testing::Combine(::testing::Values(CV_8U, CV_16U, CV_32F), ::testing::Values(1, 5, 15),
                                            ::testing::Values(1, 2, 7)));

class GhostRemovalMovingSquare : public ::testing::TestWithParam<std::tuple<int, int, int>> {};

TEST_P(GhostRemovalMovingSquare, TakesTheSquareFromWhereItMoved)
{
    const MovingSquare scene = movingSquare();
    if (scene.reference.empty())
        GTEST_SKIP() << "test photographs not available";
    const auto [depth, quality, power] = GetParam();
    const cv::Mat reference = atDepth(scene.reference, depth), frame = atDepth(scene.frame, depth);
    const cv::Mat out = removeGhosts(reference, frame, 4, power, quality);
    ASSERT_FALSE(out.empty());

    const double fullScale = depth == CV_8U ? 255 : depth == CV_16U ? 65535 : 1;
    const int margin = 10;  // beyond the patch radius
    const cv::Rect inner(scene.before.x + margin, scene.before.y + margin, scene.before.width - 2 * margin,
                         scene.before.height - 2 * margin);
    const double before = cv::norm(frame(inner), reference(inner), cv::NORM_L1) / inner.area() / fullScale;
    const double after = cv::norm(out(inner), reference(inner), cv::NORM_L1) / inner.area() / fullScale;
    EXPECT_GT(before, 0.1);
    // Patches straddling the square's edge may pick another place; inside it the
    // square comes back, most of it sample for sample.
    EXPECT_LT(after, 0.015);
    cv::Mat differing;
    cv::absdiff(out(inner), reference(inner), differing);
    const double exact = 1.0 - cv::countNonZero(differing.reshape(1)) / double(differing.total());
    EXPECT_GT(exact, quality == 15 ? 0.75 : 0.9);  // 15 x 15 blocks share one offset

    // Far from both places of the square the frame is copied as it is.
    cv::Mat far = cv::Mat::ones(reference.size(), CV_8U);
    far(scene.before | scene.after).setTo(0);
    cv::erode(far, far, cv::Mat::ones(61, 61, CV_8U));
    EXPECT_EQ(cv::norm(out, frame, cv::NORM_INF, far), 0.0);
}

INSTANTIATE_TEST_SUITE_P(DepthsQualitiesPowers, GhostRemovalMovingSquare,
                         ::testing::Combine(::testing::Values(CV_8U, CV_16U, CV_32F), ::testing::Values(1, 5, 15),
                                            ::testing::Values(-1, 40)));

TEST(GhostRemoval, ThreadCountAndFailedLaunchesDoNotChangeTheResult)
{
    const MovingSquare scene = movingSquare();
    if (scene.reference.empty())
        GTEST_SKIP() << "test photographs not available";
    const cv::Mat one = removeGhosts(scene.reference, scene.frame, 1, 40, 5);
    EXPECT_TRUE(identical(one, removeGhosts(scene.reference, scene.frame, 8, 40, 5)));
    EXPECT_TRUE(identical(one, removeGhosts(scene.reference, scene.frame, 3, 40, 5)));

    setThreadCreateHook(&failingCreate);
    const cv::Mat noThreads = removeGhosts(scene.reference, scene.frame, 8, 40, 5);
    launches = 0;
    setThreadCreateHook(&everyOtherCreate);
    const cv::Mat someThreads = removeGhosts(scene.reference, scene.frame, 8, 40, 5);
    setThreadCreateHook(nullptr);
    EXPECT_TRUE(identical(one, noThreads));
    EXPECT_TRUE(identical(one, someThreads));
}

struct ToleranceCase {
    int referenceValue;
    int frameValue;
    bool ghost;
};

class GhostTolerance : public ::testing::TestWithParam<ToleranceCase> {};

// Tolerance 10 on 8-bit samples: 25.5 at black, about 34.4 at white.
TEST_P(GhostTolerance, ThresholdGrowsWithBrightness)
{
    const ToleranceCase c = GetParam();
    const cv::Mat reference(80, 90, CV_8UC3, cv::Scalar::all(c.referenceValue));
    cv::Mat frame = reference.clone();
    frame(cv::Rect(30, 30, 30, 30)).setTo(cv::Scalar(c.referenceValue, c.frameValue, c.referenceValue));
    StackingContext context;
    cv::Mat out;
    ASSERT_TRUE(context.removeGhosts(2, reference, frame, -1, 10.0f, 5, 1, &out));
    // A ghost asks for an estimate: 17 on an image without corners; none leaves the floor of 9.
    EXPECT_EQ(context.ghostingPower, c.ghost ? 17 : 9);
    EXPECT_EQ(context.toleranceTableSize, 256u);
}

INSTANTIATE_TEST_SUITE_P(Edges, GhostTolerance,
                         ::testing::Values(ToleranceCase{0, 25, false}, ToleranceCase{0, 26, true},
                                           ToleranceCase{255, 221, false}, ToleranceCase{255, 220, true}));

TEST(GhostRemoval, ASingleDifferingPixelIsEstimatedButErased)
{
    const cv::Mat photo = stackingtest::gardenPhoto(cv::Size(240, 150));
    if (photo.empty())
        GTEST_SKIP() << "test photograph not available";
    cv::Mat frame = photo.clone();
    frame.at<cv::Vec3b>(70, 100) = cv::Vec3b(255 - frame.at<cv::Vec3b>(70, 100)[0], 0, 0);
    StackingContext context;
    const cv::Mat out = removeGhosts(photo, frame, 2, -1, 5, &context);
    EXPECT_TRUE(identical(out, frame));
    EXPECT_GE(context.ghostingPower, 17);
}

TEST(GhostRemoval, BlockStepIsOddAndPositive)
{
    const cv::Mat image(40, 40, CV_8UC1, cv::Scalar(9));
    const std::pair<int, int> steps[] = {{4, 3}, {0, 1}, {-3, 1}, {2, 1}, {15, 15}, {5, 5}};
    for (const auto& [given, used] : steps) {
        StackingContext context;
        cv::Mat out;
        ASSERT_TRUE(context.removeGhosts(1, image, image, 20, 10.0f, given, 1, &out));
        EXPECT_EQ(context.blockStep, used) << "given " << given;
    }
}

TEST(GhostRemoval, ARequestEndsTheWork)
{
    const MovingSquare scene = movingSquare();
    if (scene.reference.empty())
        GTEST_SKIP() << "test photographs not available";
    for (int request : {StackingContext::RequestCancel, StackingContext::RequestStop}) {
        StackingContext context;
        context.running = true;
        context.request = request;
        cv::Mat out;
        EXPECT_FALSE(context.removeGhosts(4, scene.reference, scene.frame, 40, 10.0f, 1, 1, &out));
        EXPECT_EQ(out.size(), scene.reference.size());
    }

    StackingContext context;
    context.running = true;
    stoppedWhileStarting = &context;
    setThreadCreateHook(&stoppingCreate);
    cv::Mat out;
    const bool finished = context.removeGhosts(4, scene.reference, scene.frame, 40, 10.0f, 1, 1, &out);
    setThreadCreateHook(nullptr);
    EXPECT_FALSE(finished);
    EXPECT_EQ(context.request, StackingContext::RequestStop);
    // Work that had not begun is left undone: the corners stay black.
    EXPECT_EQ(out.at<cv::Vec3b>(out.rows - 1, out.cols - 1), cv::Vec3b(0, 0, 0));
}

TEST(GhostRemoval, ProgressStaysWithinItsRange)
{
    const MovingSquare scene = movingSquare();
    if (scene.reference.empty())
        GTEST_SKIP() << "test photographs not available";
    StackingContext context;
    removeGhosts(scene.reference, scene.frame, 2, 40, 1, &context);
    EXPECT_GT(context.progress, 0.0f);
    EXPECT_LE(context.progress, 100.0f);
}

class GhostRemovalSmallImages : public ::testing::TestWithParam<std::tuple<int, cv::Size>> {};

TEST_P(GhostRemovalSmallImages, CompleteTheOutputWithoutFailing)
{
    const auto [depth, size] = GetParam();
    cv::Mat reference8(size, CV_8UC3), frame8(size, CV_8UC3);
    cv::RNG rng(11);
    rng.fill(reference8, cv::RNG::UNIFORM, 0, 256);
    rng.fill(frame8, cv::RNG::UNIFORM, 0, 256);
    const cv::Mat reference = atDepth(reference8, depth), frame = atDepth(frame8, depth);
    for (int power : {-1, 9, 17}) {
        for (int quality : {1, 15}) {
            StackingContext context;
            cv::Mat out;
            ASSERT_TRUE(context.removeGhosts(4, reference, frame, power, 10.0f, quality, 2, &out));
            ASSERT_EQ(out.size(), size);
            ASSERT_EQ(out.type(), frame.type());
            StackingContext same;
            ASSERT_TRUE(same.removeGhosts(4, reference, reference, power, 10.0f, quality, 2, &out));
            EXPECT_TRUE(identical(out, reference));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, GhostRemovalSmallImages,
                         ::testing::Combine(::testing::Values(CV_8U, CV_16U, CV_32F),
                                            ::testing::Values(cv::Size(1, 1), cv::Size(5, 3), cv::Size(17, 17),
                                                              cv::Size(40, 20), cv::Size(20, 40), cv::Size(64, 48))));

TEST(GhostRemoval, RefusesFramesItCannotCompare)
{
    const cv::Mat reference(30, 30, CV_8UC3, cv::Scalar::all(1));
    StackingContext context;
    cv::Mat out;
    EXPECT_FALSE(context.removeGhosts(2, reference, cv::Mat(30, 31, CV_8UC3), 20, 10.0f, 5, 1, &out));
    EXPECT_FALSE(context.removeGhosts(2, reference, cv::Mat(30, 30, CV_16UC3), 20, 10.0f, 5, 1, &out));
    EXPECT_FALSE(context.removeGhosts(2, cv::Mat(30, 30, CV_64FC3), cv::Mat(30, 30, CV_64FC3), 20, 10.0f, 5, 1, &out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(context.removeGhosts(2, reference, reference, 20, 10.0f, 5, 1, nullptr));
}

TEST(GhostRemoval, FloatSamplesOutsideTheirRangeDoNoHarm)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    cv::Mat reference(60, 70, CV_32FC3, cv::Scalar::all(0.5)), frame(60, 70, CV_32FC3, cv::Scalar::all(0.2));
    reference.at<cv::Vec3f>(5, 5) = cv::Vec3f(nan, -3.0f, inf);
    reference.at<cv::Vec3f>(30, 30) = cv::Vec3f(2.5f, 0.0f, -inf);
    frame.at<cv::Vec3f>(40, 40) = cv::Vec3f(nan, nan, nan);
    StackingContext context;
    cv::Mat out;
    EXPECT_TRUE(context.removeGhosts(3, reference, frame, -1, 10.0f, 5, 1, &out));
    EXPECT_EQ(context.toleranceTableSize, 3u);  // the largest finite sample is 2.5
    cv::Mat allNan(20, 20, CV_32FC1, cv::Scalar(nan));
    EXPECT_TRUE(context.removeGhosts(3, allNan, allNan, -1, 10.0f, 5, 1, &out));
}

TEST(GhostRemoval, OutputMayReplaceTheCallersFrame)
{
    const MovingSquare scene = movingSquare();
    if (scene.reference.empty())
        GTEST_SKIP() << "test photographs not available";
    const cv::Mat expected = removeGhosts(scene.reference, scene.frame, 4, 40, 5);
    cv::Mat frame = scene.frame.clone();
    StackingContext context;
    ASSERT_TRUE(context.removeGhosts(4, scene.reference, frame, 40, 10.0f, 5, 1, &frame));
    EXPECT_TRUE(identical(frame, expected));
}
