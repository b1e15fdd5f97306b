#include "EditingDefaults.h"

#include <algorithm>

namespace {

// Forward conversions from slider positions to render settings, single precision.
float saturationFrom(int v) { return v < 0 ? (v + 100) * 0.01f : v * 0.04f + 1.0f; }
float vibranceFrom(int v) { return v * (v < 0 ? 0.005f : 0.07f); }
float contrastFrom(int v) { return (v + 150) * 0.006666667f; }
float strengthFrom(int v) { return (v + 100) * 0.005f; }
float clipFrom(int v) { return v * 0.0015f; }
float hundredthFrom(int v) { return v * 0.01f; }
int radiusFrom(int v) { return 2 * v + 1; }

}  // namespace

EngineDefaults engineDefaultsFrom(const EditingPositions& p)
{
    EngineDefaults d;
    d.applyTM = p.applyTM;
    d.TMalgo = std::clamp(p.TMalgo, kFirstToneMappingOperator, kLastToneMappingOperator);
    // Operator slots: 0 first operator, 1 second, 2 fourth, 4 third; 3 takes none.
    d.params[0][0] = (p.tm1Alpha - 100) * -0.01f;
    d.params[0][1] = p.tm1Beta * -0.01f;
    d.params[1][0] = p.tm2Alpha * 0.0025f + 0.75f;
    d.params[4][0] = (p.tm3Alpha + 100) * 0.005f;
    d.params[4][1] = (p.tm3Beta + 100) * 0.01f;
    d.params[4][2] = (p.tm3Gamma + 101) * 25.0f;
    d.params[2][0] = (p.tm4Alpha + 100) * 0.05f;
    d.params[2][1] = (p.tm4Beta + 100) * 0.1f;
    d.params[2][2] = (p.tm4Gamma + 100) * 0.05f;
    d.blackClip = clipFrom(p.blackClip);
    d.whiteClip = clipFrom(p.whiteClip);
    d.strength = strengthFrom(p.strength);
    d.exposure = hundredthFrom(p.exposure);
    d.contrast = contrastFrom(p.contrast);
    d.hue = p.hue * 0.005f;
    d.saturation = saturationFrom(p.saturation);
    d.vibrance = vibranceFrom(p.vibrance);
    d.whites = hundredthFrom(p.whites);
    d.blacks = hundredthFrom(p.blacks);
    d.highlights = hundredthFrom(p.highlights);
    d.shadows = hundredthFrom(p.shadows);
    d.applySharpening = p.applySharpening;
    d.sharpeningAmount = hundredthFrom(p.sharpeningAmount);
    d.sharpeningRadius = radiusFrom(p.sharpeningRadius);
    d.sharpeningThreshold = hundredthFrom(p.sharpeningThreshold);
    return d;
}

PresetSettings presetDefaultsFrom(const EditingPositions& p)
{
    // A record holds widget positions, never render settings, so the defaults are the
    // positions themselves.
    PresetSettings s;
    s.applyTM = p.applyTM;
    s.TMalgo = 0;
    s.alpha = s.beta = s.gamma = 0;
    s.blackClip = p.blackClip;
    s.whiteClip = p.whiteClip;
    s.strength = p.strength;
    s.exposure = p.exposure;
    s.contrast = p.contrast;
    s.hue = p.hue;
    s.saturation = p.saturation;
    s.vibrance = p.vibrance;
    s.whites = p.whites;
    s.blacks = p.blacks;
    s.highlights = p.highlights;
    s.shadows = p.shadows;
    s.applySharpening = p.applySharpening;
    s.sharpeningAmount = p.sharpeningAmount;
    s.sharpeningRadius = p.sharpeningRadius;
    s.sharpeningThreshold = p.sharpeningThreshold;
    return s;
}
