#include "ImageIO.h"
#include "FrameSourceTestSupport.h"
#include "ImageIOTestSupport.h"
#include "Log.h"
#include "ScopedFileSizeLimit.h"
#include "SourceKindMark.h"
#include "StartupValues.h"
#include "TestMedia.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using imageio_test::TraceRecorder;
using imageio_test::gradientImage;
using imageio_test::maxDifference8;

namespace {

class ImageWriterTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { initImageLibraries(""); }
    void SetUp() override
    {
        dir_ = testmedia::makeTempDir("vb-writer");
        savedApplicationDirectory_ = applicationDirectory;
        setApplicationDirectory("");
    }
    void TearDown() override
    {
        setApplicationDirectory(savedApplicationDirectory_);
        QDir(dir_).removeRecursively();
    }
    std::string pathOf(const std::string& name) const { return (dir_ + "/").toStdString() + name; }
    QStringList filesInDir() const { return QDir(dir_).entryList(QDir::Files | QDir::Hidden); }

    // A stand-in metadata tool beside the program that records its arguments, one a line.
    std::string installRecordingTool(int exitCode)
    {
        const QString toolDir = dir_ + "/app/";
        QDir().mkpath(toolDir);
        const QString script = toolDir + "exiftool";
        QFile file(script);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QString("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"%1\"\nexit %2\n")
                       .arg(dir_ + "/tool-arguments.txt")
                       .arg(exitCode)
                       .toUtf8());
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        setApplicationDirectory(toolDir.toStdString());
        return (dir_ + "/tool-arguments.txt").toStdString();
    }

    QString dir_;
    std::string savedApplicationDirectory_;
};

QStringList linesOf(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

std::string phonePhoto()
{
    const QString path = testmedia::mediaFile(
        "forensics-samples-files/usr/share/forensics-samples/original-files/pic1/IMG_1054.JPG");
    return path.toStdString();
}

QString exiftoolTag(const QString& tool, const std::string& path, const QString& tag)
{
    QProcess process;
    process.start(tool, {"-s3", "-" + tag, QString::fromStdString(path)});
    process.waitForFinished(-1);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

}  // namespace

TEST_F(ImageWriterTest, EmptyImageWritesNothing)
{
    TraceRecorder trace;
    EXPECT_FALSE(writeImage(pathOf("empty.png"), cv::Mat(), "", ""));
    EXPECT_FALSE(writeImage(pathOf("empty.png"), cv::Mat(0, 10, CV_8UC3), "", ""));
    EXPECT_TRUE(trace.names().empty());
    EXPECT_TRUE(filesInDir().isEmpty());
}

struct Route {
    const char* name;
    int type;
    std::vector<std::string> attempts;  // library attempts up to the one that wrote the file
};

std::ostream& operator<<(std::ostream& stream, const Route& value)
{
    return stream << value.name;
}


class ImageWriterRoutes : public ImageWriterTest, public ::testing::WithParamInterface<Route> {};

TEST_P(ImageWriterRoutes, ExtensionAndDepthPickTheLibrary)
{
    const Route route = GetParam();
    TraceRecorder trace;
    ASSERT_TRUE(writeImage(pathOf(route.name), gradientImage(30, 40, route.type), "", "")) << route.name;
    EXPECT_EQ(trace.names(), route.attempts) << route.name;
    cv::Mat back;
    EXPECT_EQ(readImage(back, pathOf(route.name), false).size(), cv::Size(40, 30)) << route.name;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ImageWriterRoutes,
    ::testing::Values(Route{"result.JPG", CV_8UC3, {"freeimage-write"}},
                      Route{"result.bmp", CV_8UC3, {"opencv-write"}},
                      Route{"result.tif", CV_32FC3, {"freeimage-write"}},
                      Route{"result16.tif", CV_16UC3, {"opencv-write"}},
                      Route{"out.exr", CV_32FC3, {"freeimage-write"}},
                      Route{"out16.exr", CV_16UC3, {"freeimage-write"}},
                      Route{"out.dpx", CV_16UC3, {"magick-write"}},
                      Route{"result.hdr", CV_32FC3, {"freeimage-write"}},
                      Route{"result.sgi", CV_8UC3, {"opencv-write", "devil-write"}},
                      Route{"result.gif", CV_8UC3, {"freeimage-write", "opencv-write", "devil-write", "magick-write"}}),
    [](const ::testing::TestParamInfo<Route>& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '.', '_');
        return name;
    });

struct RoundTrip {
    const char* name;
    int bits;
    int expectedDepth;
    double tolerance;
    // Marked in the saved file as a light image's kind is, and read back with it.
    SourceKind kind = SourceKind::Unknown;
};

std::ostream& operator<<(std::ostream& stream, const RoundTrip& value)
{
    return stream << value.name;
}


