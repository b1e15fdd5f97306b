#include "FrameSourceTestSupport.h"
#include "ImagesSequence.h"
#include "TestMedia.h"

#include <gtest/gtest.h>

#include <functional>

using namespace framesource;

namespace {

struct FakeVideo {
    FakeCapture* capture;
    std::shared_ptr<ManualClock> clock;
    std::unique_ptr<ImagesSequence> sequence;
};

FakeVideo openFake(const std::function<void(FakeCapture&)>& configure = {})
{
    auto capture = std::make_unique<FakeCapture>();
    if (configure)
        configure(*capture);
    FakeCapture* raw = capture.get();
    auto clock = std::make_shared<ManualClock>();
    auto sequence = std::make_unique<ImagesSequence>(QString("fake.mp4"), std::move(capture), clock);
    return {raw, clock, std::move(sequence)};
}

int show(ImagesSequence& sequence, int index)
{
    cv::Mat shown;
    return tinyFrameIndex(sequence.getDisplayImageAt(shown, index, false, false));
}

int step(ImagesSequence& sequence, bool forward)
{
    cv::Mat shown;
    return tinyFrameIndex(forward ? sequence.nextFrame(shown, false, false) : sequence.previousFrame(shown, false, false));
}

const std::pair<const char*, std::function<void(FakeCapture&)>> kCaptureKinds[] = {
    {"seeks", [](FakeCapture&) {}},
    {"refuses to seek", [](FakeCapture& c) { c.refusesSeek = true; }},
    {"ignores seeks", [](FakeCapture& c) { c.ignoresSeek = true; }},
    {"seeks land late", [](FakeCapture& c) { c.seekLandsOff = 3; }},
    {"no frame times", [](FakeCapture& c) { c.hasTimes = false; }},
};

}  // namespace

TEST(ImagesSequencePlayback, SeekToTheCurrentIndexDoesNotDecode)
{
    FakeVideo video = openFake();
    const int grabs = video.capture->grabs;
    video.sequence->seek(0);
    EXPECT_EQ(video.capture->grabs, grabs);
    video.sequence->seek(7);
    EXPECT_EQ(video.sequence->getCurrentIndex(), 7);
    EXPECT_EQ(step(*video.sequence, true), 8);
    video.sequence->seek(30);
    EXPECT_EQ(video.sequence->getCurrentIndex(), 8);
}

TEST(ImagesSequencePlayback, CaptureThatCannotSeekGrabsForwardOrStartsOver)
{
    FakeVideo video = openFake([](FakeCapture& c) { c.refusesSeek = true; });
    ImagesSequence& sequence = *video.sequence;
    EXPECT_EQ(show(sequence, 2), 2);

    int grabs = video.capture->grabs;
    cv::Mat frame;
    EXPECT_EQ(tinyFrameIndex(sequence.getCvImageAt(frame, 5, false, false, false)), 5);
    EXPECT_EQ(video.capture->grabs - grabs, 3);

    const int openings = video.capture->openings;
    grabs = video.capture->grabs;
    EXPECT_EQ(tinyFrameIndex(sequence.getCvImageAt(frame, 1, false, false, false)), 1);
    EXPECT_EQ(video.capture->openings, openings + 1);
    EXPECT_EQ(video.capture->grabs - grabs, 2);

    // A frame before the playback range is still reached from the start.
    sequence.setFirstIndex(4);
    EXPECT_EQ(show(sequence, 9), 9);
    EXPECT_EQ(tinyFrameIndex(sequence.getCvImageAt(frame, 2, false, false, false)), 2);
    EXPECT_EQ(sequence.getCurrentIndex(), 2);
}

TEST(ImagesSequencePlayback, RewindGoesToTheStartOfTheRange)
{
    for (const auto& kind : kCaptureKinds) {
        SCOPED_TRACE(kind.first);
        FakeVideo video = openFake(kind.second);
        ImagesSequence& sequence = *video.sequence;
        sequence.setFirstIndex(4);
        EXPECT_EQ(show(sequence, 17), 17);
        sequence.rewind(false);
        EXPECT_EQ(sequence.getCurrentIndex(), 4);
        cv::Mat shown;
        EXPECT_EQ(tinyFrameIndex(sequence.getDisplayImageAt(shown, 30, false, false)), 4);
        EXPECT_EQ(step(sequence, true), 5);
        EXPECT_EQ(step(sequence, false), 4);
        EXPECT_EQ(step(sequence, false), 4);
        EXPECT_EQ(sequence.getCurrentIndex(), 4);
    }
}

