#pragma once
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdlib>
#include <string>

#include <sys/resource.h>

namespace hdrbench {

// A real HDRI scaled to about `megapixels` (3:2), or a deterministic synthetic HDR
// scene when the media is absent. Float BGR with values above 1.
inline cv::Mat hdrImage(double megapixels)
{
    const int rows = int(std::lround(std::sqrt(megapixels * 1e6 / 1.5)));
    const int columns = int(std::lround(rows * 1.5));
    setenv("OPENCV_IO_ENABLE_OPENEXR", "1", 0);
    const char* root = std::getenv("VB_TEST_MEDIA");
    const std::string path = std::string(root ? root : VB_TEST_MEDIA) +
                             "/blender-data/usr/share/blender/datafiles/studiolights/world/forest.exr";
    cv::Mat source = cv::imread(path, cv::IMREAD_UNCHANGED);
    if (source.empty() || source.channels() < 3) {
        cv::Mat noise(rows, columns, CV_32FC3);
        cv::theRNG().state = 12345;
        cv::randu(noise, 0.0f, 1.0f);
        cv::GaussianBlur(noise, noise, cv::Size(0, 0), 4.0);
        cv::Mat scene;
        cv::exp(noise * 12.0f - 6.0f, scene);
        return scene;
    }
    if (source.channels() == 4)
        cv::cvtColor(source, source, cv::COLOR_BGRA2BGR);
    source.convertTo(source, CV_32F);
    cv::Mat scaled;
    cv::resize(source, scaled, cv::Size(columns, rows), 0, 0, cv::INTER_CUBIC);
    return cv::max(scaled, 0.0f);
}

// Peak resident memory of the process so far, in megabytes.
inline double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

}  // namespace hdrbench
