#include "FrameSourceTestSupport.h"
#include "ImageIO.h"
#include "ImageIOTestSupport.h"
#include "MagickAdapter.h"
#include "TestMedia.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <tiff.h>

#include <string>
#include <vector>

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void saveBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Truncations at several lengths and copies with a few flipped bits, half of them in
// the header, from a fixed seed so a failure is repeatable; then one of pure noise.
std::vector<QByteArray> damagedCopies(const QByteArray& original, int flippedCopies)
{
    std::vector<QByteArray> copies;
    for (double fraction : {0.0, 0.01, 0.1, 0.5, 0.9}) {
        const int length = static_cast<int>(original.size() * fraction);
        copies.push_back(original.left(std::max(length, fraction > 0 ? 1 : 0)));
    }
    cv::RNG rng(12345);
    for (int copy = 0; copy < flippedCopies; ++copy) {
        QByteArray damaged = original;
        const int headerSpan = std::min<int>(damaged.size(), 512);
        for (int hit = 0; hit < 8; ++hit) {
            const int span = hit % 2 == 0 ? headerSpan : damaged.size();
            const int at = rng.uniform(0, span);
            damaged[at] = static_cast<char>(damaged.at(at) ^ (1 << rng.uniform(0, 8)));
        }
        copies.push_back(damaged);
    }
    QByteArray noise(4096, '\0');
    for (char& byte : noise)
        byte = static_cast<char>(rng.uniform(0, 256));
    copies.push_back(noise);
    return copies;
}

// Copies with 16 random bytes (never 0xFF, which would make a marker) written over the
// file at each of several evenly spread places, as a failing card leaves them.
std::vector<QByteArray> overwrittenCopies(const QByteArray& original, int places)
{
    std::vector<QByteArray> copies;
    cv::RNG rng(2024);
    for (int place = 0; place < places; ++place) {
        QByteArray damaged = original;
        const int at = static_cast<int>(static_cast<qint64>(original.size() - 16) * (2 * place + 1) / (2 * places));
        for (int i = 0; i < 16; ++i)
            damaged[at + i] = static_cast<char>(rng.uniform(0, 255));
        copies.push_back(damaged);
    }
    return copies;
}

QByteArray arithmeticCoded(const QByteArray& jpeg)
{
    const std::vector<uchar> coded = imageio_test::arithmeticCodedJpeg(std::vector<uchar>(jpeg.begin(), jpeg.end()));
    return QByteArray(reinterpret_cast<const char*>(coded.data()), static_cast<int>(coded.size()));
}

// A readable result is what the callers are promised; anything else must be empty.
void expectSafeResult(const cv::Mat& image, const std::string& what)
{
    if (image.empty())
        return;
    EXPECT_TRUE(image.depth() == CV_8U || image.depth() == CV_16U || image.depth() == CV_32F) << what;
    EXPECT_TRUE(image.channels() == 1 || image.channels() == 3) << what;
}

// Rows whose every sample is the same value: what a decoder leaves where data was missing.
double flatRowFraction(const cv::Mat& image)
{
    int flat = 0;
    for (int row = 0; row < image.rows; ++row) {
        double low = 0.0;
        double high = 0.0;
        cv::minMaxLoc(image.row(row).reshape(1), &low, &high);
        flat += low == high;
    }
    return static_cast<double>(flat) / image.rows;
}

class ImageFuzzTest : public ::testing::TestWithParam<std::string> {
protected:
    static void SetUpTestSuite() { initImageLibraries(""); }
};

}  // namespace

TEST_P(ImageFuzzTest, DamagedFilesGiveAnEmptyOrValidImageWithoutCrashing)
{
    const std::string extension = GetParam();
    const QString dir = testmedia::makeTempDir("vb-fuzz");
    const QString intact = dir + "/intact." + QString::fromStdString(extension);

    cv::Mat picture(48, 64, CV_8UC3);
    cv::randu(picture, 0, 256);
    ASSERT_TRUE(writeImage(intact.toStdString(), picture, "", "")) << extension;
    const QByteArray original = fileBytes(intact);
    ASSERT_FALSE(original.isEmpty());

    int index = 0;
    for (const QByteArray& damaged : damagedCopies(original, 12)) {
        const QString path = dir + QString("/damaged%1.").arg(index++) + QString::fromStdString(extension);
        saveBytes(path, damaged);
        cv::Mat image;
        readImage(image, path.toStdString(), index % 2 == 0);
        expectSafeResult(image, path.toStdString());
    }
    QDir(dir).removeRecursively();
}

