#include "EditingSliderTable.h"

#include "EditingForm.h"

#include "EditingDefaults.h"
#include "Preset.h"
#include "PresetTileSettings.h"
#include "RenderPipeline.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>


TEST(EditingSliderTable, HoldsEveryEditingSliderOfTheFormOnce)
{
    EditingForm form;
    std::set<QString> inTable;
    for (const EditingSlider& row : editingSliders()) {
        EXPECT_TRUE(inTable.insert(form.name(row)).second) << form.name(row).toStdString();
        EXPECT_EQ(form.name(row), row.name);
        EXPECT_EQ(editingSliderNamed(row.name), &row);
    }
    EXPECT_EQ(editingSliderNamed("horizontalSlider_Rotation"), nullptr);
    std::set<QString> inForm;
    for (const QSlider* slider : form.host.findChildren<QSlider*>(QRegularExpression("^horizontalSlider_TM")))
        inForm.insert(slider->objectName());
    EXPECT_EQ(inTable, inForm);
    EXPECT_EQ(inTable.size(), 24u);
}

TEST(EditingSliderTable, EveryPositionComesBackFromItsSetting)
{
    EditingForm form;
    for (const EditingSlider& row : editingSliders()) {
        const QSlider* slider = form.slider(row);
        for (int position = slider->minimum(); position <= slider->maximum(); ++position)
            ASSERT_EQ(row.conversion.toPosition(row.conversion.toSetting(position)), position)
                << slider->objectName().toStdString();
    }
}

namespace {

using ES = EditingSettings;
using RP = RenderPipeline;

// Reads one setting from the engine's settings and from a pipeline, independently of the table.
struct Reading {
    std::function<float(const ES&)> engine;
    std::function<float(const RP&)> pipeline;
};

Reading plain(float ES::*field, float (RP::*get)() const)
{
    return {[=](const ES& s) { return s.*field; }, [=](const RP& p) { return (p.*get)(); }};
}

Reading curve(float ES::*field, float (Spline::*get)() const)
{
    return {[=](const ES& s) { return s.*field; }, [=](const RP& p) { return (p.curve().*get)(); }};
}

Reading parameter(int toneMapper, int slot)
{
    return {[=](const ES& s) { return s.params[toneMapper][slot]; },
            [=](const RP& p) { return p.params(toneMapper)[slot]; }};
}

Reading radius()
{
    return {[](const ES& s) { return float(s.sharpeningRadius); },
            [](const RP& p) { return float(p.sharpeningRadius()); }};
}

}  // namespace

