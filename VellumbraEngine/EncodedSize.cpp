#include "EncodedSize.h"

#include <algorithm>
#include <cstdint>
#include <sstream>

namespace {

using Bytes = std::vector<unsigned char>;

// "PF" (colour) or "Pf" (grey), then "width height" and the scale, each line ending
// in a newline, then 32-bit floats.
bool floatMapIsWhole(const Bytes& bytes)
{
    auto end = bytes.begin();
    for (int line = 0; line < 3; ++line) {
        end = std::find(end, bytes.end(), '\n');
        if (end == bytes.end())
            return false;
        ++end;
    }
    std::istringstream header(std::string(bytes.begin(), end));
    std::string magic;
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    if (!(header >> magic >> width >> height) || (magic != "PF" && magic != "Pf"))
        return false;
    const std::uint64_t channels = magic == "PF" ? 3 : 1;
    return static_cast<std::uint64_t>(bytes.end() - end) == width * height * channels * sizeof(float);
}

std::uint64_t bigEndianWord(const Bytes& bytes, size_t offset)
{
    return std::uint64_t(bytes[offset]) << 24 | std::uint64_t(bytes[offset + 1]) << 16 |
           std::uint64_t(bytes[offset + 2]) << 8 | bytes[offset + 3];
}

// A 32-byte header of big-endian words: magic, width, height, bits per pixel, image
// length (0 in old files), type, colour map type and colour map length; rows are
// padded to 16 bits.
bool sunRasterIsWhole(const Bytes& bytes)
{
    constexpr size_t headerSize = 32;
    constexpr std::uint64_t magic = 0x59a66a95;
    if (bytes.size() < headerSize || bigEndianWord(bytes, 0) != magic)
        return false;
    const std::uint64_t rowBytes = (bigEndianWord(bytes, 4) * bigEndianWord(bytes, 12) + 15) / 16 * 2;
    const std::uint64_t stated = bigEndianWord(bytes, 16);
    const std::uint64_t pixels = stated != 0 ? stated : rowBytes * bigEndianWord(bytes, 8);
    return bytes.size() == headerSize + bigEndianWord(bytes, 28) + pixels;
}

}  // namespace

bool encodedBytesAreWhole(const std::string& extension, const Bytes& bytes)
{
    if (extension == "pfm")
        return floatMapIsWhole(bytes);
    if (extension == "ras" || extension == "sr")
        return sunRasterIsWhole(bytes);
    return true;
}
