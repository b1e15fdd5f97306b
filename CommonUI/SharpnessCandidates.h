#pragma once
#include <QMetaType>

#include <set>
#include <utility>
#include <vector>

// Orders (score, frame index) pairs by score alone: two frames of equal score are
// one element, and the first one inserted stays.
struct MyPairComp {
    bool operator()(const std::pair<float, int>& a, const std::pair<float, int>& b) const
    {
        return a.first < b.first;
    }
};

// The current frame and every frame sharper than it, in ascending score order.
using SharpnessCandidates = std::set<std::pair<float, int>, MyPairComp>;

Q_DECLARE_METATYPE(SharpnessCandidates)

// Each candidate's score in percent of the sharpest one, truncated, in the set's
// order. When the sharpest scores 0 (all-black frames) every candidate shows 100.
std::vector<int> sharpnessPercents(const SharpnessCandidates& candidates);
