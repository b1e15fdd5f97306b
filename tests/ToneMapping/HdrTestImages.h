#pragma once
#include "TestMedia.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdlib>

namespace hdrtest {

// A real HDRI from Debian's blender-data, scaled to `size`; empty when the media is absent.
inline cv::Mat realHdrImage(cv::Size size)
{
    const QString path =
        testmedia::mediaFile("blender-data/usr/share/blender/datafiles/studiolights/world/courtyard.exr");
    if (path.isEmpty())
        return cv::Mat();
    setenv("OPENCV_IO_ENABLE_OPENEXR", "1", 0);
    cv::Mat image = cv::imread(path.toStdString(), cv::IMREAD_UNCHANGED);
    if (image.empty())
        return image;
    if (image.channels() == 4)
        cv::cvtColor(image, image, cv::COLOR_BGRA2BGR);
    image.convertTo(image, CV_32F);
    cv::Mat scaled;
    cv::resize(image, scaled, size, 0, 0, cv::INTER_AREA);
    return cv::max(scaled, 0.0f);
}

// Deterministic HDR scene: smooth blobs over six decades plus fine texture.
inline cv::Mat syntheticHdrImage(int rows, int columns, int channels = 3, uint64_t seed = 7)
{
    cv::RNG rng(seed);
    cv::Mat noise(rows, columns, CV_32FC(channels));
    rng.fill(noise, cv::RNG::UNIFORM, 0.0f, 1.0f);
    cv::Mat smooth;
    cv::GaussianBlur(noise, smooth, cv::Size(0, 0), 2.0);
    cv::Mat scene;
    cv::exp((smooth - 0.5f) * 40.0f + noise * 0.5f, scene);
    return scene;
}

}  // namespace hdrtest
