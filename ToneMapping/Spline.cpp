#include "Spline.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int slotShadowsBlacks = 1;
constexpr int slotHighlightsWhites = 2;

// Settings outside [-1, 1] could push the inner points onto each other or past
// the ends, and the solve would divide by zero.
float clampSetting(float value)
{
    if (std::isnan(value))
        return 0.f;
    return std::clamp(value, -1.f, 1.f);
}

}  // namespace

Spline::Spline(float whites, float highlights, float shadows, float blacks)
    : points_{{0.f, 0.f}, {0.33f, 0.33f}, {0.66f, 0.66f}, {1.f, 1.f}}
{
    applyWhites(clampSetting(whites));
    applyBlacks(clampSetting(blacks));
    applyShadows(clampSetting(shadows));
    applyHighlights(clampSetting(highlights));
    rebuildTable();
}

void Spline::addPoint(float x, float y)
{
    pendingPoints_.push_back({x, y});
    flags_ |= PendingPoints;
    tableDirty_ = true;
    rebuildTable();
}

void Spline::setWhites(float whites)
{
    applyWhites(clampSetting(whites));
    rebuildTable();
}

void Spline::setHighlights(float highlights)
{
    applyHighlights(clampSetting(highlights));
    rebuildTable();
}

void Spline::setBlacks(float blacks)
{
    applyBlacks(clampSetting(blacks));
    rebuildTable();
}

void Spline::setShadows(float shadows)
{
    applyShadows(clampSetting(shadows));
    rebuildTable();
}

void Spline::setSlot(int slot, bool isX, float value)
{
    if (slot >= static_cast<int>(points_.size()))
        return;
    (isX ? points_[slot].x : points_[slot].y) = value;
    flags_ |= NeedsSort | NeedsCoefficients;
    tableDirty_ = true;
}

void Spline::recomputeSlot2X()
{
    setSlot(slotHighlightsWhites, true, 0.66f - whites_ * (whites_ >= 0.f ? whitesFactorPos_ : whitesFactorNeg_));
}

void Spline::applyRuleW()
{
    whitesFactorNeg_ = 0.15f;
    whitesFactorPos_ = 0.05f;
}

void Spline::applyRuleSp()
{
    if (highlights_ < 0.f) {
        const float k = blacks_ >= 0.f ? 0.075f : -0.085f;
        shadowsFactorPos_ = 0.225f - (blacks_ * k - 0.1f) * highlights_;
    }
}

void Spline::applyRuleSn()
{
    if (highlights_ < 0.f && blacks_ >= 0.f)
        shadowsFactorNeg_ = 0.275f + 0.025f * blacks_ * highlights_;
}

void Spline::applyRuleBp()
{
    if (highlights_ >= 0.f)
        blacksFactorPos_ = 0.15f;
    else if (shadows_ < 0.f)
        blacksFactorPos_ = 0.15f - 0.135f * highlights_ * shadows_;
}

void Spline::applyRuleHp()
{
    if (whites_ >= 0.f)
        highlightsFactorPos_ = 0.275f + (0.05f * whites_ - 0.05f) * shadows_;
    else
        highlightsFactorPos_ = 0.275f + (-0.0125f * whites_ - 0.05f) * shadows_;
}

void Spline::applyWhites(float whites)
{
    whites_ = whites;
    recomputeSlot2X();
}

// The chained calls below always end: each enters a branch whose own chained
// call is ruled out by the signs that led there.
void Spline::applyHighlights(float h)
{
    highlights_ = h;
    if (h >= 0.f) {
        setSlot(slotHighlightsWhites, false, 0.66f + h * highlightsFactorPos_);
        applyRuleW();
        recomputeSlot2X();
        if (shadows_ < 0.f)
            applyShadows(shadows_);
    } else {
        setSlot(slotHighlightsWhites, false, 0.66f + h * highlightsFactorNeg_);
        applyRuleSp();
        applyRuleSn();
        applyRuleBp();
        applyShadows(shadows_);
        if (blacks_ < 0.f)
            applyBlacks(blacks_);
    }
}

void Spline::applyBlacks(float b)
{
    blacks_ = b;
    if (b >= 0.f) {
        setSlot(slotShadowsBlacks, true, 0.33f - b * blacksFactorPos_);
        applyRuleSp();
        applyRuleSn();
        applyShadows(shadows_);
    } else {
        setSlot(slotShadowsBlacks, true, 0.33f - b * blacksFactorNeg_);
        applyRuleSp();
        if (shadows_ > 0.f)
            applyShadows(shadows_);
    }
}

void Spline::applyShadows(float s)
{
    shadows_ = s;
    if (s >= 0.f) {
        setSlot(slotShadowsBlacks, false, 0.33f + s * shadowsFactorPos_);
        whitesFactorPos_ = 0.05f;
        applyRuleHp();
        if (whites_ < 0.f)
            setSlot(slotHighlightsWhites, true, 0.66f - whites_ * whitesFactorNeg_);
        if (highlights_ > 0.f)
            applyHighlights(highlights_);
    } else {
        setSlot(slotShadowsBlacks, false, 0.33f + s * shadowsFactorNeg_);
        applyRuleW();
        applyRuleBp();
        recomputeSlot2X();
        if (blacks_ < 0.f)
            applyBlacks(blacks_);
    }
}

