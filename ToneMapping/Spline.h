#pragma once
#include "InterpolationCurve.h"

#include <vector>

// Natural cubic spline read through a 1024-entry table, made non-decreasing and
// capped at the last point's y. Four tone settings
// (whites, blacks, highlights, shadows, each in [-1, 1]) own the two inner points;
// each setter also re-derives side factors of the others, so the result depends
// on the order in which settings were applied.
//
// The table is rebuilt by every change, on the thread making it, so evaluate()
// only reads and may run on any number of threads while nothing changes the curve.
// A copy carries the whole state, side factors included, so it evaluates exactly
// as the original and reacts to the next setter as the original would.
class Spline : public InterpolationCurve {
public:
    struct Point {
        float x;
        float y;
    };

    Spline(float whites, float highlights, float shadows, float blacks);

    void addPoint(float x, float y) override;
    float evaluate(float x) const override;
    // Every point on the diagonal from (0, 0) to (1, 1): the spline is that line, though
    // its table falls short of 1 by up to one step near the end.
    bool isIdentity() const override { return identity_; }

    void setWhites(float whites);
    void setHighlights(float highlights);
    void setBlacks(float blacks);
    void setShadows(float shadows);

    float whites() const { return whites_; }
    float blacks() const { return blacks_; }
    float highlights() const { return highlights_; }
    float shadows() const { return shadows_; }
    const std::vector<Point>& points() const { return points_; }

private:
    enum Flags : unsigned { PendingPoints = 1, NeedsSort = 2, NeedsCoefficients = 4 };
    static constexpr int tableEntries = 1024;

    void applyWhites(float whites);
    void applyHighlights(float h);
    void applyBlacks(float b);
    void applyShadows(float s);
    void applyRuleW();
    void applyRuleSp();
    void applyRuleSn();
    void applyRuleBp();
    void applyRuleHp();
    void recomputeSlot2X();
    void setSlot(int slot, bool isX, float value);

    void mergeAndSort();
    bool computeCoefficients();
    void rebuildTable();

    std::vector<Point> points_;
    std::vector<float> coefficients_;  // a, b, c, d per segment
    unsigned flags_ = NeedsSort | NeedsCoefficients;
    std::vector<Point> pendingPoints_;
    bool tableDirty_ = true;
    bool identity_ = false;
    float xFirst_ = 0.f;
    float xLast_ = 0.f;
    std::vector<float> table_;
    double tableScale_ = 0.0;

    float whites_ = 0.f;
    float blacks_ = 0.f;
    float highlights_ = 0.f;
    float shadows_ = 0.f;
    float whitesFactorNeg_ = 0.15f;
    float whitesFactorPos_ = 0.05f;
    float blacksFactorNeg_ = 0.05f;
    float blacksFactorPos_ = 0.15f;
    float highlightsFactorPos_ = 0.275f;
    float highlightsFactorNeg_ = 0.225f;
    float shadowsFactorPos_ = 0.225f;
    float shadowsFactorNeg_ = 0.275f;
};
