#pragma once
#include <string>

// What an image file's header claims, read through the format's own library where it
// has one (libjpeg, libpng, libtiff, giflib, FreeImage's header load, Magick++'s ping):
// the header and the layout of the coded data, never the picture itself.
struct HeaderClaim {
    // Far beyond what any codec reaches on a flat picture, for codings without a
    // tighter bound.
    static constexpr double kAnyCodingPixelsPerByte = 1 << 16;

    double width = 0;
    double height = 0;
    double bytesPerPixel = 4;  // once decoded
    // The most pixels a byte of the coded data can give, on a flat picture.
    double pixelsPerByte = kAnyCodingPixelsPerByte;
    // Bytes of coded picture data, without tables, metadata and trailers; negative
    // where the format does not tell, and the file less headerBytes counts.
    double codedBytes = -1;
    double headerBytes = 0;
    bool arithmeticJpeg = false;
};

// False when nothing could read the header.
bool probeImageHeader(const std::string& path, HeaderClaim& claim);
