#pragma once
#include <opencv2/core.hpp>

#include <functional>
#include <string>

// The one reading entry: out receives the image (8U, 16U or 32F; 1 or 3 channels)
// or an empty image. `preview` allows a reduced-size decode (camera raws).
cv::Mat& readImage(cv::Mat& out, const std::string& path, bool preview);

// True when the file was written whole: a library encoded it and every byte
// reached the disk. Until then the target is left as it was. With a source path,
// the source's metadata is copied into the written file; metadataLost, when given,
// tells whether that copy was due and failed (the file is written all the same).
bool writeImage(const std::string& path, cv::InputArray image, const std::string& sourcePath,
                const std::string& keyword, bool* metadataLost = nullptr);

// Converts to `bitsPerChannel` (16, 32, else 8) and writes with the keyword "Vellumbra".
bool saveImageWithDepth(const std::string& path, cv::InputArray image, int bitsPerChannel,
                        const std::string& sourcePath, bool* metadataLost = nullptr);

// Initialises DevIL, FreeImage and Magick++ once per process; later calls do nothing.
// Always returns 0.
int initImageLibraries(const std::string& programPath);

// The camera-raw extensions, lower case.
constexpr int rawExtensionCount = 38;
extern const char* const rawExtensions[rawExtensionCount];
// Position of extension in table (rawExtensionCount entries), or -1.
int rawExtensionIndex(const char* const* table, const std::string& extension);

// The text after the last "." lower-cased; the whole path lower-cased when there is none.
std::string imageFileExtension(const std::string& path);

// Stores the program's directory (ending in "/") where the metadata tool is looked for first.
void setApplicationDirectory(const std::string& directory);

// Copies the source's tags into target with the external metadata tool and adds the
// keyword; false, logged, when the tool is missing or did not succeed.
bool copyMetadataWithExiftool(const std::string& sourcePath, const std::string& targetPath,
                              const std::string& keyword);

// Observes each library attempt ("magick-read", "raw-decode", "jpeg-read", "devil-read", "opencv-read",
// "freeimage-read", "magick-write", "freeimage-write", "opencv-write", "devil-write",
// "qt-pdf-write") and each external tool run ("exiftool" followed by its arguments, one
// per line). Tests use it; an empty function switches tracing off.
using ImageIOTrace = std::function<void(const std::string& event)>;
void setImageIOTrace(ImageIOTrace trace);
