#pragma once
#include "BenchMedia.h"
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdlib>
#include <map>
#include <string>

namespace benchphotos {

inline std::string photoPath(const char* name)
{
    return benchmedia::root() + "/mate-backgrounds/usr/share/backgrounds/mate/nature/" + name;
}

// A rectangle of a real photograph at its full size, each photograph decoded once;
// empty without the media.
inline cv::Mat photoCrop(const char* name, cv::Rect crop)
{
    static std::map<std::string, cv::Mat> decoded;
    cv::Mat& whole = decoded[name];
    if (whole.empty())
        whole = cv::imread(photoPath(name), cv::IMREAD_COLOR);
    return (crop & cv::Rect(cv::Point(), whole.size())) == crop ? whole(crop).clone() : cv::Mat();
}

// A real camera photograph from the fetched media, resized to `size`; without the
// media a smooth random texture of that size, so the benchmark still runs.
inline cv::Mat loadPhoto(const char* name, cv::Size size)
{
    cv::Mat photo = cv::imread(photoPath(name), cv::IMREAD_COLOR);
    if (photo.empty()) {
        photo.create(size, CV_8UC3);
        cv::RNG(5).fill(photo, cv::RNG::UNIFORM, 0, 256);
        cv::GaussianBlur(photo, photo, cv::Size(0, 0), 3);
    }
    cv::Mat resized;
    cv::resize(photo, resized, size, 0, 0, size.width > photo.cols ? cv::INTER_CUBIC : cv::INTER_AREA);
    return resized;
}

}  // namespace benchphotos
