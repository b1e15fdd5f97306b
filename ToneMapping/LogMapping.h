#pragma once
#include "ToneMappingBase.h"

#include <opencv2/core.hpp>

// Adaptive logarithmic mapping of the luminance in Yxy with a bias, then a gamma curve.
// The input is first brought to the display range (displayScale).
class LogMapping : public ToneMappingBase {
public:
    // params[0] is the bias (0.5 to 1); params[1] and params[2] are not read.
    cv::Mat& apply(cv::Mat& out, const cv::Mat& in, const float params[3]) override;
    bool readsExtremes() const override { return true; }

    cv::Mat input;
    cv::Mat result;
    float maxLuminance = 0.0f;
    float minLuminance = 0.0f;

private:
    // The result before last, written again once its caller has let it go: a fresh
    // full-size image costs a page fault for every few kilobytes it is first written.
    cv::Mat spare;
};

// (Y, x, y) per pixel of a 3-channel float BGR image. Y is clamped at 0; a pixel
// without chromaticity (X + Y + Z <= 0) gets the white point's. The extremes start
// from 1e-6 and 1e10.
void bgrToYxy(const cv::Mat& in, cv::Mat& yxy, float& maxLuminance, float& minLuminance);
// The BGR image of a Yxy image, stretched so that the smallest channel value of its
// lit pixels (Y above 0) is 0 and their largest 1 (of all pixels when none is lit;
// clamped to [0, 1] instead when all values are equal).
cv::Mat yxyToBgr(const cv::Mat& yxy);
