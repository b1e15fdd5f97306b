#pragma once
#include "DisplayScale.h"

#include <opencv2/core.hpp>

#include <atomic>

// A tone-mapping operator: turns a float light image into a displayable image.
// `progress` and `cancel` are read and written by other threads while apply runs.
class ToneMappingBase {
public:
    virtual ~ToneMappingBase() = default;

    // `in` is 32-bit float, 3 channels, values normally in [0, 1]; `out` receives
    // an image of the same size, or an empty image when cancelled.
    virtual cv::Mat& apply(cv::Mat& out, const cv::Mat& in, const float params[3]) = 0;

    std::atomic<int> progress{0};
    std::atomic<bool> cancel{false};
    // Set by an owner that never changes an input's pixels in place between calls
    // (the render pipeline's preview): the operator may then keep what it computed
    // from the input alone and skip that work when the same input comes back.
    bool keepInputSteps = false;
    // Pixels of the input per pixel of the full-size picture (below 1 for a preview):
    // spatial parameters given in pixels are scaled by it, so that a reduced render
    // treats the same part of the picture as the full-size one.
    float spatialScale = 1.0f;
    // What the input is, for the factor that brings it to the display range
    // (displayScale). An owner that brings it there first says it is display-referred.
    SourceKind sourceKind = SourceKind::Unknown;
    // For a reduced input (a preview): the full-size picture's extreme pixels
    // (extremePixels), in the input's units; empty for a full-size input. Reduction
    // averages a small light (a sun) or a dark speck away: an operator that stretches
    // between the picture's extremes reads them here, as its export finds them. Given
    // only to operators that ask (readsExtremes), since finding them reads the
    // full-size picture.
    cv::Mat fullSizeExtremes;
    virtual bool readsExtremes() const { return false; }
};
