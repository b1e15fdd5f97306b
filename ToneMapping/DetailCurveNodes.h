#pragma once
#include <memory>
#include <vector>

// The remapping's detail curve s f(t) for t = |deviation| / s in [0, 1]: t^alpha,
// blended towards t in the noise when alpha < 1.
double detailCurveValue(double t, float alpha, float threshold, float noiseLevel);

// Nodes of a piecewise-linear stand-in for the detail curve, on a grid of `steps`
// steps over t, placed so that for every alpha of the sliders' range (0 to 2) the
// curve between two nodes stays within kTolerance of its chord, and within
// kRelativeTolerance of its own value: a flat picture, all small differences, is
// stretched over the whole range by the normalisation. A window's samples,
// each shared between the two nodes around it, then give the window's detail sum
// for any such alpha as one dot product with the curve's values at the nodes.
class DetailCurveNodes {
public:
    static constexpr double kTolerance = 1e-3;
    static constexpr double kRelativeTolerance = 0.05;

    DetailCurveNodes(float threshold, float noiseLevel, int steps);

    bool madeWith(float threshold, float noiseLevel, int steps) const
    {
        return threshold_ == threshold && noiseLevel_ == noiseLevel && steps_ == steps;
    }
    int size() const { return int(step_.size()); }
    // Per grid step 0 to steps, and once more at the end: the position in nodes (the
    // node below plus the share of the way to the next), which is linear between
    // grid steps as the nodes lie on them.
    const float* nodePositions() const { return nodePosition_.data(); }
    // The detail curve at the nodes for alpha.
    std::vector<float> values(float alpha) const;

private:
    float threshold_ = 0.0f;
    float noiseLevel_ = 0.0f;
    int steps_ = 0;
    std::vector<int> step_;
    std::vector<float> nodePosition_;
};

// The nodes for a threshold and noise level: the last ones made are kept for the
// next input, as the operator's values seldom change.
std::shared_ptr<const DetailCurveNodes> detailCurveNodes(float threshold, float noiseLevel, int steps);
