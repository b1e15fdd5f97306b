#include "SlidersTM.h"

#include "DisplayScale.h"
#include "PixelOps.h"

#include <algorithm>
#include <cmath>

SlidersTM::SlidersTM()
    : curve(0.f, -0.5f, 0.5f, 0.25f)
{
    colour.vibrance = 0.7f;
    colour.contrast = 1.2333334f;
    // Exposure terms for -0.15 EV.
    ExposureToe& toe = colour.exposure;
    toe.gain = std::pow(2.f, -0.15f);
    toe.kneeWidth = std::min(0.0625f / toe.gain, 0.0025f);
    toe.kneeCurvature = toe.gain / (4.f * toe.kneeWidth);
}

cv::Mat& SlidersTM::apply(cv::Mat& out, const cv::Mat& in, const float[3])
{
    buffer = asFloat(in);
    ColourPassParameters inDisplayRange = colour;
    inDisplayRange.exposure = toeOfScaledInput(colour.exposure, float(displayScale(buffer, sourceKind)));
    return parallelComputeLightImage(curve, out, buffer, inDisplayRange);
}
