#pragma once
#include "PhaseCorrelationPeaks.h"

#include <opencv2/core.hpp>

#include <functional>
#include <memory>
#include <vector>

// Where a frame lies against the instant image of a stacking run, found coarse to
// fine: of the phase correlation's shifts of reduced copies, the one under which
// most of the frame agrees, then the enhanced correlation (findTransform's
// iteration) level by level up to full size (half size beyond 2048 pixels), with
// the areas that moved on their own left out, so that walkers do not pull a still
// camera's estimate. The reduced copies also tell a frame of another shot.
class FrameAlignment {
public:
    enum class Verdict {
        SameShot,
        OtherShot,   // correlates too little with the instant image wherever it is placed
        Unreliable,  // no estimate converged, or the one found is not plausible
    };
    struct Result {
        Verdict verdict = Verdict::SameShot;
        // Where the instant image's content lies in the frame (warp translation).
        cv::Point2f shift;
        double correlation = 1.0;
    };

    // instant: 8-bit, 16-bit or float samples, one or three channels. fine: find
    // the translation to a fraction of a pixel (alignment on); otherwise only tell
    // whether a frame is of the instant image's shot, from the reduced copies.
    FrameAlignment(const cv::Mat& instant, bool fine);

    // A frame of the instant image's size and type. An instant image without
    // structure above its noise places a frame where they correlate beyond noise;
    // any other frame is of the same shot, unshifted, unless it shows structure or
    // a level far beyond that noise.
    // `interrupted` is asked before each fine level: once it answers true, the
    // result comes at once, Unreliable.
    Result locate(const cv::Mat& frame, const std::function<bool()>& interrupted = {}) const;

    // The frame moved by -shift onto the instant image's grid by cubic interpolation,
    // 16-bit and float samples held where they overshoot their nearest source
    // samples by far (beside lamps); the pixels the move brings in repeat the
    // frame's border, so the average keeps its edges' brightness.
    static cv::Mat moved(const cv::Mat& frame, cv::Point2f shift);

private:
    // Below sameShotCorrelation on the reduced copies a frame is of another shot.
    Result placed(const std::vector<cv::Mat>& framePyramid, double sameShotCorrelation,
                  const std::function<bool()>& interrupted) const;
    cv::Point2f coarseShift(const cv::Mat& frameCoarse, double sameShotCorrelation, Result* result) const;
    struct Start {
        cv::Point shift;
        double correlation;  // of the reduced copies placed by it
    };
    Start likeliestShift(const cv::Mat& frameCoarse) const;
    cv::Mat movingAreasLeftOut(const cv::Mat& frameCoarse, cv::Point2f shift) const;

    std::vector<cv::Mat> pyramid;  // grey copies of the instant image, full size first
    cv::Mat coarseStandard;        // the coarsest copy of zero mean and unit deviation
    std::unique_ptr<PhaseCorrelationPeaks> phase;
    int coarseLevel = 0;  // of the phase correlation and the shot
    int finestLevel = 0;  // of the final estimate
    bool fine = false;
    bool comparable = false;  // large enough to tell anything
    // Whether the instant image shows structure above its noise; its grey mean
    // level and the deviation of its noise.
    bool instantStructured = false;
    double instantLevel = 0.0, instantNoise = 0.0;
};
