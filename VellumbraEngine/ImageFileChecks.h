#pragma once
#include <string>

// Cheap looks at an image file before any library decodes it. A refusal is logged with
// the file's name.

// False when the header claims more pixels than the file's coded data could hold at
// the best its coding reaches (a JPEG's every 8x8 block takes a bit, a raw PPM or TGA
// holds every sample, a large picture needs some data for it whatever its coding), or
// a picture whose decoding would take more than a fixed share of the machine's
// memory: the libraries allocate the claimed picture before they find its data
// missing. An arithmetic-coded JPEG too large to take lightly is decoded once, a few
// rows at a time, to see that its data holds it.
bool claimedSizeIsPlausible(const std::string& path);

// True for a TIFF stored top row first with integer samples: DevIL reads the others
// as 8 bits and unturned, and LogLuv floats as 8-bit colours.
bool tiffIsUprightIntegers(const std::string& path);
