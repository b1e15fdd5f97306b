#include "StackingProgress.h"

#include <algorithm>

void raiseProgress(std::atomic<float>& progress, float percent)
{
    float current = progress.load();
    while (current < percent && !progress.compare_exchange_weak(current, percent)) {
    }
}

void advanceProgress(std::atomic<float>& progress, float increment, float ceiling)
{
    float current = progress.load();
    while (current < ceiling && !progress.compare_exchange_weak(current, std::min(ceiling, current + increment))) {
    }
}

StackingProgress::StackingProgress(std::atomic<float>& progress, bool align, bool automaticPower, int blockStep)
    : progress(progress),
      costs{stackingcost::kReading, align ? stackingcost::kAlignment : 0.0f,
            stackingcost::ghostRemoval(automaticPower, blockStep)}
{
    for (float cost : costs)
        positionCost += cost;
    progress = 0.0f;
}

void StackingProgress::plan(int positions)
{
    base = progress.load();
    next = 0;
    const float remainingCost = float(std::max(positions, 0)) * positionCost + stackingcost::kAveraging;
    positionWidth = (100.0f - base) * positionCost / remainingCost;
}

void StackingProgress::nextPosition()
{
    positionStart = base + positionWidth * float(next++);
    raiseProgress(progress, positionStart);
}

ProgressSpan StackingProgress::span(Phase phase) const
{
    float before = 0.0f;
    for (int i = 0; i < phase; ++i)
        before += costs[i];
    return {boundary(before), boundary(before + costs[phase])};
}

void StackingProgress::finish(Phase phase)
{
    raiseProgress(progress, span(phase).end);
}

void StackingProgress::finishRun()
{
    raiseProgress(progress, 100.0f);
}

float StackingProgress::boundary(float costBefore) const
{
    return positionStart + positionWidth * costBefore / positionCost;
}