TEST(ImagesSequencePlayback, FailedReadsKeepTheFrameOnDisplay)
{
    for (const auto& kind : kCaptureKinds) {
        SCOPED_TRACE(kind.first);
        FakeVideo video = openFake([&](FakeCapture& c) {
            kind.second(c);
            c.unreadable = {5};
        });
        ImagesSequence& sequence = *video.sequence;
        EXPECT_EQ(show(sequence, 6), 6);
        // Backwards the position moves on; forwards it waits.
        EXPECT_EQ(step(sequence, false), 6);
        EXPECT_EQ(sequence.getCurrentIndex(), 5);
        EXPECT_EQ(step(sequence, false), 4);
        EXPECT_EQ(step(sequence, true), 4);
        EXPECT_EQ(sequence.getCurrentIndex(), 4);
        cv::Mat frame;
        EXPECT_TRUE(sequence.getFrame(frame, 5, false).empty());
    }
}

TEST(ImagesSequencePlayback, PacingSleepsOrSkipsFrames)
{
    const struct {
        const char* name;
        float secondsPerFrame;
        double interval;
        bool forward;
        qint64 sleptMicroseconds;
        int moved;
    } cases[] = {
        {"ahead of time, forwards", 1.65f / 25, 0.02, true, 46000, 1},
        {"ahead of time, backwards", 1.65f / 25, 0.02, false, 46000, -1},
        {"behind, forwards", 0.02f, 0.07, true, 0, 3},
        {"behind, backwards", 0.02f, 0.07, false, 0, -3},
        {"interface was busy", 0.02f, 0.5, true, 0, 1},
        {"exactly on time", 0.05f, 0.05, true, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeVideo video = openFake();
        ImagesSequence& sequence = *video.sequence;
        sequence.secondsPerFrame = c.secondsPerFrame;
        show(sequence, 15);
        video.clock->advanceSeconds(c.interval);
        cv::Mat shown;
        if (c.forward)
            sequence.playNextFrame(shown, false);
        else
            sequence.playPreviousFrame(shown, false);
        EXPECT_NEAR(static_cast<double>(video.clock->sleptMicroseconds), static_cast<double>(c.sleptMicroseconds), 1500.0);
        EXPECT_EQ(sequence.getCurrentIndex(), 15 + c.moved);
        EXPECT_EQ(tinyFrameIndex(shown), 15 + c.moved);
    }
}

TEST(ImagesSequencePlayback, PacingNeverStepsPastTheRange)
{
    const struct {
        int from;
        bool forward;
        int expected;
    } cases[] = {{6, true, 10}, {9, true, 10}, {10, true, 10}, {9, false, 5}, {6, false, 5}, {5, false, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "from " << c.from << (c.forward ? " forwards" : " backwards"));
        FakeVideo video = openFake();
        ImagesSequence& sequence = *video.sequence;
        sequence.setLastIndex(10);
        sequence.setFirstIndex(5);
        sequence.secondsPerFrame = 0.01f;
        show(sequence, c.from);
        video.clock->advanceSeconds(0.09);  // eight frames behind
        cv::Mat shown;
        if (c.forward)
            sequence.playNextFrame(shown, false);
        else
            sequence.playPreviousFrame(shown, false);
        EXPECT_EQ(sequence.getCurrentIndex(), c.expected);
        EXPECT_EQ(tinyFrameIndex(shown), c.expected);
    }
}

TEST(ImagesSequencePlayback, PlayingShowsEveryFrameOnceUpToTheEnd)
{
    const QString folder = testmedia::makeTempDir("vb-play");
    const QStringList photos = writeTinyPhotos(folder, "p", 12);
    auto photoClock = std::make_shared<ManualClock>();
    FakeVideo video = openFake();
    struct Source {
        const char* name;
        ImagesSequence* sequence;
        ManualClock* clock;
    };
    ImagesSequence photoSequence(photos, photoClock);
    for (const Source& source : {Source{"video", video.sequence.get(), video.clock.get()},
                                 Source{"photos", &photoSequence, photoClock.get()}}) {
        SCOPED_TRACE(source.name);
        ImagesSequence& sequence = *source.sequence;
        show(sequence, sequence.lastIndex);
        ASSERT_TRUE(sequence.isAtEnd());
        sequence.rewind(true);
        std::vector<int> shownFrames;
        cv::Mat shown;
        while (!sequence.isAtEnd())
            shownFrames.push_back(tinyFrameIndex(sequence.playNextFrame(shown, true)));
        ASSERT_EQ(static_cast<int>(shownFrames.size()), sequence.frameCount - 1);
        for (int i = 0; i < static_cast<int>(shownFrames.size()); ++i)
            EXPECT_EQ(shownFrames[i], i + 1);
        // Decoding takes no time here, so each frame waits one whole frame period.
        EXPECT_NEAR(static_cast<double>(source.clock->sleptMicroseconds) / 1e6,
                    (sequence.frameCount - 1) * sequence.secondsPerFrame, 0.001 * sequence.frameCount);
    }
}