class ImageWriterRoundTrips : public ImageWriterTest, public ::testing::WithParamInterface<RoundTrip> {};

// What saveImageWithDepth writes, readImage gives back: same orientation, channel
// order and, where the format holds it, the same depth.
TEST_P(ImageWriterRoundTrips, SavedPicturesReadBackAlike)
{
    const RoundTrip trip = GetParam();
    const cv::Mat picture = gradientImage(48, 65, CV_32FC3);
    const std::string path = pathOf(trip.name);
    ASSERT_TRUE(saveImageWithDepth(path, picture, trip.bits, "")) << trip.name;
    ASSERT_TRUE(markSourceKind(path, trip.kind)) << trip.name;
    cv::Mat back;
    readImage(back, path, false);
    ASSERT_FALSE(back.empty()) << trip.name;
    EXPECT_EQ(back.depth(), trip.expectedDepth) << trip.name;
    EXPECT_LE(maxDifference8(back, picture), trip.tolerance) << trip.name;
    // A file without a mark is left to the rule of its extension and depth.
    EXPECT_EQ(trip.kind == SourceKind::Unknown ? markedSourceKind(path) : sourceKindOfFile(path, back.depth()),
              trip.kind);
}

// Every export format the main window offers, at 8, 16 and 32 bits: formats that hold
// fewer bits get the picture scaled down (never clipped to white), deeper ones keep it.
INSTANTIATE_TEST_SUITE_P(
    Formats, ImageWriterRoundTrips,
    ::testing::Values(RoundTrip{"p8.tif", 8, CV_8U, 1.0}, RoundTrip{"p16.tif", 16, CV_16U, 1.0},
                      RoundTrip{"p32.tif", 32, CV_32F, 1.0}, RoundTrip{"p8.hdr", 8, CV_32F, 2.0},
                      RoundTrip{"p16.hdr", 16, CV_32F, 2.0}, RoundTrip{"p32.hdr", 32, CV_32F, 2.0},
                      RoundTrip{"p8.jpg", 8, CV_8U, 8.0}, RoundTrip{"p16.jpg", 16, CV_8U, 8.0},
                      RoundTrip{"p32.jpg", 32, CV_8U, 8.0}, RoundTrip{"p8.dpx", 8, CV_8U, 1.0},
                      RoundTrip{"p16.dpx", 16, CV_16U, 1.0}, RoundTrip{"p32.dpx", 32, CV_32F, 1.0},
                      RoundTrip{"p8.exr", 8, CV_32F, 1.0}, RoundTrip{"p16.exr", 16, CV_32F, 1.0},
                      RoundTrip{"p32.exr", 32, CV_32F, 1.0}, RoundTrip{"p8.psd", 8, CV_8U, 1.0},
                      RoundTrip{"p16.psd", 16, CV_16U, 1.0}, RoundTrip{"p32.psd", 32, CV_32F, 1.0},
                      RoundTrip{"p8.png", 8, CV_8U, 1.0}, RoundTrip{"p16.png", 16, CV_16U, 1.0},
                      RoundTrip{"p32.png", 32, CV_16U, 1.0}, RoundTrip{"p8.bmp", 8, CV_8U, 1.0},
                      RoundTrip{"p16.bmp", 16, CV_8U, 1.0}, RoundTrip{"p32.bmp", 32, CV_8U, 1.0},
                      RoundTrip{"p8.gif", 8, CV_8U, 16.0}, RoundTrip{"p16.gif", 16, CV_8U, 16.0},
                      RoundTrip{"p32.gif", 32, CV_8U, 16.0}, RoundTrip{"p8.ppm", 8, CV_8U, 1.0},
                      RoundTrip{"p16.ppm", 16, CV_16U, 1.0}, RoundTrip{"p32.ppm", 32, CV_16U, 1.0},
                      RoundTrip{"p8.tga", 8, CV_8U, 1.0}, RoundTrip{"p16.tga", 16, CV_8U, 1.0},
                      RoundTrip{"p32.tga", 32, CV_8U, 1.0},
                      RoundTrip{"k32.hdr", 32, CV_32F, 2.0, SourceKind::DisplayReferred},
                      RoundTrip{"k32.exr", 32, CV_32F, 1.0, SourceKind::DisplayReferred},
                      RoundTrip{"k32.tif", 32, CV_32F, 1.0, SourceKind::DisplayReferred},
                      RoundTrip{"k16.exr", 16, CV_32F, 1.0, SourceKind::SceneReferred},
                      RoundTrip{"k32.tiff", 32, CV_32F, 1.0, SourceKind::SceneReferred}),
    [](const ::testing::TestParamInfo<RoundTrip>& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '.', '_');
        return name;
    });

