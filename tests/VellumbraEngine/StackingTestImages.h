#pragma once
#include "TestMedia.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <map>
#include <string>

// Real photographs for the stacking engine tests; empty when the media is absent.
namespace stackingtest {

// The photograph at its full size; empty when it is missing.
inline cv::Mat fullPhoto(const char* name)
{
    const QString path = testmedia::mediaFile(QString("mate-backgrounds/usr/share/backgrounds/mate/nature/") + name);
    return path.isEmpty() ? cv::Mat() : cv::imread(path.toStdString(), cv::IMREAD_COLOR);
}

// A rectangle of the photograph at its full size, each photograph decoded once;
// empty when it is missing or smaller.
inline cv::Mat photoCrop(const char* name, cv::Rect crop)
{
    static std::map<std::string, cv::Mat> decoded;
    cv::Mat& whole = decoded[name];
    if (whole.empty())
        whole = fullPhoto(name);
    return (crop & cv::Rect(cv::Point(), whole.size())) == crop ? whole(crop).clone() : cv::Mat();
}

inline cv::Mat photo(const char* name, cv::Size size)
{
    const cv::Mat colour = fullPhoto(name);
    if (colour.empty())
        return cv::Mat();
    cv::Mat resized;
    cv::resize(colour, resized, size, 0, 0, cv::INTER_AREA);
    return resized;
}

inline cv::Mat gardenPhoto(cv::Size size) { return photo("Garden.jpg", size); }
inline cv::Mat flowerPhoto(cv::Size size) { return photo("YellowFlower.jpg", size); }

// The middle of a photograph with fine detail everywhere, as dense as in a 1080p frame.
inline cv::Mat detailedPhoto(cv::Size size)
{
    const cv::Mat whole = photo("../abstract/Elephants_5640x3172.jpg", {1920, 1080});
    if (whole.empty())
        return whole;
    return whole(cv::Rect(cv::Point(960 - size.width / 2, 540 - size.height / 2), size)).clone();
}

// Content moved by (dx, dy) whole pixels, the uncovered border taken from the image's mirror.
inline cv::Mat shifted(const cv::Mat& image, int dx, int dy)
{
    cv::Mat result;
    const cv::Mat shift = (cv::Mat_<double>(2, 3) << 1, 0, dx, 0, 1, dy);
    cv::warpAffine(image, result, shift, image.size(), cv::INTER_NEAREST, cv::BORDER_REFLECT_101);
    return result;
}

}  // namespace stackingtest
