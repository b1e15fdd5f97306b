#include "EditingDefaults.h"

#include "EditingSliderTable.h"

#include <algorithm>

EditingSettings engineDefaultsFrom(const Ui_VellumbraClass& ui)
{
    EditingSettings settings;
    settings.applyTM = ui.groupBox_TMOptions->isChecked();
    settings.TMalgo = std::clamp(ui.comboBox_TM->currentIndex(), kFirstToneMappingOperator, kLastToneMappingOperator);
    settings.applySharpening = ui.groupBox_Sharpening->isChecked();
    for (const EditingSlider& row : editingSliders())
        row.engine.write(settings, row.conversion.toSetting((ui.*row.slider)->value()));
    return settings;
}

PresetSettings presetDefaultsFrom(const Ui_VellumbraClass& ui)
{
    PresetSettings record = panelPositions(ui);
    record.TMalgo = 0;
    record.alpha = record.beta = record.gamma = 0;
    return record;
}