TEST_F(ImageWriterTest, GreyPgmKeepsItsDepthUpToSixteenBits)
{
    const cv::Mat picture = gradientImage(30, 41, CV_32FC1);
    const int expectedDepths[] = {CV_8U, CV_16U, CV_16U};
    const int bits[] = {8, 16, 32};
    for (int i = 0; i < 3; ++i) {
        const std::string path = pathOf("grey" + std::to_string(bits[i]) + ".pgm");
        ASSERT_TRUE(saveImageWithDepth(path, picture, bits[i], "")) << path;
        cv::Mat back;
        readImage(back, path, false);
        ASSERT_EQ(back.type(), CV_MAKETYPE(expectedDepths[i], 1)) << path;
        EXPECT_LE(maxDifference8(back, picture), 1.0) << path;
    }
}

// Reading PDF back is not needed; the export must still be a real document at every depth.
TEST_F(ImageWriterTest, PdfExportIsAValidDocument)
{
    for (int bits : {8, 16, 32}) {
        const std::string path = pathOf("page" + std::to_string(bits) + ".pdf");
        ASSERT_TRUE(saveImageWithDepth(path, gradientImage(120, 160, CV_32FC3), bits, "")) << bits;
        QFile pdf(QString::fromStdString(path));
        ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
        const QByteArray bytes = pdf.readAll();
        EXPECT_TRUE(bytes.startsWith("%PDF-")) << bits;
        EXPECT_TRUE(bytes.trimmed().endsWith("%%EOF")) << bits;
        EXPECT_GT(bytes.size(), 1000) << bits;
    }
}

TEST_F(ImageWriterTest, FailedWriteKeepsTheExistingFileAndLeavesNoPartialFile)
{
    const std::string path = pathOf("keep.exr");
    {
        QFile existing(QString::fromStdString(path));
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
        existing.write("earlier export");
    }
    // No library writes 32-bit integers as EXR.
    EXPECT_FALSE(writeImage(path, cv::Mat(10, 10, CV_32SC3, cv::Scalar::all(7)), "", ""));
    QFile existing(QString::fromStdString(path));
    ASSERT_TRUE(existing.open(QIODevice::ReadOnly));
    EXPECT_EQ(existing.readAll(), QByteArray("earlier export"));
    EXPECT_EQ(filesInDir(), QStringList{"keep.exr"});
}

TEST_F(ImageWriterTest, SuccessfulWriteReplacesTheExistingFile)
{
    const std::string path = pathOf("again.png");
    ASSERT_TRUE(writeImage(path, gradientImage(10, 12, CV_8UC3), "", ""));
    ASSERT_TRUE(writeImage(path, gradientImage(20, 24, CV_8UC3), "", ""));
    cv::Mat back;
    readImage(back, path, false);
    EXPECT_EQ(back.size(), cv::Size(24, 20));
    EXPECT_EQ(filesInDir(), QStringList{"again.png"});
}

TEST_F(ImageWriterTest, FloatExrKeepsLightAboveOneExactly)
{
    cv::Mat light(12, 16, CV_32FC3);
    cv::randu(light, cv::Scalar::all(0.0), cv::Scalar::all(40.0));
    ASSERT_TRUE(writeImage(pathOf("light.exr"), light, "", ""));
    cv::Mat back;
    readImage(back, pathOf("light.exr"), false);
    ASSERT_EQ(back.type(), CV_32FC3);
    EXPECT_EQ(cv::norm(back, light, cv::NORM_INF), 0.0);
}

// The other libraries write EXR through a temporary file, where a failed write hangs.
TEST_F(ImageWriterTest, ExrNoLibraryCanWriteIsLoggedWithoutTryingTheOthers)
{
    ASSERT_TRUE(setLogDirectory((dir_ + "/").toStdString()));
    TraceRecorder trace;
    // 32-bit integers have no EXR channel type.
    EXPECT_FALSE(writeImage(pathOf("out.exr"), cv::Mat(8, 8, CV_32SC3, cv::Scalar::all(5)), "", ""));
    EXPECT_EQ(trace.names(), std::vector<std::string>());
    const QStringList log = linesOf(logFilePath());
    EXPECT_TRUE(log.join('\n').contains(QString::fromStdString(pathOf("out.exr"))));
}

