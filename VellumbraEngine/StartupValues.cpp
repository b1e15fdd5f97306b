#include "StartupValues.h"

std::string applicationDirectory;

namespace {
constexpr int kJpgQuality = 99;
constexpr int kPngCompression = 3;
}  // namespace

int defaultJpgQuality() { return kJpgQuality; }
int defaultPngCompression() { return kPngCompression; }
int dialogDefaultJpgQuality() { return kJpgQuality; }
int dialogDefaultPngCompression() { return kPngCompression; }

void setJpgQuality(int) {}
void setPngCompression(int) {}
