#pragma once
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace benchbursts {

// Frame i as a camera would give it: the scene moved by its shift, plus noise of
// the given deviation in 8-bit levels.
inline cv::Mat noisyFrame(const cv::Mat& scene, int i, cv::Point2d shift, double sigma)
{
    cv::Mat moved, noise(scene.size(), CV_16SC3), frame;
    const cv::Mat warp = (cv::Mat_<double>(2, 3) << 1, 0, shift.x, 0, 1, shift.y);
    cv::warpAffine(scene, moved, warp, scene.size(), cv::INTER_CUBIC, cv::BORDER_REFLECT_101);
    cv::RNG(1000 + i).fill(noise, cv::RNG::NORMAL, 0.0, sigma);
    cv::add(moved, noise, frame, cv::noArray(), CV_8U);
    return frame;
}

inline cv::Mat asUnitFloat(const cv::Mat& image)
{
    cv::Mat result;
    image.convertTo(result, CV_32F, 1.0 / 255.0);
    return result;
}

}  // namespace benchbursts
