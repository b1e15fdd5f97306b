#pragma once
#include <string>

// What a picture is, as whoever made it knows: an 8- or 16-bit photo or frame, and a
// light image stacked from them, are display-referred; a float HDR file, or a light
// image stacked from such files, is scene-referred. Unknown is left to the statistics.
enum class SourceKind { Unknown, DisplayReferred, SceneReferred };

// The kind of a picture of this OpenCV depth: float samples are scene-referred when
// they come from an HDR file (EXR, HDR, PFM) or were stacked from such files.
SourceKind sourceKindOf(int depth, bool fromHdrFile);

// The kind of a light image stacked from frames of this OpenCV depth: display-referred
// from 8- or 16-bit frames, scene-referred from float HDR ones.
SourceKind stackedSourceKind(int frameDepth);

// The kind of a picture read from `path` at OpenCV `depth`: the one the file carries
// (markSourceKind), else sourceKindOf with HDR files told by their extension.
SourceKind sourceKindOfFile(const std::string& path, int depth);
