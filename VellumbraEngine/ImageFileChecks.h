#pragma once
#include <string>

// Cheap looks at an image file before any library decodes it. A refusal is logged
// with the file's name.

// False when the header claims more pixels than a picture may have or than the file
// could hold however well compressed: the libraries allocate the claimed picture
// before they find its data missing.
bool claimedSizeIsPlausible(const std::string& path);

// True when a JPEG ends inside its picture data: the libraries fill the missing rows
// with grey and warn at most on the console.
bool jpegIsCut(const std::string& path);
