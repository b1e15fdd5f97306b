#include "FreeImageAdapter.h"
#include "DevILAdapter.h"
#include "ImageIO.h"
#include "ImageIOSupport.h"
#include "FrameSourceTestSupport.h"
#include "ClaimingFiles.h"
#include "ImageIOTestSupport.h"
#include "TestMedia.h"

#include <IL/il.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <tiff.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <future>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

using imageio_test::TraceRecorder;
using imageio_test::gradientImage;
using imageio_test::maxDifference8;

namespace {

class ImageReaderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { initImageLibraries(""); }
    void SetUp() override { dir_ = testmedia::makeTempDir("vb-reader"); }
    void TearDown() override { QDir(dir_).removeRecursively(); }
    std::string pathOf(const std::string& name) const { return (dir_ + "/").toStdString() + name; }

    QString dir_;
};

std::string rawFile(const char* name)
{
    const QString path = testmedia::rawDir() + "/" + name;
    return QFile::exists(path) ? path.toStdString() : std::string();
}

void writeNoise(const std::string& path, int bytes)
{
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    cv::RNG rng(7);
    for (int i = 0; i < bytes; ++i) {
        const char byte = static_cast<char>(rng.uniform(0, 256));
        file.write(&byte, 1);
    }
}

}  // namespace

TEST(ImageFileExtension, IsTheLowerCasedTextAfterTheLastDot)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"IMG_0001.NEF", "nef"},       {"/photos/burst.v2/Shot.JpG", "jpg"}, {"/photos/NoExtension", "/photos/noextension"},
        {"archive.tar.GZ", "gz"},      {"trailing.", ""},                    {"", ""}};
    for (const auto& [path, extension] : cases)
        EXPECT_EQ(imageFileExtension(path), extension) << path;
}

TEST_F(ImageReaderTest, RawExtensionTriesMagickTwiceThenTheRawDecoderOnly)
{
    const std::string path = pathOf("IMG_0001.NEF");
    writeNoise(path, 2048);
    TraceRecorder trace;
    cv::Mat image(4, 4, CV_8UC3, cv::Scalar::all(9));
    readImage(image, path, false);
    EXPECT_TRUE(image.empty());
    EXPECT_EQ(trace.names(), (std::vector<std::string>{"magick-read", "magick-read", "raw-decode"}));
}

TEST_F(ImageReaderTest, MissingFilesGiveAnEmptyImage)
{
    for (const char* name : {"missing.cr2", "missing.jpg", "missing.bmp", "missing"}) {
        cv::Mat image(4, 4, CV_8UC3);
        readImage(image, pathOf(name), false);
        EXPECT_TRUE(image.empty()) << name;
    }
}

TEST_F(ImageReaderTest, UnreadableBmpWalksEveryLibraryWithMagickFirstAndLast)
{
    const std::string path = pathOf("scan.bmp");
    writeNoise(path, 4096);
    TraceRecorder trace;
    cv::Mat image;
    readImage(image, path, false);
    EXPECT_TRUE(image.empty());
    const std::vector<std::string> names = trace.names();
    ASSERT_GE(names.size(), 4u);
    EXPECT_EQ(names.front(), "magick-read");
    EXPECT_EQ(names[1], "magick-read");
    EXPECT_EQ(names.back(), "magick-read");
    EXPECT_EQ(trace.count("magick-read"), 3);
    EXPECT_EQ(trace.count("opencv-read"), 1);
}

TEST_F(ImageReaderTest, PathWithoutDotGoesToDevILFirst)
{
    const cv::Mat picture = gradientImage(60, 80, CV_8UC3);
    const std::string path = pathOf("photo");
    ASSERT_TRUE(cv::imwrite(path + ".tif", picture));
    ASSERT_TRUE(QFile::rename(QString::fromStdString(path + ".tif"), QString::fromStdString(path)));
    TraceRecorder trace;
    cv::Mat image;
    readImage(image, path, false);
    EXPECT_EQ(trace.names(), std::vector<std::string>{"devil-read"});
    EXPECT_LE(maxDifference8(image, picture), 8.0);
}

