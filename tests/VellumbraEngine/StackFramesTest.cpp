#include "FrameSourceTestSupport.h"
#include "ImagesSequence.h"
#include "LinearAccumulator.h"
#include "PixelOps.h"
#include "RecordingSequence.h"
#include "StackingContext.h"
#include "StackingTestImages.h"
#include "Threads.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

using stackingtest::RecordingSequence;

namespace {

const cv::Size kSmall(64, 48);

cv::Mat uniformFrame(int value, int bits = 8, cv::Size size = kSmall)
{
    return convertBitDepth(cv::Mat(size, CV_8UC3, cv::Scalar::all(value)), bits);
}

cv::Mat texturedFrame(int bits, cv::Size size = kSmall)
{
    cv::Mat texture(size, CV_8UC3);
    cv::RNG(7).fill(texture, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(texture, texture, cv::Size(0, 0), 1.5);
    return convertBitDepth(texture, bits);
}

// The linear-light mean of the frames, as the accumulator computes it.
cv::Mat linearMean(const std::vector<cv::Mat>& frames, int bits)
{
    StackingContext context;
    initLinearAccumulator(bits, frames[0], &context);
    for (std::size_t i = 1; i < frames.size(); ++i)
        addToLinearAccumulator(bits, frames[i], &context);
    cv::Mat mean;
    finishLinearMean(&context, bits, mean);
    return mean;
}

double largestDifference(const cv::Mat& a, const cv::Mat& b)
{
    return cv::norm(a, b, cv::NORM_INF);
}

struct RunResult {
    cv::Mat light;
    int count;
};

// Antighosting off by default: the numbered frames differ by more than a
// tolerance allows, and a frame that no match explains gives way to the instant one.
RunResult stack(StackingContext& context, ImagesSequenceBase* source, int instant, int first, int count,
                bool align = false, float power = 0.0f, float tolerance = 100.0f)
{
    RunResult result{cv::Mat(), count};
    result.light = context.stackFrames(source, instant, first, &result.count, power, tolerance, align, 5, 2);
    return result;
}

// Frame i has the uniform value 60 + 20 i, so the mean tells which frames were stacked.
std::vector<cv::Mat> numberedFrames(int count)
{
    std::vector<cv::Mat> frames;
    for (int i = 0; i < count; ++i)
        frames.push_back(uniformFrame(60 + 20 * i));
    return frames;
}

cv::Mat meanOfNumbered(const std::vector<int>& indices)
{
    std::vector<cv::Mat> frames;
    for (int i : indices)
        frames.push_back(uniformFrame(60 + 20 * i));
    return linearMean(frames, 8);
}

// A request issued from the thread hook when the ghost removal of a given
// position starts its band threads.
StackingContext* hookContext = nullptr;
int hookOrdinal = -1;
int hookRequest = StackingContext::RequestNone;

int requestingCreate(pthread_t* handle, const pthread_attr_t* attributes, void* (*entry)(void*), void* argument)
{
    if (hookContext && hookContext->frameOrdinal == hookOrdinal) {
        hookRequest == StackingContext::RequestStop ? hookContext->requestStop() : hookContext->requestCancel();
        hookContext = nullptr;
    }
    return pthread_create(handle, attributes, entry, argument);
}

int failingCreate(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)
{
    return EAGAIN;
}

}  // namespace

class StackFramesIdentical : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(StackFramesIdentical, GiveTheFrameItselfInLinearLight)
{
    const int bits = std::get<0>(GetParam()), count = std::get<1>(GetParam());
    const cv::Mat frame = texturedFrame(bits);
    RecordingSequence source(std::vector<cv::Mat>(count, frame));
    StackingContext context;
    const RunResult run = stack(context, &source, count / 2, 0, count);
    ASSERT_EQ(run.light.type(), CV_32FC3);
    EXPECT_EQ(run.count, count);
    EXPECT_LT(largestDifference(run.light, convertBitDepth(frame, 32)), 2e-5);
    EXPECT_EQ(run.light.data, context.lightImage.data);
    EXPECT_FALSE(context.running);
    EXPECT_EQ(context.request, StackingContext::RequestNone);
}

INSTANTIATE_TEST_SUITE_P(DepthsAndCounts, StackFramesIdentical,
                         ::testing::Combine(::testing::Values(8, 16, 32), ::testing::Values(1, 2, 3, 5)));

struct OrderCase {
    int instant, first, count;
    std::vector<int> order;
};

class StackFramesOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(StackFramesOrder, AlternatesAfterAndBeforeTheInstantFrame)
{
    const OrderCase c = GetParam();
    RecordingSequence source(std::vector<cv::Mat>(10, uniformFrame(90, 8, cv::Size(20, 20))));
    StackingContext context;
    const RunResult run = stack(context, &source, c.instant, c.first, c.count);
    ASSERT_FALSE(run.light.empty());
    EXPECT_EQ(source.reads, c.order);
    EXPECT_EQ(source.previewReads, std::vector<int>{c.instant});
    EXPECT_EQ(run.count, c.count);
}

INSTANTIATE_TEST_SUITE_P(Ranges, StackFramesOrder,
                         ::testing::Values(OrderCase{5, 3, 6, {5, 6, 4, 7, 3, 8}},  // 2 before, 3 after
                                           OrderCase{2, 2, 4, {2, 3, 4, 5}},        // instant first
                                           OrderCase{5, 2, 4, {5, 4, 3, 2}},        // instant last
                                           OrderCase{9, 9, 1, {9}}));

struct BadNeighbourCase {
    const char* name;
    cv::Mat frame;
    const char* logged;
};

class StackFramesBadNeighbour : public ::testing::TestWithParam<BadNeighbourCase> {};

// Order 1, 2, 0: the first neighbour (2) is bad, the second (0) is stacked.
TEST_P(StackFramesBadNeighbour, IsSkippedAndStillCounted)
{
    const BadNeighbourCase c = GetParam();
    framesource::LogCapture log;
    RecordingSequence source({uniformFrame(140), uniformFrame(100), c.frame});
    StackingContext context;
    const RunResult run = stack(context, &source, 1, 0, 3);
    ASSERT_FALSE(run.light.empty());
    EXPECT_EQ(run.count, 3);
    EXPECT_LT(largestDifference(run.light, linearMean({uniformFrame(100), uniformFrame(140)}, 8)), 1e-6);
    EXPECT_TRUE(log.text().contains(c.logged)) << log.text().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, StackFramesBadNeighbour,
    ::testing::Values(
        BadNeighbourCase{"unreadable", cv::Mat(), "Error during accessing the image at index 2\n"},
        BadNeighbourCase{"size", uniformFrame(100, 8, cv::Size(48, 64)),
                         "The image number 2 has not the same size as the instant image.\n"},
        BadNeighbourCase{"channels", cv::Mat(kSmall, CV_8UC1, cv::Scalar(100)),
                         "The image number 2 has not the same type as the instant image.\n"},
        BadNeighbourCase{"depth", uniformFrame(100, 16), "The image number 2 has not the same type as the instant image.\n"}),
    [](const ::testing::TestParamInfo<BadNeighbourCase>& info) { return std::string(info.param.name); });

struct RequestCase {
    const char* name;
    int request;
    int readIndex;      // request while this frame is read, or -1
    int ghostOrdinal;   // request when this position's ghost removal starts, or -1
    int count;          // returned count
    std::vector<int> stacked;
};

class StackFramesRequest : public ::testing::TestWithParam<RequestCase> {};

// Five frames around instant 2: order 2, 3, 1, 4, 0.
TEST_P(StackFramesRequest, KeepsWhatTheStopAllowsAndCancelKeepsNothing)
{
    const RequestCase c = GetParam();
    RecordingSequence source(numberedFrames(5));
    StackingContext context;
    source.beforeRead = [&](int index, bool preview) {
        if (!preview && index == c.readIndex)
            c.request == StackingContext::RequestStop ? context.requestStop() : context.requestCancel();
    };
    hookContext = c.ghostOrdinal >= 0 ? &context : nullptr;
    hookOrdinal = c.ghostOrdinal;
    hookRequest = c.request;
    setThreadCreateHook(&requestingCreate);
    const RunResult run = stack(context, &source, 2, 0, 5);
    setThreadCreateHook(nullptr);
    hookContext = nullptr;

    EXPECT_FALSE(context.running);
    EXPECT_EQ(context.request, c.request);
    EXPECT_EQ(run.count, c.count);
    if (c.stacked.empty()) {
        EXPECT_TRUE(run.light.empty());
    } else {
        ASSERT_FALSE(run.light.empty());
        EXPECT_LT(largestDifference(run.light, meanOfNumbered(c.stacked)), 1e-6);
    }
    EXPECT_EQ(source.previewReads, std::vector<int>{2});
}

INSTANTIATE_TEST_SUITE_P(
    Requests, StackFramesRequest,
    ::testing::Values(
        RequestCase{"StopReadingFirstNeighbour", StackingContext::RequestStop, 3, -1, 1, {2}},
        RequestCase{"StopReadingSecondNeighbour", StackingContext::RequestStop, 1, -1, 2, {2}},
        RequestCase{"StopDuringSecondGhostRemoval", StackingContext::RequestStop, -1, 2, 3, {2, 3}},
        RequestCase{"StopReadingFourthNeighbour", StackingContext::RequestStop, 0, -1, 4, {2, 3, 1, 4}},
        RequestCase{"CancelReadingFirstNeighbour", StackingContext::RequestCancel, 3, -1, 5, {}},
        RequestCase{"CancelDuringSecondGhostRemoval", StackingContext::RequestCancel, -1, 2, 5, {}},
        RequestCase{"CancelReadingLastNeighbour", StackingContext::RequestCancel, 0, -1, 5, {}}),
    [](const ::testing::TestParamInfo<RequestCase>& info) { return std::string(info.param.name); });

// A video of numbered frames whose grab number `requestAt`, counted from arming,
// asks the run to end; it counts the grabs made after that.
class RequestingCapture : public framesource::FakeCapture {
public:
    std::function<void()> request;
    int requestAt = 0;
    int grabs = 0, grabsAfterRequest = 0;

