#include "DetailCurveNodes.h"

#include <algorithm>
#include <cmath>
#include <mutex>

namespace {

// The slider's alphas the nodes are placed for, 0.05 apart: the curve's bend moves
// smoothly with alpha, so those between follow.
constexpr int kAlphaSamples = 41;
constexpr float kLargestAlpha = 2.0f;

float sampledAlpha(int i)
{
    return kLargestAlpha * float(i) / float(kAlphaSamples - 1);
}

}  // namespace

double detailCurveValue(double t, float alpha, float threshold, float noiseLevel)
{
    double f = std::pow(t, double(alpha));
    if (alpha < 1.0f) {
        const double u = std::min(std::max((t * threshold - noiseLevel) / noiseLevel, 0.0), 1.0);
        const double tau = u * u * (u - 2.0) * (u - 2.0);
        f = (f - t) * tau + t;
    }
    return threshold * f;
}

DetailCurveNodes::DetailCurveNodes(float threshold, float noiseLevel, int steps)
    : threshold_(threshold), noiseLevel_(noiseLevel), steps_(steps)
{
    std::vector<std::vector<double>> curves(kAlphaSamples, std::vector<double>(size_t(steps) + 1));
    for (int a = 0; a < kAlphaSamples; ++a)
        for (int i = 0; i <= steps; ++i)
            curves[a][i] = detailCurveValue(double(i) / steps, sampledAlpha(a), threshold, noiseLevel);
    auto chordHolds = [&](int from, int to) {
        for (const std::vector<double>& curve : curves)
            for (int i = from + 1; i < to; ++i) {
                const double share = double(i - from) / (to - from);
                const double error = std::fabs(curve[from] + share * (curve[to] - curve[from]) - curve[i]);
                if (error > std::min(kTolerance, kRelativeTolerance * curve[i]))
                    return false;
            }
        return true;
    };
    // Each node as far from the one before as the chord allows; the chord's error
    // grows with its length, so the farthest is found by bisection.
    step_.push_back(0);
    while (step_.back() < steps) {
        const int from = step_.back();
        int holds = from + 1;
        int fails = steps + 1;
        if (chordHolds(from, steps))
            holds = steps;
        while (fails - holds > 1 && holds < steps) {
            const int middle = holds + (fails - holds) / 2;
            (chordHolds(from, middle) ? holds : fails) = middle;
        }
        step_.push_back(holds);
    }
    for (int node = 0; node + 1 < size(); ++node)
        for (int i = step_[node]; i < step_[node + 1]; ++i)
            nodePosition_.push_back(float(node + double(i - step_[node]) / (step_[node + 1] - step_[node])));
    nodePosition_.push_back(float(size() - 1));
    nodePosition_.push_back(float(size() - 1));
}

std::vector<float> DetailCurveNodes::values(float alpha) const
{
    std::vector<float> values;
    for (int node : step_)
        values.push_back(float(detailCurveValue(double(node) / steps_, alpha, threshold_, noiseLevel_)));
    return values;
}

std::shared_ptr<const DetailCurveNodes> detailCurveNodes(float threshold, float noiseLevel, int steps)
{
    static std::mutex lock;
    static std::shared_ptr<const DetailCurveNodes> last;
    std::lock_guard<std::mutex> guard(lock);
    if (!last || !last->madeWith(threshold, noiseLevel, steps))
        last = std::make_shared<const DetailCurveNodes>(threshold, noiseLevel, steps);
    return last;
}