struct StoredImage {
    const char* name;
    int type;
    const char* reader;  // the library expected to deliver it
    int expectedType;
    double tolerance;
    bool hot = false;  // a block of +Inf and a NaN, read as the gradient around them (a step a pixel)
    int tiffCoding = COMPRESSION_LZW;
};

std::ostream& operator<<(std::ostream& stream, const StoredImage& value)
{
    return stream << value.name;
}


class ImageReaderFormats : public ImageReaderTest, public ::testing::WithParamInterface<StoredImage> {};

// Every depth and channel count comes back as written, upright and in BGR order,
// whichever library reads it.
TEST_P(ImageReaderFormats, ReadsPixelsUprightInBgrOrder)
{
    const StoredImage stored = GetParam();
    cv::Mat picture = gradientImage(90, 121, stored.type), written = picture.clone();
    if (stored.hot) {
        written(cv::Rect(40, 30, 3, 3)).setTo(cv::Scalar::all(std::numeric_limits<float>::infinity()));
        written.at<cv::Vec3f>(60, 10)[1] = std::numeric_limits<float>::quiet_NaN();
    }
    const std::string path = pathOf(stored.name);
    const bool tiff = imageFileExtension(path) == "tif";
    ASSERT_TRUE(cv::imwrite(path, written, tiff ? std::vector<int>{cv::IMWRITE_TIFF_COMPRESSION, stored.tiffCoding} : std::vector<int>{}))
        << stored.name;

    TraceRecorder trace;
    cv::Mat image;
    readImage(image, path, false);
    ASSERT_FALSE(image.empty()) << stored.name;
    EXPECT_EQ(image.type(), stored.expectedType) << stored.name;
    EXPECT_TRUE(cv::checkRange(image)) << stored.name;
    EXPECT_LE(maxDifference8(image, convertBitDepth(picture, depthInBits(image))), stored.tolerance) << stored.name;
    EXPECT_EQ(trace.names().back(), stored.reader) << stored.name;
}

INSTANTIATE_TEST_SUITE_P(
    WrittenByOpenCv, ImageReaderFormats,
    ::testing::Values(StoredImage{"colour.jpg", CV_8UC3, "jpeg-read", CV_8UC3, 8.0},
                      StoredImage{"grey.jpg", CV_8UC1, "jpeg-read", CV_8UC1, 8.0},
                      StoredImage{"colour16.tif", CV_16UC3, "devil-read", CV_16UC3, 1.0},
                      StoredImage{"colour.tif", CV_8UC3, "devil-read", CV_8UC3, 0.0},
                      StoredImage{"lzma.tif", CV_8UC3, "devil-read", CV_8UC3, 0.0, false, COMPRESSION_LZMA},
                      StoredImage{"logluv.tif", CV_32FC3, "opencv-read", CV_32FC3, 8.0, false, COMPRESSION_SGILOG},
                      StoredImage{"grey16.png", CV_16UC1, "opencv-read", CV_16UC1, 0.0},
                      StoredImage{"colour16.png", CV_16UC3, "opencv-read", CV_16UC3, 0.0},
                      StoredImage{"colour.bmp", CV_8UC3, "magick-read", CV_8UC3, 0.0},
                      StoredImage{"colour16.ppm", CV_16UC3, "opencv-read", CV_16UC3, 0.0},
                      StoredImage{"colour.hdr", CV_32FC3, "opencv-read", CV_32FC3, 2.0},
                      StoredImage{"colour.exr", CV_32FC3, "opencv-read", CV_32FC3, 1.0},
                      StoredImage{"hot.exr", CV_32FC3, "opencv-read", CV_32FC3, 3.0, true}),
    [](const ::testing::TestParamInfo<StoredImage>& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '.', '_');
        return name;
    });

