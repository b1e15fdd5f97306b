#include "SharpestImageSearcherWorkerThread.h"
#include "TestFiles.h"
#include "TileTestSupport.h"

#include <QDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

namespace {

// A checkerboard whose contrast grows with amplitude: a sharper frame for a larger one.
cv::Mat checkerboard(int amplitude)
{
    cv::Mat frame(16, 16, CV_8UC3);
    for (int y = 0; y < frame.rows; ++y)
        for (int x = 0; x < frame.cols; ++x)
            frame.at<cv::Vec3b>(y, x) = cv::Vec3b::all(static_cast<uchar>(((x + y) % 2) ? 100 + amplitude : 100 - amplitude));
    return frame;
}

cv::Mat flat()
{
    return checkerboard(0);
}

// Runs one search to its end; the result as the signal delivered it, if it did.
std::optional<SharpnessCandidates> runSearch(const cv::Mat& image, int current, ImagesSequenceBase* source,
                                             int halfWidth)
{
    std::optional<SharpnessCandidates> outcome;
    SharpestImageSearcherWorkerThread thread(image, current, source, halfWidth);
    QObject::connect(&thread, &SharpestImageSearcherWorkerThread::processWellFinished,
                     [&outcome](SharpnessCandidates candidates) { outcome = candidates; });
    thread.start();
    thread.wait();
    return outcome;
}

std::vector<int> frameIndices(const SharpnessCandidates& candidates)
{
    std::vector<int> indices;
    for (const auto& candidate : candidates)
        indices.push_back(candidate.second);
    return indices;
}

struct RangeCase {
    int frameCount;
    int current;
    int halfWidth;
    std::vector<int> scored;
};

class SearchRange : public ::testing::TestWithParam<RangeCase> {};

// Every frame but the current one is sharper than it, and sharper the higher its
// index, so the set lists the current frame then the scored frames in order.
TEST_P(SearchRange, ScoresTheFramesWithinTheWindowAndInsideTheSource)
{
    const RangeCase& c = GetParam();
    std::vector<cv::Mat> frames;
    for (int i = 0; i < c.frameCount; ++i)
        frames.push_back(i == c.current ? flat() : checkerboard(1 + i % 90));
    tiletest::RecordingSequence source(frames);

    const auto outcome = runSearch(frames[static_cast<size_t>(c.current)], c.current, &source, c.halfWidth);

    ASSERT_TRUE(outcome);
    EXPECT_EQ(source.readIndices(), c.scored);
    std::vector<int> expected{c.current};
    expected.insert(expected.end(), c.scored.begin(), c.scored.end());
    EXPECT_EQ(frameIndices(*outcome), expected);
}

INSTANTIATE_TEST_SUITE_P(SharpestImageSearcherWorkerThread, SearchRange,
                         ::testing::Values(RangeCase{100, 0, 3, {1, 2, 3}}, RangeCase{100, 98, 3, {95, 96, 97, 99}},
                                           RangeCase{100, 50, 0, {}}, RangeCase{100, 99, 1, {98}},
                                           RangeCase{1, 0, 3, {}}, RangeCase{5, 2, 10, {0, 1, 3, 4}}));

TEST(SharpestImageSearcherWorkerThread, EqualScoresKeepTheLowerIndex)
{
    const std::vector<cv::Mat> frames{checkerboard(5), checkerboard(20), flat(), checkerboard(20), checkerboard(10)};
    tiletest::RecordingSequence source(frames);
    const auto outcome = runSearch(frames[2], 2, &source, 2);
    ASSERT_TRUE(outcome);
    EXPECT_EQ(frameIndices(*outcome), (std::vector<int>{2, 0, 4, 1}));
}

TEST(SharpestImageSearcherWorkerThread, NothingSharperGivesTheCurrentFrameAlone)
{
    const cv::Mat photo = tiletest::realPhoto(320);
    if (photo.empty())
        GTEST_SKIP() << "test media absent";
    // Real photo at the current frame, blurred versions and an all-black frame around it.
    const std::vector<cv::Mat> frames{tiletest::blurred(photo, 2.0), tiletest::blurred(photo, 1.0), photo,
                                      tiletest::blurred(photo, 0.8), cv::Mat::zeros(photo.size(), photo.type())};
    tiletest::RecordingSequence source(frames);
    const auto outcome = runSearch(photo, 2, &source, 3);
    ASSERT_TRUE(outcome);
    ASSERT_EQ(outcome->size(), 1u);
    EXPECT_EQ(outcome->begin()->second, 2);
    EXPECT_GT(outcome->begin()->first, 0.0f);
}

TEST(SharpestImageSearcherWorkerThread, UnreadableFrameIsLoggedAndSkipped)
{
    const QString logDir = testmedia::makeTempDir("sharpest-search-log");
    testfiles::useLogIn(logDir);
    const std::vector<cv::Mat> frames{checkerboard(30), cv::Mat(), flat(), checkerboard(10)};
    tiletest::RecordingSequence source(frames);
    const auto outcome = runSearch(frames[2], 2, &source, 2);
    ASSERT_TRUE(outcome);
    EXPECT_EQ(frameIndices(*outcome), (std::vector<int>{2, 3, 0}));
    EXPECT_EQ(testfiles::countInLog("The frame 1 could not be read"), 1);
    QDir(logDir).removeRecursively();
}

TEST(SharpestImageSearcherWorkerThread, DeletingARunningSearchStopsItWithoutReporting)
{
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 60; ++i)
        frames.push_back(checkerboard(1 + i));
    tiletest::RecordingSequence source(frames, 20);
    bool reported = false;
    {
        auto thread = std::make_unique<SharpestImageSearcherWorkerThread>(frames[0], 0, &source, 59);
        QObject::connect(thread.get(), &SharpestImageSearcherWorkerThread::processWellFinished,
                         [&reported](SharpnessCandidates) { reported = true; });
        thread->start();
        ASSERT_TRUE(tiletest::waitUntil([&source] { return source.readIndices().size() >= 2; }));
    }
    EXPECT_EQ(source.readsInProgress(), 0);
    EXPECT_FALSE(reported);
    EXPECT_LT(source.readIndices().size(), 59u);
}

}  // namespace
