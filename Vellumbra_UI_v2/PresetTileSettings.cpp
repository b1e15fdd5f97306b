#include "PresetTileSettings.h"

#include "EditingSliderTable.h"
#include "Preset.h"
#include "RenderPipeline.h"

#include <algorithm>

std::unique_ptr<RenderPipeline> pipelineFor(const PresetSettings& record)
{
    auto pipeline = std::make_unique<RenderPipeline>();
    pipeline->setApplyTM(record.applyTM, false);
    pipeline->setTMAlgo(std::clamp(record.TMalgo, kFirstToneMappingOperator, kLastToneMappingOperator), false);
    for (const EditingSlider& row : editingSliders())
        if (row.shownWith(record.TMalgo))
            row.engine.set(*pipeline, row.conversion.toSetting(record.*row.field), false);
    pipeline->setApplySharpening(record.applySharpening, false);
    return pipeline;
}
