#pragma once
#include <string>

// Process-wide values present from start-up; the main window fills them in.
extern std::string applicationDirectory;     // set by setApplicationDirectory

// Export setting defaults of the "GeneralSettings" group.
int defaultJpgQuality();
int defaultPngCompression();
int dialogDefaultJpgQuality();
int dialogDefaultPngCompression();

// Kept by the settings store only; the image writer does not consult them.
void setJpgQuality(int quality);
void setPngCompression(int compression);
