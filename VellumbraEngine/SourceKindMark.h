#pragma once
#include "SourceKind.h"

#include <string>

// A float file alone cannot tell a light image stacked from 8- or 16-bit frames from
// a scene-referred HDR, and the two render very differently: the kind travels with
// the file the program saves, as a header line in Radiance HDR ("VELLUMBRA_KIND="), a
// string attribute in OpenEXR and a private ASCII tag in TIFF ("VellumbraKind"), each
// "display-referred" or "scene-referred".

// Marks the kind in a saved file that can carry it (.hdr, .exr, .tif, .tiff); other
// files, and an Unknown kind, are left as they are. The file is replaced whole, or
// kept as it was and false returned with the reason logged.
bool markSourceKind(const std::string& path, SourceKind kind);
// The kind marked in the file; Unknown without a mark.
SourceKind markedSourceKind(const std::string& path);