void Spline::mergeAndSort()
{
    if (flags_ & PendingPoints) {
        points_.insert(points_.end(), pendingPoints_.begin(), pendingPoints_.end());
        pendingPoints_.clear();
        flags_ = (flags_ & ~PendingPoints) | NeedsSort;
    }
    if ((flags_ & NeedsSort) && !points_.empty()) {
        std::stable_sort(points_.begin(), points_.end(), [](const Point& a, const Point& b) { return a.x < b.x; });
        flags_ = (flags_ & ~NeedsSort) | NeedsCoefficients;
    }
}

bool Spline::computeCoefficients()
{
    if (points_.size() < 2)
        return false;
    mergeAndSort();
    if (!(flags_ & NeedsCoefficients))
        return true;

    const size_t n = points_.size();
    std::vector<double> h(n - 1);
    for (size_t i = 0; i + 1 < n; ++i) {
        h[i] = static_cast<double>(points_[i + 1].x) - points_[i].x;
        if (!(h[i] > 0.0))
            return false;  // repeated x: no segment to interpolate on
    }

    // Natural ends: M_0 = M_(n-1) = 0; the inner ones by the Thomas algorithm.
    std::vector<double> m(n, 0.0);
    if (n >= 3) {
        const size_t inner = n - 2;
        std::vector<double> cPrime(inner), dPrime(inner);
        for (size_t k = 0; k < inner; ++k) {
            const size_t i = k + 1;
            const double sub = h[i - 1];
            const double diag = 2.0 * (h[i - 1] + h[i]);
            const double sup = h[i];
            const double rhs = 6.0 * ((points_[i + 1].y - points_[i].y) / h[i] - (points_[i].y - points_[i - 1].y) / h[i - 1]);
            const double pivot = k == 0 ? diag : diag - sub * cPrime[k - 1];
            if (pivot == 0.0)
                return false;
            cPrime[k] = sup / pivot;
            dPrime[k] = (k == 0 ? rhs : rhs - sub * dPrime[k - 1]) / pivot;
        }
        m[inner] = dPrime[inner - 1];
        for (size_t k = inner - 1; k-- > 0;)
            m[k + 1] = dPrime[k] - cPrime[k] * m[k + 2];
    }

    coefficients_.resize(4 * (n - 1));
    for (size_t i = 0; i + 1 < n; ++i) {
        float* c = &coefficients_[4 * i];
        c[0] = static_cast<float>((m[i + 1] - m[i]) / (6.0 * h[i]));
        c[1] = static_cast<float>(m[i] / 2.0);
        c[2] = static_cast<float>((points_[i + 1].y - points_[i].y) / h[i] - (2.0 * m[i] + m[i + 1]) * h[i] / 6.0);
        c[3] = points_[i].y;
    }
    flags_ &= ~NeedsCoefficients;
    return true;
}

void Spline::rebuildTable()
{
    if (!tableDirty_ || !computeCoefficients())
        return;  // without a new table the previous one stays in use
    const float first = points_.front().x;
    const float last = points_.back().x;
    const float lastY = points_.back().y;
    const float step = (last - first) * 0.0009765625f;
    table_.resize(tableEntries);
    size_t segment = 0;
    for (int i = 0; i < tableEntries; ++i) {
        const float x = first + static_cast<float>(i) * step;
        while (segment + 2 < points_.size() && x >= points_[segment + 1].x)
            ++segment;
        const float* c = &coefficients_[4 * segment];
        const float t = x - points_[segment].x;
        float value = ((c[0] * t + c[1]) * t + c[2]) * t + c[3];
        if (i > 0)
            value = std::max(value, table_[i - 1]);
        table_[i] = std::min(value, lastY);
    }
    identity_ = first == 0.f && last == 1.f &&
                std::all_of(points_.begin(), points_.end(), [](const Point& p) { return p.x == p.y; });
    xFirst_ = first;
    xLast_ = last;
    tableScale_ = static_cast<double>(tableEntries) / (static_cast<double>(last) - first);
    tableDirty_ = false;
}

float Spline::evaluate(float x) const
{
    if (table_.empty())
        return 0.f;
    if (x >= xFirst_ && x <= xLast_) {
        const double t = (x - xFirst_) * tableScale_;
        const int whole = static_cast<int>(t);  // t >= 0: truncation is the floor
        const int i0 = std::min(whole, tableEntries - 1);
        const int i1 = std::min(whole + 1, tableEntries - 1);
        const float f = static_cast<float>(t - whole);
        return f * table_[i1] + (1.f - f) * table_[i0];
    }
    return x < xFirst_ ? table_.front() : table_.back();
}
