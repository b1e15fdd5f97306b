#pragma once
#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>

// Per-channel ratios that put a pixel's colour back on a new luminance. A plain
// channel / luminance is 0/0 on black and mostly noise just above it: one
// quantisation step in one channel alone, or channels clipped at 0, give a fully
// saturated colour, which a lifted luminance makes glaring. A pixel is judged by
// the channel that carries it, its largest: below a floor f, a few 8-bit sample
// steps as a light image holds them (linear light, gamma 2.2), the ratio turns
// neutral and fades to black with the luminance. The luminance alone would call a
// dark pure blue (a night sky, blue counting 1/61 of it) noise and grey it.
// With m the largest channel and w = m^8 / (m^8 + f^8), the ratio is
// w c / l + (1 - w) min(1, l / f): black stays black, a grey keeps its ratio 1, and
// from about 2.5 f up the ratio is c / l to within 0.1 %, so dark colours keep their hue.
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
        restoreAbove(floor_, bgr, l, value, out);
    }

    // The same for a value in the display range that lifts the pixel's own luminance:
    // a lift multiplies the sample noise of its colour as much as the colour, so the
    // floor grows with the square root of the lift, and the dark noise a strong lift
    // brings up (a clipped shadow turned mid-grey) stays neutral instead of speckled.
    void restoreLifted(const float* bgr, float l, float value, float* out) const
    {
        // Black has no lift to speak of: it stays black.
        const double lift = l > 0.0f ? std::max(1.0, double(value) / (double(l) * displayScale_)) : 1.0;
        restoreAbove(floor_ * std::sqrt(lift), bgr, l, value, out);
    }

private:
    static void restoreAbove(double floor, const float* bgr, float l, float value, float* out)
    {
        if (!(l > 0.0f)) {
            out[0] = out[1] = out[2] = 0.0f;
            return;
        }
        const double carrier = std::max({0.0f, bgr[0], bgr[1], bgr[2]}) / floor;
        const double c2 = carrier * carrier;
        // 1 / (1 + f^8 / m^8): finite for any m, 0 for m = 0.
        const double colourShare = 1.0 / (1.0 + 1.0 / (c2 * c2 * c2 * c2));
        const double colour = double(value) * colourShare / l;
        const double neutral = double(value) * (1.0 - colourShare) * std::min(1.0, l / floor);
        for (int k = 0; k < 3; ++k)
            out[k] = float(colour * bgr[k] + neutral);
    }

    double displayScale_;
    double floor_;
};