    bool grab() override
    {
        if (!request)
            return FakeCapture::grab();
        grabsAfterRequest += grabs >= requestAt;
        if (++grabs == requestAt)
            request();
        return FakeCapture::grab();
    }
    bool retrieve(cv::Mat& image) override
    {
        if (!FakeCapture::retrieve(image))
            return false;
        image = uniformFrame(60 + 20 * framesource::tinyFrameIndex(image));
        return true;
    }
};

struct VideoRequestCase {
    const char* name;
    int request;
    int requestAt;  // the run's grab that asks
    int count;      // returned count
    std::vector<int> stacked;
};

class StackFramesVideoRequest : public ::testing::TestWithParam<VideoRequestCase> {};

// Frames 1 to 9 around the shown instant 5: order 5, 6, 4, 7, 3, ... The read of
// 4 decodes 1 to 4 (grabs 2 to 5), that of 7 decodes 5 to 7 (grabs 6 to 8).
TEST_P(StackFramesVideoRequest, NoFrameIsDecodedOrAccumulatedAfterTheRequest)
{
    const VideoRequestCase c = GetParam();
    auto owned = std::make_unique<RequestingCapture>();
    RequestingCapture& capture = *owned;
    capture.decodable = capture.reportedCount = 12;
    ImagesSequence video(QString("fake.mp4"), std::move(owned));
    cv::Mat shown;
    video.getDisplayImageAt(shown, 5, false, false);
    StackingContext context;
    capture.requestAt = c.requestAt;
    capture.request = [&] {
        c.request == StackingContext::RequestStop ? context.requestStop() : context.requestCancel();
    };
    const RunResult run = stack(context, &video, 5, 1, 9);

    EXPECT_EQ(context.request, c.request);
    EXPECT_EQ(capture.grabsAfterRequest, 0);
    EXPECT_EQ(run.count, c.count);
    if (c.stacked.empty()) {
        EXPECT_TRUE(run.light.empty());
        return;
    }
    EXPECT_EQ(context.accumulatedCount, static_cast<int>(c.stacked.size()));
    ASSERT_FALSE(run.light.empty());
    EXPECT_LT(largestDifference(run.light, meanOfNumbered(c.stacked)), 1e-6);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, StackFramesVideoRequest,
    ::testing::Values(VideoRequestCase{"CancelDecodingBack", StackingContext::RequestCancel, 3, 9, {}},
                      VideoRequestCase{"StopDecodingBack", StackingContext::RequestStop, 3, 2, {5}},
                      VideoRequestCase{"StopDecodingOn", StackingContext::RequestStop, 6, 3, {5, 6}},
                      VideoRequestCase{"StopDecodingOneFrame", StackingContext::RequestStop, 1, 1, {5}}),
    [](const ::testing::TestParamInfo<VideoRequestCase>& info) { return std::string(info.param.name); });

TEST(StackFrames, AccumulatesOnTheRunThreadWhenThreadsCannotStart)
{
    RecordingSequence source(numberedFrames(5));
    StackingContext context;
    setThreadCreateHook(&failingCreate);
    const RunResult run = stack(context, &source, 2, 0, 5);
    setThreadCreateHook(nullptr);
    ASSERT_FALSE(run.light.empty());
    EXPECT_LT(largestDifference(run.light, meanOfNumbered({0, 1, 2, 3, 4})), 1e-6);
}

struct RefusedCase {
    const char* name;
    std::vector<cv::Mat> frames;
    bool withSource;
    int instant, first, count;
    const char* logged;
};

class StackFramesRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(StackFramesRefused, ReturnsEmptyAndLeavesTheCount)
{
    const RefusedCase c = GetParam();
    framesource::LogCapture log;
    RecordingSequence source(c.frames);
    StackingContext context;
    const RunResult run = stack(context, c.withSource ? &source : nullptr, c.instant, c.first, c.count);
    EXPECT_TRUE(run.light.empty());
    EXPECT_EQ(run.count, c.count);
    EXPECT_FALSE(context.running);
    EXPECT_EQ(context.request, StackingContext::RequestNone);
    EXPECT_TRUE(log.text().contains(c.logged)) << log.text().toStdString();
}

const std::vector<cv::Mat> kThreeFrames(3, uniformFrame(50));

INSTANTIATE_TEST_SUITE_P(
    Cases, StackFramesRefused,
    ::testing::Values(
        RefusedCase{"NoSource", kThreeFrames, false, 1, 0, 3, "do not form a range"},
        RefusedCase{"NoFrames", kThreeFrames, true, 1, 1, 0, "do not form a range"},
        RefusedCase{"InstantBeforeRange", kThreeFrames, true, 0, 1, 2, "do not form a range"},
        RefusedCase{"InstantAfterRange", kThreeFrames, true, 2, 0, 2, "do not form a range"},
        RefusedCase{"InstantOutsideSource", kThreeFrames, true, 3, 2, 2, "is outside the sequence"},
        RefusedCase{"InstantUnreadable", {uniformFrame(50), cv::Mat(), uniformFrame(50)}, true, 1, 0, 3,
                    "ERROR at function Main => Error during accessing the image at index 1\n"},
        RefusedCase{"InstantOfDoubles", {cv::Mat(kSmall, CV_64FC3, cv::Scalar::all(0.5))}, true, 0, 0, 1,
                    "cannot be stacked"}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.name); });

