#include "SharpnessCandidates.h"

std::vector<int> sharpnessPercents(const SharpnessCandidates& candidates)
{
    std::vector<int> percents;
    if (candidates.empty())
        return percents;
    percents.reserve(candidates.size());
    const float sharpest = candidates.rbegin()->first;
    for (const auto& candidate : candidates)
        percents.push_back(sharpest > 0.0f ? static_cast<int>(candidate.first * 100.0f / sharpest) : 100);
    return percents;
}
