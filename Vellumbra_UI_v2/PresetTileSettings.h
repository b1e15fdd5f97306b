#pragma once
#include <memory>

struct PresetSettings;
class RenderPipeline;

// A pipeline holding the render settings of the record, nothing rendered. The
// record's alpha, beta and gamma are parameters of its own operator.
std::unique_ptr<RenderPipeline> pipelineFor(const PresetSettings& record);
