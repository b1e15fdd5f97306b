#include "StartupValues.h"

#include <algorithm>
#include <atomic>

std::string applicationDirectory;

namespace {
constexpr int kJpgQuality = 99;
constexpr int kPngCompression = 3;

// Set on the interface thread, read by the writes of an export on theirs.
std::atomic<int> jpgQualityInForce{kJpgQuality};
std::atomic<int> pngCompressionInForce{kPngCompression};
}  // namespace

int defaultJpgQuality() { return kJpgQuality; }
int defaultPngCompression() { return kPngCompression; }

void setJpgQuality(int quality) { jpgQualityInForce = std::clamp(quality, 1, 100); }
void setPngCompression(int compression) { pngCompressionInForce = std::clamp(compression, 0, 9); }
int jpgQuality() { return jpgQualityInForce; }
int pngCompression() { return pngCompressionInForce; }
