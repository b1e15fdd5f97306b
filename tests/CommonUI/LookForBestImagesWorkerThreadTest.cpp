#include "LookForBestImagesWorkerThread.h"
#include "TileTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace {

// Frames of one still scene: every neighbour can be stacked with any other.
std::vector<cv::Mat> stillScene(const cv::Mat& photo, int count)
{
    return std::vector<cv::Mat>(static_cast<size_t>(count), photo);
}

// A source whose reads of frames other than the instant one wait until opened
// (or until the test gives up), so that a search can be caught mid-walk.
class GatedSequence : public ImagesSequenceBase {
public:
    GatedSequence(std::vector<cv::Mat> frames, int instant) : frames(std::move(frames)), instant(instant) {}

    cv::Mat& getFrame(cv::Mat& output, int index, bool preview) override
    {
        if (index != instant) {
            waiting = true;
            for (int waited = 0; !open && waited < 5000; ++waited)
                QThread::msleep(1);
        }
        return frames.getFrame(output, index, preview);
    }
    bool isAtEnd() override { return frames.isAtEnd(); }
    int numberOfFrames() const override { return frames.numberOfFrames(); }

    std::atomic<bool> waiting{false};
    std::atomic<bool> open{false};

private:
    InMemorySequence frames;
    const int instant;
};

TEST(LookForBestImagesWorkerThread, StillSceneReachesBothEndsAndReportsThem)
{
    const cv::Mat photo = tiletest::realPhoto(320);
    if (photo.empty())
        GTEST_SKIP() << "test media absent";
    InMemorySequence source(stillScene(photo, 5));
    LookForBestImagesWorkerThread thread(&source, 2);
    std::optional<std::pair<int, int>> reported;
    QObject::connect(&thread, &LookForBestImagesWorkerThread::processWellFinished,
                     [&reported](int first, int last) { reported = std::make_pair(first, last); });
    EXPECT_EQ(thread.first, -1);
    EXPECT_EQ(thread.last, -1);
    thread.start();
    thread.wait();
    EXPECT_EQ(thread.first, -1);
    EXPECT_EQ(thread.last, 5);
    ASSERT_TRUE(reported);
    EXPECT_EQ(*reported, std::make_pair(-1, 5));
    EXPECT_FALSE(thread.context.running);
}

TEST(LookForBestImagesWorkerThread, CancelDuringTheBackwardWalkLeavesBothIndices)
{
    const cv::Mat photo = tiletest::realPhoto(160);
    if (photo.empty())
        GTEST_SKIP() << "test media absent";
    GatedSequence source(stillScene(photo, 6), 3);
    LookForBestImagesWorkerThread thread(&source, 3);
    thread.start();
    ASSERT_TRUE(tiletest::waitUntil([&source] { return source.waiting.load(); }));
    thread.context.requestCancel();
    source.open = true;
    thread.wait();
    EXPECT_EQ(thread.first, -1);
    EXPECT_EQ(thread.last, -1);
}

TEST(LookForBestImagesWorkerThread, DeletingARunningSearchCancelsAndWaits)
{
    const cv::Mat photo = tiletest::realPhoto(160);
    if (photo.empty())
        GTEST_SKIP() << "test media absent";
    tiletest::RecordingSequence source(stillScene(photo, 200), 10);
    {
        auto thread = std::make_unique<LookForBestImagesWorkerThread>(&source, 100);
        thread->start();
        ASSERT_TRUE(tiletest::waitUntil([&source] { return source.readIndices().size() >= 3; }));
    }
    EXPECT_EQ(source.readsInProgress(), 0);
    // The instant frame, the neighbours reached before the cancel, and the last look at the instant frame.
    EXPECT_LT(source.readIndices().size(), 100u);
}

}  // namespace