TEST_F(ImageReaderTest, AlphaIsDroppedAndPalettesGiveColours)
{
    const cv::Mat picture = gradientImage(40, 50, CV_8UC3);
    cv::Mat withAlpha;
    cv::cvtColor(picture, withAlpha, cv::COLOR_BGR2BGRA);
    const std::string pngPath = pathOf("alpha.png");
    ASSERT_TRUE(cv::imwrite(pngPath, withAlpha));
    cv::Mat image;
    readImage(image, pngPath, false);
    EXPECT_EQ(image.type(), CV_8UC3);
    EXPECT_EQ(maxDifference8(image, picture), 0.0);

    // Four flat colours in a palette GIF, which only the libraries after OpenCV read.
    cv::Mat flat(32, 32, CV_8UC3, cv::Scalar(200, 30, 10));
    flat(cv::Rect(0, 0, 16, 16)).setTo(cv::Scalar(10, 220, 40));
    const std::string gifPath = pathOf("palette.gif");
    ASSERT_TRUE(writeImage(gifPath, flat, "", ""));
    readImage(image, gifPath, false);
    EXPECT_EQ(image.type(), CV_8UC3);
    EXPECT_LE(maxDifference8(image, flat), 2.0);
}

TEST_F(ImageReaderTest, TargaRowsComeBackTopDown)
{
    const cv::Mat picture = gradientImage(30, 41, CV_8UC3);
    const std::string path = pathOf("frame.tga");
    FIBITMAP* bitmap = matToFreeImage(picture);
    ASSERT_NE(bitmap, nullptr);
    ASSERT_TRUE(FreeImage_Save(FIF_TARGA, bitmap, path.c_str(), 0));
    FreeImage_Unload(bitmap);

    TraceRecorder trace;
    cv::Mat image;
    readImage(image, path, false);
    EXPECT_EQ(trace.names(), std::vector<std::string>{"magick-read"});
    EXPECT_EQ(maxDifference8(image, picture), 0.0);
}

TEST_F(ImageReaderTest, FreeImageRotatesJpegUprightFromItsOrientationTag)
{
    const QString exiftool = QStandardPaths::findExecutable("exiftool");
    if (exiftool.isEmpty())
        GTEST_SKIP() << "exiftool is needed to tag the test picture";
    const cv::Mat picture = gradientImage(40, 64, CV_8UC3);
    const std::string path = pathOf("tagged.jpg");
    ASSERT_TRUE(cv::imwrite(path, picture));
    ASSERT_EQ(QProcess::execute(exiftool, {"-q", "-overwrite_original", "-Orientation#=6",
                                           QString::fromStdString(path)}), 0);

    for (bool preview : {false, true}) {
        FIBITMAP* bitmap = freeImageLoad(path, freeImageLoadFlags(FIF_JPEG, preview), FIF_UNKNOWN);
        ASSERT_NE(bitmap, nullptr);
        const cv::Mat image = freeImageToMat(bitmap);
        FreeImage_Unload(bitmap);
        EXPECT_EQ(image.size(), cv::Size(40, 64));
        cv::Mat upright;
        cv::rotate(picture, upright, cv::ROTATE_90_CLOCKWISE);
        EXPECT_LE(maxDifference8(image, upright), 12.0);
    }
}

TEST(FreeImageAdapter, RoundTripKeepsTypeAndPixels)
{
    for (int type : {CV_8UC1, CV_8UC3, CV_8UC4, CV_16UC1, CV_16UC3, CV_16UC4, CV_32FC1, CV_32FC3, CV_32FC4}) {
        cv::Mat picture(17, 23, type);
        cv::randu(picture, 0, CV_MAT_DEPTH(type) == CV_32F ? 1 : 250);
        FIBITMAP* bitmap = matToFreeImage(picture);
        ASSERT_NE(bitmap, nullptr) << type;
        EXPECT_EQ(freeImageChannelCount(bitmap), CV_MAT_CN(type)) << type;
        const cv::Mat back = freeImageToMat(bitmap);
        FreeImage_Unload(bitmap);
        ASSERT_EQ(back.type(), type);
        EXPECT_EQ(cv::norm(back, picture, cv::NORM_INF), 0.0) << type;
    }
    EXPECT_TRUE(freeImageToMat(nullptr).empty());
}

