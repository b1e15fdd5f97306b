#pragma once
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdlib>
#include <string>

namespace benchphotos {

// A real camera photograph from the fetched media, resized to `size`; without the
// media a smooth random texture of that size, so the benchmark still runs.
inline cv::Mat loadPhoto(const char* name, cv::Size size)
{
    const char* root = std::getenv("VB_TEST_MEDIA");
    const std::string path = std::string(root ? root : VB_TEST_MEDIA) +
                             "/mate-backgrounds/usr/share/backgrounds/mate/nature/" + name;
    cv::Mat photo = cv::imread(path, cv::IMREAD_COLOR);
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
