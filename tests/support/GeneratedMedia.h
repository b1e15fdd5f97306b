#pragma once
#include <QString>
#include <QStringList>
#include <opencv2/core.hpp>

#include <vector>

// Media for the window tests, made from fixed seeds so every run sees the same pixels.
namespace generatedmedia {

// A textured still scene of the given size (shapes and fine noise).
cv::Mat scene(cv::Size size, unsigned seed);

struct Clip {
    QString path;
    int frames;
    int sharpestFrame;
};

// An MJPG .avi of a still scene at 25 fps whose frames are blurred more the
// further they lie from sharpestFrame, which alone is left sharp.
Clip writeClip(const QString& folder, int frames, int sharpestFrame, cv::Size size = cv::Size(192, 128),
               unsigned seed = 7);
// An MJPG .avi whose frames are all the same mid grey.
Clip writeUniformClip(const QString& folder, int frames, cv::Size size = cv::Size(192, 128));

struct Burst {
    QStringList paths;             // in shot order, which is also name order
    std::vector<cv::Point> shifts; // content shift of each shot against the first
};

// `count` photos of one scene, each moved by a whole-pixel shift of at most
// maxShift; the first is not moved. extension: "png" or "tif".
Burst writeBurst(const QString& folder, int count, const QString& extension, cv::Size size = cv::Size(192, 128),
                 int maxShift = 4, unsigned seed = 11);

// The real phone video fetched with the test media; empty when it is missing.
QString phoneVideo();

}  // namespace generatedmedia
