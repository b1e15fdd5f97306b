#pragma once
#include "EngineDefaults.h"
#include "ui_vellumbraV2.h"

#include <vector>

struct PresetSettings;
class RenderPipeline;
class Workspace;

// One straight piece of a slider's conversion: setting = (position + shift) x scale + offset,
// in single precision.
struct LinearPiece {
    float shift;
    float scale;
    float offset;
};

// Slider position <-> render setting. Negative positions may take a piece of their own.
struct SliderConversion {
    LinearPiece negative;
    LinearPiece positive;

    float toSetting(int position) const;
    // The nearest position, so a setting made from a position gives that position back.
    int toPosition(float setting) const;
};

// Where a slider's setting lives in the engine: its field among the editing
// settings, and the render pipeline's getter and setter of it.
struct EngineSetting {
    float (*read)(const EditingSettings& settings);
    void (*write)(EditingSettings& settings, float setting);
    float (*get)(const RenderPipeline& pipeline);
    void (*set)(RenderPipeline& pipeline, float setting, bool render);
};

// Which parameter records compare the slider when presets are matched against the panel.
enum class PresetMatch {
    WhenToneMapping,   // only when tone mapping is on (and, for a parameter, its operator is the one chosen)
    Always,
    FactoryOnly,       // user presets do not compare it
    WhenSharpening,    // only when sharpening is on
    Never,
};

// One slider of the editing panel: its widgets and texts, how its position
// becomes a render setting, where the setting lives in the engine and in a
// parameter record, and how its changes are recorded.
struct EditingSlider {
    const char* name;
    const char* slot;  // the window's slot, by signature
    QSlider* Ui_VellumbraClass::*slider;
    QLCDNumber* Ui_VellumbraClass::*lcd;
    QLabel* Ui_VellumbraClass::*label;
    // Language keys: the label's text and the slider's accessible name, then its tool tip.
    const char* textKey;
    const char* tipKey;
    SliderConversion conversion;
    // First render stage the setting feeds; up to the tone-mapping stage the render
    // runs on the tone-mapping worker, later stages render at once.
    int stage;
    // Operator index whose parameter this is, -1 for the other sliders.
    int toneMapper;
    EngineSetting engine;
    // Where a parameter record keeps the position.
    int PresetSettings::*field;
    PresetMatch match;
    // Hands the setting to every selected image and remembers the position.
    void (*apply)(Workspace& workspace, float setting, int position, bool render);
    const char* undoText;

    // The setting the pipeline holds now.
    float current(const RenderPipeline& pipeline) const { return engine.get(pipeline); }
    // True when the slider sets a parameter of a tone-mapping operator.
    bool isOperatorParameter() const { return toneMapper >= 0; }
    // The panel shows the slider while the operator of that index is chosen.
    bool shownWith(int chosenToneMapper) const { return !isOperatorParameter() || toneMapper == chosenToneMapper; }
};

// Every editing slider, in the order a parameter record is applied to the panel:
// operator parameters, strength, exposure, contrast, the tone curve, colour, clips,
// sharpening. The tone curve's four settings depend on the order they are set in.
const std::vector<EditingSlider>& editingSliders();
// The row of the slider of that object name, or null.
const EditingSlider* editingSliderNamed(const QString& objectName);
// The row of one of the table's sliders.
const EditingSlider& editingSliderOf(QSlider* Ui_VellumbraClass::*slider);

// The panel's positions as a parameter record; alpha, beta and gamma come from the
// sliders of the operator chosen (0 for a parameter it lacks).
PresetSettings panelPositions(const Ui_VellumbraClass& ui);

// A preset matches the panel when every value the panel shows for it is equal.
// Sharpening thresholds are never compared; user presets skip the clips.
bool presetMatches(const PresetSettings& preset, const PresetSettings& panel, bool userPreset);
