// Videos cut short or stripped of their key-frame table, and a long clip, read
// through ImagesSequence and compared with a plain sequential decode.
#include "FrameSourceTestSupport.h"
#include "TestMedia.h"
#include "VideoFileCapture.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <opencv2/videoio.hpp>

#include <cstdint>
#include <random>
#include <vector>

using namespace framesource;

namespace {

// A copy of `source` cut to `fraction` of its bytes; with `dropKeyTable` its MP4
// key-frame table ("stss") is renamed away, so that the container calls every
// frame a key frame.
QString damagedCopy(const QString& source, double fraction, bool dropKeyTable, const QString& target)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return QString();
    QByteArray bytes = in.readAll();
    if (dropKeyTable) {
        const int table = bytes.indexOf("stss");
        if (table < 0)
            return QString();
        bytes.replace(table, 4, "free");
    }
    bytes.truncate(static_cast<int>(bytes.size() * fraction));
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
        return QString();
    return target;
}

bool runFfmpeg(const QStringList& arguments)
{
    return QProcess::execute("ffmpeg", QStringList{"-v", "error", "-y"} + arguments) == 0;
}

}  // namespace

TEST(VideoFileCapture, RandomReadsOfDamagedVideosEqualASequentialDecode)
{
    const struct {
        const char* video;
        double fraction;
        bool dropKeyTable;
    } cases[] = {
        {"movie1/VID_20191220_170832.mp4", 0.5, false}, {"movie1/VID_20191220_170832.mp4", 0.9, false},
        {"movie2/movie-hello.mp4", 0.5, false},         {"movie2/movie-hello.mp4", 0.9, false},
        {"movie2/movie-hello.avi", 0.5, false},         {"movie2/movie-hello.avi", 0.9, false},
        {"movie2/movie-hello.mpeg", 0.5, false},        {"movie2/movie-hello.ogg", 0.9, false},
        {"movie1/VID_20191220_170832.mp4", 1.0, true},  {"movie1/VID_20191220_170832.mp4", 0.9, true},
    };
    QDir folder(testmedia::makeTempDir("vb-damaged-video"));
    int caseNumber = 0;
    for (const auto& c : cases) {
        const QString source = realVideo(c.video);
        if (source.isEmpty())
            GTEST_SKIP() << "real video " << c.video << " not fetched";
        SCOPED_TRACE(std::string(c.video) + " cut at " + std::to_string(c.fraction) +
                     (c.dropKeyTable ? " without its key-frame table" : ""));
        const QString path = damagedCopy(source, c.fraction, c.dropKeyTable,
                                         folder.filePath(QString("case%1.%2").arg(caseNumber++).arg(QFileInfo(source).suffix())));
        ASSERT_FALSE(path.isEmpty());
        const std::vector<std::uint64_t> sequential = sequentialHashes(path);
        ASSERT_GT(sequential.size(), 10u);

        ImagesSequence sequence(path);
        ASSERT_TRUE(sequence.opened);
        ASSERT_EQ(sequence.frameCount, static_cast<int>(sequential.size()));
        std::mt19937 random(17);
        cv::Mat frame;
        for (int read = 0; read < 30; ++read) {
            const int index = std::uniform_int_distribution<int>(0, sequence.frameCount - 1)(random);
            EXPECT_EQ(pixelHash(sequence.getFrame(frame, index, false)), sequential[index]) << "frame " << index;
        }
        // Stepping back over a group boundary and playing on decode the same frames.
        const int middle = sequence.frameCount / 2;
        sequence.getDisplayImageAt(frame, middle, false, false);
        EXPECT_EQ(pixelHash(sequence.previousFrame(frame, false, false)), sequential[middle - 1]);
        EXPECT_EQ(pixelHash(sequence.nextFrame(frame, false, false)), sequential[middle]);
    }
    folder.removeRecursively();
}

// A five-minute clip looped from a real one (kept small so the sequential decode
// stays quick) is counted from its packet index: the count equals a sequential
// decode's and the last frames are the same, which a count taken from the
// container's duration or from frame-number seeks would not give.
TEST(VideoFileCapture, LongClipIsCountedAndReadWithoutDecodingItAll)
{
    const QString source = realVideo("movie1/VID_20191220_170832.mp4");
    if (source.isEmpty() || QStandardPaths::findExecutable("ffmpeg").isEmpty())
        GTEST_SKIP() << "needs ffmpeg and the real phone video";
    QDir folder(testmedia::makeTempDir("vb-long-video"));
    // Scaled down once, then looped without decoding: the loop takes seconds.
    const QString small = folder.filePath("small.mp4");
    const QString clip = folder.filePath("five-minutes.mp4");
    ASSERT_TRUE(runFfmpeg({"-i", source, "-an", "-vf", "scale=192:108", "-fps_mode", "passthrough", "-c:v", "libx264",
                           "-preset", "ultrafast", "-g", "30", small}));
    ASSERT_TRUE(runFfmpeg({"-stream_loop", "219", "-i", small, "-c", "copy", clip}));
    const std::vector<std::uint64_t> sequential = sequentialHashes(clip);
    ASSERT_EQ(sequential.size(), 220u * 41u);

    ImagesSequence sequence(clip);
    ASSERT_TRUE(sequence.opened);
    EXPECT_EQ(sequence.frameCount, 220 * 41);
    const cv::VideoCapture peer(QFile::encodeName(clip).toStdString(), cv::CAP_FFMPEG);
    EXPECT_FLOAT_EQ(sequence.fps, static_cast<float>(peer.get(cv::CAP_PROP_FPS)));
    cv::Mat frame;
    for (int index : {sequence.frameCount - 1, 0, sequence.frameCount / 2, sequence.frameCount - 2, 4321})
        EXPECT_EQ(pixelHash(sequence.getFrame(frame, index, false)), sequential[index]) << "frame " << index;
    folder.removeRecursively();
}