TEST(StackFrames, AnExceptionEndsTheRunCleanlyAndTheContextStaysUsable)
{
    framesource::LogCapture log;
    RecordingSequence source(numberedFrames(5));
    // Index 4 is the third neighbour: the second one is being accumulated then.
    source.beforeRead = [](int index, bool) {
        if (index == 4)
            throw std::runtime_error("decoder failure");
    };
    StackingContext context;
    const RunResult failed = stack(context, &source, 2, 0, 5);
    EXPECT_TRUE(failed.light.empty());
    EXPECT_EQ(failed.count, 5);
    EXPECT_FALSE(context.running);
    EXPECT_TRUE(log.text().contains("stackFrames => decoder failure"));

    source.beforeRead = nullptr;
    const RunResult run = stack(context, &source, 2, 0, 5);
    ASSERT_FALSE(run.light.empty());
    EXPECT_LT(largestDifference(run.light, meanOfNumbered({0, 1, 2, 3, 4})), 1e-6);
}

struct PowerCase {
    cv::Size size;
    float power;
    int ghostingPower;
};

class StackFramesPower : public ::testing::TestWithParam<PowerCase> {};

// Identical frames have no ghost, so an automatic power falls to its floor, 9.
TEST_P(StackFramesPower, ScalesTheAntighostingPowerToTheLargerSide)
{
    const PowerCase c = GetParam();
    RecordingSequence source(std::vector<cv::Mat>(2, uniformFrame(80, 8, c.size)));
    StackingContext context;
    ASSERT_FALSE(stack(context, &source, 0, 0, 2, false, c.power).light.empty());
    EXPECT_EQ(context.ghostingPower, c.ghostingPower);
}

