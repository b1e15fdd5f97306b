#include "ImageHeaderProbe.h"

#include "FreeImageAdapter.h"
#include "ImageIO.h"
#include "JpegDecoder.h"
#include "TiffErrorWatch.h"

#include <Magick++.h>
#include <gif_lib.h>
#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <limits>
#include <memory>

namespace {

// Best ratios of the general-purpose codings, in bytes out for a byte in: deflate's
// 1032:1, LZW's with libtiff's 12-bit codes (about 1400:1), libtiff's xz (about
// 6700:1 on a blank picture) and zstd's (a 128 KB block of one byte in 4 bytes),
// rounded up.
constexpr double kDeflateRatio = 1100;
constexpr double kLzwRatio = 2048;
constexpr double kPackBitsRatio = 64;
constexpr double kLzmaRatio = 8192;
constexpr double kZstdRatio = 32768;
// A GIF code of 12 bits stands for at most 4096 pixels.
constexpr double kGifPixelsPerByte = 4096 / 1.5;
// Runs of up to 127 (Radiance) or 129 (LogLuv) bytes in 2, over each byte plane of a
// pixel: 4 planes of a Radiance pixel, 2 of a LogLuv grey one at least.
constexpr double kRadiancePixelsPerByte = 16;
constexpr double kLogLuvPixelsPerByte = 32;

bool probeJpeg(const std::string& path, HeaderClaim& claim)
{
    JpegHeader header;
    if (!readJpegHeader(path, header))
        return false;
    claim.width = header.width;
    claim.height = header.height;
    claim.bytesPerPixel = header.components;
    claim.codedBytes = header.codedBytes;
    claim.arithmeticJpeg = header.arithmeticCoded;
    // Huffman coding spends a bit on each block at least; arithmetic coding next to
    // nothing on a flat one.
    if (header.arithmeticCoded)
        claim.pixelsPerByte = std::numeric_limits<double>::infinity();
    else if (header.firstComponentBlocks > 0)
        claim.pixelsPerByte = 8 * claim.width * claim.height / header.firstComponentBlocks;
    return true;
}

void pngError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// No local of the caller lives across the jump back from an error.
bool readPngHeader(png_structp png, png_infop info, std::FILE* file, HeaderClaim& claim)
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

std::uint32_t bigEndian32(const unsigned char* bytes)
{
    return std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 | std::uint32_t(bytes[2]) << 8 | bytes[3];
}

// The picture data is the IDAT chunks; a chunk is a 4-byte length, a 4-byte type, the
// data and a 4-byte check.
double pngCodedBytes(std::ifstream& file)
{
    double bytes = 0;
    std::array<unsigned char, 8> chunk{};
    file.clear();
    file.seekg(8);
    while (file.read(reinterpret_cast<char*>(chunk.data()), chunk.size())) {
        const std::uint32_t length = bigEndian32(chunk.data());
        const std::string type(chunk.begin() + 4, chunk.end());
        if (type == "IEND")
            break;
        if (type == "IDAT")
            bytes += length;
        file.seekg(std::streamoff(length) + 4, std::ios::cur);
    }
    return bytes;
}

bool probePng(const std::string& path, std::ifstream& stream, HeaderClaim& claim)
{
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file)
        return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    const bool read = info && readPngHeader(png, info, file.get(), claim);
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    claim.codedBytes = pngCodedBytes(stream);
    return read;
}

double tiffPixelsPerByte(int compression, double rawBytesPerPixel, double width)
{
    switch (compression) {
    case COMPRESSION_NONE: return 1 / rawBytesPerPixel;
    case COMPRESSION_PACKBITS: return kPackBitsRatio / rawBytesPerPixel;
    case COMPRESSION_LZW: return kLzwRatio / rawBytesPerPixel;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
    case COMPRESSION_PIXARLOG: return kDeflateRatio / rawBytesPerPixel;
    case COMPRESSION_LZMA: return kLzmaRatio / rawBytesPerPixel;
    case COMPRESSION_ZSTD: return kZstdRatio / rawBytesPerPixel;
    case COMPRESSION_OJPEG:
    case COMPRESSION_JPEG: return 8 * 64;  // a bit for each 8x8 block
    // The fax codings spend a bit on a row at least.
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4: return std::min(8 * width, HeaderClaim::kAnyCodingPixelsPerByte);
    case COMPRESSION_SGILOG: return kLogLuvPixelsPerByte;
    case COMPRESSION_SGILOG24: return 1 / 3.0;
    default: return HeaderClaim::kAnyCodingPixelsPerByte;
    }
}

