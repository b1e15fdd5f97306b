#pragma once

// How the frames before and after the chosen frame tie to the playback range.
namespace stackingrange {

struct Limits {
    int beforeMaximum;
    int afterMaximum;
};

struct Range {
    int first;
    int last;
};

struct Counts {
    int before;
    int after;
};

// The most frames that exist before and after frame `chosen` of `frameCount`.
Limits limits(int chosen, int frameCount);
// The playback range of `before` frames before and `after` after the chosen
// frame, kept inside the sequence and never excluding the frame on show.
Range playbackRange(int chosen, int frameCount, int shownIndex, int before, int after);
// The frames before and after the chosen one that a dragged range holds.
Counts framesAround(int chosen, const Range& range);

}  // namespace stackingrange
