#pragma once
#include <opencv2/core.hpp>

#include <limits>

// The float image with NaN and infinite samples set to 0 (a copy only when there
// are any): one bad sample would otherwise spread through every global step.
inline cv::Mat finiteSamples(const cv::Mat& image)
{
    if (cv::checkRange(image))
        return image;
    cv::Mat finite = image.clone();
    cv::patchNaNs(finite, 0.0);
    finite.setTo(0.0, cv::abs(finite) > std::numeric_limits<float>::max());
    return finite;
}
