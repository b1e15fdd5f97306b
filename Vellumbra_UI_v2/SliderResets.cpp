#include "SliderResets.h"

#include <cmath>
#include <functional>
#include <map>

namespace {

// The settings come from whole positions through single-precision products, so
// rounding finds the position again where cutting toward zero could land one short.
int position(float value)
{
    return static_cast<int>(std::lround(value));
}

using Inverse = std::function<int(const EngineDefaults&)>;

const std::map<QString, Inverse>& inverses()
{
    // Operator slots as the start-up fills them: 0 first, 1 second, 2 fourth, 4 third.
    static const std::map<QString, Inverse> table = {
        {"horizontalSlider_TMAlpha", [](const EngineDefaults& d) { return 100 - position(d.params[0][0] / 0.01f); }},
        {"horizontalSlider_TMBeta", [](const EngineDefaults& d) { return position(d.params[0][1] / -0.01f); }},
        {"horizontalSlider_TM2_Alpha",
         [](const EngineDefaults& d) { return position((d.params[1][0] - 0.75f) / 0.0025f); }},
        {"horizontalSlider_TM3_Alpha",
         [](const EngineDefaults& d) { return -100 - position(d.params[4][0] / -0.005f); }},
        {"horizontalSlider_TM3_Beta", [](const EngineDefaults& d) { return -100 - position(d.params[4][1] / -0.01f); }},
        {"horizontalSlider_TM3_Gamma", [](const EngineDefaults& d) { return -101 - position(d.params[4][2] / -25.0f); }},
        {"horizontalSlider_TM4_Alpha", [](const EngineDefaults& d) { return -100 - position(d.params[2][0] / -0.05f); }},
        {"horizontalSlider_TM4_Beta", [](const EngineDefaults& d) { return -100 - position(d.params[2][1] / -0.1f); }},
        {"horizontalSlider_TM4_Gamma", [](const EngineDefaults& d) { return -100 - position(d.params[2][2] / -0.05f); }},
        {"horizontalSlider_TMStrength", [](const EngineDefaults& d) { return -100 - position(d.strength / -0.005f); }},
        {"horizontalSlider_TMExposition", [](const EngineDefaults& d) { return position(d.exposure / 0.01f); }},
        {"horizontalSlider_TMContrast",
         [](const EngineDefaults& d) { return -150 - position(d.contrast / (-1.0f / 150.0f)); }},
        {"horizontalSlider_TMHighlights", [](const EngineDefaults& d) { return position(d.highlights / 0.01f); }},
        {"horizontalSlider_TMShadows", [](const EngineDefaults& d) { return position(d.shadows / 0.01f); }},
        {"horizontalSlider_TMWhites", [](const EngineDefaults& d) { return position(d.whites / 0.01f); }},
        {"horizontalSlider_TMBlacks", [](const EngineDefaults& d) { return position(d.blacks / 0.01f); }},
        {"horizontalSlider_TMHue", [](const EngineDefaults& d) { return position(d.hue / 0.005f); }},
        {"horizontalSlider_TMSaturation",
         [](const EngineDefaults& d) {
             return d.saturation < 1.0f ? -100 - position(d.saturation / -0.01f) : position((d.saturation - 1.0f) / 0.04f);
         }},
        {"horizontalSlider_TMVibrance",
         [](const EngineDefaults& d) { return position(d.vibrance / (d.vibrance < 0.0f ? 0.005f : 0.07f)); }},
        {"horizontalSlider_TMBlackClip", [](const EngineDefaults& d) { return position(d.blackClip / 0.0015f); }},
        {"horizontalSlider_TMWhiteClip", [](const EngineDefaults& d) { return position(d.whiteClip / 0.0015f); }},
        {"horizontalSlider_TMSharpeningAmount",
         [](const EngineDefaults& d) { return position(d.sharpeningAmount / 0.01f); }},
        {"horizontalSlider_TMSharpeningRadius",
         [](const EngineDefaults& d) { return static_cast<int>((d.sharpeningRadius - 1) * 0.5f); }},
        {"horizontalSlider_TMSharpeningThreshold",
         [](const EngineDefaults& d) { return position(d.sharpeningThreshold / 0.01f); }},
        {"horizontalSlider_VideoSpeed", [](const EngineDefaults&) { return 0; }},
        {"horizontalSlider_VideoBrightness", [](const EngineDefaults&) { return 0; }},
        {"horizontalSlider_VideoSpeed_Pro", [](const EngineDefaults&) { return 0; }},
        {"horizontalSlider_VideoBrightness_Pro", [](const EngineDefaults&) { return 0; }},
        {"horizontalSlider_Rotation", [](const EngineDefaults&) { return 0; }},
    };
    return table;
}

}  // namespace

std::optional<int> resetPosition(const QString& sliderName, const EngineDefaults& defaults)
{
    const auto found = inverses().find(sliderName);
    if (found == inverses().end())
        return std::nullopt;
    return found->second(defaults);
}
