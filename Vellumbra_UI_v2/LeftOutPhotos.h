#pragma once
#include <QString>

#include <vector>

class ImagesSequence;

// The file names of the photos of a burst that a stacking run left out, in burst
// order and joined by ", "; empty for a video or when none was left out.
QString leftOutPhotoNames(ImagesSequence& frames, std::vector<int> leftOut);
