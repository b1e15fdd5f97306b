#include "FrameSourceTestSupport.h"
#include "PixelOps.h"
#include "RecordingSequence.h"
#include "StackingClips.h"
#include "StackingContext.h"
#include "StackingTestImages.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

using stackingtest::RecordingSequence;

namespace {

// 60 pixels wide: the limit is 18, what an identical frame measures; a frame
// moved by a pixel or more measures above it.
const cv::Size kStrip(60, 240);

struct SearchResult {
    int first = -1, last = -1;
};

SearchResult search(StackingContext& context, ImagesSequenceBase* source, int instant)
{
    SearchResult result;
    context.lookForBestImages(source, instant, &result.first, &result.last);
    return result;
}

// Ten frames of the photo; the frames named in `moved` are shifted down by 4
// pixels, those in `replaced` are replaced by the given image.
std::vector<cv::Mat> strip(const cv::Mat& photo, int bits, const std::vector<int>& moved,
                           const std::map<int, cv::Mat>& replaced = {})
{
    std::vector<cv::Mat> frames(10, convertBitDepth(photo, bits));
    for (int i : moved)
        frames[i] = convertBitDepth(stackingtest::shifted(photo, 0, 4), bits);
    for (const auto& entry : replaced)
        frames[entry.first] = entry.second;
    return frames;
}

}  // namespace

struct WalkCase {
    const char* name;
    int instant;
    std::vector<int> moved;
    int lastIndex;  // end of the playback range; -1: the last frame
    int first, last;
    std::vector<int> reads;
};

class BestImagesWalk : public ::testing::TestWithParam<std::tuple<WalkCase, int>> {};

TEST_P(BestImagesWalk, StopsEachWayAtTheFirstMovedNeighbour)
{
    const WalkCase c = std::get<0>(GetParam());
    const int bits = std::get<1>(GetParam());
    const cv::Mat photo = stackingtest::gardenPhoto(kStrip);
    if (photo.empty())
        GTEST_SKIP() << "test photograph not available";
    RecordingSequence source(strip(photo, bits, c.moved), c.lastIndex);
    StackingContext context;
    const SearchResult result = search(context, &source, c.instant);
    EXPECT_EQ(result.first, c.first);
    EXPECT_EQ(result.last, c.last);
    std::vector<int> expectedReads{c.instant};
    expectedReads.insert(expectedReads.end(), c.reads.begin(), c.reads.end());
    EXPECT_EQ(source.reads, expectedReads);
    EXPECT_EQ(source.previewReads, std::vector<int>{c.instant});
    EXPECT_FALSE(context.running);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, BestImagesWalk,
    ::testing::Combine(
        ::testing::Values(WalkCase{"Static", 4, {}, -1, -1, 10, {3, 2, 1, 0, 5, 6, 7, 8, 9}},
                          WalkCase{"MovedBothSides", 4, {1, 7, 8}, -1, 1, 7, {3, 2, 1, 5, 6, 7}},
                          WalkCase{"InstantFirst", 0, {3}, -1, -1, 3, {1, 2, 3}},
                          WalkCase{"InstantLast", 9, {}, -1, -1, 10, {8, 7, 6, 5, 4, 3, 2, 1, 0}},
                          WalkCase{"PlaybackRangeEnd", 2, {}, 5, -1, 6, {1, 0, 3, 4, 5}},
                          WalkCase{"InstantAtRangeEnd", 5, {4}, 5, 4, 6, {4}}),
        ::testing::Values(8, 16, 32)),
    [](const ::testing::TestParamInfo<std::tuple<WalkCase, int>>& info) {
        return std::string(std::get<0>(info.param).name) + std::to_string(std::get<1>(info.param));
    });

struct SkippedCase {
    const char* name;
    cv::Mat frame;
    const char* logged;
};

class BestImagesSkipped : public ::testing::TestWithParam<SkippedCase> {};

TEST_P(BestImagesSkipped, NeighbourIsLoggedAndTheWalkGoesOn)
{
    const SkippedCase c = GetParam();
    const cv::Mat photo = stackingtest::gardenPhoto(kStrip);
    if (photo.empty())
        GTEST_SKIP() << "test photograph not available";
    framesource::LogCapture log;
    RecordingSequence source(strip(photo, 8, {}, {{2, c.frame}, {7, c.frame}}));
    StackingContext context;
    const SearchResult result = search(context, &source, 4);
    EXPECT_EQ(result.first, -1);
    EXPECT_EQ(result.last, 10);
    EXPECT_TRUE(log.text().contains(c.logged)) << log.text().toStdString();
    EXPECT_EQ(context.progress, 100.0f);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, BestImagesSkipped,
    ::testing::Values(SkippedCase{"Unreadable", cv::Mat(), "Error during accessing the image at index 2\n"},
                      SkippedCase{"Size", cv::Mat(240, 61, CV_8UC3, cv::Scalar::all(9)),
                                  "The image number 7 has not the same size as the instant image.\n"},
                      SkippedCase{"Type", cv::Mat(kStrip, CV_8UC1, cv::Scalar(9)),
                                  "The image number 2 has not the same type as the instant image.\n"}),
    [](const ::testing::TestParamInfo<SkippedCase>& info) { return std::string(info.param.name); });

struct EndedCase {
    const char* name;
    int atRead;  // the neighbour whose read cancels or throws
    bool throws;
    int first;
};

