#pragma once
#include <atomic>

// The percent a stacking run shows, 0 to 100 over the whole run. The run thread
// raises it at phase ends while the ghost removal's band threads add to it within
// their phase, so it only ever rises, without a lock.

// Raises progress to percent unless it is already there or beyond.
void raiseProgress(std::atomic<float>& progress, float percent);
// Adds increment to progress, stopping at ceiling.
void advanceProgress(std::atomic<float>& progress, float increment, float ceiling);

// The part of 0 .. 100 that one step covers.
struct ProgressSpan {
    float start = 0.0f;
    float end = 100.0f;

    // The point a fraction of the way through.
    float at(float fraction) const { return start + (end - start) * fraction; }
};

// Usual costs of the phases, in milliseconds for one 1080p phone-video frame on
// four cores; only their ratios matter.
namespace stackingcost {
constexpr float kReading = 8.0f;
constexpr float kAlignment = 25.0f;
constexpr float kGhostMask = 5.0f;
constexpr float kGhostEstimate = 105.0f;  // the automatic ghosting power, a dense flow
constexpr float kAveraging = 20.0f;

// The band search, which a finer block step makes dearer.
inline float ghostBands(int blockStep)
{
    return 5.0f + 150.0f / float(blockStep > 1 ? blockStep : 1);
}

inline float ghostRemoval(bool automaticPower, int blockStep)
{
    return kGhostMask + (automaticPower ? kGhostEstimate : 0.0f) + ghostBands(blockStep);
}
}  // namespace stackingcost

// Splits a run's percent over the positions of the stacking order, each by its
// phases, and the averaging at the end. What is left is spread again when the
// range shrinks.
class StackingProgress {
public:
    enum Phase { Reading, Alignment, GhostRemoval, PhaseCount };

    StackingProgress(std::atomic<float>& progress, bool align, bool automaticPower, int blockStep);

    // What is left of 0 .. 100 goes to `positions` positions still to walk and
    // the averaging.
    void plan(int positions);
    // The next position of the plan begins.
    void nextPosition();
    // The part of the current position that phase covers.
    ProgressSpan span(Phase phase) const;
    // The current position done up to the end of phase.
    void finish(Phase phase);
    void finishRun();

private:
    float boundary(float costBefore) const;

    std::atomic<float>& progress;
    float costs[PhaseCount];
    float positionCost = 0.0f;
    float base = 0.0f;  // where the plan began
    int next = 0;       // positions of the plan begun
    float positionStart = 0.0f;
    float positionWidth = 0.0f;
};
