#pragma once
#include "EditingDefaults.h"

#include <memory>

class RenderPipeline;

// The panel positions a parameter record stands for: alpha, beta and gamma go to
// the sliders of the record's operator.
EditingPositions positionsOf(const PresetSettings& record);

// A pipeline holding the render settings of the record, nothing rendered.
std::unique_ptr<RenderPipeline> pipelineFor(const PresetSettings& record);
