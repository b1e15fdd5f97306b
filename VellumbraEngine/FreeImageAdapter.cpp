#include "FreeImageAdapter.h"

#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct BitmapDeleter {
    void operator()(FIBITMAP* bitmap) const { FreeImage_Unload(bitmap); }
};
using BitmapPointer = std::unique_ptr<FIBITMAP, BitmapDeleter>;

// FIT_BITMAP pixels are BGR in memory on a little-endian machine; every other
// type stores RGB.
bool storesBgr(FREE_IMAGE_TYPE type)
{
    return type == FIT_BITMAP && FreeImage_IsLittleEndian();
}

int freeImageElementDepth(FIBITMAP* bitmap, int channels)
{
    switch (FreeImage_GetImageType(bitmap)) {
    case FIT_BITMAP: {
        const unsigned bitsPerPixel = FreeImage_GetBPP(bitmap);
        const unsigned bitsPerChannel = channels > 0 ? bitsPerPixel / static_cast<unsigned>(channels) : 0;
        if (bitsPerChannel == 8)
            return CV_8U;
        if (bitsPerChannel == 16)
            return CV_16U;
        if (bitsPerChannel == 32)
            return CV_32F;
        std::printf("\n\nUnrecognized depth %u\n", bitsPerPixel);
        return -1;
    }
    case FIT_UINT16:
    case FIT_RGB16:
    case FIT_RGBA16: return CV_16U;
    case FIT_INT16: return CV_16S;
    case FIT_UINT32:
    case FIT_INT32: return CV_32S;
    case FIT_FLOAT:
    case FIT_RGBF:
    case FIT_RGBAF: return CV_32F;
    case FIT_DOUBLE:
    case FIT_COMPLEX: return CV_64F;
    default:
        std::printf("\n\nUnrecognized type\n");
        return -1;
    }
}

// Palette and sub-byte bitmaps would otherwise give palette indices as grey, and
// 16-bit RGB555/565 bitmaps no image at all.
BitmapPointer withDirectColour(FIBITMAP* bitmap)
{
    if (FreeImage_GetImageType(bitmap) != FIT_BITMAP)
        return nullptr;
    const FREE_IMAGE_COLOR_TYPE colourType = FreeImage_GetColorType(bitmap);
    if (colourType == FIC_PALETTE || FreeImage_GetBPP(bitmap) == 16)
        return BitmapPointer(FreeImage_ConvertTo24Bits(bitmap));
    if (FreeImage_GetBPP(bitmap) < 8 || colourType == FIC_MINISWHITE)
        return BitmapPointer(FreeImage_ConvertToGreyscale(bitmap));
    return nullptr;
}

}  // namespace

int freeImageLoadFlags(FREE_IMAGE_FORMAT format, bool preview)
{
    switch (format) {
    case FIF_JPEG: return preview ? (JPEG_FAST | JPEG_EXIFROTATE) : JPEG_EXIFROTATE;
    case FIF_TARGA: return TARGA_LOAD_RGB888;
    case FIF_RAW: return preview ? (RAW_PREVIEW | RAW_HALFSIZE) : 0;
    default: return 0;
    }
}

FIBITMAP* freeImageLoad(const std::string& path, int flags, FREE_IMAGE_FORMAT format)
{
    if (format == FIF_UNKNOWN) {
        format = FreeImage_GetFileType(path.c_str(), 0);
        if (format == FIF_UNKNOWN)
            format = FreeImage_GetFIFFromFilename(path.c_str());
        if (format == FIF_UNKNOWN)
            return nullptr;
    }
    if (!FreeImage_FIFSupportsReading(format))
        return nullptr;
    return FreeImage_Load(format, path.c_str(), flags);
}

int freeImageChannelCount(FIBITMAP* bitmap)
{
    switch (FreeImage_GetImageType(bitmap)) {
    case FIT_BITMAP:
        switch (FreeImage_GetColorType(bitmap)) {
        case FIC_RGB: return 3;
        case FIC_RGBALPHA:
        case FIC_CMYK: return 4;
        default: return 1;
        }
    case FIT_UINT16:
    case FIT_INT16:
    case FIT_UINT32:
    case FIT_INT32:
    case FIT_FLOAT:
    case FIT_DOUBLE: return 1;
    case FIT_COMPLEX: return 2;
    case FIT_RGB16:
    case FIT_RGBF: return 3;
    case FIT_RGBA16:
    case FIT_RGBAF: return 4;
    default: return -1;
    }
}