class BestImagesEnded : public ::testing::TestWithParam<EndedCase> {};

// Neither index is written once the search ends early, except a first index
// that the backward walk had already found.
TEST_P(BestImagesEnded, LeavesTheIndicesNotYetFound)
{
    const EndedCase c = GetParam();
    const cv::Mat photo = stackingtest::gardenPhoto(kStrip);
    if (photo.empty())
        GTEST_SKIP() << "test photograph not available";
    framesource::LogCapture log;
    RecordingSequence source(strip(photo, 8, {1}));
    StackingContext context;
    source.beforeRead = [&](int index, bool preview) {
        if (preview || index != c.atRead)
            return;
        if (c.throws)
            throw std::runtime_error("decoder failure");
        context.requestCancel();
    };
    const SearchResult result = search(context, &source, 4);
    EXPECT_EQ(result.first, c.first);
    EXPECT_EQ(result.last, -1);
    EXPECT_FALSE(context.running);
    EXPECT_EQ(source.previewReads, std::vector<int>{4});
    EXPECT_EQ(context.request, c.throws ? StackingContext::RequestNone : StackingContext::RequestCancel);
    EXPECT_EQ(log.text().contains("Computing best images to stack"), c.throws);
}

INSTANTIATE_TEST_SUITE_P(Cases, BestImagesEnded,
                         ::testing::Values(EndedCase{"CancelBackward", 2, false, -1},
                                           EndedCase{"CancelForward", 6, false, 1},
                                           EndedCase{"ThrowBackward", 3, true, -1},
                                           EndedCase{"ThrowForward", 5, true, 1}),
                         [](const ::testing::TestParamInfo<EndedCase>& info) { return std::string(info.param.name); });

struct RefusedSearchCase {
    const char* name;
    int instant;
    bool unreadable;
    const char* logged;
};

class BestImagesRefused : public ::testing::TestWithParam<RefusedSearchCase> {};

TEST_P(BestImagesRefused, LeavesBothIndicesAndDoesNotEndTheProcess)
{
    const RefusedSearchCase c = GetParam();
    framesource::LogCapture log;
    std::vector<cv::Mat> frames(3, cv::Mat(kStrip, CV_8UC3, cv::Scalar::all(90)));
    if (c.unreadable)
        frames[1] = cv::Mat();
    RecordingSequence source(frames);
    StackingContext context;
    const SearchResult result = search(context, &source, c.instant);
    EXPECT_EQ(result.first, -1);
    EXPECT_EQ(result.last, -1);
    EXPECT_FALSE(context.running);
    EXPECT_TRUE(log.text().contains(c.logged)) << log.text().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BestImagesRefused,
    ::testing::Values(RefusedSearchCase{"Unreadable", 1, true, "Main => Error during accessing the image at index 1\n"},
                      RefusedSearchCase{"Negative", -1, false, "is outside the sequence"},
                      RefusedSearchCase{"BeyondTheEnd", 3, false, "is outside the sequence"}),
    [](const ::testing::TestParamInfo<RefusedSearchCase>& info) { return std::string(info.param.name); });

// The search thread reuses its context: a second search must not measure
// against the reduced copy of the first one's instant frame.
TEST(BestImages, ASecondSearchMeasuresAgainstItsOwnInstantFrame)
{
    const cv::Mat photo = stackingtest::gardenPhoto(kStrip);
    if (photo.empty())
        GTEST_SKIP() << "test photograph not available";
    const cv::Mat moved = stackingtest::shifted(photo, 0, 4);
    StackingContext context;
    RecordingSequence still(std::vector<cv::Mat>(3, photo));
    search(context, &still, 1);
    RecordingSequence allMoved(std::vector<cv::Mat>(3, moved));
    const SearchResult result = search(context, &allMoved, 1);
    EXPECT_EQ(result.first, -1);
    EXPECT_EQ(result.last, 3);
}

struct CutSearchCase {
    const char* name;
    cv::Size size;
    int cut, instant;
    int first, last;
};

class BestImagesCut : public ::testing::TestWithParam<CutSearchCase> {};

// Ten frames of a pan that cuts to another shot: the other shot's probes find
// matches scattered over their whole window, which no walk goes past.
TEST_P(BestImagesCut, StopsTheWalkAtTheCut)
{
    const CutSearchCase c = GetParam();
    const std::vector<cv::Mat> frames =
        stackingtest::panWithCut(c.size, 10, c.cut, cv::Point(3, 1), "GreenMeadow.jpg", "Aqua.jpg", 4.0, 400);
    if (frames.empty())
        GTEST_SKIP() << "test photographs not available";
    RecordingSequence source(frames);
    StackingContext context;
    const SearchResult result = search(context, &source, c.instant);
    EXPECT_EQ(result.first, c.first);
    EXPECT_EQ(result.last, c.last);
}

INSTANTIATE_TEST_SUITE_P(Pans, BestImagesCut,
                         ::testing::Values(CutSearchCase{"CutAfter", cv::Size(640, 360), 7, 3, -1, 7},
                                           CutSearchCase{"CutBefore", cv::Size(640, 360), 3, 6, 2, 10},
                                           CutSearchCase{"CutAfterFullHd", cv::Size(1920, 1080), 5, 2, -1, 5}),
                         [](const ::testing::TestParamInfo<CutSearchCase>& info) { return std::string(info.param.name); });
