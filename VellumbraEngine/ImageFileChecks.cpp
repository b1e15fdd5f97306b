#include "ImageFileChecks.h"

#include "FreeImageAdapter.h"
#include "ImageIO.h"
#include "JpegDecoder.h"
#include "Log.h"
#include "TiffErrorWatch.h"

#include <png.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

const char* const kWhere = "readImage";

// OpenCV's readers refuse larger pictures too.
constexpr double kMaximumPixels = 1 << 30;
// Far beyond what any codec reaches on a flat picture (a blank fax page), for
// formats without a tighter bound.
constexpr double kMaximumPixelsPerByte = 1 << 16;
// Best ratios of the general-purpose codings: deflate's 1032:1, and LZW's with
// libtiff's 12-bit codes (about 1400:1), rounded up.
constexpr double kDeflateRatio = 1100;
constexpr double kLzwRatio = 2048;
constexpr double kPackBitsRatio = 64;
// A decode may take at most this share of the machine's memory.
constexpr double kMemoryShare = 0.25;

// What a header claims, and the most pixels each byte of the file can give.
struct Claim {
    double width = 0;
    double height = 0;
    double bytesPerPixel = 4;  // once decoded
    double pixelsPerByte = kMaximumPixelsPerByte;
    double headerBytes = 0;
};

// 0 where the system does not say.
double machineMemory()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    return pages > 0 && pageSize > 0 ? double(pages) * double(pageSize) : 0;
}

bool probeJpeg(const std::string& path, Claim& claim)
{
    JpegHeader header;
    if (!readJpegHeader(path, header))
        return false;
    claim.width = header.width;
    claim.height = header.height;
    claim.bytesPerPixel = header.components;
    // Arithmetic coding spends less than a bit on a flat block.
    if (!header.arithmeticCoded && header.firstComponentBlocks > 0)
        claim.pixelsPerByte = 8 * claim.width * claim.height / header.firstComponentBlocks;
    return true;
}

void pngError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// No local of the caller lives across the jump back from an error.
bool readPngHeader(png_structp png, png_infop info, std::FILE* file, Claim& claim)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_init_io(png, file);
    png_read_info(png, info);
    const double bits = double(png_get_channels(png, info)) * png_get_bit_depth(png, info);
    claim.width = png_get_image_width(png, info);
    claim.height = png_get_image_height(png, info);
    claim.bytesPerPixel = std::ceil(bits / 8);
    claim.pixelsPerByte = kDeflateRatio * 8 / bits;
    return true;
}

bool probePng(const std::string& path, Claim& claim)
{
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file)
        return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    const bool read = info && readPngHeader(png, info, file.get(), claim);
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    return read;
}

double tiffPixelsPerByte(int compression, double rawBytesPerPixel)
{
    switch (compression) {
    case COMPRESSION_NONE: return 1 / rawBytesPerPixel;
    case COMPRESSION_PACKBITS: return kPackBitsRatio / rawBytesPerPixel;
    case COMPRESSION_LZW: return kLzwRatio / rawBytesPerPixel;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE: return kDeflateRatio / rawBytesPerPixel;
    case COMPRESSION_JPEG: return 8 * 64;  // a bit for each 8x8 block
    default: return kMaximumPixelsPerByte;
    }
}

using TiffFile = std::unique_ptr<TIFF, void (*)(TIFF*)>;

TiffFile openTiff(const std::string& path)
{
    // Magick++'s libtiff handler, left from its last read, aborts on a damaged TIFF's error.
    TiffErrorWatch::detachLibraryHandlers();
    return TiffFile(TIFFOpen(path.c_str(), "r"), TIFFClose);
}

bool probeTiff(const std::string& path, Claim& claim)
{
    const TiffFile tiff = openTiff(path);
    uint32_t width = 0;
    uint32_t height = 0;
    if (!tiff || !TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height))
        return false;
    uint16_t samples = 1;
    uint16_t bits = 1;
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_COMPRESSION, &compression);
    const double rawBytesPerPixel = std::max(1.0, double(samples)) * std::max<uint16_t>(bits, 1) / 8;
    claim.width = width;
    claim.height = height;
    claim.bytesPerPixel = std::ceil(rawBytesPerPixel);
    claim.pixelsPerByte = tiffPixelsPerByte(compression, rawBytesPerPixel);
    return true;
}