// The settings come from the conversions of the editing Parts, not from our table: a
// position reaches the engine from the panel, and the pipeline through a parameter record.
TEST(EditingSliderTable, PositionsBecomeTheRenderSettings)
{
    using P = PresetSettings;
    struct Case {
        const char* slider;
        int toneMapper;  // the operator whose parameter it is, -1 for none
        int P::*field;
        int position;
        float setting;
        Reading reading;
    };
    const Case cases[] = {
        {"horizontalSlider_TMAlpha", 0, &P::alpha, 50, 0.5f, parameter(0, 0)},
        {"horizontalSlider_TMBeta", 0, &P::beta, 50, -0.5f, parameter(0, 1)},
        {"horizontalSlider_TM2_Alpha", 1, &P::alpha, 50, 0.875f, parameter(1, 0)},
        {"horizontalSlider_TM3_Alpha", 4, &P::alpha, 50, 0.75f, parameter(4, 0)},
        {"horizontalSlider_TM3_Beta", 4, &P::beta, 0, 1.0f, parameter(4, 1)},
        {"horizontalSlider_TM3_Beta", 4, &P::beta, 20, 1.2f, parameter(4, 1)},
        {"horizontalSlider_TM3_Gamma", 4, &P::gamma, -40, 1525.f, parameter(4, 2)},
        {"horizontalSlider_TM4_Alpha", 2, &P::alpha, 30, 6.5f, parameter(2, 0)},
        {"horizontalSlider_TM4_Beta", 2, &P::beta, -50, 5.0f, parameter(2, 1)},
        {"horizontalSlider_TM4_Gamma", 2, &P::gamma, -95, 0.25f, parameter(2, 2)},
        {"horizontalSlider_TMStrength", -1, &P::strength, 0, 0.5f, plain(&ES::strength, &RP::strength)},
        {"horizontalSlider_TMStrength", -1, &P::strength, 40, 0.7f, plain(&ES::strength, &RP::strength)},
        {"horizontalSlider_TMExposition", -1, &P::exposure, 40, 0.4f, plain(&ES::exposure, &RP::exposure)},
        {"horizontalSlider_TMContrast", -1, &P::contrast, 0, 1.0f, plain(&ES::contrast, &RP::contrast)},
        {"horizontalSlider_TMContrast", -1, &P::contrast, 30, 1.2f, plain(&ES::contrast, &RP::contrast)},
        {"horizontalSlider_TMHighlights", -1, &P::highlights, -30, -0.3f, curve(&ES::highlights, &Spline::highlights)},
        {"horizontalSlider_TMHighlights", -1, &P::highlights, 40, 0.4f, curve(&ES::highlights, &Spline::highlights)},
        {"horizontalSlider_TMShadows", -1, &P::shadows, 45, 0.45f, curve(&ES::shadows, &Spline::shadows)},
        {"horizontalSlider_TMShadows", -1, &P::shadows, -5, -0.05f, curve(&ES::shadows, &Spline::shadows)},
        {"horizontalSlider_TMWhites", -1, &P::whites, 20, 0.2f, curve(&ES::whites, &Spline::whites)},
        {"horizontalSlider_TMWhites", -1, &P::whites, -60, -0.6f, curve(&ES::whites, &Spline::whites)},
        {"horizontalSlider_TMBlacks", -1, &P::blacks, -15, -0.15f, curve(&ES::blacks, &Spline::blacks)},
        {"horizontalSlider_TMBlacks", -1, &P::blacks, 70, 0.7f, curve(&ES::blacks, &Spline::blacks)},
        {"horizontalSlider_TMHue", -1, &P::hue, -20, -0.1f, plain(&ES::hue, &RP::hue)},
        {"horizontalSlider_TMSaturation", -1, &P::saturation, -50, 0.5f, plain(&ES::saturation, &RP::saturation)},
        {"horizontalSlider_TMSaturation", -1, &P::saturation, 25, 2.0f, plain(&ES::saturation, &RP::saturation)},
        {"horizontalSlider_TMVibrance", -1, &P::vibrance, -20, -0.1f, plain(&ES::vibrance, &RP::vibrance)},
        {"horizontalSlider_TMVibrance", -1, &P::vibrance, 20, 1.4f, plain(&ES::vibrance, &RP::vibrance)},
        {"horizontalSlider_TMBlackClip", -1, &P::blackClip, 10, 0.015f, plain(&ES::blackClip, &RP::blackClip)},
        {"horizontalSlider_TMWhiteClip", -1, &P::whiteClip, 20, 0.03f, plain(&ES::whiteClip, &RP::whiteClip)},
        {"horizontalSlider_TMWhiteClip", -1, &P::whiteClip, 100, 0.15f, plain(&ES::whiteClip, &RP::whiteClip)},
        {"horizontalSlider_TMSharpeningAmount", -1, &P::sharpeningAmount, 50, 0.5f,
         plain(&ES::sharpeningAmount, &RP::sharpeningAmount)},
        {"horizontalSlider_TMSharpeningRadius", -1, &P::sharpeningRadius, 3, 7.f, radius()},
        {"horizontalSlider_TMSharpeningRadius", -1, &P::sharpeningRadius, 1, 3.f, radius()},
        {"horizontalSlider_TMSharpeningThreshold", -1, &P::sharpeningThreshold, 25, 0.25f,
         plain(&ES::sharpeningThreshold, &RP::sharpeningThreshold)},
        {"horizontalSlider_TMSharpeningThreshold", -1, &P::sharpeningThreshold, 80, 0.8f,
         plain(&ES::sharpeningThreshold, &RP::sharpeningThreshold)},
    };
    std::set<QString> covered;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.slider) + " at " + std::to_string(c.position));
        const float tolerance = 1e-5f * std::abs(c.setting) + 1e-7f;
        EditingForm form;
        QSlider* slider = form.slider(form.row(c.slider));
        slider->setValue(c.position);
        ASSERT_EQ(slider->value(), c.position);
        EXPECT_NEAR(c.reading.engine(engineDefaultsFrom(form.ui)), c.setting, tolerance);

        Preset record;
        record.TMalgo = std::max(c.toneMapper, 0);
        record.*c.field = c.position;
        EXPECT_NEAR(c.reading.pipeline(*pipelineFor(record)), c.setting, tolerance);
        covered.insert(c.slider);
    }
    std::set<QString> rows;
    for (const EditingSlider& row : editingSliders())
        rows.insert(row.name);
    EXPECT_EQ(covered, rows);
}

TEST(PresetMatching, ComparesWhatThePanelShows)
{
    PresetSettings panel;
    panel.TMalgo = 0;
    panel.alpha = 50;
    panel.beta = 50;
    panel.strength = 10;
    panel.blackClip = 4;
    panel.sharpeningThreshold = 25;

    struct Case {
        const char* name;
        std::function<void(PresetSettings& preset, PresetSettings& panel)> change;
        bool factoryMatches;
        bool userMatches;
    };
    const Case cases[] = {
        {"the same values", [](PresetSettings&, PresetSettings&) {}, true, true},
        {"another sharpening threshold", [](PresetSettings& p, PresetSettings&) { p.sharpeningThreshold = 80; },
         true, true},
        {"other clips", [](PresetSettings& p, PresetSettings&) { p.whiteClip = 30; }, false, true},
        {"another exposure", [](PresetSettings& p, PresetSettings&) { p.exposure = 5; }, false, false},
        {"another operator parameter", [](PresetSettings& p, PresetSettings&) { p.beta = 0; }, false, false},
        {"tone mapping off on both: operator and strength ignored",
         [](PresetSettings& p, PresetSettings& w) {
             p.applyTM = w.applyTM = false;
             p.TMalgo = 2;
             p.alpha = -7;
             p.strength = 90;
         },
         true, true},
        {"tone mapping on one side only", [](PresetSettings& p, PresetSettings&) { p.applyTM = false; }, false,
         false},
        {"sharpening off on both: amount and radius ignored",
         [](PresetSettings& p, PresetSettings& w) {
             p.applySharpening = w.applySharpening = false;
             p.sharpeningAmount = 70;
             p.sharpeningRadius = 9;
         },
         true, true},
        {"another sharpening radius", [](PresetSettings& p, PresetSettings&) { p.sharpeningRadius = 9; }, false,
         false},
        {"sliders-only operator has no parameter to compare",
         [](PresetSettings& p, PresetSettings& w) {
             p.TMalgo = w.TMalgo = 3;
             p.alpha = 12;
             w.alpha = w.beta = 0;
         },
         true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PresetSettings preset = panel;
        PresetSettings shown = panel;
        c.change(preset, shown);
        EXPECT_EQ(presetMatches(preset, shown, false), c.factoryMatches);
        EXPECT_EQ(presetMatches(preset, shown, true), c.userMatches);
    }
}
