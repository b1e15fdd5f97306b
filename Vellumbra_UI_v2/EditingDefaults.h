#pragma once
#include "EngineDefaults.h"
#include "Preset.h"
#include "ui_vellumbraV2.h"

// The render settings the editing panel's positions stand for: what every new
// pipeline starts with.
EditingSettings engineDefaultsFrom(const Ui_VellumbraClass& ui);
// What a preset record without a source holds: the panel's positions themselves,
// with the operator index and parameters at 0.
PresetSettings presetDefaultsFrom(const Ui_VellumbraClass& ui);
