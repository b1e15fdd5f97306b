#include "EditingSliderTable.h"

#include "EngineDefaults.h"
#include "Preset.h"
#include "RenderPipeline.h"
#include "ToneMapperFactory.h"
#include "Workspace.h"

#include <cmath>

namespace {

constexpr SliderConversion linear(float shift, float scale, float offset = 0.f)
{
    return {{shift, scale, offset}, {shift, scale, offset}};
}

template <void (Workspace::*Set)(float, int, bool)>
void applyTo(Workspace& workspace, float setting, int position, bool render)
{
    (workspace.*Set)(setting, position, render);
}

// The kernel size is an integer setting.
void applyRadius(Workspace& workspace, float setting, int position, bool render)
{
    workspace.setSharpeningRadius(static_cast<int>(std::lround(setting)), position, render);
}

template <int Operator, int Slot>
float parameterOf(const RenderPipeline& pipeline)
{
    return pipeline.params(Operator)[Slot];
}

template <int Operator, int Slot>
float defaultParameter(const EngineDefaults& defaults)
{
    return defaults.params[Operator][Slot];
}

template <float (RenderPipeline::*Get)() const>
float settingOf(const RenderPipeline& pipeline)
{
    return (pipeline.*Get)();
}

template <typename Value, Value EngineDefaults::*Field>
float defaultOf(const EngineDefaults& defaults)
{
    return static_cast<float>(defaults.*Field);
}

using Ui = Ui_VellumbraClass;
using P = PresetSettings;
using RP = RenderPipeline;
using ED = EngineDefaults;
constexpr int kTone = RenderPipeline::ToneMapStage;
constexpr int kSharpen = RenderPipeline::SharpenStage;
constexpr int kColour = RenderPipeline::ColourStage;

const std::vector<EditingSlider> kSliders = {
    {"horizontalSlider_TMAlpha", &Ui::horizontalSlider_TMAlpha,
     &Ui::lcdNumber_TMAlpha, SLOT(horizontalSlider_TM1AlphaMoved(int)),
     linear(-100, -0.01f), kTone, LaplacianIndex, &P::alpha, PresetMatch::WhenToneMapping,
     &parameterOf<LaplacianIndex, 0>, &defaultParameter<LaplacianIndex, 0>, &applyTo<&Workspace::setTM1Alpha>,
     "Undo on TM1 first parameter"},
    {"horizontalSlider_TMBeta", &Ui::horizontalSlider_TMBeta,
     &Ui::lcdNumber_TMBeta, SLOT(horizontalSlider_TM1BetaMoved(int)),
     linear(0, -0.01f), kTone, LaplacianIndex, &P::beta, PresetMatch::WhenToneMapping,
     &parameterOf<LaplacianIndex, 1>, &defaultParameter<LaplacianIndex, 1>, &applyTo<&Workspace::setTM1Beta>,
     "Undo on TM1 second parameter"},
    {"horizontalSlider_TM2_Alpha", &Ui::horizontalSlider_TM2_Alpha,
     &Ui::lcdNumber_TM2_Alpha, SLOT(horizontalSlider_TM2AlphaMoved(int)),
     linear(0, 0.0025f, 0.75f), kTone, LogMappingIndex, &P::alpha, PresetMatch::WhenToneMapping,
     &parameterOf<LogMappingIndex, 0>, &defaultParameter<LogMappingIndex, 0>, &applyTo<&Workspace::setTM2Alpha>,
     "Undo on TM2 first parameter"},
    {"horizontalSlider_TM4_Alpha", &Ui::horizontalSlider_TM4_Alpha,
     &Ui::lcdNumber_TM4_Alpha, SLOT(horizontalSlider_TM4AlphaMoved(int)),
     linear(100, 0.05f), kTone, LC_ModelIndex, &P::alpha, PresetMatch::WhenToneMapping,
     &parameterOf<LC_ModelIndex, 0>, &defaultParameter<LC_ModelIndex, 0>, &applyTo<&Workspace::setTM4Alpha>,
     "Undo on TM4 first parameter"},
    {"horizontalSlider_TM4_Beta", &Ui::horizontalSlider_TM4_Beta,
     &Ui::lcdNumber_TM4_Beta, SLOT(horizontalSlider_TM4BetaMoved(int)),
     linear(100, 0.1f), kTone, LC_ModelIndex, &P::beta, PresetMatch::WhenToneMapping,
     &parameterOf<LC_ModelIndex, 1>, &defaultParameter<LC_ModelIndex, 1>, &applyTo<&Workspace::setTM4Beta>,
     "Undo on TM4 second parameter"},
    {"horizontalSlider_TM4_Gamma", &Ui::horizontalSlider_TM4_Gamma,
     &Ui::lcdNumber_TM4_Gamma, SLOT(horizontalSlider_TM4GammaMoved(int)),
     linear(100, 0.05f), kTone, LC_ModelIndex, &P::gamma, PresetMatch::WhenToneMapping,
     &parameterOf<LC_ModelIndex, 2>, &defaultParameter<LC_ModelIndex, 2>, &applyTo<&Workspace::setTM4Gamma>,
     "Undo on TM4 third parameter"},
    {"horizontalSlider_TM3_Alpha", &Ui::horizontalSlider_TM3_Alpha,
     &Ui::lcdNumber_TM3_Alpha, SLOT(horizontalSlider_TM3AlphaMoved(int)),
     linear(100, 0.005f), kTone, LayerProcessingIndex, &P::alpha, PresetMatch::WhenToneMapping,
     &parameterOf<LayerProcessingIndex, 0>, &defaultParameter<LayerProcessingIndex, 0>,
     &applyTo<&Workspace::setTM3Alpha>, "Undo on TM3 first parameter"},
    {"horizontalSlider_TM3_Beta", &Ui::horizontalSlider_TM3_Beta,
     &Ui::lcdNumber_TM3_Beta, SLOT(horizontalSlider_TM3BetaMoved(int)),
     linear(100, 0.01f), kTone, LayerProcessingIndex, &P::beta, PresetMatch::WhenToneMapping,
     &parameterOf<LayerProcessingIndex, 1>, &defaultParameter<LayerProcessingIndex, 1>,
     &applyTo<&Workspace::setTM3Beta>, "Undo on TM3 second parameter"},
    {"horizontalSlider_TM3_Gamma", &Ui::horizontalSlider_TM3_Gamma,
     &Ui::lcdNumber_TM3_Gamma, SLOT(horizontalSlider_TM3GammaMoved(int)),
     linear(101, 25.f), kTone, LayerProcessingIndex, &P::gamma, PresetMatch::WhenToneMapping,
     &parameterOf<LayerProcessingIndex, 2>, &defaultParameter<LayerProcessingIndex, 2>,
     &applyTo<&Workspace::setTM3Gamma>, "Undo on TM3 third parameter"},
    {"horizontalSlider_TMStrength", &Ui::horizontalSlider_TMStrength,
     &Ui::lcdNumber_TMStrength, SLOT(horizontalSlider_TMStrengthMoved(int)),
     linear(100, 0.005f), kSharpen, -1, &P::strength, PresetMatch::WhenToneMapping, &settingOf<&RP::strength>,
     &defaultOf<float, &ED::strength>, &applyTo<&Workspace::setStrength>, "Undo on strength slider"},
    {"horizontalSlider_TMExposition", &Ui::horizontalSlider_TMExposition,
     &Ui::lcdNumber_TMExposure, SLOT(horizontalSlider_TMExpositionMoved(int)),
     linear(0, 0.01f), kColour, -1, &P::exposure, PresetMatch::Always, &settingOf<&RP::exposure>,
     &defaultOf<float, &ED::exposure>, &applyTo<&Workspace::setExposure>, "Undo on exposure slider"},
    {"horizontalSlider_TMContrast", &Ui::horizontalSlider_TMContrast,
     &Ui::lcdNumber_TMContrast, SLOT(horizontalSlider_TMContrastMoved(int)),
     linear(150, 0.006666667f), kColour, -1, &P::contrast, PresetMatch::Always, &settingOf<&RP::contrast>,
     &defaultOf<float, &ED::contrast>, &applyTo<&Workspace::setContrast>, "Undo on contrast slider"},
    {"horizontalSlider_TMHighlights", &Ui::horizontalSlider_TMHighlights,
     &Ui::lcdNumber_TMHighlights, SLOT(horizontalSlider_TMHighlightsMoved(int)),
     linear(0, 0.01f), kColour, -1, &P::highlights, PresetMatch::Always,
     [](const RP& pipeline) { return pipeline.curve().highlights(); }, &defaultOf<float, &ED::highlights>,
     &applyTo<&Workspace::setHighlights>, "Undo on highlights slider"},
    {"horizontalSlider_TMShadows", &Ui::horizontalSlider_TMShadows,
     &Ui::lcdNumber_TMShadows, SLOT(horizontalSlider_TMShadowsMoved(int)),
     linear(0, 0.01f), kColour, -1, &P::shadows, PresetMatch::Always,
     [](const RP& pipeline) { return pipeline.curve().shadows(); }, &defaultOf<float, &ED::shadows>,
     &applyTo<&Workspace::setShadows>, "Undo on shadows slider"},
    {"horizontalSlider_TMWhites", &Ui::horizontalSlider_TMWhites,
     &Ui::lcdNumber_TMWhites, SLOT(horizontalSlider_TMWhitesMoved(int)),
     linear(0, 0.01f), kColour, -1, &P::whites, PresetMatch::Always,
     [](const RP& pipeline) { return pipeline.curve().whites(); }, &defaultOf<float, &ED::whites>,
     &applyTo<&Workspace::setWhites>, "Undo on whites slider"},
    {"horizontalSlider_TMBlacks", &Ui::horizontalSlider_TMBlacks,
     &Ui::lcdNumber_TMBlacks, SLOT(horizontalSlider_TMBlacksMoved(int)),
     linear(0, 0.01f), kColour, -1, &P::blacks, PresetMatch::Always,
     [](const RP& pipeline) { return pipeline.curve().blacks(); }, &defaultOf<float, &ED::blacks>,
     &applyTo<&Workspace::setBlacks>, "Undo on blacks slider"},
    {"horizontalSlider_TMHue", &Ui::horizontalSlider_TMHue,
     &Ui::lcdNumber_TMHue, SLOT(horizontalSlider_TMHueMoved(int)), linear(0, 0.005f),
     kColour, -1, &P::hue, PresetMatch::Always, &settingOf<&RP::hue>, &defaultOf<float, &ED::hue>,
     &applyTo<&Workspace::setHue>, "Undo on hue slider"},
    {"horizontalSlider_TMSaturation", &Ui::horizontalSlider_TMSaturation,
     &Ui::lcdNumber_TMSaturation, SLOT(horizontalSlider_TMSaturationMoved(int)),
     {{100, 0.01f, 0.f}, {0, 0.04f, 1.f}}, kColour, -1, &P::saturation, PresetMatch::Always,
     &settingOf<&RP::saturation>, &defaultOf<float, &ED::saturation>, &applyTo<&Workspace::setSaturation>,
     "Undo on saturation slider"},
    {"horizontalSlider_TMVibrance", &Ui::horizontalSlider_TMVibrance,
     &Ui::lcdNumber_TMVibrance, SLOT(horizontalSlider_TMVibranceMoved(int)),
     {{0, 0.005f, 0.f}, {0, 0.07f, 0.f}}, kColour, -1, &P::vibrance, PresetMatch::Always,
     &settingOf<&RP::vibrance>, &defaultOf<float, &ED::vibrance>, &applyTo<&Workspace::setVibrance>,
     "Undo on vibrance slider"},
    {"horizontalSlider_TMBlackClip", &Ui::horizontalSlider_TMBlackClip,
     &Ui::lcdNumber_TMBlackClip, SLOT(horizontalSlider_TMBlackClipMoved(int)),
     linear(0, 0.0015f), kColour, -1, &P::blackClip, PresetMatch::FactoryOnly, &settingOf<&RP::blackClip>,
     &defaultOf<float, &ED::blackClip>, &applyTo<&Workspace::setBlackClip>, "Undo on black clip slider"},
    {"horizontalSlider_TMWhiteClip", &Ui::horizontalSlider_TMWhiteClip,
     &Ui::lcdNumber_TMWhiteClip, SLOT(horizontalSlider_TMWhiteClipMoved(int)),
     linear(0, 0.0015f), kColour, -1, &P::whiteClip, PresetMatch::FactoryOnly, &settingOf<&RP::whiteClip>,
     &defaultOf<float, &ED::whiteClip>, &applyTo<&Workspace::setWhiteClip>, "Undo on white clip slider"},
    {"horizontalSlider_TMSharpeningAmount", &Ui::horizontalSlider_TMSharpeningAmount,
     &Ui::lcdNumber_TMSharpeningAmount,
     SLOT(horizontalSlider_TMSharpeningAmountMoved(int)), linear(0, 0.01f), kSharpen, -1, &P::sharpeningAmount,
     PresetMatch::WhenSharpening, &settingOf<&RP::sharpeningAmount>, &defaultOf<float, &ED::sharpeningAmount>,
     &applyTo<&Workspace::setSharpeningAmount>, "Undo on sharpening amount slider"},
    {"horizontalSlider_TMSharpeningRadius", &Ui::horizontalSlider_TMSharpeningRadius,
     &Ui::lcdNumber_TMSharpeningRadius,
     SLOT(horizontalSlider_TMSharpeningRadiusMoved(int)), linear(0, 2.f, 1.f), kSharpen, -1, &P::sharpeningRadius,
     PresetMatch::WhenSharpening, [](const RP& pipeline) { return static_cast<float>(pipeline.sharpeningRadius()); },
     &defaultOf<int, &ED::sharpeningRadius>, &applyRadius, "Undo on sharpening radius slider"},
    {"horizontalSlider_TMSharpeningThreshold", &Ui::horizontalSlider_TMSharpeningThreshold,
     &Ui::lcdNumber_TMSharpeningThreshold,
     SLOT(horizontalSlider_TMSharpeningThresholdMoved(int)), linear(0, 0.01f), kSharpen, -1,
     &P::sharpeningThreshold, PresetMatch::Never, &settingOf<&RP::sharpeningThreshold>,
     &defaultOf<float, &ED::sharpeningThreshold>, &applyTo<&Workspace::setSharpeningThreshold>,
     "Undo on sharpening threshold slider"},
};

bool compared(const EditingSlider& row, const PresetSettings& panel, bool userPreset)
{
    switch (row.match) {
    case PresetMatch::WhenToneMapping:
        return panel.applyTM && (!row.isOperatorParameter() || row.toneMapper == panel.TMalgo);
    case PresetMatch::Always:
        return true;
    case PresetMatch::FactoryOnly:
        return !userPreset;
    case PresetMatch::WhenSharpening:
        return panel.applySharpening;
    case PresetMatch::Never:
        return false;
    }
    return false;
}

}  // namespace

