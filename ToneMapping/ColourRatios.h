#pragma once
#include <opencv2/core.hpp>

// Per-channel ratios that put a pixel's colour back on a new luminance. A plain
// channel / luminance is 0/0 on black and mostly noise just above it: one
// quantisation step in one channel alone, or channels clipped at 0, give a fully
// saturated colour, which a lifted luminance makes glaring. The ratio is
// therefore blended towards neutral 1 with the weight f^4 / (l^4 + f^4) for a
// floor f: on black it is 1, at f half-way, at 4 f the weight is 0.4 % and at
// 10 f 0.01 %. For channel weights summing to 1 the ratios' own luminance stays 1.
class ColourRatios {
public:
    // The floor as a fraction of the mean luminance, so that it follows the image's scale.
    static constexpr double kFloorOfMean = 1.0 / 32.0;

    // luminance: single-channel float, non-negative and finite.
    explicit ColourRatios(const cv::Mat& luminance);

    // out[k] = value x ratio of bgr[k] at luminance l, for the three channels:
    // value (c l^3 + f^4) / (l^4 + f^4).
    void restore(const float* bgr, float l, float value, float* out) const
    {
        const double l2 = double(l) * l;
        const double l3 = l2 * l;
        const double scale = double(value) / (l2 * l2 + floorToTheFourth_);
        for (int k = 0; k < 3; ++k)
            out[k] = float(scale * (bgr[k] * l3 + floorToTheFourth_));
    }

private:
    double floorToTheFourth_;
};