using TiffFile = std::unique_ptr<TIFF, void (*)(TIFF*)>;

TiffFile openTiff(const std::string& path)
{
    // Magick++'s libtiff handler, left from its last read, aborts on a damaged TIFF's error.
    TiffErrorWatch::detachLibraryHandlers();
    return TiffFile(TIFFOpen(path.c_str(), "r"), TIFFClose);
}

// The strips or tiles of the first picture, as their byte counts say.
double tiffCodedBytes(TIFF* tiff)
{
    const std::uint32_t striles = TIFFIsTiled(tiff) ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    double bytes = 0;
    for (std::uint32_t strile = 0; strile < striles; ++strile)
        bytes += double(TIFFGetStrileByteCount(tiff, strile));
    return bytes;
}

bool probeTiff(const std::string& path, HeaderClaim& claim)
{
    const TiffFile tiff = openTiff(path);
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (!tiff || !TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height))
        return false;
    std::uint16_t samples = 1;
    std::uint16_t bits = 1;
    std::uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_COMPRESSION, &compression);
    const double rawBytesPerPixel = std::max(1.0, double(samples)) * std::max<std::uint16_t>(bits, 1) / 8;
    const bool logLuv = compression == COMPRESSION_SGILOG || compression == COMPRESSION_SGILOG24;
    claim.width = width;
    claim.height = height;
    claim.bytesPerPixel = logLuv ? 4.0 * samples : std::ceil(rawBytesPerPixel);
    claim.pixelsPerByte = tiffPixelsPerByte(compression, rawBytesPerPixel, width);
    claim.codedBytes = tiffCodedBytes(tiff.get());
    return true;
}

// Netpbm: "P1" to "P6" or the float map's "PF" and "Pf", then width, height and (but
// for bitmaps) the largest sample or the float map's scale, separated by white space
// and "#" comments of any length; the samples follow one white space.
bool probeNetpbm(std::ifstream& file, HeaderClaim& claim)
{
    file.seekg(1);
    const int kind = file.get();
    const bool floats = kind == 'F' || kind == 'f';
    const bool bitmap = kind == '1' || kind == '4';
    if (!floats && (kind < '1' || kind > '6'))
        return false;
    double fields[3] = {0, 0, 1};
    for (int i = 0; i < (bitmap ? 2 : 3); ++i) {
        while (file && (std::isspace(file.peek()) || file.peek() == '#')) {
            if (file.get() == '#')
                file.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
        }
        // A float map's scale is negative for little-endian samples.
        if (!(file >> fields[i]) || (fields[i] < 1 && !(floats && i == 2)))
            return false;
    }
    file.get();
    const double channels = kind == '3' || kind == '6' || kind == 'F' ? 3 : 1;
    const double sampleBytes = floats ? 4 : fields[2] > 255 ? 2 : 1;
    claim.width = fields[0];
    claim.height = fields[1];
    claim.bytesPerPixel = channels * sampleBytes;
    claim.headerBytes = double(file.tellg());
    // Plain text samples take a character each at least; raw bitmaps pack 8 pixels a byte.
    claim.pixelsPerByte = kind == '4' ? 8 : floats || kind >= '5' ? 1 / claim.bytesPerPixel : 1 / channels;
    return true;
}

// An 18-byte header of little-endian fields; types 1 to 3 hold every pixel, 9 to 11
// pack runs of up to 128 pixels behind a byte and one pixel's value.
bool probeTarga(std::ifstream& file, HeaderClaim& claim)
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

using GifFile = std::unique_ptr<GifFileType, void (*)(GifFileType*)>;

void closeGif(GifFileType* gif)
{
    int error = 0;
    DGifCloseFile(gif, &error);
}

// Bytes of the sub-blocks from block on, up to their end or the file's.
double subBlockBytes(GifFileType* gif, GifByteType* block, int (*next)(GifFileType*, GifByteType**))
{
    double bytes = 0;
    while (block) {
        bytes += block[0];
        if (next(gif, &block) != GIF_OK)
            break;
    }
    return bytes;
}