INSTANTIATE_TEST_SUITE_P(Powers, StackFramesPower,
                         ::testing::Values(PowerCase{cv::Size(1920, 1080), 50.0f, 960},
                                           PowerCase{cv::Size(1920, 1080), 0.5f, 17},
                                           PowerCase{cv::Size(100, 200), 30.0f, 60},
                                           PowerCase{cv::Size(100, 200), 1e30f, 200},
                                           PowerCase{cv::Size(100, 200), -1.0f, 9},
                                           PowerCase{cv::Size(100, 200), std::numeric_limits<float>::quiet_NaN(),
                                                     9}));

// The estimates a run makes ahead of each frame are the ones each frame's own
// ghost removal would make: a flower crosses the garden, further from its place in
// the instant frame the further the frame is from it, so each frame needs its own power.
class StackFramesAutomatic : public ::testing::TestWithParam<bool> {};

// Param: whether threads start; without, the look-ahead prepares each frame on the run's thread.
TEST_P(StackFramesAutomatic, RemovesEachFramesGhostsWithItsOwnEstimate)
{
    const cv::Size size(640, 360);
    const cv::Mat garden = stackingtest::gardenPhoto(size), flower = stackingtest::flowerPhoto(size);
    if (garden.empty() || flower.empty())
        GTEST_SKIP() << "test photographs not available";
    const cv::Rect patch(200, 120, 160, 110);
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 5; ++i) {
        frames.push_back(garden.clone());
        flower(patch).copyTo(frames.back()(patch + cv::Point(12 * (i - 2), 0)));
    }
    RecordingSequence source(frames);
    StackingContext run;
    int count = 5;
    if (!GetParam())
        setThreadCreateHook(&failingCreate);
    const cv::Mat light = run.stackFrames(&source, 2, 0, &count, -1.0f, 4.0f, false, 5, 3);
    setThreadCreateHook(nullptr);
    ASSERT_FALSE(light.empty());

    StackingContext inPlace;
    initLinearAccumulator(8, frames[2], &inPlace);
    const int order[] = {2, 3, 1, 4, 0};
    for (int p = 1; p < 5; ++p) {
        cv::Mat ghostFree;
        ASSERT_TRUE(inPlace.removeGhosts(3, frames[2], frames[order[p]], -1, 4.0f, 5, p, &ghostFree));
        addToLinearAccumulator(8, ghostFree, &inPlace);
    }
    cv::Mat expected;
    ASSERT_TRUE(finishLinearMean(&inPlace, 8, expected));
    EXPECT_EQ(largestDifference(light, expected), 0.0);
}

