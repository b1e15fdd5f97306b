#pragma once
#include "InterpolationCurve.h"

#include <opencv2/core.hpp>

// Exposure: a line of slope gain through blackPoint, joined to 0 by a parabola of
// curvature kneeCurvature over kneeWidth either side of blackPoint.
struct ExposureToe {
    float blackPoint = 0.f;
    float kneeWidth = 0.f;
    float gain = 1.f;
    float kneeCurvature = 0.f;
};

// What the colour pass does to each pixel, in the order it does it.
struct ColourPassParameters {
    float hue = 0.f;  // shift, in turns
    float saturation = 1.f;
    float vibrance = 0.f;
    ExposureToe exposure;
    float contrast = 1.f;
};

// The exposure terms of `exposure` EV: the white point 2^-exposure maps to 1,
// through a toe of half a percent around black.
ExposureToe exposureToe(float exposure);
// The toe that maps x as `toe` maps scale x: an input's scale folded into the pass,
// which then needs no pass of its own (the hue and saturation steps ignore a scale).
ExposureToe toeOfScaledInput(const ExposureToe& toe, float scale);

// The slider and curve colour pass: hue shift, saturation and vibrance, an
// exposure gain with a soft toe, contrast (monotonic: above 1 the shadows are
// compressed towards black, never folded back up or clipped), and the tone curve
// on luminance squared.
// `in` is 32-bit float with 1 or 3 channels (other depths are converted); `out`
// becomes 3-channel float in [0, 1] of the same size. Rows are interleaved over
// `toneMappingWorkerCount()` threads. Another channel count gives an empty `out`.
cv::Mat& parallelComputeLightImage(const InterpolationCurve& curve, cv::Mat& out, const cv::Mat& in,
                                   const ColourPassParameters& parameters);

// The colour pass's terms, derived once from its parameters, for passes that run
// its per-pixel work on rows of their own.
struct ColourPassTerms : ColourPassParameters {
    const InterpolationCurve* curve = nullptr;
    bool identityCurve = false;  // the curve step leaves every pixel as it is
    bool highContrast = false;
    float contrastLinear = 0.f;
    float contrastRoot = 0.f;
    float contrastOffset = 0.f;
    // Above 1 the curve is (contrast sqrt(y) - knee)^2 expanded, a line in sqrt(y)
    // that would cross 0 at sqrt(y) = knee / contrast and fold the shadows back up.
    // Below three times that root a toe s (toeLinear + toeSquare s) takes over,
    // joining the line with its value and slope: black stays 0 and the shadows rise.
    float toeEnd = 0.f;
    float toeLinear = 0.f;
    float toeSquare = 0.f;
};

// The curve must outlive the terms.
ColourPassTerms colourPassTerms(const InterpolationCurve& curve, const ColourPassParameters& parameters);
// The colour pass on one row of `cols` pixels of `in` (1 or 3 float channels) into
// `out` (3 float channels); a 3-channel row may be done in place.
void colourPassRow(const ColourPassTerms& terms, const float* in, int channels, float* out, int cols);

// Hue sector h in [0, 6) (brought there by one turn, then clamped), saturation
// and value to red, green, blue.
void hsvSectorToRgb(float h, float s, float v, float& r, float& g, float& b);
