#include "SlidersTM.h"

#include "ColourPass.h"
#include "PixelOps.h"

#include <algorithm>
#include <cmath>

SlidersTM::SlidersTM()
    : curve(0.f, -0.5f, 0.5f, 0.25f),
      gain(std::pow(2.f, -0.15f)),
      kneeWidth(std::min(0.0625f / gain, 0.0025f)),
      kneeCurvature(gain / (4.f * kneeWidth))
{
}

cv::Mat& SlidersTM::apply(cv::Mat& out, const cv::Mat& in, const float[3])
{
    buffer = asFloat(in);
    return parallelComputeLightImage(curve, out, buffer, 0.f, 1.f, vibrance, blackPoint, kneeWidth, gain,
                                     kneeCurvature, contrast);
}
