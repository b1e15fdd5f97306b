#include "StackingRange.h"

#include <algorithm>

namespace stackingrange {

Limits limits(int chosen, int frameCount)
{
    return {chosen, frameCount - 1 - chosen};
}

Range playbackRange(int chosen, int frameCount, int shownIndex, int before, int after)
{
    const int first = std::min(std::max(chosen - before, 0), shownIndex);
    const int last = std::max(std::min(chosen + after, frameCount - 1), shownIndex);
    return {first, last};
}

Counts framesAround(int chosen, const Range& range)
{
    return {chosen - range.first, range.last - chosen};
}

}  // namespace stackingrange
