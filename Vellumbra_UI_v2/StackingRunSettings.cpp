#include "StackingRunSettings.h"

#include "StackingContext.h"

#include <algorithm>

namespace {

constexpr int kQualitySteps[3] = {15, 5, 1};

}  // namespace

StackingRunSettings stackingRunSettings(const StackingChoices& choices)
{
    StackingRunSettings settings;
    settings.instantFrame = choices.instantFrame;
    settings.frameCount = choices.framesBefore + 1 + choices.framesAfter;
    settings.firstFrame = choices.instantFrame - choices.framesBefore;
    settings.antighostingPower =
        choices.autoAntighosting ? -1.0f : static_cast<float>(choices.antighostingPower) / 10.0f;
    const float weightRoot = static_cast<float>(choices.antighostingMaximum - choices.antighostingMode) / 10.0f;
    settings.ghostWeight = static_cast<float>(static_cast<double>(weightRoot) * weightRoot);
    settings.align = choices.align;
    settings.quality = kQualitySteps[std::clamp(choices.qualityIndex, 0, 2)];
    settings.threadCount = std::max(1, choices.idealThreadCount - 1);
    return settings;
}

StackingOutcome stackingOutcome(int request, const cv::Mat& result, int accumulated)
{
    if (request == StackingContext::RequestCancel || result.empty() || accumulated < 1)
        return StackingOutcome::Cancelled;
    return request == StackingContext::RequestStop ? StackingOutcome::Stopped : StackingOutcome::Finished;
}
