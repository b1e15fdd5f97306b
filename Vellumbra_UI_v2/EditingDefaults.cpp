#include "EditingDefaults.h"

#include "EditingSliderTable.h"

#include <algorithm>

namespace {

// The render setting of a slider position, by the editing sliders' own conversion.
float settingOf(const char* slider, int position)
{
    return editingSliderNamed(QLatin1String(slider))->conversion.toSetting(position);
}

}  // namespace

EngineDefaults engineDefaultsFrom(const EditingPositions& p)
{
    EngineDefaults d;
    d.applyTM = p.applyTM;
    d.TMalgo = std::clamp(p.TMalgo, kFirstToneMappingOperator, kLastToneMappingOperator);
    // Operator slots: 0 first operator, 1 second, 2 fourth, 4 third; 3 takes none.
    d.params[0][0] = settingOf("horizontalSlider_TMAlpha", p.tm1Alpha);
    d.params[0][1] = settingOf("horizontalSlider_TMBeta", p.tm1Beta);
    d.params[1][0] = settingOf("horizontalSlider_TM2_Alpha", p.tm2Alpha);
    d.params[4][0] = settingOf("horizontalSlider_TM3_Alpha", p.tm3Alpha);
    d.params[4][1] = settingOf("horizontalSlider_TM3_Beta", p.tm3Beta);
    d.params[4][2] = settingOf("horizontalSlider_TM3_Gamma", p.tm3Gamma);
    d.params[2][0] = settingOf("horizontalSlider_TM4_Alpha", p.tm4Alpha);
    d.params[2][1] = settingOf("horizontalSlider_TM4_Beta", p.tm4Beta);
    d.params[2][2] = settingOf("horizontalSlider_TM4_Gamma", p.tm4Gamma);
    d.blackClip = settingOf("horizontalSlider_TMBlackClip", p.blackClip);
    d.whiteClip = settingOf("horizontalSlider_TMWhiteClip", p.whiteClip);
    d.strength = settingOf("horizontalSlider_TMStrength", p.strength);
    d.exposure = settingOf("horizontalSlider_TMExposition", p.exposure);
    d.contrast = settingOf("horizontalSlider_TMContrast", p.contrast);
    d.hue = settingOf("horizontalSlider_TMHue", p.hue);
    d.saturation = settingOf("horizontalSlider_TMSaturation", p.saturation);
    d.vibrance = settingOf("horizontalSlider_TMVibrance", p.vibrance);
    d.whites = settingOf("horizontalSlider_TMWhites", p.whites);
    d.blacks = settingOf("horizontalSlider_TMBlacks", p.blacks);
    d.highlights = settingOf("horizontalSlider_TMHighlights", p.highlights);
    d.shadows = settingOf("horizontalSlider_TMShadows", p.shadows);
    d.applySharpening = p.applySharpening;
    d.sharpeningAmount = settingOf("horizontalSlider_TMSharpeningAmount", p.sharpeningAmount);
    d.sharpeningRadius = static_cast<int>(settingOf("horizontalSlider_TMSharpeningRadius", p.sharpeningRadius));
    d.sharpeningThreshold = settingOf("horizontalSlider_TMSharpeningThreshold", p.sharpeningThreshold);
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
