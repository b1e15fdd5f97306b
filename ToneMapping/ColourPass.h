#pragma once
#include "InterpolationCurve.h"

#include <opencv2/core.hpp>

// The slider and curve colour pass: hue shift, saturation and vibrance, an
// exposure gain with a soft toe, contrast (monotonic: above 1 the darkest tones
// go to black rather than fold back up), and the tone curve on luminance squared. `in` is 32-bit float with 1 or 3 channels (other depths are converted);
// `out` becomes 3-channel float in [0, 1] of the same size. Rows are interleaved
// over `toneMappingWorkerCount()` threads. Another channel count gives an empty `out`.
cv::Mat& parallelComputeLightImage(const InterpolationCurve& curve, cv::Mat& out, const cv::Mat& in, float hue,
                                   float saturation, float vibrance, float blackPoint, float kneeWidth, float gain,
                                   float kneeCurvature, float contrast);

// Hue sector h in [0, 6) (brought there by one turn, then clamped), saturation
// and value to red, green, blue.
void hsvSectorToRgb(float h, float s, float v, float& r, float& g, float& b);
