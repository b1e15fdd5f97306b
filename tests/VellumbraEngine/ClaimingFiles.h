#pragma once
// Small files whose headers claim far more pixels than their picture data holds, one
// kind for each coding the reader meets, and the same files claiming their true size.
#include "FreeImageAdapter.h"
#include "ImageIOTestSupport.h"

#include <opencv2/imgcodecs.hpp>
#include <tiff.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace imageio_test {

using Bytes = std::vector<uchar>;

inline void putBigEndian(Bytes& bytes, size_t at, uint32_t value, int width)
{
    for (int i = 0; i < width; ++i)
        bytes[at + i] = static_cast<uchar>(value >> (8 * (width - 1 - i)));
}

inline uint32_t crc32Of(const uchar* data, size_t size)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

inline void putLittleEndian16(Bytes& bytes, size_t at, uint32_t value)
{
    bytes[at] = static_cast<uchar>(value);
    bytes[at + 1] = static_cast<uchar>(value >> 8);
}

inline Bytes freeImageBytes(const cv::Mat& picture, FREE_IMAGE_FORMAT format)
{
    FIBITMAP* bitmap = matToFreeImage(picture);
    FIMEMORY* memory = FreeImage_OpenMemory();
    FreeImage_SaveToMemory(format, bitmap, memory, 0);
    BYTE* data = nullptr;
    DWORD size = 0;
    FreeImage_AcquireMemory(memory, &data, &size);
    Bytes bytes(data, data + size);
    FreeImage_CloseMemory(memory);
    FreeImage_Unload(bitmap);
    return bytes;
}

// The text header's "16 16" or "-Y 16 +X 16" made to claim another size.
inline void replaceText(Bytes& bytes, const std::string& from, const std::string& to)
{
    std::string text(bytes.begin(), bytes.end());
    text.replace(text.find(from), from.size(), to);
    bytes.assign(text.begin(), text.end());
}

// A small picture whose header claims width x height pixels, of a kind named by its
// coding and extension; a small TGA or PPM holds every pixel it claims, the flat
// arithmetic JPEG is as large as it claims.
inline Bytes claimingHeader(const std::string& kind, uint32_t width, uint32_t height)
{
    const std::string extension = kind.substr(kind.rfind(' ') + 1);
    const std::string w = std::to_string(width);
    const std::string h = std::to_string(height);
    Bytes bytes;
    const cv::Mat picture = gradientImage(16, 16, CV_8UC1);
    if (extension == "tga" || extension == "ppm") {
        const std::string comment = kind == "commented ppm" ? "# " + std::string(70000, '~') + "\n" : "";
        const std::string header = "P5\n" + comment + w + " " + h + "\n255\n";
        bytes.assign(header.begin(), header.end());
        if (extension == "tga")
            bytes = {0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, uchar(width), uchar(width >> 8), uchar(height),
                     uchar(height >> 8), 8, 0};
        bytes.resize(bytes.size() + std::min<size_t>(size_t(width) * height, 1 << 16), 128);
        return bytes;
    }
    if (kind == "flat arithmetic jpg") {
        cv::imencode(".jpg", cv::Mat(int(height), int(width), CV_8UC3, cv::Scalar(90, 140, 200)), bytes);
        return arithmeticCodedJpeg(bytes);
    }
    if (extension == "gif") {  // the logical screen and the frame
        bytes = freeImageBytes(picture, FIF_GIF);
        putLittleEndian16(bytes, 6, width);
        putLittleEndian16(bytes, 8, height);
        const size_t frame = std::find(bytes.begin() + 13, bytes.end(), 0x2C) - bytes.begin();
        putLittleEndian16(bytes, frame + 5, width);
        putLittleEndian16(bytes, frame + 7, height);
        return bytes;
    }
    const cv::Mat colour = gradientImage(16, 16, CV_8UC3);
    if (extension == "hdr" || extension == "pfm") {
        cv::imencode("." + extension, gradientImage(16, 16, CV_32FC3), bytes);
        replaceText(bytes, extension == "hdr" ? "-Y 16 +X 16" : "16 16", extension == "hdr" ? "-Y " + h + " +X " + w : w + " " + h);
        return bytes;
    }
    if (extension == "webp") {  // a lossy frame's 14-bit sizes
        cv::imencode(".webp", colour, bytes, {cv::IMWRITE_WEBP_QUALITY, 90});
        putLittleEndian16(bytes, 26, width);
        putLittleEndian16(bytes, 28, height);
        return bytes;
    }
    if (kind == "arithmetic jpg") {  // noise, so that the coded data is not flat
        cv::Mat noise(256, 256, CV_8UC3);
        cv::randu(noise, 0, 256);
        cv::imencode(".jpg", noise, bytes);
        bytes = arithmeticCodedJpeg(bytes);
    } else {
        cv::imencode("." + extension, picture, bytes,
                     {cv::IMWRITE_TIFF_COMPRESSION, kind == "lzma tif" ? COMPRESSION_LZMA : kind == "zstd tif" ? COMPRESSION_ZSTD : COMPRESSION_NONE});
    }
    if (extension == "jpg") {  // the start of frame, Huffman or arithmetic
        const uchar huffman[] = {0xFF, 0xC0};
        const uchar arithmetic[] = {0xFF, 0xC9};
        const bool coded = kind == "arithmetic jpg";
        const size_t at = std::search(bytes.begin(), bytes.end(), coded ? std::begin(arithmetic) : std::begin(huffman),
                                      coded ? std::end(arithmetic) : std::end(huffman)) - bytes.begin();
        putBigEndian(bytes, at + 5, height, 2);
        putBigEndian(bytes, at + 7, width, 2);
    } else if (extension == "png") {
        putBigEndian(bytes, 16, width, 4);
        putBigEndian(bytes, 20, height, 4);
        putBigEndian(bytes, 29, crc32Of(&bytes[12], 17), 4);
    } else {  // a little-endian TIFF: the width and length entries of its first directory
        uint32_t directory = 0;
        std::memcpy(&directory, &bytes[4], 4);
        uint16_t entries = 0;
        std::memcpy(&entries, &bytes[directory], 2);
        for (uint16_t i = 0; i < entries; ++i) {
            uchar* entry = &bytes[directory + 2 + 12 * i];
            const uint16_t tag = static_cast<uint16_t>(entry[0] | entry[1] << 8);
            if (tag == 256 || tag == 257) {
                const uint32_t value = tag == 256 ? width : height;
                std::memcpy(entry + 8, &value, 4);  // a SHORT takes the low half, which holds it too
            }
        }
    }
    return bytes;
}

}  // namespace imageio_test
