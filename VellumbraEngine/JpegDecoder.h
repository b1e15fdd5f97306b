#pragma once
#include <opencv2/core.hpp>

#include <string>

// JPEG files through libjpeg directly, so that what the decoder says about the data
// is heard: the other libraries fill lost rows with grey and keep quiet.

struct JpegHeader {
    unsigned width = 0;
    unsigned height = 0;
    int components = 0;
    // 8x8 blocks of the first component; each takes at least one bit of Huffman data.
    double firstComponentBlocks = 0;
    bool arithmeticCoded = false;
    // From the first scan's data to the end marker: what follows it is not picture data.
    double codedBytes = 0;
};

// Reads the markers up to the first scan, no picture data; false when the file is
// not a JPEG libjpeg accepts.
bool readJpegHeader(const std::string& path, JpegHeader& header);

enum class JpegDecode {
    NotHandled,  // not a JPEG, or one libjpeg does not turn into BGR or grey (CMYK)
    Read,
    Cut,     // the file ends inside the picture data; out is empty
    Damaged  // the decoder lost part of the picture data otherwise; out is empty
};

// Decodes into 8-bit BGR or grey as stored (no turn from the EXIF orientation). A
// missing end marker after complete picture data is not damage, nor are a few stray
// bytes or 0x00/0xFF fill before a marker.
JpegDecode decodeJpeg(const std::string& path, cv::Mat& out);

// Whether the picture data holds the whole picture (Read), found by decoding it a few
// rows at a time without making the full-size picture: cut, lost or only fill is not.
JpegDecode checkJpegData(const std::string& path);
