#include "EditingSliderTable.h"

#include "Preset.h"
#include "RenderPipeline.h"
#include "Workspace.h"

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <utility>

namespace {

using Ui = Ui_VellumbraClass;
using P = PresetSettings;
using RP = RenderPipeline;
using ES = EditingSettings;
using Apply = void (*)(Workspace& workspace, float setting, int position, bool render);
constexpr int kTone = RenderPipeline::ToneMapStage;
constexpr int kSharpen = RenderPipeline::SharpenStage;
constexpr int kColour = RenderPipeline::ColourStage;

// The form's side of a row: the slider's object name and its widgets.
struct Widgets {
    const char* name;
    const char* slot;
    QSlider* Ui::*slider;
    QLCDNumber* Ui::*lcd;
    QLabel* Ui::*label;
};

constexpr SliderConversion linear(float shift, float scale, float offset = 0.f)
{
    return {{shift, scale, offset}, {shift, scale, offset}};
}

// Integer settings (the kernel size) take the nearest whole value.
template <typename Value>
Value stored(float setting)
{
    if constexpr (std::is_integral_v<Value>)
        return static_cast<Value>(std::lround(setting));
    else
        return setting;
}

// A setting with a field of its own and a getter and setter of the pipeline.
template <auto Field, auto Get, auto Set>
constexpr EngineSetting setting()
{
    using Value = std::remove_reference_t<decltype(std::declval<ES&>().*Field)>;
    return {[](const ES& s) { return static_cast<float>(s.*Field); },
            [](ES& s, float v) { s.*Field = stored<Value>(v); },
            [](const RP& p) { return static_cast<float>((p.*Get)()); },
            [](RP& p, float v, bool render) { (p.*Set)(stored<Value>(v), render); }};
}

// A setting of the tone curve, which the pipeline's curve holds.
template <auto Field, auto Get, auto Set>
constexpr EngineSetting curveSetting()
{
    return {[](const ES& s) { return s.*Field; }, [](ES& s, float v) { s.*Field = v; },
            [](const RP& p) { return (p.curve().*Get)(); }, [](RP& p, float v, bool render) { (p.*Set)(v, render); }};
}

template <const OperatorParameter& Parameter>
constexpr EngineSetting parameter()
{
    return {[](const ES& s) { return s.params[Parameter.toneMapper][Parameter.slot]; },
            [](ES& s, float v) { s.params[Parameter.toneMapper][Parameter.slot] = v; },
            [](const RP& p) { return p.params(Parameter.toneMapper)[Parameter.slot]; },
            [](RP& p, float v, bool render) { p.setParameter(Parameter, v, render); }};
}

template <void (Workspace::*Set)(float, int, bool)>
void applyTo(Workspace& workspace, float setting, int position, bool render)
{
    (workspace.*Set)(setting, position, render);
}

void applyRadius(Workspace& workspace, float setting, int position, bool render)
{
    workspace.setSharpeningRadius(stored<int>(setting), position, render);
}

// A record keeps the chosen operator's parameters in alpha, beta and gamma, by slot.
constexpr int P::*kParameterFields[] = {&P::alpha, &P::beta, &P::gamma};

template <const OperatorParameter& Parameter>
EditingSlider parameterRow(const Widgets& w, const char* textKey, const char* tipKey, SliderConversion conversion,
                           Apply apply, const char* undoText)
{
    return {w.name, w.slot, w.slider, w.lcd, w.label, textKey, tipKey, conversion, kTone, Parameter.toneMapper,
            parameter<Parameter>(), kParameterFields[Parameter.slot], PresetMatch::WhenToneMapping, apply, undoText};
}

EditingSlider settingRow(const Widgets& w, const char* key, SliderConversion conversion, int stage,
                         EngineSetting engine, int P::*field, PresetMatch match, Apply apply, const char* undoText)
{
    return {w.name, w.slot, w.slider, w.lcd, w.label, key, key, conversion, stage, -1, engine, field, match, apply,
            undoText};
}

const std::vector<EditingSlider> kSliders = {
    parameterRow<kTM1Alpha>({"horizontalSlider_TMAlpha", SLOT(horizontalSlider_TM1AlphaMoved(int)), &Ui::horizontalSlider_TMAlpha, &Ui::lcdNumber_TMAlpha,
                             &Ui::label_TMAlpha},
                            "TM1Alpha", "TM1AlphaTooltip", linear(-100, -0.01f), &applyTo<&Workspace::setTM1Alpha>,
                            "Undo on TM1 first parameter"),
    parameterRow<kTM1Beta>({"horizontalSlider_TMBeta", SLOT(horizontalSlider_TM1BetaMoved(int)), &Ui::horizontalSlider_TMBeta, &Ui::lcdNumber_TMBeta,
                            &Ui::label_TMBeta},
                           "TM1Beta", "TM1BetaTooltip", linear(0, -0.01f), &applyTo<&Workspace::setTM1Beta>,
                           "Undo on TM1 second parameter"),
    parameterRow<kTM2Alpha>({"horizontalSlider_TM2_Alpha", SLOT(horizontalSlider_TM2AlphaMoved(int)), &Ui::horizontalSlider_TM2_Alpha,
                             &Ui::lcdNumber_TM2_Alpha, &Ui::label_TM2_Alpha},
                            "TM2Alpha", "TM2AlphaTooltip", linear(0, 0.0025f, 0.75f),
                            &applyTo<&Workspace::setTM2Alpha>, "Undo on TM2 first parameter"),
    parameterRow<kTM4Alpha>({"horizontalSlider_TM4_Alpha", SLOT(horizontalSlider_TM4AlphaMoved(int)), &Ui::horizontalSlider_TM4_Alpha,
                             &Ui::lcdNumber_TM4_Alpha, &Ui::label_TM4_Alpha},
                            "TM4Alpha", "TM4AlphaTooltip", linear(100, 0.05f), &applyTo<&Workspace::setTM4Alpha>,
                            "Undo on TM4 first parameter"),
    parameterRow<kTM4Beta>({"horizontalSlider_TM4_Beta", SLOT(horizontalSlider_TM4BetaMoved(int)), &Ui::horizontalSlider_TM4_Beta, &Ui::lcdNumber_TM4_Beta,
                            &Ui::label_TM4_Beta},
                           "TM4Beta", "TM4BetaTooltip", linear(100, 0.1f), &applyTo<&Workspace::setTM4Beta>,
                           "Undo on TM4 second parameter"),
    parameterRow<kTM4Gamma>({"horizontalSlider_TM4_Gamma", SLOT(horizontalSlider_TM4GammaMoved(int)), &Ui::horizontalSlider_TM4_Gamma,
                             &Ui::lcdNumber_TM4_Gamma, &Ui::label_TM4_Gamma},
                            "TM4Gamma", "TM4GammaTooltip", linear(100, 0.05f), &applyTo<&Workspace::setTM4Gamma>,
                            "Undo on TM4 third parameter"),
    parameterRow<kTM3Alpha>({"horizontalSlider_TM3_Alpha", SLOT(horizontalSlider_TM3AlphaMoved(int)), &Ui::horizontalSlider_TM3_Alpha,
                             &Ui::lcdNumber_TM3_Alpha, &Ui::label_TM3_Alpha},
                            "TM3Alpha", "TM3AlphaTooltip", linear(100, 0.005f), &applyTo<&Workspace::setTM3Alpha>,
                            "Undo on TM3 first parameter"),
    parameterRow<kTM3Beta>({"horizontalSlider_TM3_Beta", SLOT(horizontalSlider_TM3BetaMoved(int)), &Ui::horizontalSlider_TM3_Beta, &Ui::lcdNumber_TM3_Beta,
                            &Ui::label_TM3_Beta},
                           "TM3Beta", "TM3BetaTooltip", linear(100, 0.01f), &applyTo<&Workspace::setTM3Beta>,
                           "Undo on TM3 second parameter"),
    parameterRow<kTM3Gamma>({"horizontalSlider_TM3_Gamma", SLOT(horizontalSlider_TM3GammaMoved(int)), &Ui::horizontalSlider_TM3_Gamma,
                             &Ui::lcdNumber_TM3_Gamma, &Ui::label_TM3_Gamma},
                            "TM3Gamma", "TM3GammaTooltip", linear(101, 25.f), &applyTo<&Workspace::setTM3Gamma>,
                            "Undo on TM3 third parameter"),
    settingRow({"horizontalSlider_TMStrength", SLOT(horizontalSlider_TMStrengthMoved(int)), &Ui::horizontalSlider_TMStrength, &Ui::lcdNumber_TMStrength,
                &Ui::label_TMStrength},
               "Strength", linear(100, 0.005f), kSharpen, setting<&ES::strength, &RP::strength, &RP::setStrength>(),
               &P::strength, PresetMatch::WhenToneMapping, &applyTo<&Workspace::setStrength>,
               "Undo on strength slider"),
    settingRow({"horizontalSlider_TMExposition", SLOT(horizontalSlider_TMExpositionMoved(int)), &Ui::horizontalSlider_TMExposition, &Ui::lcdNumber_TMExposure,
                &Ui::label_TMExposure},
               "Exposure", linear(0, 0.01f), kColour, setting<&ES::exposure, &RP::exposure, &RP::setExposure>(),
               &P::exposure, PresetMatch::Always, &applyTo<&Workspace::setExposure>, "Undo on exposure slider"),
    settingRow({"horizontalSlider_TMContrast", SLOT(horizontalSlider_TMContrastMoved(int)), &Ui::horizontalSlider_TMContrast, &Ui::lcdNumber_TMContrast,
                &Ui::label_TMContrast},
               "Contrast", linear(150, 0.006666667f), kColour,
               setting<&ES::contrast, &RP::contrast, &RP::setContrast>(), &P::contrast, PresetMatch::Always,
               &applyTo<&Workspace::setContrast>, "Undo on contrast slider"),
    settingRow({"horizontalSlider_TMHighlights", SLOT(horizontalSlider_TMHighlightsMoved(int)), &Ui::horizontalSlider_TMHighlights, &Ui::lcdNumber_TMHighlights,
                &Ui::label_TMHighlights},
               "Highlights", linear(0, 0.01f), kColour,
               curveSetting<&ES::highlights, &Spline::highlights, &RP::setHighlights>(), &P::highlights,
               PresetMatch::Always, &applyTo<&Workspace::setHighlights>, "Undo on highlights slider"),
    settingRow({"horizontalSlider_TMShadows", SLOT(horizontalSlider_TMShadowsMoved(int)), &Ui::horizontalSlider_TMShadows, &Ui::lcdNumber_TMShadows,
                &Ui::label_TMShadows},
               "Shadows", linear(0, 0.01f), kColour, curveSetting<&ES::shadows, &Spline::shadows, &RP::setShadows>(),
               &P::shadows, PresetMatch::Always, &applyTo<&Workspace::setShadows>, "Undo on shadows slider"),
    settingRow({"horizontalSlider_TMWhites", SLOT(horizontalSlider_TMWhitesMoved(int)), &Ui::horizontalSlider_TMWhites, &Ui::lcdNumber_TMWhites,
                &Ui::label_TMWhites},
               "Whites", linear(0, 0.01f), kColour, curveSetting<&ES::whites, &Spline::whites, &RP::setWhites>(),
               &P::whites, PresetMatch::Always, &applyTo<&Workspace::setWhites>, "Undo on whites slider"),
    settingRow({"horizontalSlider_TMBlacks", SLOT(horizontalSlider_TMBlacksMoved(int)), &Ui::horizontalSlider_TMBlacks, &Ui::lcdNumber_TMBlacks,
                &Ui::label_TMBlacks},
               "Blacks", linear(0, 0.01f), kColour, curveSetting<&ES::blacks, &Spline::blacks, &RP::setBlacks>(),
               &P::blacks, PresetMatch::Always, &applyTo<&Workspace::setBlacks>, "Undo on blacks slider"),
    settingRow({"horizontalSlider_TMHue", SLOT(horizontalSlider_TMHueMoved(int)), &Ui::horizontalSlider_TMHue, &Ui::lcdNumber_TMHue, &Ui::label_TMHue},
               "Hue", linear(0, 0.005f), kColour, setting<&ES::hue, &RP::hue, &RP::setHue>(), &P::hue,
               PresetMatch::Always, &applyTo<&Workspace::setHue>, "Undo on hue slider"),
    settingRow({"horizontalSlider_TMSaturation", SLOT(horizontalSlider_TMSaturationMoved(int)), &Ui::horizontalSlider_TMSaturation, &Ui::lcdNumber_TMSaturation,
                &Ui::label_TMSaturation},
               "Saturation", {{100, 0.01f, 0.f}, {0, 0.04f, 1.f}}, kColour,
               setting<&ES::saturation, &RP::saturation, &RP::setSaturation>(), &P::saturation, PresetMatch::Always,
               &applyTo<&Workspace::setSaturation>, "Undo on saturation slider"),
    settingRow({"horizontalSlider_TMVibrance", SLOT(horizontalSlider_TMVibranceMoved(int)), &Ui::horizontalSlider_TMVibrance, &Ui::lcdNumber_TMVibrance,
                &Ui::label_TMVibrance},
               "Vibrance", {{0, 0.005f, 0.f}, {0, 0.07f, 0.f}}, kColour,
               setting<&ES::vibrance, &RP::vibrance, &RP::setVibrance>(), &P::vibrance, PresetMatch::Always,
               &applyTo<&Workspace::setVibrance>, "Undo on vibrance slider"),
    settingRow({"horizontalSlider_TMBlackClip", SLOT(horizontalSlider_TMBlackClipMoved(int)), &Ui::horizontalSlider_TMBlackClip, &Ui::lcdNumber_TMBlackClip,
                &Ui::label_TMBlackClip},
               "BlackClip", linear(0, 0.0015f), kColour,
               setting<&ES::blackClip, &RP::blackClip, &RP::setBlackClip>(), &P::blackClip, PresetMatch::FactoryOnly,
               &applyTo<&Workspace::setBlackClip>, "Undo on black clip slider"),
    settingRow({"horizontalSlider_TMWhiteClip", SLOT(horizontalSlider_TMWhiteClipMoved(int)), &Ui::horizontalSlider_TMWhiteClip, &Ui::lcdNumber_TMWhiteClip,
                &Ui::label_TMWhiteClip},
               "WhiteClip", linear(0, 0.0015f), kColour,
               setting<&ES::whiteClip, &RP::whiteClip, &RP::setWhiteClip>(), &P::whiteClip, PresetMatch::FactoryOnly,
               &applyTo<&Workspace::setWhiteClip>, "Undo on white clip slider"),
    settingRow({"horizontalSlider_TMSharpeningAmount", SLOT(horizontalSlider_TMSharpeningAmountMoved(int)), &Ui::horizontalSlider_TMSharpeningAmount,
                &Ui::lcdNumber_TMSharpeningAmount, &Ui::label_TMSharpeningAmount},
               "Amount", linear(0, 0.01f), kSharpen,
               setting<&ES::sharpeningAmount, &RP::sharpeningAmount, &RP::setSharpeningAmount>(),
               &P::sharpeningAmount, PresetMatch::WhenSharpening, &applyTo<&Workspace::setSharpeningAmount>,
               "Undo on sharpening amount slider"),
    settingRow({"horizontalSlider_TMSharpeningRadius", SLOT(horizontalSlider_TMSharpeningRadiusMoved(int)), &Ui::horizontalSlider_TMSharpeningRadius,
                &Ui::lcdNumber_TMSharpeningRadius, &Ui::label_TMSharpeningRadius},
               "Radius", linear(0, 2.f, 1.f), kSharpen,
               setting<&ES::sharpeningRadius, &RP::sharpeningRadius, &RP::setSharpeningRadius>(),
               &P::sharpeningRadius, PresetMatch::WhenSharpening, &applyRadius, "Undo on sharpening radius slider"),
    settingRow({"horizontalSlider_TMSharpeningThreshold", SLOT(horizontalSlider_TMSharpeningThresholdMoved(int)), &Ui::horizontalSlider_TMSharpeningThreshold,
                &Ui::lcdNumber_TMSharpeningThreshold, &Ui::label_TMSharpeningThreshold},
               "Threshold", linear(0, 0.01f), kSharpen,
               setting<&ES::sharpeningThreshold, &RP::sharpeningThreshold, &RP::setSharpeningThreshold>(),
               &P::sharpeningThreshold, PresetMatch::Never, &applyTo<&Workspace::setSharpeningThreshold>,
               "Undo on sharpening threshold slider"),
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

const EditingSlider& editingSliderOf(QSlider* Ui_VellumbraClass::*slider)
{
    const auto row = std::find_if(kSliders.begin(), kSliders.end(),
                                  [slider](const EditingSlider& r) { return r.slider == slider; });
    Q_ASSERT(row != kSliders.end());
    return *row;
}

PresetSettings panelPositions(const Ui_VellumbraClass& ui)
{
    PresetSettings panel;
    panel.applyTM = ui.groupBox_TMOptions->isChecked();
    panel.TMalgo = ui.comboBox_TM->currentIndex();
    panel.alpha = panel.beta = panel.gamma = 0;
    panel.applySharpening = ui.groupBox_Sharpening->isChecked();
    for (const EditingSlider& row : kSliders)
        if (row.shownWith(panel.TMalgo))
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
