#include "Preset.h"

#include <algorithm>
#include <cstring>

PresetSettings presetDefaults;

namespace {

// Longest prefix of at most maxBytes that does not end inside a UTF-8 sequence.
std::size_t utf8PrefixLength(const std::string& text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text.size();
    std::size_t length = maxBytes;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length;
    return length;
}

}  // namespace

Preset::Preset()
    : PresetSettings(presetDefaults)
{
}

Preset::Preset(const std::string& name, bool applyTM, int TMalgo, int alpha, int beta, int gamma, int blackClip,
               int whiteClip, int strength, int exposure, int contrast, int highlights, int shadows, int whites,
               int blacks, int hue, int saturation, int vibrance, bool applySharpening, int sharpeningAmount,
               int sharpeningRadius, int sharpeningThreshold)
    : PresetSettings{applyTM,    TMalgo,  alpha,     beta,       gamma,      blackClip,       whiteClip,
                     strength,   exposure, contrast, highlights, shadows,    whites,          blacks,
                     hue,        saturation, vibrance, applySharpening, sharpeningAmount, sharpeningRadius,
                     sharpeningThreshold}
{
    setName(name);
    setToneMappingOperator(TMalgo);
}

void Preset::setName(const std::string& text)
{
    const std::size_t length = utf8PrefixLength(text, kNameCapacity - 1);
    std::memcpy(name, text.data(), length);
    name[length] = '\0';
}

void Preset::setToneMappingOperator(int index)
{
    TMalgo = std::clamp(index, kFirstToneMappingOperator, kLastToneMappingOperator);
}