INSTANTIATE_TEST_SUITE_P(EveryWrittenFormat, ImageFuzzTest,
                         ::testing::Values("jpg", "png", "tif", "bmp", "tga", "hdr", "exr", "dpx", "psd", "gif",
                                           "ppm", "sgi"));

TEST(ImageFuzzRaw, DamagedCameraRawsGiveAnEmptyOrValidImage)
{
    const QString source = testmedia::rawDir() + "/RAW_KODAK_DC50.KDC";
    const QByteArray original = fileBytes(source);
    if (original.isEmpty())
        GTEST_SKIP() << "camera raw test file absent: " << source.toStdString();
    initImageLibraries("");
    const QString dir = testmedia::makeTempDir("vb-fuzz-raw");

    int index = 0;
    for (const QByteArray& damaged : damagedCopies(original, 12)) {
        for (const char* extension : {"kdc", "nef"}) {
            const QString path = dir + QString("/damaged%1.").arg(index++) + extension;
            saveBytes(path, damaged);
            cv::Mat image;
            readImage(image, path.toStdString(), index % 2 == 0);
            expectSafeResult(image, path.toStdString());
        }
    }
    QDir(dir).removeRecursively();
}

// Real photos and camera raws, a few hundred damaged copies in all. Raws are read as
// previews where the full decode would make the sweep slow under the sanitizers.
TEST(ImageFuzzRealFiles, DamagedRealPhotosGiveAnEmptyOrValidImage)
{
    const QString jpeg = testmedia::mediaFile(
        "forensics-samples-files/usr/share/forensics-samples/original-files/pic1/IMG-20191006-WA0002.jpg");
    const QString png =
        testmedia::mediaFile("forensics-samples-files/usr/share/forensics-samples/original-files/pic1/debian.png");
    if (jpeg.isEmpty() || png.isEmpty())
        GTEST_SKIP() << "real photos absent (VB_TEST_MEDIA)";
    initImageLibraries("");
    const QString dir = testmedia::makeTempDir("vb-fuzz-real");
    // A 16-bit TIFF of the real photo, since the packages hold no TIFF.
    cv::Mat photo;
    readImage(photo, jpeg.toStdString(), false);
    ASSERT_FALSE(photo.empty());
    cv::resize(photo, photo, cv::Size(), 0.5, 0.5, cv::INTER_AREA);
    const QString tiff = dir + "/photo.tif";
    ASSERT_TRUE(writeImage(tiff.toStdString(), photo, "", ""));
    // The same photo coded in the other ways the reader meets: LZMA in a TIFF, GIF and
    // an arithmetic-coded JPEG.
    const QString lzmaTiff = dir + "/lzma.tif";
    ASSERT_TRUE(cv::imwrite(lzmaTiff.toStdString(), photo, {cv::IMWRITE_TIFF_COMPRESSION, COMPRESSION_LZMA}));
    const QString gif = dir + "/photo.gif";
    ASSERT_TRUE(writeImage(gif.toStdString(), photo, "", ""));
    const QString arithmetic = dir + "/arithmetic.jpg";
    saveBytes(arithmetic, arithmeticCoded(fileBytes(jpeg)));

    const struct {
        QString path;
        const char* extension;
        int flippedCopies;
        bool preview;
    } sources[] = {{jpeg, "jpg", 60, false},
                   {png, "png", 60, false},
                   {tiff, "tif", 60, false},
                   {lzmaTiff, "tif", 20, false},
                   {gif, "gif", 20, false},
                   {arithmetic, "jpg", 20, false},
                   {testmedia::rawDir() + "/RAW_KODAK_DC50.KDC", "kdc", 60, false},
                   {testmedia::rawDir() + "/canon_eos_kiss_x4_magiclantern_colorchart.dng", "dng", 20, true}};
    int reads = 0;
    for (const auto& source : sources) {
        const QByteArray original = fileBytes(source.path);
        if (original.isEmpty())
            continue;
        int index = 0;
        for (const QByteArray& damaged : damagedCopies(original, source.flippedCopies)) {
            const QString path = dir + QString("/damaged%1.").arg(index++) + source.extension;
            saveBytes(path, damaged);
            cv::Mat image;
            readImage(image, path.toStdString(), source.preview);
            expectSafeResult(image, path.toStdString());
            QFile::remove(path);
            ++reads;
        }
    }
    EXPECT_GE(reads, 250) << "the six photo codings alone give about 290 damaged copies";
    QDir(dir).removeRecursively();
}

