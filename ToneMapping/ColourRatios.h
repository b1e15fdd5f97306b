#pragma once
#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>

// Per-channel ratios that put a pixel's colour back on a new luminance. A plain
// channel / luminance is 0/0 on black and mostly noise just above it: one
// quantisation step in one channel alone, or channels clipped at 0, give a fully
// saturated colour, which a lifted luminance makes glaring. Below a floor f, a few
// 8-bit sample steps as a light image holds them (linear light, gamma 2.2), the
// ratio therefore turns neutral and fades to black with the input:
// (c l^3 + f^3 l) / (l^4 + f^4). Black stays black, a neutral pixel at f keeps its
// ratio 1, and from about 10 f up (an 8-bit value of 11) the ratio is c / l to
// within 0.1 %, so dark colours keep their hue.
class ColourRatios {
public:
    static constexpr double kFloorSteps = 4.0;

    // displayScale: the factor that brings the luminance to the display range
    // (displayScale()), so that the floor follows the picture's scale.
    explicit ColourRatios(double displayScale);

    // The floor f, in the picture's own luminance units.
    static double floor(double displayScale);

    // out[k] = value x ratio of bgr[k] at luminance l, for the three channels.
    void restore(const float* bgr, float l, float value, float* out) const
    {
        restoreAbove(floorCubed_, floorToTheFourth_, bgr, l, value, out);
    }

    // The same for a value in the display range that lifts the pixel's own luminance:
    // a lift multiplies the sample noise of its colour as much as the colour, so the
    // floor grows with the square root of the lift, and the dark noise a strong lift
    // brings up (a clipped shadow turned mid-grey) stays neutral instead of speckled.
    void restoreLifted(const float* bgr, float l, float value, float* out) const
    {
        // Black has no lift to speak of: it stays black.
        const double lift = l > 0.0f ? std::max(1.0, double(value) / (double(l) * displayScale_)) : 1.0;
        restoreAbove(floorCubed_ * lift * std::sqrt(lift), floorToTheFourth_ * lift * lift, bgr, l, value, out);
    }

private:
    static void restoreAbove(double floorCubed, double floorToTheFourth, const float* bgr, float l, float value,
                             float* out)
    {
        const double l2 = double(l) * l;
        const double l3 = l2 * l;
        const double scale = double(value) / (l2 * l2 + floorToTheFourth);
        const double neutral = floorCubed * l;
        for (int k = 0; k < 3; ++k)
            out[k] = float(scale * (bgr[k] * l3 + neutral));
    }

    double displayScale_;
    double floorCubed_;
    double floorToTheFourth_;
};