INSTANTIATE_TEST_SUITE_P(Threads, StackFramesAutomatic, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Start" : "CannotStart");
                         });

// Mean absolute difference away from the border the warp leaves black.
double interiorError(const cv::Mat& light, const cv::Mat& reference)
{
    const cv::Rect inside(8, 8, light.cols - 16, light.rows - 16);
    return cv::norm(light(inside), reference(inside), cv::NORM_L1) / (inside.area() * light.channels());
}

class StackFramesAlign : public ::testing::TestWithParam<int> {};

TEST_P(StackFramesAlign, MovesShiftedFramesOntoTheInstantImage)
{
    const int bits = GetParam();
    const cv::Mat photo = stackingtest::gardenPhoto(cv::Size(240, 160));
    if (photo.empty())
        GTEST_SKIP() << "test photograph not available";
    std::vector<cv::Mat> frames;
    for (const cv::Point shift : {cv::Point(-3, -1), cv::Point(1, 3), cv::Point(0, 0), cv::Point(3, -2),
                                  cv::Point(-2, 1)})
        frames.push_back(convertBitDepth(stackingtest::shifted(photo, shift.x, shift.y), bits));
    RecordingSequence source(frames);
    const cv::Mat reference = convertBitDepth(photo, 32);
    // Tolerance 100: nothing counts as a ghost, so only the alignment moves pixels.
    StackingContext aligned, unaligned;
    const double alignedError = interiorError(stack(aligned, &source, 2, 0, 5, true, 0.0f, 100.0f).light, reference);
    const double unalignedError =
        interiorError(stack(unaligned, &source, 2, 0, 5, false, 0.0f, 100.0f).light, reference);
    EXPECT_LT(alignedError, 0.004);
    EXPECT_GT(unalignedError, 4 * alignedError);
}