TEST(DevILAdapter, KeepsDepthChannelsAndOrder)
{
    initImageLibraries("");
    std::lock_guard<std::mutex> lock(imageLibraryMutex());
    for (int type : {CV_8UC3, CV_16UC3, CV_32FC3, CV_8UC1, CV_16UC1}) {
        const cv::Mat picture = gradientImage(21, 34, type);
        const int name = matToDevil(picture);
        ASSERT_GE(name, 0) << type;
        const cv::Mat back = devilToMat();
        const ILuint devilName = static_cast<ILuint>(name);
        ilDeleteImages(1, &devilName);
        ASSERT_EQ(back.type(), type) << type;
        EXPECT_EQ(cv::norm(back, picture, cv::NORM_INF), 0.0) << type;
    }
    EXPECT_EQ(matToDevil(cv::Mat(4, 4, CV_16FC3)), -1);
    EXPECT_EQ(matToDevil(cv::Mat(4, 4, CV_8UC2)), -1);
}

TEST(ImageReaderRaw, DecodesFullAndPreviewSizesAtSixteenBits)
{
    struct RawCase {
        const char* name;
        cv::Size full;
        cv::Size preview;
    };
    // The colour chart's half-size width is odd (867) and loses its last column.
    const RawCase cases[] = {{"RAW_KODAK_DC50.KDC", {768, 512}, {384, 256}},
                             {"canon_eos_kiss_x4_magiclantern_colorchart.dng", {1734, 1156}, {866, 578}},
                             {"RAW_KODAK_C330_FORMAT_NONE_YRGB.raw", {1216, 912}, {1216, 912}}};
    initImageLibraries("");
    for (const RawCase& rawCase : cases) {
        const std::string path = rawFile(rawCase.name);
        if (path.empty())
            GTEST_SKIP() << "camera raw test file absent: " << rawCase.name;
        // Preview first: a later full read must not stay at half size.
        cv::Mat preview;
        cv::Mat full;
        readImage(preview, path, true);
        readImage(full, path, false);
        EXPECT_EQ(preview.type(), CV_16UC3) << rawCase.name;
        EXPECT_EQ(full.type(), CV_16UC3) << rawCase.name;
        EXPECT_EQ(preview.size(), rawCase.preview) << rawCase.name;
        EXPECT_EQ(full.size(), rawCase.full) << rawCase.name;
        double maximum = 0.0;
        cv::minMaxLoc(full.reshape(1), nullptr, &maximum);
        EXPECT_GT(maximum, 20000.0) << rawCase.name << ": a 16-bit picture uses the upper range";
    }
}

TEST(ImageReaderRaw, BlueSkyComesBackInTheBlueChannel)
{
    const std::string path = rawFile("RAW_KODAK_DC50.KDC");
    if (path.empty())
        GTEST_SKIP() << "camera raw test file absent";
    initImageLibraries("");
    cv::Mat image;
    readImage(image, path, false);
    ASSERT_FALSE(image.empty());
    // Blue sky over the top rows: blue (channel 0) leads red (channel 2).
    const cv::Scalar sky = cv::mean(image(cv::Rect(0, 0, image.cols, image.rows / 10)));
    EXPECT_GT(sky[0], sky[2]);
}

