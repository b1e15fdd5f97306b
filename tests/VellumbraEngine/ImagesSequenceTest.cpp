#include "FrameSourceTestSupport.h"
#include "ImageIO.h"
#include "ImageIOTestSupport.h"
#include "ImagesSequence.h"
#include "InMemorySequence.h"
#include "TestMedia.h"

#include <QFile>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <numeric>
#include <random>
#include <thread>

using namespace framesource;

namespace {

int frameAt(ImagesSequence& sequence, int index)
{
    cv::Mat frame;
    return tinyFrameIndex(sequence.getFrame(frame, index, false));
}

int displayedIndex(ImagesSequence& sequence, int index)
{
    cv::Mat shown;
    return tinyFrameIndex(sequence.getDisplayImageAt(shown, index, true, false));
}

// The indices that the stacking run reads: the chosen one, then after and before in turn.
std::vector<int> stackingOrder(int instant, int before, int after)
{
    std::vector<int> order{instant};
    for (int k = 1; k <= std::max(before, after); ++k) {
        if (k <= after)
            order.push_back(instant + k);
        if (k <= before)
            order.push_back(instant - k);
    }
    return order;
}

}  // namespace

TEST(ImagesSequence, CountsOnlyTheFramesThatCanBeDecodedAndSeeksExactly)
{
    struct Case {
        const char* name;
        int decodable;
        std::function<void(FakeCapture&)> misbehave;
    };
    const Case cases[] = {
        {"reports 100, decodes 97", 97, [](FakeCapture& c) { c.reportedCount = 100; }},
        {"reports 10, decodes 30", 30, [](FakeCapture& c) { c.reportedCount = 10; }},
        {"reports far past the end", 97, [](FakeCapture& c) { c.reportedCount = 1000; }},
        {"reports nothing", 12, [](FakeCapture& c) { c.reportedCount = 0; }},
        {"reports NaN", 12, [](FakeCapture& c) { c.reportedCount = std::nan(""); }},
        {"refuses to seek", 97, [](FakeCapture& c) { c.refusesSeek = true; }},
        {"accepts a seek but stays", 97, [](FakeCapture& c) { c.ignoresSeek = true; }},
        {"seeks land two frames late", 97, [](FakeCapture& c) { c.seekLandsOff = 2; }},
        {"seeks land three frames early", 97, [](FakeCapture& c) { c.seekLandsOff = -3; }},
        {"no frame times", 40, [](FakeCapture& c) { c.hasTimes = false; }},
        {"a single frame", 1, [](FakeCapture& c) { c.reportedCount = 1; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeVideo video = openFake([&](FakeCapture& capture) {
            capture.decodable = c.decodable;
            capture.reportedCount = c.decodable;
            c.misbehave(capture);
        });
        ImagesSequence& sequence = *video.sequence;
        ASSERT_TRUE(sequence.opened);
        EXPECT_EQ(sequence.frameCount, c.decodable);
        EXPECT_EQ(sequence.lastIndex, c.decodable - 1);
        EXPECT_EQ(sequence.getCurrentIndex(), 0);
        EXPECT_EQ(displayedIndex(sequence, 0), 0);
        const int last = c.decodable - 1;
        for (int index : {last, last / 2, 0, last - 1, last / 3, last}) {
            if (index >= 0) {
                EXPECT_EQ(frameAt(sequence, index), index);
            }
        }
        EXPECT_EQ(frameAt(sequence, c.decodable), -1);
        EXPECT_EQ(frameAt(sequence, -1), -1);
        EXPECT_EQ(sequence.getCurrentIndex(), 0);
        cv::Mat shown;
        EXPECT_EQ(tinyFrameIndex(sequence.nextFrame(shown, false, false)), std::min(1, last));
    }
}

TEST(ImagesSequence, VideoThatCannotBeOpenedStaysUnopenedWithALogEntry)
{
    const QString folder = testmedia::makeTempDir("vb-notvideo");
    const QString textFile = folder + "/notes.mp4";
    QFile file(textFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("this is not a video\n");
    file.close();

    struct Case {
        const char* name;
        QString path;
        std::function<void(FakeCapture&)> fake;  // empty: the real FFmpeg capture
        const char* message;
    };
    const char* const missing = "' does not exist or we can not open it.";
    const char* const damaged = "' exists but gives no frame: it is damaged or in a form we can not decode.";
    const Case cases[] = {
        {"missing file", folder + "/missing.mp4", {}, missing},
        {"text file", textFile, {}, damaged},
        {"capture refuses to open", "refused.mp4", [](FakeCapture& c) { c.opens = false; }, missing},
        {"no frame at all", "empty.mp4", [](FakeCapture& c) { c.decodable = 0; }, missing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        std::unique_ptr<FakeCapture> fake;
        if (c.fake) {
            fake = std::make_unique<FakeCapture>();
            c.fake(*fake);
        }
        ImagesSequence sequence(c.path, std::move(fake));
        EXPECT_FALSE(sequence.opened);
        EXPECT_TRUE(log.text().contains("ERROR at function main => The video '" + c.path + c.message));
        cv::Mat frame;
        EXPECT_TRUE(sequence.getFrame(frame, 0, false).empty());
        EXPECT_TRUE(sequence.nextFrame(frame, false, false).empty());
    }
}

TEST(ImagesSequence, UnusableFrameRateFallsBackTo25)
{
    for (double reported : {0.0, std::nan(""), -30.0, double(INFINITY)}) {
        SCOPED_TRACE(reported);
        LogCapture log;
        FakeVideo video = openFake([&](FakeCapture& capture) { capture.reportedFps = reported; });
        ImagesSequence& sequence = *video.sequence;
        EXPECT_FLOAT_EQ(sequence.fps, 25.0f);
        EXPECT_FLOAT_EQ(sequence.secondsPerFrame, 1.65f / 25.0f);
        EXPECT_EQ(sequence.durationLabel, "00:01");
        EXPECT_TRUE(log.text().contains("frame rate"));
    }
}

TEST(ImagesSequence, LabelsNameTimesAndPhotoNumbers)
{
    FakeVideo long25 = openFake([](FakeCapture& c) {
        c.decodable = 1501;
        c.reportedCount = 1501;
    });
    EXPECT_EQ(long25.sequence->positionLabel(900), "00:36");
    EXPECT_EQ(long25.sequence->positionLabel(-1), "00:00");
    EXPECT_EQ(long25.sequence->infoLabel(-1), "01:00");
    EXPECT_EQ(long25.sequence->currentFileName(), "fake.mp4");

    // One frame has no span to divide by.
    FakeVideo single = openFake([](FakeCapture& c) { c.decodable = c.reportedCount = 1; });
    EXPECT_EQ(single.sequence->durationLabel, "00:00");
    EXPECT_EQ(single.sequence->positionLabel(0), "00:00");

    const QString folder = testmedia::makeTempDir("vb-photos12");
    const QStringList files = writeTinyPhotos(folder, "photo", 12);
    ImagesSequence photos(files);
    ASSERT_TRUE(photos.opened);
    EXPECT_EQ(displayedIndex(photos, 4), 4);
    EXPECT_EQ(photos.positionLabel(-1), "5/12");
    EXPECT_EQ(photos.infoLabel(-1), "photo04.png");
    EXPECT_EQ(photos.currentFileName(), files[4]);
    EXPECT_EQ(photos.infoLabel(12), "");
}

TEST(ImagesSequence, SpeedStepsSetTheSecondsPerFrame)
{
    FakeVideo video = openFake([](FakeCapture& c) { c.reportedFps = 30; });
    const struct {
        int step;
        float secondsPerFrame;
    } cases[] = {{0, 0.055f}, {4, 0.0275f}, {-4, 0.11f}, {1, 6.6f / (5 * 30)}, {-1, 5 * 1.65f * 0.25f / 30}};
    for (const auto& c : cases) {
        video.sequence->setSpeed(c.step);
        EXPECT_NEAR(video.sequence->secondsPerFrame, c.secondsPerFrame, 1e-6) << "step " << c.step;
    }
}

TEST(ImagesSequence, BrightnessScalesTheDisplayImage)
{
    FakeVideo video = openFake([](FakeCapture& c) { c.decodable = c.reportedCount = 200; });
    ImagesSequence& sequence = *video.sequence;
    const cv::Mat decoded = tinyFrame(150);  // blue 150, green 0, red 77
    const struct {
        int step;
        cv::Vec3b expected;
    } cases[] = {{0, {150, 0, 77}}, {3, {255, 0, 154}}, {-3, {75, 0, 38}}, {6, {255, 0, 255}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        sequence.setBrightness(c.step);
        cv::Mat shown;
        sequence.getDisplayImageAt(shown, 150, true, false);
        EXPECT_EQ(shown.at<cv::Vec3b>(0, 0), c.expected);
        // setBrightness rebuilds the display from the decoded frame, not from the last display.
        sequence.setBrightness(0);
        sequence.getDisplayImageAt(shown, 150, true, false);
        EXPECT_EQ(cv::norm(shown, decoded, cv::NORM_INF), 0);
    }
}

TEST(ImagesSequence, GetFrameLeavesThePlaybackPositionWhereItWas)
{
    FakeVideo video = openFake();
    ImagesSequence& sequence = *video.sequence;
    EXPECT_EQ(displayedIndex(sequence, 10), 10);
    EXPECT_EQ(frameAt(sequence, 3), 3);
    EXPECT_EQ(frameAt(sequence, 25), 25);
    EXPECT_EQ(sequence.getCurrentIndex(), 10);

    cv::Mat shown;
    EXPECT_EQ(tinyFrameIndex(sequence.getCvImageAt(shown, 10, true, false, false)), 10);
    EXPECT_EQ(tinyFrameIndex(sequence.nextFrame(shown, false, false)), 11);
    EXPECT_EQ(tinyFrameIndex(sequence.nextFrame(shown, false, false)), 12);
    EXPECT_EQ(frameAt(sequence, 0), 0);
    EXPECT_EQ(tinyFrameIndex(sequence.previousFrame(shown, false, false)), 11);
    EXPECT_EQ(tinyFrameIndex(sequence.nextFrame(shown, false, false)), 12);
    EXPECT_EQ(tinyFrameIndex(sequence.nextFrame(shown, false, false)), 13);
    EXPECT_EQ(sequence.getCurrentIndex(), 13);
}

TEST(ImagesSequence, StackingOrderReadsSeekRarely)
{
    // A seek costs as much as decoding dozens of frames; grabbing forward is cheap.
    FakeVideo video = openFake([](FakeCapture& c) { c.decodable = c.reportedCount = 300; });
    for (const auto& [instant, side] : {std::pair{40, 2}, {100, 5}, {170, 10}, {250, 20}}) {
        SCOPED_TRACE(side);
        EXPECT_EQ(displayedIndex(*video.sequence, instant), instant);
        const int grabsBefore = video.capture->grabs;
        const int seeksBefore = video.capture->seeks;
        const std::vector<int> order = stackingOrder(instant, side, side);
        for (int index : order)
            ASSERT_EQ(frameAt(*video.sequence, index), index);
        EXPECT_LE(video.capture->seeks - seeksBefore, 2);
        EXPECT_LE(video.capture->grabs - grabsBefore, 3 * static_cast<int>(order.size()) + 10);
    }
}

// A stacking run declares its range: each of its frames is decoded once, and the
// frames held for it are only those passed on the way that it has still to read.
TEST(ImagesSequence, StackingRunHoldsNoMoreFramesThanItsWalkNeeds)
{
    const struct {
        int instant, first, count;
    } cases[] = {{150, 146, 9}, {150, 140, 21}, {150, 150, 5}, {150, 146, 5}, {20, 0, 41}, {3, 3, 1}, {298, 290, 10}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "instant " << c.instant << ", first " << c.first << ", count " << c.count);
        CountingAllocator frames;
        FakeVideo video = openFake([&](FakeCapture& capture) {
            capture.decodable = capture.reportedCount = 300;
            capture.allocator = &frames;
        });
        ASSERT_EQ(displayedIndex(*video.sequence, c.instant), c.instant);
        video.sequence->prepareRange(c.first, c.count);
        const int madeBefore = frames.made();
        const int seeksBefore = video.capture->seeks;
        const int framesBefore = c.instant - c.first;
        for (int index : stackingOrder(c.instant, framesBefore, c.first + c.count - 1 - c.instant)) {
            ASSERT_EQ(frameAt(*video.sequence, index), index);
            EXPECT_LE(frames.alive(), std::max(framesBefore, 1)) << "after frame " << index;
        }
        EXPECT_EQ(frames.alive(), 0);
        EXPECT_LE(frames.made() - madeBefore, c.count) << "each frame decoded once";
        EXPECT_LE(video.capture->seeks - seeksBefore, 1);
    }
}

// Reads that are not the run's, and the timeline moving, end the run's way of
// caching: every read still gives its frame.
TEST(ImagesSequence, ReadsBesideAStackingRunGiveTheirFrames)
{
    FakeVideo video = openFake([](FakeCapture& capture) { capture.decodable = capture.reportedCount = 300; });
    ImagesSequence& sequence = *video.sequence;
    EXPECT_EQ(displayedIndex(sequence, 100), 100);
    sequence.prepareRange(96, 9);
    for (int index : {100, 101, 99, 50, 98, 102, 97})
        EXPECT_EQ(frameAt(sequence, index), index);
    sequence.prepareRange(96, 9);
    for (int index : {100, 101, 99})
        EXPECT_EQ(frameAt(sequence, index), index);
    cv::Mat shown;
    EXPECT_EQ(tinyFrameIndex(sequence.previousFrame(shown, false, false)), 99);
    for (int index : {100, 98, 96, 99, 300, -1})
        EXPECT_EQ(frameAt(sequence, index), index < 300 ? index : -1);
    // Out of bounds ranges are clipped, and an empty one changes nothing.
    sequence.prepareRange(290, 40);
    sequence.prepareRange(-5, 0);
    for (int index : {295, 299, 291, 0})
        EXPECT_EQ(frameAt(sequence, index), index);
    EXPECT_EQ(sequence.getCurrentIndex(), 99);
}

TEST(ImagesSequence, IsAtEndAtTheEndOfThePlaybackRange)
{
    FakeVideo video = openFake();
    ImagesSequence& sequence = *video.sequence;
    sequence.setLastIndex(5);
    displayedIndex(sequence, 4);
    EXPECT_FALSE(sequence.isAtEnd());
    displayedIndex(sequence, 5);
    EXPECT_TRUE(sequence.isAtEnd());

    // The range stays inside the frames and in order.
    sequence.setLastIndex(100);
    EXPECT_EQ(sequence.lastIndex, 29);
    sequence.setFirstIndex(-3);
    EXPECT_EQ(sequence.firstIndex, 0);
    sequence.setLastIndex(7);
    sequence.setFirstIndex(9);
    EXPECT_EQ(sequence.firstIndex, 7);
    sequence.setLastIndex(2);
    EXPECT_EQ(sequence.lastIndex, 7);
}

TEST(ImagesSequence, ReadsEveryFrameOfAGeneratedClipExactly)
{
    const QString clip = writeCodedClip(testmedia::makeTempDir("vb-clip"), 60);
    ImagesSequence sequence(clip);
    ASSERT_TRUE(sequence.opened);
    EXPECT_EQ(sequence.frameCount, 60);
    EXPECT_FLOAT_EQ(sequence.fps, 25.0f);
    EXPECT_FLOAT_EQ(sequence.aspectRatio, 2.0f);
    EXPECT_EQ(sequence.durationLabel, "00:02");

    std::vector<int> shuffled(60);
    std::iota(shuffled.begin(), shuffled.end(), 0);
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    cv::Mat frame;
    for (int index : shuffled)
        ASSERT_EQ(codedFrameIndex(sequence.getFrame(frame, index, false)), index);
    for (int index : stackingOrder(30, 12, 12))
        ASSERT_EQ(codedFrameIndex(sequence.getFrame(frame, index, false)), index);
    for (int index : {59, 0, 31, 30, 2})
        ASSERT_EQ(codedFrameIndex(sequence.getDisplayImageAt(frame, index, false, false)), index);
    EXPECT_EQ(sequence.getCurrentIndex(), 2);
    EXPECT_EQ(codedFrameIndex(sequence.nextFrame(frame, false, false)), 3);
}

TEST(ImagesSequence, RandomAccessMatchesSequentialDecodingOfRealVideos)
{
    // Their frame-number seeks land up to four frames off, and some announce frames that never decode.
    for (const char* name : {"movie1/VID_20191220_170832.mp4", "movie2/movie-hello.mp4", "movie2/movie-hello.avi",
                             "movie2/movie-hello.mpeg", "movie2/movie-hello.ogg"}) {
        SCOPED_TRACE(name);
        const QString path = realVideo(name);
        if (path.isEmpty())
            GTEST_SKIP() << "real video " << name << " not fetched";
        const std::vector<std::uint64_t> sequential = sequentialHashes(path);
        const int count = static_cast<int>(sequential.size());

        ImagesSequence sequence(path);
        ASSERT_TRUE(sequence.opened);
        ASSERT_EQ(sequence.frameCount, count);
        std::vector<int> indices = stackingOrder(count / 2, 6, 6);
        std::mt19937 random(11);
        for (int i = 0; i < 12; ++i)
            indices.push_back(std::uniform_int_distribution<int>(0, count - 1)(random));
        indices.push_back(count - 1);
        indices.push_back(0);
        cv::Mat frame;
        for (int index : indices)
            EXPECT_EQ(pixelHash(sequence.getFrame(frame, index, false)), sequential[index]) << "frame " << index;
        // Playing on from a moved position decodes the same frames too.
        sequence.getDisplayImageAt(frame, count / 3, false, false);
        for (int index = count / 3 + 1; index < count / 3 + 5; ++index)
            EXPECT_EQ(pixelHash(sequence.nextFrame(frame, false, false)), sequential[index]) << "frame " << index;
        for (int index = count / 3 + 3; index > count / 3 - 3; --index)
            EXPECT_EQ(pixelHash(sequence.previousFrame(frame, false, false)), sequential[index]) << "frame " << index;
    }
}

TEST(ImagesSequence, PlaysPhotosInCaseSensitiveOrder)
{
    const QString folder = testmedia::makeTempDir("vb-order");
    const QStringList names{"b.png", "A.png", "a.png", "C.png"};
    const QStringList expectedOrder{"A.png", "C.png", "a.png", "b.png"};
    QStringList files;
    for (const QString& name : names) {
        files << folder + "/" + name;
        cv::imwrite(QFile::encodeName(files.back()).toStdString(), tinyFrame(expectedOrder.indexOf(name)));
    }
    ImagesSequence sequence(files);
    ASSERT_TRUE(sequence.opened);
    EXPECT_TRUE(sequence.isPhotoList);
    EXPECT_EQ(sequence.frameCount, 4);
    EXPECT_FLOAT_EQ(sequence.fps, 25.0f);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(frameAt(sequence, i), i);
        EXPECT_EQ(sequence.infoLabel(i), expectedOrder[i]);
    }
    EXPECT_EQ(sequence.getCurrentIndex(), 0);
}

TEST(ImagesSequence, ReadsARealPhotoBurst)
{
    const QStringList photos = testmedia::mediaFiles("forensics-samples-files/usr/share/forensics-samples/original-files",
                                                     {"IMG_2019*.jpg", "IMG_2020*.jpg"});
    if (photos.size() < 3)
        GTEST_SKIP() << "real phone photos not fetched";
    const QString folder = testmedia::makeTempDir("vb-burst");
    QStringList burst;
    for (int i = 0; i < 3; ++i) {
        burst << QString("%1/burst_%2.jpg").arg(folder).arg(i);
        ASSERT_TRUE(QFile::copy(photos[i], burst.back()));
    }
    ImagesSequence sequence(QStringList{burst[2], burst[0], burst[1]});
    ASSERT_TRUE(sequence.opened);
    ASSERT_EQ(sequence.frameCount, 3);
    for (int i = 0; i < 3; ++i) {
        cv::Mat expected;
        readImage(expected, QFile::encodeName(burst[i]).toStdString(), false);
        cv::Mat frame;
        sequence.getFrame(frame, i, false);
        ASSERT_FALSE(frame.empty());
        EXPECT_EQ(cv::norm(frame, expected, cv::NORM_INF), 0) << "photo " << i;
        if (i == 0) {
            EXPECT_FLOAT_EQ(sequence.aspectRatio, static_cast<float>(expected.cols) / expected.rows);
        }
    }
}

TEST(ImagesSequence, UnreadablePhotosGiveEmptyFramesAndALogEntry)
{
    const QString folder = testmedia::makeTempDir("vb-bad-photos");
    const QString good = folder + "/a_good.png";
    const QString garbage = folder + "/b_garbage.jpg";
    const QString missing = folder + "/c_missing.jpg";
    const QString last = folder + "/d_good.png";
    cv::imwrite(QFile::encodeName(good).toStdString(), tinyFrame(1));
    cv::imwrite(QFile::encodeName(last).toStdString(), tinyFrame(4));
    QFile junk(garbage);
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("\xff\xd8 not really a jpeg");
    junk.close();

    LogCapture log;
    ImagesSequence sequence(QStringList{last, missing, garbage, good});
    ASSERT_TRUE(sequence.opened);
    EXPECT_EQ(sequence.frameCount, 4);
    cv::Mat frame;
    EXPECT_TRUE(sequence.getFrame(frame, 1, false).empty());
    EXPECT_TRUE(log.text().contains("ERROR at function getCvImageAt => The image '" + garbage +
                                    "' does not exist or we can not open it."));
    // Stepping onto an unreadable photo shows nothing, never its readable neighbour.
    EXPECT_TRUE(sequence.nextFrame(frame, false, false).empty());
    EXPECT_EQ(sequence.getCurrentIndex(), 1);
    EXPECT_TRUE(log.text().contains("ERROR at function main => The image'" + garbage));
    EXPECT_TRUE(sequence.nextFrame(frame, false, false).empty());
    EXPECT_EQ(tinyFrameIndex(sequence.nextFrame(frame, false, false)), 4);
    EXPECT_TRUE(sequence.previousFrame(frame, false, false).empty());
    EXPECT_EQ(sequence.getCurrentIndex(), 2);
    EXPECT_TRUE(log.text().contains(missing));

    // An unreadable first photo, or none at all, leaves the sequence unopened.
    ImagesSequence firstMissing(QStringList{last, missing});
    EXPECT_FALSE(firstMissing.opened);
    EXPECT_TRUE(log.text().contains("ERROR at function main => The image'" + missing +
                                    "' does not exist or we can not open it."));
    ImagesSequence none{QStringList{}};
    EXPECT_FALSE(none.opened);
    EXPECT_TRUE(none.getFrame(frame, 0, false).empty());
}

TEST(ImagesSequence, WorkersReadTheRightFramesWhileTheInterfaceSteps)
{
    const QString clip = writeCodedClip(testmedia::makeTempDir("vb-threads"), 90);
    ImagesSequence sequence(clip);
    ASSERT_TRUE(sequence.opened);

    std::atomic<int> wrongFrames{0};
    std::atomic<int> reads{0};
    auto worker = [&](unsigned seed) {
        std::mt19937 random(seed);
        cv::Mat frame;
        for (int round = 0; round < 6; ++round) {
            const int instant = std::uniform_int_distribution<int>(10, 79)(random);
            for (int index : stackingOrder(instant, 10, 10)) {
                if (codedFrameIndex(sequence.getFrame(frame, index, false)) != index)
                    ++wrongFrames;
                ++reads;
            }
        }
    };
    std::thread first(worker, 1u);
    std::thread second(worker, 2u);

    int wrongDisplays = 0;
    cv::Mat shown;
    std::mt19937 random(3);
    for (int round = 0; round < 8; ++round) {
        sequence.getDisplayImageAt(shown, std::uniform_int_distribution<int>(5, 84)(random), true, false);
        for (int step = 0; step < 5; ++step) {
            if (codedFrameIndex(sequence.nextFrame(shown, false, true)) != sequence.getCurrentIndex())
                ++wrongDisplays;
        }
        for (int step = 0; step < 5; ++step) {
            if (codedFrameIndex(sequence.previousFrame(shown, false, true)) != sequence.getCurrentIndex())
                ++wrongDisplays;
            if (codedFrameIndex(sequence.getCvImageAt(shown, sequence.getCurrentIndex(), true, false, false)) !=
                sequence.getCurrentIndex())
                ++wrongDisplays;
        }
    }
    first.join();
    second.join();
    EXPECT_EQ(wrongFrames, 0);
    EXPECT_EQ(reads, 2 * 6 * 21);
    EXPECT_EQ(wrongDisplays, 0);
}

TEST(InMemorySequence, GivesCopiesOfItsFramesByIndex)
{
    InMemorySequence sequence({tinyFrame(0), tinyFrame(1), tinyFrame(2)});
    EXPECT_EQ(sequence.numberOfFrames(), 3);
    EXPECT_EQ(sequence.lastFrameIndex(), 2);
    EXPECT_FALSE(sequence.isAtEnd());
    cv::Mat frame;
    EXPECT_EQ(tinyFrameIndex(sequence.getFrame(frame, 2, false)), 2);
    frame.setTo(cv::Scalar(9, 0, 0));
    EXPECT_EQ(tinyFrameIndex(sequence.getFrame(frame, 2, true)), 2);
    EXPECT_TRUE(sequence.getFrame(frame, 3, false).empty());
    EXPECT_TRUE(sequence.getFrame(frame, -1, false).empty());
    EXPECT_TRUE(InMemorySequence(std::vector<cv::Mat>{tinyFrame(0)}).isAtEnd());
}

// The photo coded as named: baseline, progressive, arithmetic, or with restart
// markers whose numbers are all off by four (out of turn, the data intact).
std::vector<uchar> encodedPhoto(const cv::Mat& photo, const std::string& coding)
{
    std::vector<uchar> bytes;
    cv::imencode(".jpg", photo, bytes,
                 {cv::IMWRITE_JPEG_PROGRESSIVE, coding == "progressive", cv::IMWRITE_JPEG_RST_INTERVAL,
                  coding == "restarts out of turn" ? 4 : 0});
    if (coding == "arithmetic")
        return imageio_test::arithmeticCodedJpeg(bytes);
    for (size_t at = 0; coding == "restarts out of turn" && at + 1 < bytes.size(); ++at) {
        if (bytes[at] == 0xFF && bytes[at + 1] >= 0xD0 && bytes[at + 1] <= 0xD7)
            bytes[at + 1] = static_cast<uchar>(0xD0 + ((bytes[at + 1] - 0xD0 + 4) & 7));
    }
    return bytes;
}

// A burst member cut short or damaged is not read with grey rows: its frame is empty and
// the log names it, so the stacking run leaves it out and says so. Whole members beside
// it, progressive and arithmetic ones, ones with bytes after their end, ones lacking
// only their end marker or padded before it, and ones whose restart markers are out of
// turn read as the whole file does.
TEST(ImagesSequence, BurstMembersCutShortAreReportedNotFilledWithGrey)
{
    const QString folder = testmedia::makeTempDir("vb-cut-burst");
    cv::Mat photo(480, 640, CV_8UC3);
    cv::theRNG().state = 11;
    cv::randu(photo, cv::Scalar::all(0), cv::Scalar::all(256));
    const struct {
        const char* name;
        const char* coding;
        double kept;          // share of the encoded bytes in the file
        int dropped;          // bytes then left off its end
        bool overwritten;     // 16 bytes in the middle of the picture data replaced
        const char* after;    // bytes following the picture
        const char* message;  // what the log says of it; null when it reads
    } cases[] = {
        {"a_whole.jpg", "baseline", 1.0, 0, false, "", nullptr},
        {"b_cut.jpg", "baseline", 0.4, 0, false, "", "ends before its picture data does"},
        {"c_progressive.jpg", "progressive", 1.0, 0, false, "", nullptr},
        {"d_progressive_cut.jpg", "progressive", 0.6, 0, false, "", "ends before its picture data does"},
        {"e_trailer.jpg", "baseline", 1.0, 0, false, "appended by a phone", nullptr},
        {"f_no_end_marker.jpg", "baseline", 1.0, 2, false, "", nullptr},
        {"g_progressive_no_end_marker.jpg", "progressive", 1.0, 2, false, "", nullptr},
        {"h_overwritten.jpg", "baseline", 1.0, 0, true, "", "is damaged"},
        {"i_progressive_overwritten.jpg", "progressive", 1.0, 0, true, "", "is damaged"},
        {"j_arithmetic.jpg", "arithmetic", 1.0, 0, false, "", nullptr},
        {"k_arithmetic_cut.jpg", "arithmetic", 0.5, 0, false, "", "ends before its picture data does"},
        {"l_arithmetic_no_end_marker.jpg", "arithmetic", 1.0, 2, false, "", nullptr},
        {"m_arithmetic_overwritten.jpg", "arithmetic", 1.0, 0, true, "", "is damaged"},
        {"n_restarts_out_of_turn.jpg", "restarts out of turn", 1.0, 0, false, "", nullptr},
        {"o_fill_before_end.jpg", "baseline", 1.0, 2, false, "\xFF\xFF\xFF\xFF\xD9", nullptr},
        {"p_stray_bytes_before_end.jpg", "baseline", 1.0, 2, false, "\x12\x34\x56\x78\x9A\xFF\xD9", "is damaged"},
    };
    QStringList files;
    std::vector<cv::Mat> whole;
    for (const auto& c : cases) {
        std::vector<uchar> bytes = encodedPhoto(photo, c.coding);
        whole.push_back(cv::imdecode(bytes, cv::IMREAD_COLOR));
        if (c.overwritten)
            std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2), 16, uchar(0x5A));
        files << folder + "/" + c.name;
        QFile file(files.back());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size() * c.kept) - c.dropped);
        file.write(c.after);
    }
    LogCapture log;
    ImagesSequence burst(files);
    ASSERT_TRUE(burst.opened);
    for (int i = 0; i < static_cast<int>(files.size()); ++i) {
        SCOPED_TRACE(cases[i].name);
        cv::Mat frame;
        burst.getFrame(frame, i, false);
        EXPECT_EQ(frame.empty(), cases[i].message != nullptr);
        if (cases[i].message)
            EXPECT_TRUE(log.text().contains("\"" + files[i] + "\" " + cases[i].message)) << log.text().toStdString();
        else
            EXPECT_EQ(cv::norm(frame, whole[i], cv::NORM_INF), 0.0);
    }
}
