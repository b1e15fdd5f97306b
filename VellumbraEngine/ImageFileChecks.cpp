#include "ImageFileChecks.h"

#include "FreeImageAdapter.h"
#include "Log.h"
#include "TiffErrorWatch.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

const char* const kWhere = "readImage";

// OpenCV's readers refuse larger pictures too.
constexpr double kMaximumPixels = 1 << 30;
// Far beyond what any codec reaches on a flat picture (a blank fax page, a
// one-colour PNG), and far below what a hostile header claims.
constexpr double kMaximumPixelsPerByte = 1 << 16;

std::vector<unsigned char> contentOf(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

constexpr unsigned char kMarker = 0xFF;
constexpr unsigned char kStartOfImage = 0xD8;
constexpr unsigned char kEndOfImage = 0xD9;
constexpr unsigned char kStartOfScan = 0xDA;

// Markers that carry no length: the restart markers and TEM.
bool standsAlone(unsigned char marker)
{
    return (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01;
}

}  // namespace

bool claimedSizeIsPlausible(const std::string& path)
{
    FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path.c_str(), 0);
    // FreeImage's EXR stream loops on a cut header and its PSD decoder is unsafe on
    // damaged data; camera raws are sized by their own decoders.
    if (format == FIF_EXR || format == FIF_PSD || format == FIF_RAW)
        return true;
    unsigned width = 0;
    unsigned height = 0;
    // Magick++'s libtiff handler, left from its last read, aborts on a damaged TIFF's error.
    const TiffErrorWatch ownHandlers;
    if (!freeImageHeaderSize(path, format, width, height))
        return true;
    std::error_code error;
    const double fileBytes = static_cast<double>(std::filesystem::file_size(path, error));
    const double pixels = double(width) * height;
    if (!error && pixels > 0 && pixels <= kMaximumPixels && pixels <= fileBytes * kMaximumPixelsPerByte)
        return true;
    logError(kWhere, "\"" + path + "\" claims a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                         " pixels in " + std::to_string(static_cast<long long>(fileBytes)) +
                         " bytes; it is damaged and not read");
    return false;
}

bool jpegIsCut(const std::string& path)
{
    const std::vector<unsigned char> bytes = contentOf(path);
    if (bytes.size() < 2 || bytes[0] != kMarker || bytes[1] != kStartOfImage)
        return false;
    // Segments up to the first scan, then the end marker somewhere after it: within
    // the scan data a marker byte is always followed by 0 or a restart number.
    size_t at = 2;
    while (at + 1 < bytes.size()) {
        if (bytes[at] != kMarker)
            return false;  // damaged otherwise: the libraries say so
        const unsigned char marker = bytes[at + 1];
        at += 2;
        if (marker == kMarker) {
            --at;  // fill byte
            continue;
        }
        if (standsAlone(marker))
            continue;
        if (marker == kEndOfImage || at + 1 >= bytes.size())
            break;
        const size_t length = size_t(bytes[at]) << 8 | bytes[at + 1];
        at += length;
        if (marker != kStartOfScan)
            continue;
        const unsigned char end[] = {kMarker, kEndOfImage};
        if (at <= bytes.size() && std::search(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end(),
                                              std::begin(end), std::end(end)) != bytes.end())
            return false;
        break;
    }
    logError(kWhere, "\"" + path + "\" ends before its picture data does; the file is cut short and not read");
    return true;
}