TEST(ImageReaderRealMedia, PhoneAndCameraPhotosKeepTheirSize)
{
    const QStringList photos = testmedia::mediaFiles("forensics-samples-files", {"IMG_*.jpg", "IMG_*.JPG"});
    if (photos.isEmpty())
        GTEST_SKIP() << "phone photos absent (VB_TEST_MEDIA)";
    initImageLibraries("");
    for (const QString& photo : photos) {
        cv::Mat image;
        readImage(image, photo.toStdString(), false);
        ASSERT_FALSE(image.empty()) << photo.toStdString();
        const cv::Mat reference = cv::imread(photo.toStdString(), cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
        EXPECT_EQ(image.size(), reference.size()) << photo.toStdString();
        EXPECT_EQ(image.type(), CV_8UC3) << photo.toStdString();
    }
}

TEST(ImageReaderRealMedia, OpenExrLightProbesReadAsFloat)
{
    const QStringList probes = testmedia::mediaFiles("blender-data", {"*.exr"});
    if (probes.isEmpty())
        GTEST_SKIP() << "EXR files absent (VB_TEST_MEDIA)";
    initImageLibraries("");
    for (const QString& probe : probes.mid(0, 4)) {
        cv::Mat image;
        readImage(image, probe.toStdString(), true);
        ASSERT_FALSE(image.empty()) << probe.toStdString();
        EXPECT_EQ(image.depth(), CV_32F) << probe.toStdString();
        EXPECT_EQ(image.channels(), 3) << probe.toStdString();
    }
}

// The library state is process-wide: reads from several threads at once must each get
// their own complete picture.
TEST(ImageReaderConcurrency, ParallelReadsMatchSequentialReads)
{
    initImageLibraries("");
    const QString dir = testmedia::makeTempDir("vb-reader-threads");
    std::vector<std::string> paths;
    for (const char* name : {"a.jpg", "b.tif", "c.png", "d.bmp"}) {
        paths.push_back((dir + "/" + name).toStdString());
        ASSERT_TRUE(cv::imwrite(paths.back(), gradientImage(64 + 8 * static_cast<int>(paths.size()), 96, CV_8UC3)));
    }
    const std::string raw = rawFile("RAW_KODAK_DC50.KDC");
    if (!raw.empty())
        paths.push_back(raw);

    std::vector<cv::Mat> expected(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i)
        readImage(expected[i], paths[i], i % 2 == 0);

    std::vector<std::future<cv::Mat>> reads;
    for (int round = 0; round < 3; ++round)
        for (std::size_t i = 0; i < paths.size(); ++i)
            reads.push_back(std::async(std::launch::async, [&paths, i] {
                cv::Mat image;
                return readImage(image, paths[i], i % 2 == 0).clone();
            }));
    for (std::size_t k = 0; k < reads.size(); ++k) {
        const cv::Mat image = reads[k].get();
        const cv::Mat& reference = expected[k % paths.size()];
        ASSERT_EQ(image.size(), reference.size()) << paths[k % paths.size()];
        EXPECT_EQ(cv::norm(image, reference, cv::NORM_INF), 0.0) << paths[k % paths.size()];
    }
    QDir(dir).removeRecursively();
}

// A still photo with an EXIF rotation comes upright whichever library decodes it; the
// file name steers the file to each library in turn.
TEST_F(ImageReaderTest, TaggedPhotosComeUprightWhicheverLibraryReadsThem)
{
    const QString exiftool = QStandardPaths::findExecutable("exiftool");
    if (exiftool.isEmpty())
        GTEST_SKIP() << "exiftool is needed to tag the test pictures";
    const struct {
        const char* written;  // the format the content is written in
        const char* name;     // the name it is read under
        int orientation;
        const char* library;
        int type = CV_8UC3;  // kept as written
    } cases[] = {{"jpg", "photo.jpg", 6, "jpeg-read"},  {"tif", "photo.tif", 8, "opencv-read"},
                 {"tif", "photo.tif", 1, "devil-read"},  {"tif", "deep.tif", 6, "opencv-read", CV_16UC3},
                 {"tif", "deep.tif", 8, "opencv-read", CV_16UC3}, {"tif", "deep.tif", 1, "devil-read", CV_16UC3},
                 {"jpg", "photo.bmp", 3, "magick-read"}, {"tif", "photo.tga", 6, "magick-read"},
                 {"jpg", "photo.gif", 8, "jpeg-read"}, {"tif", "photo.gif", 5, "opencv-read"},
                 {"png", "photo.png", 1, "opencv-read"}};
    for (const auto& tagged : cases) {
        const cv::Mat picture = gradientImage(40, 64, tagged.type);
        const std::string written = pathOf(std::string("written.") + tagged.written);
        ASSERT_TRUE(cv::imwrite(written, picture));
        ASSERT_EQ(QProcess::execute(exiftool, {"-q", "-overwrite_original", QString("-Orientation#=%1").arg(tagged.orientation),
                                               QString::fromStdString(written)}), 0);
        const std::string path = pathOf(tagged.name);
        QFile::remove(QString::fromStdString(path));
        ASSERT_TRUE(QFile::rename(QString::fromStdString(written), QString::fromStdString(path)));

        TraceRecorder trace;
        cv::Mat image;
        readImage(image, path, false);
        ASSERT_FALSE(trace.names().empty());
        EXPECT_EQ(trace.names().back(), tagged.library) << tagged.name;
        EXPECT_EQ(image.type(), tagged.type) << tagged.name << " orientation " << tagged.orientation;
        cv::Mat upright = picture;
        switch (tagged.orientation) {
        case 3: cv::rotate(picture, upright, cv::ROTATE_180); break;
        case 5: cv::transpose(picture, upright); break;
        case 6: cv::rotate(picture, upright, cv::ROTATE_90_CLOCKWISE); break;
        case 8: cv::rotate(picture, upright, cv::ROTATE_90_COUNTERCLOCKWISE); break;
        default: break;
        }
        EXPECT_LE(maxDifference8(image, upright), 12.0) << tagged.name << " orientation " << tagged.orientation;
    }
}

TEST(ImageReaderRealMedia, PhoneShotTaggedRotate180ComesUpright)
{
    const QString photo = testmedia::mediaFile(
        "forensics-samples-files/usr/share/forensics-samples/original-files/pic2/IMG_20200124_231153.jpg");
    if (photo.isEmpty())
        GTEST_SKIP() << "phone photos absent (VB_TEST_MEDIA)";
    initImageLibraries("");
    const cv::Mat stored = cv::imread(photo.toStdString(), cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
    cv::Mat upright;
    cv::rotate(stored, upright, cv::ROTATE_180);

    const QString dir = testmedia::makeTempDir("vb-reader-phone");
    const QString asBmp = dir + "/phone.bmp";  // steers it to Magick++ first
    ASSERT_TRUE(QFile::copy(photo, asBmp));
    for (const QString& path : {photo, asBmp}) {
        cv::Mat image;
        readImage(image, path.toStdString(), false);
        ASSERT_EQ(image.size(), upright.size()) << path.toStdString();
        EXPECT_LE(cv::norm(image, upright, cv::NORM_L1) / image.total(), 3.0) << path.toStdString();
    }
    QDir(dir).removeRecursively();
}

// Separations without ink are white paper, whichever way the four inks are ordered.
TEST_F(ImageReaderTest, CmykFilesReadByMagickComeBackAsColours)
{
    FIBITMAP* bitmap = FreeImage_Allocate(24, 16, 32);
    ASSERT_NE(bitmap, nullptr);
    for (unsigned y = 0; y < 16; ++y)
        std::memset(FreeImage_GetScanLine(bitmap, static_cast<int>(y)), 0, 24 * 4);
    const std::string written = pathOf("inks.tif");
    const bool saved = FreeImage_Save(FIF_TIFF, bitmap, written.c_str(), TIFF_CMYK) == TRUE;
    FreeImage_Unload(bitmap);
    ASSERT_TRUE(saved);
    // The name steers the TIFF to Magick++ first.
    const std::string path = pathOf("inks.tga");
    ASSERT_TRUE(QFile::rename(QString::fromStdString(written), QString::fromStdString(path)));

    TraceRecorder trace;
    cv::Mat image;
    readImage(image, path, false);
    EXPECT_EQ(trace.names(), std::vector<std::string>{"magick-read"});
    ASSERT_EQ(image.size(), cv::Size(24, 16));
    double darkest = 0.0;
    cv::minMaxLoc(convertBitDepth(image, 8).reshape(1), &darkest);
    EXPECT_GE(darkest, 250.0);
}

namespace {

// The largest resident size since the last reset, in bytes; -1 where it cannot be read.
long long peakResidentBytes()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').front().toLongLong() * 1024;
    return -1;
}

bool resetPeakResidentBytes()
{
    QFile clear("/proc/self/clear_refs");
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

}  // namespace

// Files that claim more pixels than their coded data can hold (a JPEG needs a bit for
// every 8x8 block, a raw PPM or TGA every sample, a large picture a byte for every few
// thousand pixels whatever its coding; trailers hold no picture data) are refused from
// their header, naming the file, before any library allocates the picture; the same
// files with their true size still read, and an arithmetic JPEG whose data runs out
// is refused as it decodes. Files are padded (with zeros) or cut to the given size.
TEST_F(ImageReaderTest, HeadersClaimingHugePicturesAreRefusedBeforeAllocation)
{
    framesource::LogCapture log;
    const struct {
        const char* kind;
        uint32_t width, height;
        size_t bytes;  // 0: as written
        bool read;
        const char* said = nullptr;  // the log's words when refused, if not the claim
    } cases[] = {{"jpg", 65000, 65000, 0, false}, {"jpg", 16, 16, 0, true},
                 {"jpg", 32768, 32767, 16500, false}, {"jpg", 12000, 12000, 9000, false},
                 {"jpg", 32768, 32767, 2200000, false},
                 {"arithmetic jpg", 32768, 32767, 16500, false}, {"arithmetic jpg", 8192, 8192, 0, false, "is damaged"},
                 {"arithmetic jpg", 12000, 12000, 0, false},
                 {"arithmetic jpg", 256, 256, 0, true},           {"flat arithmetic jpg", 4096, 4096, 0, true},
                 {"png", 65000, 65000, 0, false},     {"png", 16, 16, 0, true},
                 {"png", 9000, 9000, 3000000, false},
                 {"tif", 65000, 65000, 0, false},     {"tif", 16, 16, 0, true},
                 {"lzma tif", 32768, 32767, 16500, false}, {"lzma tif", 16, 16, 0, true},
                 {"gif", 20000, 20000, 1000, false},  {"gif", 16, 16, 0, true},
                 {"webp", 12000, 12000, 4000, false}, {"webp", 16, 16, 0, true},
                 {"hdr", 12000, 12000, 5000, false},  {"hdr", 16, 16, 0, true},
                 {"pfm", 12000, 12000, 3000, false},  {"pfm", 16, 16, 0, true},
                 {"ppm", 12000, 12000, 3000, false},  {"ppm", 16, 16, 0, true},
                 {"commented ppm", 12000, 12000, 73100, false}, {"commented ppm", 16, 16, 0, true},
                 {"ppm", 16, 16, 150, false},         {"tga", 16, 16, 150, false},
                 {"tga", 16, 16, 0, true}};
    for (const auto& c : cases) {
        const std::string kind = c.kind;
        const std::string path = pathOf("claims" + std::to_string(c.width) + "-" + std::to_string(c.bytes) + "-" +
                                        kind.substr(0, kind.find(' ')) + "." + kind.substr(kind.rfind(' ') + 1));
        SCOPED_TRACE(path);
        std::vector<uchar> bytes = imageio_test::claimingHeader(kind, c.width, c.height);
        if (c.bytes)
            bytes.resize(c.bytes);
        {
            QFile file(QString::fromStdString(path));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        }
        const bool measured = resetPeakResidentBytes();
        const long long before = peakResidentBytes();
        cv::Mat image;
        readImage(image, path, false);
        EXPECT_EQ(!image.empty(), c.read);
        if (!c.read) {
            if (measured) {
                EXPECT_LT(peakResidentBytes() - before, 64ll << 20);
            }
            const std::string said =
                c.said ? c.said : "claims a picture of " + std::to_string(c.width) + " x " + std::to_string(c.height);
            EXPECT_TRUE(log.text().contains(QString::fromStdString("\"" + path + "\" " + said))) << log.text().toStdString();
        }
    }
}
