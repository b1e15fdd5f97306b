#include "EditingSliderTable.h"

#include "EditingForm.h"

#include "Preset.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

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

TEST(EditingSliderTable, PositionsBecomeTheRenderSettings)
{
    EditingForm form;
    struct Case {
        const char* slider;
        int position;
        float setting;
    };
    const Case cases[] = {
        {"horizontalSlider_TMAlpha", 50, 0.5f},        {"horizontalSlider_TMBeta", 50, -0.5f},
        {"horizontalSlider_TM2_Alpha", 50, 0.875f},    {"horizontalSlider_TM3_Alpha", 50, 0.75f},
        {"horizontalSlider_TM3_Beta", 0, 1.0f},        {"horizontalSlider_TM3_Gamma", -40, 1525.f},
        {"horizontalSlider_TM4_Alpha", 30, 6.5f},      {"horizontalSlider_TM4_Beta", -50, 5.0f},
        {"horizontalSlider_TM4_Gamma", -95, 0.25f},    {"horizontalSlider_TMStrength", 0, 0.5f},
        {"horizontalSlider_TMExposition", 40, 0.4f},   {"horizontalSlider_TMContrast", 0, 1.0f},
        {"horizontalSlider_TMHue", -20, -0.1f},        {"horizontalSlider_TMSaturation", -50, 0.5f},
        {"horizontalSlider_TMSaturation", 25, 2.0f},   {"horizontalSlider_TMVibrance", -20, -0.1f},
        {"horizontalSlider_TMVibrance", 20, 1.4f},     {"horizontalSlider_TMBlackClip", 10, 0.015f},
        {"horizontalSlider_TMSharpeningRadius", 3, 7.f}, {"horizontalSlider_TMSharpeningAmount", 50, 0.5f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.slider) + " at " + std::to_string(c.position));
        EXPECT_NEAR(form.row(c.slider).conversion.toSetting(c.position), c.setting, 1e-5f * std::abs(c.setting) + 1e-7f);
    }
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
