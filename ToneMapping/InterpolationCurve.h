#pragma once

// A curve through control points, read back by value.
class InterpolationCurve {
public:
    virtual ~InterpolationCurve() = default;
    virtual void addPoint(float x, float y) = 0;
    // Read-only, so many threads may evaluate one curve at once.
    virtual float evaluate(float x) const = 0;
    // True when evaluate() is y = x on [0, 1] by construction, so a caller may skip it.
    virtual bool isIdentity() const { return false; }
};