// Each frame against its own LZW data, skipped unread; the frame that claims most
// for its data speaks for the file.
bool probeGif(const std::string& path, HeaderClaim& claim)
{
    int error = 0;
    const GifFile gif(DGifOpenFileName(path.c_str(), &error), closeGif);
    if (!gif)
        return false;
    claim.bytesPerPixel = 3;
    claim.pixelsPerByte = kGifPixelsPerByte;
    bool framed = false;
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    while (DGifGetRecordType(gif.get(), &record) == GIF_OK && record != TERMINATE_RECORD_TYPE) {
        GifByteType* block = nullptr;
        int code = 0;
        if (record == EXTENSION_RECORD_TYPE) {
            if (DGifGetExtension(gif.get(), &code, &block) != GIF_OK)
                break;
            subBlockBytes(gif.get(), block, DGifGetExtensionNext);
        } else if (record == IMAGE_DESC_RECORD_TYPE) {
            if (DGifGetImageDesc(gif.get()) != GIF_OK || DGifGetCode(gif.get(), &code, &block) != GIF_OK)
                break;
            const double width = gif->Image.Width;
            const double height = gif->Image.Height;
            const double bytes = std::max(1.0, subBlockBytes(gif.get(), block, DGifGetCodeNext));
            if (!framed || width * height / bytes > claim.width * claim.height / claim.codedBytes) {
                claim.width = width;
                claim.height = height;
                claim.codedBytes = bytes;
            }
            framed = true;
        }
    }
    return framed;
}

bool probeWithFreeImage(const std::string& path, HeaderClaim& claim)
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
    if (format == FIF_HDR) {
        claim.bytesPerPixel = 12;
        claim.pixelsPerByte = kRadiancePixelsPerByte;
    }
    return true;
}

// What FreeImage cannot size from the header alone: SGI, JPEG 2000, DDS, OpenEXR, PSD...
bool probeWithMagick(const std::string& path, HeaderClaim& claim)
{
    try {
        Magick::Image image;
        image.ping(path);
        claim.width = image.columns();
        claim.height = image.rows();
        // Deep pictures may come out as floats.
        claim.bytesPerPixel = image.depth() > 8 ? 12 : 4;
        return true;
    } catch (const Magick::Exception&) {
        return false;
    }
}

bool startsWith(const std::array<unsigned char, 12>& start, const char* text, std::size_t at = 0)
{
    return std::equal(text, text + std::char_traits<char>::length(text), start.begin() + static_cast<std::ptrdiff_t>(at),
                      [](char expected, unsigned char byte) { return static_cast<unsigned char>(expected) == byte; });
}

}  // namespace

bool probeImageHeader(const std::string& path, HeaderClaim& claim)
{
    std::ifstream file(path, std::ios::binary);
    std::array<unsigned char, 12> start{};
    if (!file.read(reinterpret_cast<char*>(start.data()), 4))
        return false;
    file.read(reinterpret_cast<char*>(start.data()) + 4, start.size() - 4);
    file.clear();
    if (start[0] == 0xFF && start[1] == 0xD8)
        return probeJpeg(path, claim);
    if (startsWith(start, "\x89PNG"))
        return probePng(path, file, claim);
    if (startsWith(start, "II") || startsWith(start, "MM"))
        return probeTiff(path, claim);
    if (start[0] == 'P' && ((start[1] >= '1' && start[1] <= '6') || start[1] == 'F' || start[1] == 'f'))
        return probeNetpbm(file, claim);
    if (startsWith(start, "GIF8"))
        return probeGif(path, claim);
    if (imageFileExtension(path) == "tga")
        return probeTarga(file, claim);
    // A RIFF file says how long it is; what follows is no WebP data.
    if (startsWith(start, "RIFF") && startsWith(start, "WEBP", 8)) {
        claim.codedBytes = double(start[4] | start[5] << 8 | start[6] << 16 | std::uint32_t(start[7]) << 24) + 8;
        return probeWithFreeImage(path, claim);
    }
    return probeWithFreeImage(path, claim) || probeWithMagick(path, claim);
}
