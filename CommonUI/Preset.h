#pragma once
#include <cstddef>
#include <string>

// The editing settings a preset applies: positions of the editing widgets.
struct PresetSettings
{
    bool applyTM = true;
    int TMalgo = 0;
    int alpha = 0;
    int beta = 0;
    int gamma = 0;
    int blackClip = 0;
    int whiteClip = 0;
    int strength = 0;
    int exposure = 0;
    int contrast = 0;
    int highlights = 0;
    int shadows = 0;
    int whites = 0;
    int blacks = 0;
    int hue = 0;
    int saturation = 0;
    int vibrance = 0;
    bool applySharpening = true;
    int sharpeningAmount = 10;
    int sharpeningRadius = 3;
    int sharpeningThreshold = 0;
};

// Values every preset starts from; the main window sets them from its widgets.
extern PresetSettings presetDefaults;

// Valid tone-mapping operator indices.
constexpr int kFirstToneMappingOperator = 0;
constexpr int kLastToneMappingOperator = 4;

// One named preset. The name is cut to the field (at a character boundary);
// the operator index is clamped to the valid range.
struct Preset : PresetSettings
{
    static constexpr std::size_t kNameCapacity = 50;  // 49 bytes and the terminator

    char name[kNameCapacity] = {};

    // An unnamed record holding presetDefaults.
    Preset();
    Preset(const std::string& name, bool applyTM, int TMalgo, int alpha, int beta, int gamma, int blackClip,
           int whiteClip, int strength, int exposure, int contrast, int highlights, int shadows, int whites,
           int blacks, int hue, int saturation, int vibrance, bool applySharpening, int sharpeningAmount,
           int sharpeningRadius, int sharpeningThreshold);

    void setName(const std::string& text);
    void setToneMappingOperator(int index);
};