INSTANTIATE_TEST_SUITE_P(Depths, StackFramesAlign, ::testing::Values(8, 16, 32));

// A frame that cannot be placed is left out, never stacked out of place.
TEST(StackFrames, AFrameWhoseTranslationIsNotFiniteIsNotStacked)
{
    const cv::Mat instant = texturedFrame(32);
    cv::Mat poisoned = instant.clone();
    poisoned.at<cv::Vec3f>(20, 30) = cv::Vec3f::all(std::numeric_limits<float>::quiet_NaN());
    framesource::LogCapture log;
    RecordingSequence source({instant, poisoned});
    StackingContext context;
    const RunResult run = stack(context, &source, 0, 0, 2, true, 0.0f, 100.0f);
    ASSERT_FALSE(run.light.empty());
    EXPECT_EQ(run.count, 2);
    EXPECT_EQ(context.accumulatedCount, 1);
    EXPECT_LT(interiorError(run.light, instant), 1e-6);
    EXPECT_TRUE(log.text().contains("not plausible")) << log.text().toStdString();
}

TEST(StackFrames, AnAlignmentThatThrowsLeavesTheFramesUnaligned)
{
    // Two-channel frames have no grey conversion.
    const std::vector<cv::Mat> frames{cv::Mat(kSmall, CV_8UC2, cv::Scalar(60, 90)),
                                      cv::Mat(kSmall, CV_8UC2, cv::Scalar(80, 70))};
    framesource::LogCapture log;
    RecordingSequence source(frames);
    StackingContext context;
    const RunResult run = stack(context, &source, 0, 0, 2, true);
    ASSERT_FALSE(run.light.empty());
    EXPECT_LT(largestDifference(run.light, linearMean(frames, 8)), 1e-6);
    EXPECT_TRUE(log.text().contains("Aligning images => The align option failed"));
    EXPECT_FALSE(context.running);
}

// Double grey: the sharpness measure's Laplacian takes no float samples.
cv::Mat greyOf(const cv::Mat& image)
{
    cv::Mat grey;
    cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
    grey.convertTo(grey, CV_64F);
    return grey;
}

// A real phone video: five frames around the middle, aligned, automatic antighosting.
TEST(StackFrames, RealVideoStacksSharperThanAPlainAverage)
{
    const QString path = testmedia::mediaFile(
        "forensics-samples-files/usr/share/forensics-samples/original-files/movie1/VID_20191220_170832.mp4");
    if (path.isEmpty())
        GTEST_SKIP() << "phone video not available";
    ImagesSequence video(path);
    // The file is there: a video that no longer decodes is a fault, not a missing medium.
    ASSERT_GE(video.numberOfFrames(), 5) << "the phone video could not be decoded";
    const int instant = video.numberOfFrames() / 2;
    StackingContext context;
    int count = 5;
    const cv::Mat light = context.stackFrames(&video, instant, instant - 2, &count, -1.0f, 25.0f, true, 5, 3);
    ASSERT_FALSE(light.empty());
    EXPECT_EQ(count, 5);
    EXPECT_TRUE(cv::checkRange(light, true, nullptr, 0.0, 1.0 + 1e-6));

    cv::Mat plainSum;
    for (int i = instant - 2; i <= instant + 2; ++i) {
        cv::Mat frame;
        video.getFrame(frame, i, false);
        ASSERT_FALSE(frame.empty());
        const cv::Mat asFloat = convertBitDepth(frame, 32);
        plainSum = plainSum.empty() ? asFloat : plainSum + asFloat;
    }
    const cv::Mat plainAverage = plainSum / 5.0;
    EXPECT_GE(laplacianVariance(greyOf(light)), laplacianVariance(greyOf(plainAverage)));
}
