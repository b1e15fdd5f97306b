#pragma once
#include <QString>

#include <vector>

class ImagesSequence;

// The file names of the photos of a burst that a stacking run left out, in burst
// order and joined by ", "; empty for a video or when none was left out.
QString leftOutPhotoNames(ImagesSequence& frames, std::vector<int> leftOut);

// The photo of a burst nearest to `from` that can be read, the later one first at
// equal distance; -1 when there is none.
int nearestReadablePhoto(ImagesSequence& frames, int from);