TEST_F(ImageWriterTest, ToolGetsSourceKeywordAndTargetAsWholeArguments)
{
    const std::string argumentsFile = installRecordingTool(0);
    const std::string source = pathOf("source photo \"1\".jpg");
    ASSERT_TRUE(cv::imwrite(source, gradientImage(8, 8, CV_8UC3)));
    const std::string target = pathOf("sub dir/target.png");
    QDir().mkpath(dir_ + "/sub dir");

    ASSERT_TRUE(writeImage(target, gradientImage(8, 8, CV_8UC3), source, "two words"));
    QStringList arguments = linesOf(argumentsFile);
    ASSERT_FALSE(arguments.isEmpty());
    // The tags go into the file before it takes the target's place.
    EXPECT_TRUE(QRegularExpression("^" + QRegularExpression::escape(dir_) + "/sub dir/\\.target\\.part-\\d+-[0-9a-f]{8}\\.png$")
                    .match(arguments.takeLast())
                    .hasMatch());
    EXPECT_EQ(arguments, (QStringList{"-q", "-overwrite_original", "-tagsfromfile", QString::fromStdString(source),
                                      "--ThumbnailImage", "--ThumbnailTIFF", "--PreviewImage", "--PreviewTIFF",
                                      "--JpgFromRaw", "--OtherImage", "-keywords+=two words", "-Firmware=Vellumbra",
                                      "-Orientation#=1"}));
    EXPECT_EQ(QDir(dir_ + "/sub dir").entryList(QDir::Files | QDir::Hidden), QStringList{"target.png"});
    // What the tool creates (here its record) nobody else may read before it is given its mode.
    struct stat made {};
    ASSERT_EQ(::stat(argumentsFile.c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 077, 0u);
}

TEST_F(ImageWriterTest, NoToolRunWithoutSourceOrForMagickFormats)
{
    const std::string argumentsFile = installRecordingTool(0);
    TraceRecorder trace;
    ASSERT_TRUE(writeImage(pathOf("plain.png"), gradientImage(8, 8, CV_8UC3), "", "kw"));
    ASSERT_TRUE(writeImage(pathOf("film.dpx"), gradientImage(8, 8, CV_8UC3), pathOf("plain.png"), "kw"));
    EXPECT_EQ(trace.count("exiftool"), 0);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(argumentsFile)));
}

TEST_F(ImageWriterTest, FailingToolIsLoggedButTheWriteSucceeds)
{
    installRecordingTool(3);
    ASSERT_TRUE(setLogDirectory((dir_ + "/").toStdString()));
    const std::string source = pathOf("source.jpg");
    ASSERT_TRUE(cv::imwrite(source, gradientImage(8, 8, CV_8UC3)));
    EXPECT_TRUE(saveImageWithDepth(pathOf("result.jpg"), gradientImage(8, 8, CV_8UC3), 8, source));
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(pathOf("result.jpg"))));
    EXPECT_TRUE(linesOf(logFilePath()).join('\n').contains("exit code 3"));
}

// A file written without the tags it should carry says so; formats that carry none,
// and writes without a source, do not.
TEST_F(ImageWriterTest, MetadataTheToolCouldNotAddIsReported)
{
    const std::string source = pathOf("source.jpg");
    ASSERT_TRUE(cv::imwrite(source, gradientImage(8, 8, CV_8UC3)));
    const struct {
        const char* name;
        int toolExit;
        bool withSource;
        bool lost;
    } cases[] = {
        {"failed.tif", 3, true, true}, {"tagged.tif", 0, true, false}, {"plain.tif", 3, false, false},
        {"light.exr", 3, true, false}, {"light.hdr", 3, true, false},  // formats that carry no tags
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        framesource::LogCapture log;
        installRecordingTool(c.toolExit);
        bool lost = !c.lost;
        ASSERT_TRUE(saveImageWithDepth(pathOf(c.name), gradientImage(8, 8, CV_8UC3), 16, c.withSource ? source : "",
                                       &lost));
        EXPECT_EQ(lost, c.lost);
        EXPECT_EQ(log.text().contains(QString::fromStdString("\"" + pathOf(c.name) + "\" was written without the metadata")),
                  c.lost);
    }
}

TEST_F(ImageWriterTest, MetadataIsCopiedAndOnlyTheToolsOwnBackupRemoved)
{
    const QString exiftool = QStandardPaths::findExecutable("exiftool");
    const std::string source = phonePhoto();
    if (exiftool.isEmpty() || source.empty())
        GTEST_SKIP() << "needs exiftool and the phone photos (VB_TEST_MEDIA)";

    const std::string target = pathOf("export.jpg");
    const QString userBackup = QString::fromStdString(target) + "_original";
    {
        QFile backup(userBackup);
        ASSERT_TRUE(backup.open(QIODevice::WriteOnly));
        backup.write("the user's own file");
    }
    ASSERT_TRUE(saveImageWithDepth(target, gradientImage(60, 80, CV_8UC3), 8, source));
    EXPECT_EQ(exiftoolTag(exiftool, target, "Make"), "Canon");
    EXPECT_EQ(exiftoolTag(exiftool, target, "Keywords"), "Vellumbra");
    QFile backup(userBackup);
    ASSERT_TRUE(backup.open(QIODevice::ReadOnly));
    EXPECT_EQ(backup.readAll(), QByteArray("the user's own file"));

    QFile::remove(userBackup);
    ASSERT_TRUE(saveImageWithDepth(pathOf("second.tif"), gradientImage(60, 80, CV_8UC3), 16, source));
    EXPECT_EQ(exiftoolTag(exiftool, pathOf("second.tif"), "Make"), "Canon");
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(pathOf("second.tif")) + "_original"));
}