// Netpbm: "P1" to "P6", width, height and (but for bitmaps) the largest sample,
// separated by white space and "#" comments; raw samples follow one white space.
bool probeNetpbm(std::ifstream& file, Claim& claim)
{
    file.seekg(1);
    const int kind = file.get() - '0';
    if (kind < 1 || kind > 6)
        return false;
    double fields[3] = {0, 0, 1};
    const int count = kind == 1 || kind == 4 ? 2 : 3;
    for (int i = 0; i < count; ++i) {
        while (file && (std::isspace(file.peek()) || file.peek() == '#')) {
            if (file.get() == '#')
                file.ignore(1 << 16, '\n');
        }
        if (!(file >> fields[i]) || fields[i] < 1)
            return false;
    }
    file.get();
    const double channels = kind == 3 || kind == 6 ? 3 : 1;
    const double sampleBytes = fields[2] > 255 ? 2 : 1;
    claim.width = fields[0];
    claim.height = fields[1];
    claim.bytesPerPixel = channels * sampleBytes;
    claim.headerBytes = double(file.tellg());
    // Plain text samples take a character each at least; raw bitmaps pack 8 pixels a byte.
    claim.pixelsPerByte = kind == 4 ? 8 : kind >= 5 ? 1 / claim.bytesPerPixel : 1 / channels;
    return true;
}

// An 18-byte header of little-endian fields; types 1 to 3 hold every pixel, 9 to 11
// pack runs of up to 128 pixels behind a byte and one pixel's value.
bool probeTarga(std::ifstream& file, Claim& claim)
{
    std::array<unsigned char, 18> header{};
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(header.data()), header.size()))
        return false;
    const auto word = [&header](int at) { return double(header[at] | header[at + 1] << 8); };
    const int type = header[2];
    const double pixelBytes = std::ceil(header[16] / 8.0);
    if (pixelBytes < 1 || (type & ~8) < 1 || (type & ~8) > 3)
        return false;
    claim.width = word(12);
    claim.height = word(14);
    claim.bytesPerPixel = pixelBytes;
    claim.headerBytes = header.size() + header[0] + word(5) * std::ceil(header[7] / 8.0);
    claim.pixelsPerByte = type & 8 ? 128 / (1 + pixelBytes) : 1 / pixelBytes;
    return true;
}

bool probeWithFreeImage(const std::string& path, Claim& claim)
{
    const FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path.c_str(), 0);
    // FreeImage's EXR stream loops on a cut header and its PSD decoder is unsafe on
    // damaged data.
    if (format == FIF_EXR || format == FIF_PSD)
        return false;
    unsigned width = 0;
    unsigned height = 0;
    const TiffErrorWatch ownHandlers;
    if (!freeImageHeaderSize(path, format, width, height))
        return false;
    claim.width = width;
    claim.height = height;
    return true;
}

// The header as the format's own library reads it; false when nothing could be read.
bool probe(const std::string& path, Claim& claim)
{
    std::ifstream file(path, std::ios::binary);
    std::array<unsigned char, 4> start{};
    if (!file.read(reinterpret_cast<char*>(start.data()), start.size()))
        return false;
    if (start[0] == 0xFF && start[1] == 0xD8)
        return probeJpeg(path, claim);
    if (start[0] == 0x89 && start[1] == 'P' && start[2] == 'N' && start[3] == 'G')
        return probePng(path, claim);
    if ((start[0] == 'I' && start[1] == 'I') || (start[0] == 'M' && start[1] == 'M'))
        return probeTiff(path, claim);
    if (start[0] == 'P' && start[1] >= '1' && start[1] <= '6')
        return probeNetpbm(file, claim);
    if (imageFileExtension(path) == "tga")
        return probeTarga(file, claim);
    return probeWithFreeImage(path, claim);
}

}  // namespace

bool claimedSizeIsPlausible(const std::string& path)
{
    // Camera raws are sized by their own decoders.
    if (rawExtensionIndex(rawExtensions, imageFileExtension(path)) >= 0)
        return true;
    Claim claim;
    if (!probe(path, claim))
        return true;
    std::error_code error;
    const double fileBytes = static_cast<double>(std::filesystem::file_size(path, error));
    const double pixels = claim.width * claim.height;
    const std::string size = std::to_string(static_cast<long long>(claim.width)) + " x " +
                             std::to_string(static_cast<long long>(claim.height)) + " pixels";
    if (!error && pixels > 0 && pixels <= kMaximumPixels &&
        pixels <= (fileBytes - claim.headerBytes) * claim.pixelsPerByte) {
        const double memory = machineMemory();
        if (memory <= 0 || pixels * claim.bytesPerPixel <= memory * kMemoryShare)
            return true;
        logError(kWhere, "\"" + path + "\" claims a picture of " + size +
                             ", more than this computer's memory can decode; it is not read");
        return false;
    }
    logError(kWhere, "\"" + path + "\" claims a picture of " + size + " in " +
                         std::to_string(static_cast<long long>(fileBytes)) + " bytes; it is damaged and not read");
    return false;
}
