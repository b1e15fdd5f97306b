#pragma once
#include <opencv2/core.hpp>

#include <string>

// The one reading entry: out receives the image (8U, 16U or 32F; 1 or 3 channels)
// or an empty image. `preview` allows a reduced-size decode (camera raws).
cv::Mat& readImage(cv::Mat& out, const std::string& path, bool preview);

// True when one library reported the file written. With a source path, the
// source's metadata is copied into the written file.
bool writeImage(const std::string& path, cv::InputArray image, const std::string& sourcePath,
                const std::string& keyword);

// Converts to `bitsPerChannel` (16, 32, else 8) and writes with the keyword "Vellumbra".
bool saveImageWithDepth(const std::string& path, cv::InputArray image, int bitsPerChannel,
                        const std::string& sourcePath);
