#pragma once
#include "DetailCurveNodes.h"

#include <opencv2/core.hpp>

#include <vector>

class Laplacian;

// What the node sums of one input may take. Level 0, which holds the least work
// and the visible detail, is always summed exactly; the finest levels above it
// are too when their node sums would not fit.
constexpr size_t kNodeSumBudget = size_t(96) << 20;

// Weights along one axis, for every position of one level: over the full-resolution
// span [first, first + count), the weights of the Gaussian value (`gaussian`) and of
// the renormalised expansion of the next level (`expansion`), `stride` apart.
struct AxisWeights {
    int stride = 0;
    std::vector<int> first;
    std::vector<int> count;
    std::vector<float> gaussian;
    std::vector<float> expansion;
    std::vector<float> gaussianSum;
    std::vector<float> expansionSum;
};

// The remapping moves a sample by a detail part, which depends on alpha only, plus
// beta times an edge part, which depends on neither. Every output coefficient is
// thus g0 times its weights' total plus the detail sum plus beta times the edge sum:
// a new beta needs neither sum again, a new alpha only the detail sums.
struct LaplacianCoreSteps {
    // Detail sums per coefficient of levels 0 to n-2, and what they were made with.
    struct DetailSums {
        float alpha = 0.0f;
        float noiseLevel = 0.0f;
        std::vector<cv::Mat> sums;
    };
    // Sums per coefficient of levels 0 to n-2, all made with `threshold`: a run with
    // another one starts them afresh.
    struct ThresholdSums {
        float threshold = 0.0f;
        // Empty when not kept.
        std::vector<cv::Mat> edge;
        // The input's first alphas, summed exactly: a single change of alpha (a preset,
        // an undo) renders as a fresh run does.
        std::vector<DetailSums> exactDetail;
        // Past those, alpha is being dragged: from the coarse levels up, one row per
        // coefficient, its window's sums at the detail curve's nodes, from which every
        // later alpha takes those levels' detail sums by a dot product instead of a
        // window pass; the last alpha's sums are kept for a change of beta.
        std::vector<cv::Mat> nodeSums;
        std::shared_ptr<const DetailCurveNodes> nodes;
        DetailSums nodeDetail;

        // The kept detail sums for alpha and the noise level, or null.
        const DetailSums* detailFor(float alpha, float noiseLevel) const;
        // What nodeSums holds.
        size_t nodeSumBytes() const;
    };

    // From the input alone.
    std::vector<cv::Mat> gaussian;
    std::vector<AxisWeights> rowWeights;
    std::vector<AxisWeights> columnWeights;
    ThresholdSums sums;
};

// lapfilter_core through steps made by an earlier call on the same input, or
// empty: what is missing or made with other values is computed, and kept in them
// when `keep` is set and the run completes. Empty when cancelled.
cv::Mat& lapfilterWithSteps(Laplacian& op, cv::Mat& out, const cv::Mat& input, LaplacianCoreSteps& steps, bool keep);