float SliderConversion::toSetting(int position) const
{
    const LinearPiece& piece = position < 0 ? negative : positive;
    return (static_cast<float>(position) + piece.shift) * piece.scale + piece.offset;
}

int SliderConversion::toPosition(float setting) const
{
    const LinearPiece& piece = setting < toSetting(0) ? negative : positive;
    const double position = (static_cast<double>(setting) - piece.offset) / piece.scale - piece.shift;
    return static_cast<int>(std::lround(position));
}

const std::vector<EditingSlider>& editingSliders()
{
    return kSliders;
}

const EditingSlider* editingSliderNamed(const QString& objectName)
{
    for (const EditingSlider& row : kSliders)
        if (objectName == QLatin1String(row.name))
            return &row;
    return nullptr;
}

PresetSettings panelPositions(const Ui_VellumbraClass& ui)
{
    PresetSettings panel;
    panel.applyTM = ui.groupBox_TMOptions->isChecked();
    panel.TMalgo = ui.comboBox_TM->currentIndex();
    panel.alpha = panel.beta = panel.gamma = 0;
    panel.applySharpening = ui.groupBox_Sharpening->isChecked();
    for (const EditingSlider& row : kSliders)
        if (!row.isOperatorParameter() || row.toneMapper == panel.TMalgo)
            panel.*row.field = (ui.*row.slider)->value();
    return panel;
}

bool presetMatches(const PresetSettings& preset, const PresetSettings& panel, bool userPreset)
{
    if (preset.applyTM != panel.applyTM || preset.applySharpening != panel.applySharpening)
        return false;
    if (panel.applyTM && preset.TMalgo != panel.TMalgo)
        return false;
    for (const EditingSlider& row : kSliders)
        if (compared(row, panel, userPreset) && preset.*row.field != panel.*row.field)
            return false;
    return true;
}