// Damaged copies of real pictures: each read gives the picture whole or fails with a
// log entry naming the file, never a black or partly blank picture. A camera's photo
// with random bytes over its picture data reads as good as whole or not at all,
// whether Huffman or arithmetic coded.
TEST(ImageFuzzRealFiles, DamagedTiffExrAndDngGiveTheirPictureOrALoggedFailure)
{
    const QString photo = testmedia::mediaFile(
        "forensics-samples-files/usr/share/forensics-samples/original-files/pic1/IMG-20191006-WA0002.jpg");
    const QString camera = testmedia::mediaFile(
        "forensics-samples-files/usr/share/forensics-samples/original-files/pic1/IMG_20200827_231612.jpg");
    const QString exr = testmedia::mediaFile("blender-data/usr/share/blender/datafiles/studiolights/world/forest.exr");
    if (photo.isEmpty() || camera.isEmpty() || exr.isEmpty())
        GTEST_SKIP() << "real photos absent (VB_TEST_MEDIA)";
    initImageLibraries("");
    QDir dir(testmedia::makeTempDir("vb-damaged-images"));
    // A 16-bit LZW TIFF of the real photo, since the media holds no TIFF.
    cv::Mat picture;
    readImage(picture, photo.toStdString(), false);
    ASSERT_FALSE(picture.empty());
    const QString tiff = dir.filePath("photo.tif");
    cv::Mat deep;
    picture.convertTo(deep, CV_16U, 257.0);
    ASSERT_TRUE(cv::imwrite(tiff.toStdString(), deep));
    // One with an IPTC caption as Magick++ writes it.
    const QString iptcTiff = dir.filePath("iptc.tif");
    Magick::Image tagged = matToMagick(picture);
    const std::string caption = std::string("\x1C\x02\x78\x00\x23", 5) + "Stacked from a burst of nine photos";
    tagged.iptcProfile(Magick::Blob(caption.data(), caption.size()));
    tagged.write(iptcTiff.toStdString());
    const QString arithmeticCamera = dir.filePath("camera-arithmetic.jpg");
    saveBytes(arithmeticCamera, arithmeticCoded(fileBytes(camera)));

    const struct {
        QString path;
        const char* extension;
        int flippedCopies;
        bool preview;
        int overwrittenPlaces = 0;
        double leastPsnr = 0;  // of a picture read from a damaged copy, against the whole one
    } sources[] = {{tiff, "tif", 30, false},
                   {iptcTiff, "tif", 10, false},
                   {exr, "exr", 30, false},
                   {testmedia::rawDir() + "/canon_eos_kiss_x4_magiclantern_colorchart.dng", "dng", 6, true},
                   {camera, "jpg", 0, false, 12, 40},
                   {arithmeticCamera, "jpg", 0, false, 6, 40}};
    framesource::LogCapture log;
    int reads = 0;
    for (const auto& source : sources) {
        const QByteArray original = fileBytes(source.path);
        if (original.isEmpty())
            continue;
        cv::Mat intact;
        readImage(intact, source.path.toStdString(), source.preview);
        ASSERT_FALSE(intact.empty()) << source.path.toStdString();
        const double intactFlat = flatRowFraction(intact);
        std::vector<QByteArray> copies = damagedCopies(original, source.flippedCopies);
        for (const QByteArray& overwritten : overwrittenCopies(original, source.overwrittenPlaces))
            copies.push_back(overwritten);
        int index = 0;
        for (const QByteArray& damaged : copies) {
            const QString path = dir.filePath(QString("damaged%1.").arg(index++) + source.extension);
            saveBytes(path, damaged);
            cv::Mat image;
            readImage(image, path.toStdString(), source.preview);
            ++reads;
            SCOPED_TRACE(path.toStdString());
            if (image.empty()) {
                EXPECT_TRUE(log.text().contains(path)) << "a failed read names the file in the log";
                continue;
            }
            ASSERT_EQ(image.size(), intact.size());
            EXPECT_EQ(image.type(), intact.type());
            EXPECT_GT(cv::norm(image, cv::NORM_INF), 0.0) << "all black";
            EXPECT_LE(flatRowFraction(image), intactFlat + 0.01) << "rows left blank";
            if (source.leastPsnr > 0) {
                EXPECT_GE(cv::PSNR(image, intact), source.leastPsnr);
            }
        }
    }
    // The camera raw is optional; the TIFF, EXR and JPEG copies are always read.
    EXPECT_GE(reads, 114);
    dir.removeRecursively();
}
