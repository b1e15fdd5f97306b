#pragma once
#include "ColourPass.h"
#include "Spline.h"
#include "ToneMappingBase.h"

// The sliders-only operator: a fixed colour pass with its own tone curve, on the
// input brought to the display range (displayScale). It ignores its parameters,
// reports no progress and does not look at `cancel`.
class SlidersTM : public ToneMappingBase {
public:
    SlidersTM();
    cv::Mat& apply(cv::Mat& out, const cv::Mat& in, const float params[3]) override;

private:
    cv::Mat buffer;
    Spline curve;
    ColourPassParameters colour;
};
