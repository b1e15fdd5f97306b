#pragma once
#include <FreeImage.h>
#include <opencv2/core.hpp>

#include <string>

// Conversions between cv::Mat (BGR order, top row first) and FreeImage bitmaps.
// FreeImage.h and libraw.h both define INT64: this header never meets libraw.h.

// The load flags for a format: JPEG rotates upright from its EXIF tag, TARGA loads
// RGB888; preview adds fast JPEG decoding and half-size embedded previews of raws.
int freeImageLoadFlags(FREE_IMAGE_FORMAT format, bool preview);

// FIF_UNKNOWN is resolved from the content, then from the name. Null when the format
// stays unknown, cannot be read, or the load fails.
FIBITMAP* freeImageLoad(const std::string& path, int flags, FREE_IMAGE_FORMAT format);

// Channels of the bitmap's pixels, -1 for an unknown type.
int freeImageChannelCount(FIBITMAP* bitmap);
FREE_IMAGE_TYPE cvTypeToFreeImageType(int cvType);

// Empty for a null bitmap or an unsupported type or depth.
cv::Mat freeImageToMat(FIBITMAP* bitmap);
// A new bitmap the caller unloads; null for a type FreeImage cannot hold.
FIBITMAP* matToFreeImage(const cv::Mat& image);

// The EXIF/TIFF orientation (1 to 8) stored in a still photo, read from its header
// alone; 1 when the file has none or FreeImage cannot read its header.
int freeImageStoredOrientation(const std::string& path, FREE_IMAGE_FORMAT format);

// The width and height the file's header claims, read without its pixels; false when
// FreeImage cannot read the header alone.
bool freeImageHeaderSize(const std::string& path, FREE_IMAGE_FORMAT format, unsigned& width, unsigned& height);
