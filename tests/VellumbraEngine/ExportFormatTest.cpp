// Every export format and depth, written by saveImageWithDepth and read back by a
// reader other than ours: OpenCV's where it has one, else Magick++ directly.
#include "FrameSourceTestSupport.h"
#include "ImageIO.h"
#include "ImageIOTestSupport.h"
#include "TestMedia.h"

#include <Magick++.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <string>

namespace {

// Samples scaled to 0-1 whatever the depth.
cv::Mat unitScale(const cv::Mat& image)
{
    cv::Mat scaled;
    const double full = image.depth() == CV_8U ? 255.0 : image.depth() == CV_16U ? 65535.0 : 1.0;
    image.convertTo(scaled, CV_32F, 1.0 / full);
    return scaled;
}

// The file as an independent reader sees it, with the depth it found.
cv::Mat readIndependently(const std::string& path, int& depth)
{
    if (cv::haveImageReader(path)) {
        const cv::Mat image = cv::imread(path, cv::IMREAD_UNCHANGED);
        depth = image.depth();
        return unitScale(image);
    }
    try {
        Magick::Image image;
        image.read(path);
        // As a viewer shows it: a TGA may store its rows bottom-up and say so.
        image.autoOrient();
        depth = image.depth() <= 8 ? CV_8U : image.depth() <= 16 ? CV_16U : CV_32F;
        cv::Mat pixels(static_cast<int>(image.rows()), static_cast<int>(image.columns()), CV_32FC3);
        image.write(0, 0, image.columns(), image.rows(), "BGR", Magick::FloatPixel, pixels.data);
        return pixels;
    } catch (const Magick::Exception&) {
        depth = -1;
        return cv::Mat();
    }
}

}  // namespace

TEST(ImageExport, EveryFormatAndDepthReadsBackWithAnIndependentReader)
{
    initImageLibraries("");
    const struct {
        const char* extension;
        int bits;
        int depthRead;
        int channels;
        double tolerance;  // on the 0-1 scale
    } cases[] = {
        {"tif", 16, CV_16U, 3, 1e-4}, {"tif", 8, CV_8U, 3, 0.003},  {"tif", 32, CV_32F, 3, 1e-6},
        {"hdr", 32, CV_32F, 3, 0.01}, {"jpg", 8, CV_8U, 3, 0.04},   {"dpx", 16, CV_16U, 3, 1e-4},
        {"exr", 32, CV_32F, 3, 1e-3}, {"psd", 8, CV_8U, 3, 0.003},  {"psd", 16, CV_16U, 3, 1e-4},
        {"png", 8, CV_8U, 3, 0.003},  {"png", 16, CV_16U, 3, 1e-4}, {"bmp", 8, CV_8U, 3, 0.003},
        {"gif", 8, CV_8U, 3, 0.1},    {"pgm", 8, CV_8U, 1, 0.003},  {"ppm", 8, CV_8U, 3, 0.003},
        {"tga", 8, CV_8U, 3, 0.003},  {"pfm", 8, CV_32F, 3, 0.003}, {"pfm", 16, CV_32F, 3, 1e-4},
        {"pfm", 32, CV_32F, 3, 1e-6}, {"jp2", 8, CV_8U, 3, 0.003},  {"jp2", 16, CV_16U, 3, 1e-4},
        {"jp2", 32, CV_16U, 3, 1e-4}, {"j2k", 8, CV_8U, 3, 0.003},  {"j2k", 32, CV_16U, 3, 1e-4},
    };
    const cv::Mat picture = imageio_test::gradientImage(48, 65, CV_32FC3);
    cv::Mat grey;
    cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
    QDir dir(testmedia::makeTempDir("vb-export"));
    for (const auto& c : cases) {
        const std::string path = dir.filePath(QString("export%1.%2").arg(c.bits).arg(c.extension)).toStdString();
        SCOPED_TRACE(path);
        ASSERT_TRUE(saveImageWithDepth(path, picture, c.bits, ""));
        int depth = -1;
        const cv::Mat back = readIndependently(path, depth);
        ASSERT_FALSE(back.empty());
        EXPECT_EQ(depth, c.depthRead);
        ASSERT_EQ(back.channels(), c.channels);
        ASSERT_EQ(back.size(), picture.size());
        EXPECT_LE(cv::norm(back, c.channels == 1 ? grey : picture, cv::NORM_INF), c.tolerance);
    }
    dir.removeRecursively();
}

TEST(ImageExport, ATargetTheUserCannotWriteIsLeftAsItWas)
{
    initImageLibraries("");
    QDir dir(testmedia::makeTempDir("vb-readonly"));
    const cv::Mat picture = imageio_test::gradientImage(20, 30, CV_8UC3);
    framesource::LogCapture log;
    for (const char* name : {"locked.png", "locked.tif", "locked.exr"}) {
        SCOPED_TRACE(name);
        const QString path = dir.filePath(name);
        QFile existing(path);
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
        existing.write("the user's own file");
        existing.close();
        ASSERT_TRUE(existing.setPermissions(QFileDevice::ReadOwner | QFileDevice::ReadGroup));

        EXPECT_FALSE(saveImageWithDepth(path.toStdString(), picture, 8, ""));
        ASSERT_TRUE(existing.open(QIODevice::ReadOnly));
        EXPECT_EQ(existing.readAll(), QByteArray("the user's own file"));
        existing.close();
        EXPECT_EQ(existing.permissions() & QFileDevice::WriteOwner, 0);
        EXPECT_TRUE(log.text().contains(path));
        EXPECT_EQ(dir.entryList(QDir::Files | QDir::Hidden).size(), dir.entryList(QDir::Files).size())
            << "no partial file left beside it";
    }
    dir.removeRecursively();
}

TEST(ImageExport, SixteenBitTiffIsNoLargerThanItsSamples)
{
    initImageLibraries("");
    cv::Mat smooth;
    cv::resize(imageio_test::gradientImage(60, 80, CV_16UC3), smooth, cv::Size(800, 600), 0, 0, cv::INTER_CUBIC);
    cv::Mat grain(smooth.size(), CV_16UC3);
    cv::theRNG().state = 3;
    cv::randn(grain, cv::Scalar::all(2000), cv::Scalar::all(300));
    cv::Mat noise(smooth.size(), CV_16UC3);
    cv::randu(noise, cv::Scalar::all(0), cv::Scalar::all(65536));
    const struct {
        const char* name;
        cv::Mat picture;
        double largestShare;  // of the samples' bytes
    } cases[] = {
        {"photo.tif", smooth + grain, 0.9},
        // Nothing to gain: stored as it is, the header aside.
        {"noise.tif", noise, 1.01},
    };
    QDir dir(testmedia::makeTempDir("vb-tiff16"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.filePath(c.name).toStdString();
        ASSERT_TRUE(saveImageWithDepth(path, c.picture, 16, ""));
        EXPECT_LE(QFileInfo(dir.filePath(c.name)).size(), c.largestShare * c.picture.total() * c.picture.elemSize());
        int depth = -1;
        EXPECT_EQ(cv::norm(readIndependently(path, depth), unitScale(c.picture), cv::NORM_INF), 0.0);
        try {
            Magick::Image image;
            image.read(path);
            cv::Mat pixels(c.picture.size(), CV_16UC3);
            image.write(0, 0, image.columns(), image.rows(), "BGR", Magick::ShortPixel, pixels.data);
            EXPECT_EQ(cv::norm(pixels, c.picture, cv::NORM_INF), 0.0);
        } catch (const Magick::Exception& error) {
            ADD_FAILURE() << error.what();
        }
    }
    dir.removeRecursively();
}
