#include "ExifOrientation.h"
#include "TestMedia.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <string>

namespace {

void appendBytes(const QString& path, const QByteArray& bytes, int keep)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray content = file.readAll().left(keep);
    file.close();
    content += bytes;
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

}  // namespace

// The tag as exiftool writes it, in both byte orders, behind other segments, in
// progressive files; damaged or missing blocks read as upright.
TEST(ExifOrientation, ReadsTheTagExiftoolWroteWithoutDecoding)
{
    const QString exiftool = QStandardPaths::findExecutable("exiftool");
    if (exiftool.isEmpty())
        GTEST_SKIP() << "exiftool is needed to tag the test pictures";
    QDir dir(testmedia::makeTempDir("vb-exif"));
    const cv::Mat picture(24, 32, CV_8UC3, cv::Scalar(30, 90, 200));
    const struct {
        const char* name;
        int orientation;
        const char* byteOrder;
        bool progressive;
        bool withXmpFirst;
    } cases[] = {{"intel", 6, "II", false, false}, {"motorola", 8, "MM", false, false},
                 {"progressive", 3, "MM", true, false}, {"mirrored", 5, "II", true, false},
                 {"behind xmp", 7, "II", false, true}, {"upright", 1, "MM", false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString(c.name).replace(' ', '_') + ".jpg");
        ASSERT_TRUE(cv::imwrite(path.toStdString(), picture, {cv::IMWRITE_JPEG_PROGRESSIVE, c.progressive ? 1 : 0}));
        QStringList arguments{"-q", "-overwrite_original", QString("-ExifByteOrder=%1").arg(c.byteOrder),
                              QString("-Orientation#=%1").arg(c.orientation)};
        if (c.withXmpFirst)
            arguments << "-XMP-dc:Title=first";
        ASSERT_EQ(QProcess::execute(exiftool, arguments << path), 0);
        EXPECT_EQ(jpegExifOrientation(path.toStdString()), c.orientation);
    }

    const QString tagged = dir.filePath("intel.jpg");
    QFile::copy(tagged, dir.filePath("cut.jpg"));
    appendBytes(dir.filePath("cut.jpg"), QByteArray(), 40);
    const QString notJpeg = dir.filePath("text.jpg");
    QFile::copy(tagged, notJpeg);
    appendBytes(notJpeg, QByteArray("not a picture"), 0);
    const QString untagged = dir.filePath("plain.jpg");
    ASSERT_TRUE(cv::imwrite(untagged.toStdString(), picture));
    for (const QString& path : {dir.filePath("cut.jpg"), notJpeg, untagged, dir.filePath("missing.jpg")})
        EXPECT_EQ(jpegExifOrientation(path.toStdString()), 1) << path.toStdString();
    dir.removeRecursively();
}
