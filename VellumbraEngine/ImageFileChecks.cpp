#include "ImageFileChecks.h"

#include "ImageHeaderProbe.h"
#include "ImageIO.h"
#include "JpegDecoder.h"
#include "Log.h"
#include "TiffErrorWatch.h"

#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>

namespace {

const char* const kWhere = "readImage";

// OpenCV's readers refuse larger pictures too.
constexpr double kMaximumPixels = 1 << 30;
// A decode may take at most this share of the machine's memory.
constexpr double kMemoryShare = 0.25;
// A picture may take this much memory to decode with next to no data behind it (a
// blank page, a flat test card); a larger one needs a byte of coded data for every
// kLargePicturePixelsPerByte pixels whatever its coding, which no photo comes near.
constexpr double kFlatPictureBytes = 256.0 * (1 << 20);
constexpr double kLargePicturePixelsPerByte = 4096;

// 0 where the system does not say.
double machineMemory()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    return pages > 0 && pageSize > 0 ? double(pages) * double(pageSize) : 0;
}

std::string claimText(const std::string& path, const HeaderClaim& claim)
{
    return "\"" + path + "\" claims a picture of " + std::to_string(static_cast<long long>(claim.width)) + " x " +
           std::to_string(static_cast<long long>(claim.height)) + " pixels";
}

}  // namespace

bool claimedSizeIsPlausible(const std::string& path)
{
    // Camera raws are sized by their own decoders.
    if (rawExtensionIndex(rawExtensions, imageFileExtension(path)) >= 0)
        return true;
    HeaderClaim claim;
    if (!probeImageHeader(path, claim))
        return true;
    std::error_code error;
    const double fileBytes = static_cast<double>(std::filesystem::file_size(path, error));
    const double codedBytes =
        claim.codedBytes >= 0 ? std::min(claim.codedBytes, fileBytes) : fileBytes - claim.headerBytes;
    const double pixels = claim.width * claim.height;
    const double decodedBytes = pixels * claim.bytesPerPixel;
    const double pixelsPerByte = decodedBytes > kFlatPictureBytes
                                     ? std::min(claim.pixelsPerByte, kLargePicturePixelsPerByte)
                                     : claim.pixelsPerByte;
    if (error || pixels <= 0 || pixels > kMaximumPixels || pixels > codedBytes * pixelsPerByte) {
        logError(kWhere, claimText(path, claim) + " in " + std::to_string(static_cast<long long>(codedBytes)) +
                             " bytes of picture data; it is damaged and not read");
        return false;
    }
    const double memory = machineMemory();
    if (memory > 0 && decodedBytes > memory * kMemoryShare) {
        logError(kWhere, claimText(path, claim) + ", more than this computer's memory can decode; it is not read");
        return false;
    }
    if (claim.arithmeticJpeg && decodedBytes > kFlatPictureBytes && checkJpegData(path) != JpegDecode::Read) {
        logError(kWhere, claimText(path, claim) + " that its picture data does not hold; it is damaged and not read");
        return false;
    }
    return true;
}

bool tiffIsUprightIntegers(const std::string& path)
{
    // Magick++'s libtiff handler, left from its last read, aborts on a damaged TIFF's error.
    TiffErrorWatch::detachLibraryHandlers();
    const std::unique_ptr<TIFF, void (*)(TIFF*)> tiff(TIFFOpen(path.c_str(), "r"), TIFFClose);
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    if (!tiff)
        return true;
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    return orientation == ORIENTATION_TOPLEFT && photometric != PHOTOMETRIC_LOGLUV && photometric != PHOTOMETRIC_LOGL;
}
