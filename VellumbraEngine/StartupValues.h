#pragma once
#include <string>

// Process-wide values present from start-up; the main window fills them in.
extern std::string applicationDirectory;     // set by setApplicationDirectory

// Export setting defaults of the "GeneralSettings" group.
int defaultJpgQuality();
int defaultPngCompression();

// The JPEG quality (1 to 100) and PNG compression level (0 to 9) the image writer
// uses; start-up and the settings dialog hand over the stored values. Values outside
// the range are brought to its nearest end.
void setJpgQuality(int quality);
void setPngCompression(int compression);
int jpgQuality();
int pngCompression();
