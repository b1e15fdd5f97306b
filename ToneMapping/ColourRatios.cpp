#include "ColourRatios.h"

#include "DisplayScale.h"

#include <cmath>

double ColourRatios::floor(double displayScale)
{
    // The sample step of an 8-bit source is its step after decoding to linear light.
    constexpr double kLightImageGamma = 2.2;
    return std::pow(kFloorSteps * display_scale::kSampleStep, kLightImageGamma) / displayScale;
}

ColourRatios::ColourRatios(double displayScale) : displayScale_(displayScale), floor_(floor(displayScale)) {}
