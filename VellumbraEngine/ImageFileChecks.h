#pragma once
#include <string>

// Cheap looks at an image file before any library decodes it, through the format's
// own library where it has one (libjpeg, libpng, libtiff): the header alone, never
// the picture data. A refusal is logged with the file's name.

// False when the header claims more pixels than the file could hold at the best its
// coding reaches (a JPEG's every 8x8 block takes a bit, a raw PPM or TGA holds every
// sample), or a picture whose decoding would take more than a fixed share of the
// machine's memory: the libraries allocate the claimed picture before they find its
// data missing.
bool claimedSizeIsPlausible(const std::string& path);

