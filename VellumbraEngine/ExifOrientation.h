#pragma once
#include <string>

// The orientation (1 to 8) stored in a JPEG file's EXIF block, read from the markers
// in front of the picture data without decoding a pixel; 1 when the file has none,
// is damaged there, or is not a JPEG.
int jpegExifOrientation(const std::string& path);
