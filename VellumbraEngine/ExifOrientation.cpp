#include "ExifOrientation.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

constexpr int kUpright = 1;
constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kShortType = 3;

// Reads 16- and 32-bit values of a TIFF block in its byte order, 0 past its end.
class TiffBlock {
public:
    TiffBlock(const std::vector<unsigned char>& bytes, std::size_t start) : data(bytes), base(start) {}

    bool readByteOrder()
    {
        if (data.size() < base + 8)
            return false;
        bigEndian = data[base] == 'M';
        return (data[base] == 'I' || data[base] == 'M') && data[base] == data[base + 1] && u16(2) == 42;
    }
    std::uint16_t u16(std::size_t offset) const
    {
        if (base + offset + 2 > data.size())
            return 0;
        const unsigned char* p = &data[base + offset];
        return static_cast<std::uint16_t>(bigEndian ? (p[0] << 8) | p[1] : (p[1] << 8) | p[0]);
    }
    std::uint32_t u32(std::size_t offset) const
    {
        const std::uint32_t first = u16(offset);
        const std::uint32_t second = u16(offset + 2);
        return bigEndian ? (first << 16) | second : (second << 16) | first;
    }

private:
    const std::vector<unsigned char>& data;
    std::size_t base;
    bool bigEndian = false;
};

// The orientation entry of the first image directory of an "Exif\0\0" segment.
int orientationInExif(const std::vector<unsigned char>& segment)
{
    static const char signature[] = {'E', 'x', 'i', 'f', 0, 0};
    if (segment.size() < sizeof signature || std::memcmp(segment.data(), signature, sizeof signature) != 0)
        return 0;
    TiffBlock tiff(segment, sizeof signature);
    if (!tiff.readByteOrder())
        return 0;
    const std::uint32_t directory = tiff.u32(4);
    const int entries = tiff.u16(directory);
    for (int i = 0; i < entries; ++i) {
        const std::size_t entry = directory + 2 + 12 * static_cast<std::size_t>(i);
        if (tiff.u16(entry) == kOrientationTag && tiff.u16(entry + 2) == kShortType && tiff.u32(entry + 4) >= 1) {
            const int orientation = tiff.u16(entry + 8);
            return orientation >= 1 && orientation <= 8 ? orientation : 0;
        }
    }
    return 0;
}

}  // namespace

int jpegExifOrientation(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::array<unsigned char, 2> start{};
    if (!file.read(reinterpret_cast<char*>(start.data()), 2) || start[0] != 0xFF || start[1] != 0xD8)
        return kUpright;
    for (;;) {
        int marker = 0;
        // Markers may be preceded by any number of 0xFF fill bytes.
        do
            marker = file.get();
        while (marker == 0xFF);
        if (!file || marker == 0xDA || marker == 0xD9)
            return kUpright;  // the picture data begins (or the file ends): no EXIF block
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;  // markers without a length
        std::array<unsigned char, 2> length{};
        if (!file.read(reinterpret_cast<char*>(length.data()), 2))
            return kUpright;
        const int payload = ((length[0] << 8) | length[1]) - 2;
        if (payload < 0)
            return kUpright;
        if (marker == 0xE1) {
            std::vector<unsigned char> segment(static_cast<std::size_t>(payload));
            if (!file.read(reinterpret_cast<char*>(segment.data()), payload))
                return kUpright;
            const int orientation = orientationInExif(segment);
            if (orientation > 0)
                return orientation;
        } else if (!file.seekg(payload, std::ios::cur)) {
            return kUpright;
        }
        if (file.get() != 0xFF)
            return kUpright;
    }
}
