#pragma once
#include "EngineDefaults.h"
#include "Preset.h"

// Positions of the editing panel's widgets as the form leaves them.
struct EditingPositions
{
    bool applyTM = true;
    int TMalgo = 0;
    int tm1Alpha = 0, tm1Beta = 0;
    int tm2Alpha = 0;
    int tm3Alpha = 0, tm3Beta = 0, tm3Gamma = 0;
    int tm4Alpha = 0, tm4Beta = 0, tm4Gamma = 0;
    int blackClip = 0, whiteClip = 0, strength = 0, exposure = 0, contrast = 0, hue = 0, saturation = 0,
        vibrance = 0, whites = 0, blacks = 0, highlights = 0, shadows = 0;
    bool applySharpening = true;
    int sharpeningAmount = 0, sharpeningRadius = 0, sharpeningThreshold = 0;
};

// The render settings the positions stand for: what every new pipeline starts with.
EngineDefaults engineDefaultsFrom(const EditingPositions& positions);
// What a preset record without a source holds: the positions themselves, with the
// operator index and parameters at 0.
PresetSettings presetDefaultsFrom(const EditingPositions& positions);