// A camera that drops frames leaves them out of an AVI at its fixed rate, as empty
// chunks: the frames' own times, not the container's rate, give the pace and the
// duration. Clips whose times agree with their rate keep it exactly.
TEST(VideoFileCapture, RateAndDurationFollowTheFramesTimesWhereTheContainerDisagrees)
{
    if (QStandardPaths::findExecutable("ffmpeg").isEmpty())
        GTEST_SKIP() << "needs ffmpeg";
    // Two frames kept of every 13 at 15 fps: the 68th is shown at slot 436.
    const QString dropFrames = "select='not(mod(n\\,13))+eq(mod(n\\,13)\\,7)'";
    const double droppedRate = 67.0 / (436.0 / 15.0);
    const struct {
        const char* name;
        const char* file;
        int rate;
        QString filter;
        double fps;
        const char* durationLabel;
    } cases[] = {
        {"AVI with dropped frames", "dropped.avi", 15, dropFrames, droppedRate, "00:29"},
        {"Matroska with dropped frames", "dropped.mkv", 15, dropFrames, droppedRate, "00:29"},
        {"AVI at its rate", "steady.avi", 15, "null", 15.0, "00:04"},
        {"MP4 at its rate", "steady.mp4", 30, "null", 30.0, "00:02"},
    };
    QDir folder(testmedia::makeTempDir("vb-frame-times"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = folder.filePath(c.file);
        ASSERT_TRUE(runFfmpeg({"-f", "lavfi", "-i", QString("testsrc2=size=128x64:rate=%1").arg(c.rate), "-vf", c.filter,
                               "-fps_mode", "vfr", "-frames:v", "68", "-c:v", "mjpeg", path}));
        ImagesSequence sequence(path);
        ASSERT_TRUE(sequence.opened);
        EXPECT_EQ(sequence.frameCount, 68);
        EXPECT_NEAR(sequence.fps, c.fps, c.fps * 1e-4);
        EXPECT_EQ(sequence.durationLabel, c.durationLabel);
        EXPECT_EQ(sequence.positionLabel(67), c.durationLabel);
        EXPECT_NEAR(sequence.secondsPerFrame, 1.65 / c.fps, 1e-4);
    }
    folder.removeRecursively();
}

// Frame 11 lies eleven frames past the clip's first key frame: its seek decodes
// them all unless a request is pending, and then decodes no frame after it.
TEST(VideoFileCapture, SeekStopsDecodingOnceARequestIsPending)
{
    QDir folder(testmedia::makeTempDir("vb-seek-request"));
    const std::string path = QFile::encodeName(folder.filePath("clip.mp4")).toStdString();
    {
        cv::VideoWriter writer(path, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('a', 'v', 'c', '1'), 25.0,
                               cv::Size(kClipWidth, kClipHeight));
        if (!writer.isOpened())
            GTEST_SKIP() << "needs an H.264 encoder";
        for (int i = 0; i < 12; ++i)
            writer.write(codedFrame(i));
    }
    const struct {
        int framesBeforeRequest;  // -1: none is made
        bool reached;
    } cases[] = {{3, false}, {0, false}, {-1, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "request after " << c.framesBeforeRequest << " frames");
        VideoFileCapture capture;
        ASSERT_TRUE(capture.open(path));
        int asked = 0;
        capture.interruptSeeksWhen([&] { return asked++ == c.framesBeforeRequest; });
        EXPECT_EQ(capture.set(cv::CAP_PROP_POS_FRAMES, 11), c.reached);
        EXPECT_EQ(asked, c.reached ? 12 : c.framesBeforeRequest + 1);
        // Once the request is dealt with, the same seek lands.
        capture.interruptSeeksWhen({});
        cv::Mat frame;
        ASSERT_TRUE(capture.set(cv::CAP_PROP_POS_FRAMES, 11) && capture.grab() && capture.retrieve(frame));
        EXPECT_EQ(codedFrameIndex(frame), 11);
    }
    folder.removeRecursively();
}
