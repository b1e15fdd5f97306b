#include "PresetTileSettings.h"

#include "RenderPipeline.h"

EditingPositions positionsOf(const PresetSettings& record)
{
    EditingPositions p;
    p.applyTM = record.applyTM;
    p.TMalgo = record.TMalgo;
    switch (record.TMalgo) {
    case 0:
        p.tm1Alpha = record.alpha;
        p.tm1Beta = record.beta;
        break;
    case 1:
        p.tm2Alpha = record.alpha;
        break;
    case 2:
        p.tm4Alpha = record.alpha;
        p.tm4Beta = record.beta;
        p.tm4Gamma = record.gamma;
        break;
    case 4:
        p.tm3Alpha = record.alpha;
        p.tm3Beta = record.beta;
        p.tm3Gamma = record.gamma;
        break;
    default:
        break;
    }
    p.blackClip = record.blackClip;
    p.whiteClip = record.whiteClip;
    p.strength = record.strength;
    p.exposure = record.exposure;
    p.contrast = record.contrast;
    p.highlights = record.highlights;
    p.shadows = record.shadows;
    p.whites = record.whites;
    p.blacks = record.blacks;
    p.hue = record.hue;
    p.saturation = record.saturation;
    p.vibrance = record.vibrance;
    p.applySharpening = record.applySharpening;
    p.sharpeningAmount = record.sharpeningAmount;
    p.sharpeningRadius = record.sharpeningRadius;
    p.sharpeningThreshold = record.sharpeningThreshold;
    return p;
}

std::unique_ptr<RenderPipeline> pipelineFor(const PresetSettings& record)
{
    const EngineDefaults s = engineDefaultsFrom(positionsOf(record));
    // The operator without parameters, and any index outside the table, takes none.
    const bool hasParameters = record.TMalgo >= 0 && record.TMalgo <= kLastToneMappingOperator && record.TMalgo != 3;
    const float* params = hasParameters ? s.params[record.TMalgo] : nullptr;
    auto pipeline = std::make_unique<RenderPipeline>();
    pipeline->applySettings(s.applyTM, s.TMalgo, params ? params[0] : 0.f, params ? params[1] : 0.f,
                            params ? params[2] : 0.f, s.blackClip, s.whiteClip, s.strength, s.exposure, s.contrast,
                            s.highlights, s.shadows, s.whites, s.blacks, s.hue, s.saturation, s.vibrance,
                            s.applySharpening, s.sharpeningAmount, s.sharpeningRadius, s.sharpeningThreshold);
    return pipeline;
}
