#include "GeneratedMedia.h"

#include "TestMedia.h"

#include <QDir>
#include <QFile>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <cstdlib>
#include <functional>

namespace generatedmedia {

namespace {

std::string localPath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

Clip writeFrames(const QString& path, int frames, int sharpestFrame, cv::Size size,
                 const std::function<cv::Mat(int)>& frameAt)
{
    // FFmpeg's encoder: OpenCV's own MJPEG writer blackens the last block of flat frames.
    cv::VideoWriter writer(localPath(path), cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25.0,
                           size);
    for (int i = 0; i < frames; ++i)
        writer.write(frameAt(i));
    return {path, frames, sharpestFrame};
}

}  // namespace

cv::Mat scene(cv::Size size, unsigned seed)
{
    cv::RNG rng(seed);
    cv::Mat image(size, CV_8UC3);
    rng.fill(image, cv::RNG::UNIFORM, cv::Scalar::all(60), cv::Scalar::all(120));
    const int shapes = size.area() / 400 + 8;
    for (int i = 0; i < shapes; ++i) {
        const cv::Point centre(rng.uniform(0, size.width), rng.uniform(0, size.height));
        const cv::Scalar colour(rng.uniform(0, 256), rng.uniform(0, 256), rng.uniform(0, 256));
        const int radius = rng.uniform(3, std::max(4, size.height / 6));
        if (i % 2)
            cv::circle(image, centre, radius, colour, cv::FILLED, cv::LINE_8);
        else
            cv::rectangle(image, cv::Rect(centre, cv::Size(radius, radius * 2)), colour, cv::FILLED);
    }
    return image;
}

Clip writeClip(const QString& folder, int frames, int sharpestFrame, cv::Size size, unsigned seed)
{
    const cv::Mat sharp = scene(size, seed);
    const QString path = QDir(folder).filePath(QString("clip-%1-sharpest-%2.avi").arg(frames).arg(sharpestFrame));
    return writeFrames(path, frames, sharpestFrame, size, [&](int index) {
        const int distance = std::abs(index - sharpestFrame);
        if (distance == 0)
            return sharp;
        cv::Mat blurred;
        cv::GaussianBlur(sharp, blurred, cv::Size(), 0.8 + 0.6 * distance);
        return blurred;
    });
}

Clip writeUniformClip(const QString& folder, int frames, cv::Size size)
{
    const cv::Mat grey(size, CV_8UC3, cv::Scalar::all(128));
    const QString path = QDir(folder).filePath(QString("uniform-%1.avi").arg(frames));
    return writeFrames(path, frames, 0, size, [&](int) { return grey; });
}

Burst writeBurst(const QString& folder, int count, const QString& extension, cv::Size size, int maxShift,
                 unsigned seed)
{
    const cv::Mat wide = scene(size + cv::Size(2 * maxShift, 2 * maxShift), seed);
    cv::RNG rng(seed + 1);
    Burst burst;
    for (int i = 0; i < count; ++i) {
        const cv::Point shift = i == 0 ? cv::Point() : cv::Point(rng.uniform(-maxShift, maxShift + 1),
                                                                 rng.uniform(-maxShift, maxShift + 1));
        // Content moved by +shift is the window moved by -shift.
        const cv::Rect window(cv::Point(maxShift - shift.x, maxShift - shift.y), size);
        const QString path = QDir(folder).filePath(QString("burst-%1.%2").arg(i, 2, 10, QChar('0')).arg(extension));
        cv::imwrite(localPath(path), wide(window));
        burst.paths << path;
        burst.shifts.push_back(shift);
    }
    return burst;
}

QString phoneVideo()
{
    return testmedia::mediaFile(
        "forensics-samples-files/usr/share/forensics-samples/original-files/movie1/VID_20191220_170832.mp4");
}

}  // namespace generatedmedia
