// Damaged copies of real pictures: each read gives the picture whole or fails with a
// log entry naming the file, never a black or partly blank picture.
#include "FrameSourceTestSupport.h"
#include "ImageIO.h"
#include "TestMedia.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <string>
#include <vector>

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool saveBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Fixed truncations, then copies with a few bits flipped anywhere from a fixed seed.
std::vector<QByteArray> damagedCopies(const QByteArray& original, int flippedCopies)
{
    std::vector<QByteArray> copies;
    for (double fraction : {0.3, 0.5, 0.7, 0.9, 0.99})
        copies.push_back(original.left(static_cast<int>(original.size() * fraction)));
    cv::RNG rng(2024);
    for (int copy = 0; copy < flippedCopies; ++copy) {
        QByteArray damaged = original;
        for (int hit = 0; hit < 4; ++hit) {
            const int at = rng.uniform(original.size() / 50, original.size());
            damaged[at] = static_cast<char>(damaged.at(at) ^ (1 << rng.uniform(0, 8)));
        }
        copies.push_back(damaged);
    }
    return copies;
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

}  // namespace

TEST(ImageReaderDamaged, DamagedTiffExrAndDngGiveTheirPictureOrALoggedFailure)
{
    const QString photo = testmedia::mediaFile(
        "forensics-samples-files/usr/share/forensics-samples/original-files/pic1/IMG-20191006-WA0002.jpg");
    const QString exr = testmedia::mediaFile("blender-data/usr/share/blender/datafiles/studiolights/world/forest.exr");
    if (photo.isEmpty() || exr.isEmpty())
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

    const struct {
        QString path;
        const char* extension;
        int flippedCopies;
        bool preview;
    } sources[] = {{tiff, "tif", 40, false},
                   {exr, "exr", 30, false},
                   {testmedia::rawDir() + "/canon_eos_kiss_x4_magiclantern_colorchart.dng", "dng", 6, true}};
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
        int index = 0;
        for (const QByteArray& damaged : damagedCopies(original, source.flippedCopies)) {
            const QString path = dir.filePath(QString("damaged%1.").arg(index++) + source.extension);
            ASSERT_TRUE(saveBytes(path, damaged));
            cv::Mat image;
            readImage(image, path.toStdString(), source.preview);
            ++reads;
            SCOPED_TRACE(path.toStdString());
            if (image.empty()) {
                EXPECT_TRUE(log.text().contains(path)) << "a failed read names the file in the log";
                continue;
            }
            EXPECT_EQ(image.size(), intact.size());
            EXPECT_EQ(image.type(), intact.type());
            EXPECT_GT(cv::norm(image, cv::NORM_INF), 0.0) << "all black";
            EXPECT_LE(flatRowFraction(image), intactFlat + 0.01) << "rows left blank";
        }
    }
    EXPECT_GE(reads, 80);
    dir.removeRecursively();
}
