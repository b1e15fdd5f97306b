#pragma once
#include <string>
#include <vector>

// Whether encoded bytes of a format with a fixed layout (float map, Sun raster) are as
// long as their header says. OpenCV encodes these through a temporary file and hands
// back what was read from it, cut short when writing it failed. Bytes of any other
// format count as whole.
bool encodedBytesAreWhole(const std::string& extension, const std::vector<unsigned char>& bytes);
