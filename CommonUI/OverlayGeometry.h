#pragma once

// Clamp whose range never inverts: a range with hi < lo collapses to lo, which
// happens when the parent is smaller than the overlay's minimum.
inline int clampToRange(int value, int lo, int hi)
{
    if (hi < lo)
        hi = lo;
    return value < lo ? lo : (value > hi ? hi : value);
}