FREE_IMAGE_TYPE cvTypeToFreeImageType(int cvType)
{
    const int channels = CV_MAT_CN(cvType);
    switch (CV_MAT_DEPTH(cvType)) {
    case CV_8U:
    case CV_8S: return FIT_BITMAP;
    case CV_16U: return channels == 1 ? FIT_UINT16 : channels == 3 ? FIT_RGB16 : channels == 4 ? FIT_RGBA16 : FIT_UNKNOWN;
    case CV_16S: return FIT_INT16;
    case CV_32S: return FIT_INT32;
    case CV_32F: return channels == 1 ? FIT_FLOAT : channels == 3 ? FIT_RGBF : channels == 4 ? FIT_RGBAF : FIT_UNKNOWN;
    case CV_64F: return channels == 1 ? FIT_DOUBLE : channels == 2 ? FIT_COMPLEX : FIT_UNKNOWN;
    default: return FIT_UNKNOWN;
    }
}

cv::Mat freeImageToMat(FIBITMAP* bitmap)
{
    if (!bitmap)
        return cv::Mat();
    const BitmapPointer converted = withDirectColour(bitmap);
    if (converted)
        bitmap = converted.get();

    const int channels = freeImageChannelCount(bitmap);
    if (channels < 1)
        return cv::Mat();
    const int elementDepth = freeImageElementDepth(bitmap, channels);
    const int width = static_cast<int>(FreeImage_GetWidth(bitmap));
    const int height = static_cast<int>(FreeImage_GetHeight(bitmap));
    BYTE* bits = FreeImage_GetBits(bitmap);
    if (elementDepth < 0 || width <= 0 || height <= 0 || !bits)
        return cv::Mat();

    const cv::Mat view(height, width, CV_MAKETYPE(elementDepth, channels), bits, FreeImage_GetPitch(bitmap));
    cv::Mat ordered;
    if (storesBgr(FreeImage_GetImageType(bitmap)) || channels < 3)
        ordered = view;
    else
        cv::cvtColor(view, ordered, channels == 3 ? cv::COLOR_RGB2BGR : cv::COLOR_RGBA2BGRA);
    // FreeImage keeps its rows bottom-up.
    cv::Mat result;
    cv::flip(ordered, result, 0);
    return result;
}

FIBITMAP* matToFreeImage(const cv::Mat& image)
{
    const FREE_IMAGE_TYPE type = cvTypeToFreeImageType(image.type());
    if (type == FIT_UNKNOWN || image.empty())
        return nullptr;
    FIBITMAP* bitmap = FreeImage_AllocateT(type, image.cols, image.rows, static_cast<int>(8 * image.elemSize()));
    if (!bitmap)
        return nullptr;

    cv::Mat ordered;
    if (storesBgr(type) || image.channels() < 3)
        ordered = image;
    else
        cv::cvtColor(image, ordered, image.channels() == 3 ? cv::COLOR_BGR2RGB : cv::COLOR_BGRA2RGBA);
    const std::size_t rowBytes = static_cast<std::size_t>(ordered.cols) * ordered.elemSize();
    for (int i = 0; i < ordered.rows; ++i)
        std::memcpy(FreeImage_GetScanLine(bitmap, i), ordered.ptr(ordered.rows - 1 - i), rowBytes);
    return bitmap;
}

int freeImageStoredOrientation(const std::string& path, FREE_IMAGE_FORMAT format)
{
    if (format == FIF_UNKNOWN || !FreeImage_FIFSupportsNoPixels(format))
        return 1;
    const BitmapPointer header(FreeImage_Load(format, path.c_str(), FIF_LOAD_NOPIXELS));
    if (!header)
        return 1;
    FITAG* tag = nullptr;
    if (!FreeImage_GetMetadata(FIMD_EXIF_MAIN, header.get(), "Orientation", &tag) || !tag ||
        FreeImage_GetTagType(tag) != FIDT_SHORT || FreeImage_GetTagCount(tag) < 1)
        return 1;
    const int orientation = *static_cast<const unsigned short*>(FreeImage_GetTagValue(tag));
    return orientation >= 1 && orientation <= 8 ? orientation : 1;
}

bool freeImageHeaderSize(const std::string& path, FREE_IMAGE_FORMAT format, unsigned& width, unsigned& height)
{
    if (format == FIF_UNKNOWN || !FreeImage_FIFSupportsNoPixels(format))
        return false;
    const BitmapPointer header(FreeImage_Load(format, path.c_str(), FIF_LOAD_NOPIXELS));
    if (!header)
        return false;
    width = FreeImage_GetWidth(header.get());
    height = FreeImage_GetHeight(header.get());
    return true;
}