namespace {

std::string cameraPhoto()
{
    return testmedia::mediaFile("mate-backgrounds/usr/share/backgrounds/mate/nature/Dune.jpg").toStdString();
}

}  // namespace

TEST_F(ImageWriterTest, CameraTagsReachTiffAndJpegExports)
{
    const QString exiftool = QStandardPaths::findExecutable("exiftool");
    const std::string source = cameraPhoto();
    if (exiftool.isEmpty() || source.empty())
        GTEST_SKIP() << "needs exiftool and the camera photos (VB_TEST_MEDIA)";
    const struct {
        const char* name;
        int bits;
    } exports[] = {{"export.tif", 16}, {"export.jpg", 8}};
    for (const auto& target : exports) {
        ASSERT_TRUE(saveImageWithDepth(pathOf(target.name), gradientImage(60, 80, CV_32FC3), target.bits, source));
        for (const char* tag : {"Make", "Model", "DateTimeOriginal"}) {
            const QString expected = exiftoolTag(exiftool, source, tag);
            ASSERT_FALSE(expected.isEmpty()) << tag;
            EXPECT_EQ(exiftoolTag(exiftool, pathOf(target.name), tag), expected) << target.name << " " << tag;
        }
        EXPECT_TRUE(exiftoolTag(exiftool, pathOf(target.name), "Keywords").contains("Vellumbra")) << target.name;
        EXPECT_EQ(exiftoolTag(exiftool, pathOf(target.name), "Firmware"), "Vellumbra") << target.name;
        // The camera's small pictures of the unedited photo stay behind.
        ASSERT_FALSE(exiftoolTag(exiftool, source, "ThumbnailImage").isEmpty());
        for (const char* picture : {"ThumbnailImage", "PreviewImage"})
            EXPECT_EQ(exiftoolTag(exiftool, pathOf(target.name), picture), "") << target.name << " " << picture;
    }
    EXPECT_EQ(filesInDir(), (QStringList{"export.jpg", "export.tif"}));
}

// The reader turns a photo upright; its export must then say so, or viewers turn it again.
TEST_F(ImageWriterTest, ExportOfARotatedPhoneShotIsMarkedUpright)
{
    const QString exiftool = QStandardPaths::findExecutable("exiftool");
    const std::string source = testmedia::mediaFile(
        "forensics-samples-files/usr/share/forensics-samples/original-files/pic2/IMG_20200124_231153.jpg").toStdString();
    if (exiftool.isEmpty() || source.empty())
        GTEST_SKIP() << "needs exiftool and the phone photos (VB_TEST_MEDIA)";
    ASSERT_EQ(exiftoolTag(exiftool, source, "Orientation"), "Rotate 180");
    cv::Mat photo;
    readImage(photo, source, false);
    ASSERT_FALSE(photo.empty());
    cv::resize(photo, photo, cv::Size(), 0.25, 0.25, cv::INTER_AREA);

    const std::string target = pathOf("upright.jpg");
    ASSERT_TRUE(saveImageWithDepth(target, photo, 8, source));
    EXPECT_EQ(exiftoolTag(exiftool, target, "Orientation"), "Horizontal (normal)");
    EXPECT_EQ(exiftoolTag(exiftool, target, "Make"), exiftoolTag(exiftool, source, "Make"));
    cv::Mat back;
    readImage(back, target, false);
    EXPECT_LE(cv::norm(back, photo, cv::NORM_L1) / photo.total(), 6.0);
}

// Paths reach the libraries and the tool whole: spaces, quotes, shell characters, UTF-8.
TEST_F(ImageWriterTest, AwkwardPathsAreWrittenReadAndTagged)
{
    const QString exiftool = QStandardPaths::findExecutable("exiftool");
    const std::string camera = cameraPhoto();
    const char* const folders[] = {"with space", "it's \"quoted\"", "cost $HOME `id` ;&", "été 写真"};
    for (const char* folder : folders) {
        const QString dir = dir_ + "/" + QString::fromUtf8(folder);
        ASSERT_TRUE(QDir().mkpath(dir));
        const std::string source = (dir + "/source photo.jpg").toStdString();
        if (camera.empty())
            ASSERT_TRUE(cv::imwrite(source, gradientImage(30, 40, CV_8UC3)));
        else
            ASSERT_TRUE(QFile::copy(QString::fromStdString(camera), QString::fromStdString(source)));
        const std::string target = (dir + "/export 'final' $1.tif").toStdString();

        ASSERT_TRUE(saveImageWithDepth(target, gradientImage(30, 40, CV_8UC3), 16, source)) << folder;
        cv::Mat back;
        readImage(back, target, false);
        EXPECT_EQ(back.type(), CV_16UC3) << folder;
        EXPECT_LE(maxDifference8(back, gradientImage(30, 40, CV_8UC3)), 1.0) << folder;
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(target) + "_original")) << folder;
        if (!exiftool.isEmpty() && !camera.empty()) {
            EXPECT_EQ(exiftoolTag(exiftool, target, "Make"), exiftoolTag(exiftool, source, "Make")) << folder;
        }
    }
}

