#pragma once
#include <opencv2/core.hpp>

// What the stacking worker is started with, derived from the parameter widgets
// and the workspace's stacking options.
struct StackingRunSettings {
    int instantFrame = 0;
    int firstFrame = 0;
    int frameCount = 1;
    float antighostingPower = -1.0f;  // -1: automatic
    float ghostWeight = 0.0f;
    bool align = false;
    int quality = 15;  // block step of the ghost search
    int threadCount = 1;
};

// The parameter step as the user left it.
struct StackingChoices {
    int instantFrame;
    int framesBefore;
    int framesAfter;
    bool autoAntighosting;
    int antighostingPower;    // slider position, ten times the power
    int antighostingMode;     // 0 long exposure, 80 medium, 100 high
    int antighostingMaximum;  // the power slider's maximum
    bool align;
    int qualityIndex;         // 0 fast, 1 medium, 2 slow
    int idealThreadCount;
};

StackingRunSettings stackingRunSettings(const StackingChoices& choices);

// How a finished stacking run ends for the window.
enum class StackingOutcome { Finished, Stopped, Cancelled };

// request: the context's request word when the engine returned. A run that kept
// nothing (stopped before its first frame, or nothing accumulated) counts as
// cancelled, so no empty result ever reaches the editing step.
StackingOutcome stackingOutcome(int request, const cv::Mat& result, int accumulated);