TEST_F(ImageWriterTest, MissingToolStillWritesTheImage)
{
    ASSERT_TRUE(setLogDirectory((dir_ + "/").toStdString()));
    const QByteArray savedPath = qgetenv("PATH");
    QDir().mkpath(dir_ + "/empty");
    qputenv("PATH", (dir_ + "/empty").toUtf8());
    const std::string source = pathOf("source.jpg");
    const bool written = cv::imwrite(source, gradientImage(8, 8, CV_8UC3)) &&
                         saveImageWithDepth(pathOf("result.png"), gradientImage(8, 8, CV_8UC3), 8, source);
    qputenv("PATH", savedPath);
    EXPECT_TRUE(written);
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(pathOf("result.png"))));
    EXPECT_TRUE(linesOf(logFilePath()).join('\n').contains("exiftool was not found"));
}

namespace {

// Noise codecs cannot shrink much: every format's file comes out large.
cv::Mat noisePicture(int type)
{
    cv::Mat picture(300, 400, type);
    cv::theRNG().state = 7;
    cv::randu(picture, cv::Scalar::all(0), cv::Scalar::all(CV_MAT_DEPTH(type) == CV_32F ? 4.0 : 255.0));
    return picture;
}

QByteArray contentOf(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

TEST_F(ImageWriterTest, AWriteThatCannotCompleteKeepsTheOldFileAndSaysSo)
{
    framesource::LogCapture log;
    const struct {
        const char* name;
        int type;
        rlim_t limit;
        bool written;
    } cases[] = {
        {"photo.jpg", CV_8UC3, 64 * 1024, false},      {"photo.jpg", CV_8UC3, 64 << 20, true},
        {"photo16.png", CV_16UC3, 64 * 1024, false},   {"photo16.png", CV_16UC3, 64 << 20, true},
        {"photo16.tif", CV_16UC3, 64 * 1024, false},   {"photo16.tif", CV_16UC3, 64 << 20, true},
        {"light.hdr", CV_32FC3, 64 * 1024, false},     {"light.hdr", CV_32FC3, 64 << 20, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.written ? " with room" : " on a full disk"));
        const std::string path = pathOf(c.name);
        const QByteArray earlier("the earlier export");
        {
            QFile existing(QString::fromStdString(path));
            ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
            existing.write(earlier);
        }
        bool written = false;
        {
            testsupport::ScopedFileSizeLimit limit(c.limit);
            written = writeImage(path, noisePicture(c.type), "", "");
        }
        EXPECT_EQ(written, c.written);
        EXPECT_EQ(contentOf(path) == earlier, !c.written);
        EXPECT_EQ(filesInDir(), QStringList{c.name}) << "no part file left beside it";
        if (!c.written) {
            EXPECT_TRUE(log.text().contains(QString::fromStdString(path))) << log.text().toStdString();
        }
        QFile::remove(QString::fromStdString(path));
    }
}

TEST_F(ImageWriterTest, LeftoversOfWritersThatAreGoneGoAtTheNextWrite)
{
    // A writer killed mid-write: its process is gone.
    const pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    ASSERT_GT(gone, 0);
    waitpid(gone, nullptr, 0);
    // A live process of another program under a reused process id.
    QProcess other;
    other.start("sleep", {"30"});
    ASSERT_TRUE(other.waitForStarted());
    const QString deadWriter = QString::number(gone);
    const QString otherProgram = QString::number(other.processId());
    const QString us = QString::number(QCoreApplication::applicationPid());
    const struct {
        QString name;
        bool kept;
    } cases[] = {
        {".r.part-1a2b3c4d.tif", false},  // an earlier version's, with no writer named
        {".r.part-" + deadWriter + "-1a2b3c4d.tif", false},
        {".r.part-" + deadWriter + "-1a2b3c4d.tif_exiftool_tmp", false},
        {".r.part-" + deadWriter + "-1a2b3c4d.tif_original", false},
        {".light.part-" + otherProgram + "-0f0f0f0f.hdr", false},
        {".r.part-" + us + "-5e5e5e5e.tif", true},  // a write of this process still running
        {"r.tif_original", true},                   // the user's own file
        {".notes.part-two.txt", true},
        {"r.part-1a2b3c4d.tif", true},
    };
    for (const auto& c : cases) {
        QFile file(dir_ + "/" + c.name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("left over");
    }
    ASSERT_TRUE(writeImage(pathOf("next.png"), gradientImage(8, 8, CV_8UC3), "", ""));
    other.kill();
    other.waitForFinished();
    for (const auto& c : cases)
        EXPECT_EQ(QFileInfo::exists(dir_ + "/" + c.name), c.kept) << c.name.toStdString();
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(pathOf("next.png"))));
}

TEST_F(ImageWriterTest, APercentSignInTheSourceNameKeepsItsMetadata)
{
    const QString exiftool = QStandardPaths::findExecutable("exiftool");
    const std::string camera = cameraPhoto();
    if (exiftool.isEmpty() || camera.empty())
        GTEST_SKIP() << "needs exiftool and the camera photos (VB_TEST_MEDIA)";
    // The tool reads %d, %f, %e and %c in a source name as parts of the target's name.
    for (const char* name : {"sale 50%done.jpg", "%f%e %c.jpg", "100%.jpg", "shot.j%dg", "shot.%e", "plain.jpg"}) {
        SCOPED_TRACE(name);
        const std::string source = pathOf(name);
        ASSERT_TRUE(QFile::copy(QString::fromStdString(camera), QString::fromStdString(source)));
        ASSERT_TRUE(saveImageWithDepth(pathOf("export.jpg"), gradientImage(30, 40, CV_8UC3), 8, source));
        EXPECT_EQ(exiftoolTag(exiftool, pathOf("export.jpg"), "Make"), exiftoolTag(exiftool, camera, "Make"));
        QFile::remove(QString::fromStdString(pathOf("export.jpg")));
    }
}

TEST_F(ImageWriterTest, TheStoredJpegQualityAndPngCompressionShapeTheFile)
{
    const struct {
        const char* name;
        cv::Mat photo;
        void (*set)(int);
        int smaller, larger, standard;
    } cases[] = {
        {"q.jpg", noisePicture(CV_8UC3), &setJpgQuality, 50, 99, defaultJpgQuality()},
        {"c.png", gradientImage(300, 400, CV_8UC3), &setPngCompression, 9, 0, defaultPngCompression()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        qint64 sizes[2] = {};
        for (int i = 0; i < 2; ++i) {
            c.set(i == 0 ? c.smaller : c.larger);
            ASSERT_TRUE(writeImage(pathOf(c.name), c.photo, "", ""));
            sizes[i] = QFileInfo(QString::fromStdString(pathOf(c.name))).size();
        }
        c.set(c.standard);
        EXPECT_LT(sizes[0], sizes[1]);
        cv::Mat back;
        EXPECT_EQ(readImage(back, pathOf(c.name), false).size(), c.photo.size());
    }
}

namespace {

// Points the libraries' temporary files (Magick++, OpenCV, everything else) at a folder for as long as it lives.
class ScopedTemporaryFolder {
public:
    explicit ScopedTemporaryFolder(const QString& folder)
    {
        for (const char* name : {"TMPDIR", "MAGICK_TEMPORARY_PATH", "OPENCV_TEMP_PATH"}) {
            saved.push_back({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
            qputenv(name, QFile::encodeName(folder));
        }
    }
    ~ScopedTemporaryFolder()
    {
        for (const Saved& variable : saved) {
            if (variable.wasSet)
                qputenv(variable.name, variable.value);
            else
                qunsetenv(variable.name);
        }
    }

private:
    struct Saved {
        const char* name;
        QByteArray value;
        bool wasSet;
    };
    std::vector<Saved> saved;
};

// Our reader takes every format written but PDF, which must end as a document does.
bool readsBackWhole(const std::string& path, const cv::Size& size)
{
    if (imageFileExtension(path) == "pdf")
        return contentOf(path).trimmed().endsWith("%%EOF");
    cv::Mat back;
    return readImage(back, path, false).size() == size;
}

// A hung library call cannot be stopped: past the deadline the program fails at once.
bool writeUnderWatchdog(const std::string& path, const cv::Mat& picture, int bits)
{
    std::packaged_task<bool()> task([&] { return saveImageWithDepth(path, picture, bits, ""); });
    std::future<bool> done = task.get_future();
    std::thread writer(std::move(task));
    if (done.wait_for(std::chrono::minutes(2)) != std::future_status::ready) {
        std::fprintf(stderr, "FAILED: writing %s did not end within two minutes\n", path.c_str());
        std::fflush(stderr);
        std::_Exit(1);
    }
    writer.join();
    return done.get();
}

}  // namespace

// Every export format, with the disk filling up (a size limit) or with no room for
// temporary files: the write ends, says so when it fails, and never leaves a cut
// file, a part file or a temporary file behind.
TEST_F(ImageWriterTest, EveryFormatEndsWholeOrFailsWhenTheDiskOrTemporaryFolderIsFull)
{
    framesource::LogCapture log;
    const QString temporary = dir_ + "/temporary";
    QDir().mkpath(temporary);
    const QString unusable = dir_ + "/no-room";
    {
        QFile file(unusable);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const struct {
        const char* extension;
        int bits;
    } formats[] = {{"tif", 16}, {"tif", 8}, {"tif", 32}, {"hdr", 32}, {"jpg", 8},  {"dpx", 16}, {"exr", 32},
                   {"exr", 16}, {"psd", 8}, {"psd", 16}, {"png", 8},  {"png", 16}, {"bmp", 8},  {"gif", 8},
                   {"pgm", 8},  {"ppm", 8}, {"pdf", 8},  {"tga", 8},  {"pfm", 32}, {"ras", 8}};
    const cv::Mat picture = noisePicture(CV_32FC3);
    for (const auto& format : formats) {
        for (const bool diskFull : {true, false}) {
            const std::string name = std::string("export") + std::to_string(format.bits) + "." + format.extension;
            SCOPED_TRACE(name + (diskFull ? " on a full disk" : " without room for temporary files"));
            const std::string path = pathOf(name);
            const QByteArray earlier("the earlier export");
            {
                QFile existing(QString::fromStdString(path));
                ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
                existing.write(earlier);
            }
            bool written = false;
            {
                const ScopedTemporaryFolder folder(diskFull ? temporary : unusable + "/folder");
                std::optional<testsupport::ScopedFileSizeLimit> limit;
                if (diskFull)
                    limit.emplace(64 * 1024);
                written = writeUnderWatchdog(path, picture, format.bits);
            }
            if (diskFull) {
                EXPECT_FALSE(written);
            }
            if (written) {
                EXPECT_TRUE(readsBackWhole(path, picture.size()));
            } else {
                EXPECT_EQ(contentOf(path), earlier);
                EXPECT_TRUE(log.text().contains(QString::fromStdString(path))) << "the failure names the file";
            }
            EXPECT_EQ(filesInDir(), (QStringList{QString::fromStdString(name), "no-room"})) << "no part file left beside it";
            EXPECT_EQ(QDir(temporary).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                      QStringList())
                << "no temporary file left";
            QFile::remove(QString::fromStdString(path));
        }
    }
}

// A replaced file keeps who may read it, with or without the metadata tool's rewrite;
// a new file gets the default of the process. A symbolic link stays one.
TEST_F(ImageWriterTest, AReplacedFileKeepsItsPermissionsAndOwner)
{
    const mode_t umaskNow = ::umask(022);
    ::umask(umaskNow);
    const bool root = ::geteuid() == 0;
    const std::string source = pathOf("source.jpg");
    ASSERT_TRUE(cv::imwrite(source, gradientImage(8, 8, CV_8UC3)));
    const struct {
        const char* name;
        int mode;  // of the file replaced; -1 for none
        bool otherOwner;
        const char* sourcePath;
        const char* linkedFile = nullptr;  // the name is a symbolic link to this file
    } cases[] = {
        {"private.png", 0600, false, ""},     {"private.tif", 0600, false, "source"},
        {"shared.jpg", 0664, false, "source"}, {"group.exr", 0640, false, ""},
        {"given.png", 0644, true, ""},         {"new.png", -1, false, ""},
        {"link.tif", 0640, false, "source", "linked.tif"}, {"dangling.png", -1, false, "", "made.png"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = pathOf(c.name);
        const std::string file = c.linkedFile ? pathOf(c.linkedFile) : path;
        if (c.linkedFile) {
            ASSERT_EQ(::symlink(c.linkedFile, path.c_str()), 0);
        }
        if (c.mode >= 0) {
            QFile earlier(QString::fromStdString(file));
            ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
            earlier.close();
            ASSERT_EQ(::chmod(file.c_str(), static_cast<mode_t>(c.mode)), 0);
            if (c.otherOwner && root) {
                ASSERT_EQ(::chown(file.c_str(), 4321, 4321), 0);
            }
        }
        ASSERT_TRUE(writeImage(path, gradientImage(20, 30, CV_8UC3), *c.sourcePath ? source : "", "kw"));
        struct stat name {};
        ASSERT_EQ(::lstat(path.c_str(), &name), 0);
        EXPECT_EQ(S_ISLNK(name.st_mode), c.linkedFile != nullptr);
        struct stat written {};
        ASSERT_EQ(::stat(file.c_str(), &written), 0);
        EXPECT_GT(written.st_size, 0);
        const mode_t expected = c.mode >= 0 ? static_cast<mode_t>(c.mode) : (0666 & ~umaskNow);
        EXPECT_EQ(written.st_mode & 07777, expected);
        EXPECT_EQ(written.st_uid, c.otherOwner && root ? 4321u : ::geteuid());
    }
}
