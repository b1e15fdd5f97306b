#include "EngineDefaults.h"

#include <mutex>

EngineDefaults engineDefaults;

namespace {

std::mutex sizesLock;
cv::Size sharedPreviewBox(108, 192);
cv::Size sharedThumbnailSize(108, 192);

}  // namespace

cv::Size previewBox()
{
    std::lock_guard<std::mutex> lock(sizesLock);
    return sharedPreviewBox;
}

void setPreviewBox(const cv::Size& box)
{
    std::lock_guard<std::mutex> lock(sizesLock);
    sharedPreviewBox = box;
}

void adoptPreviewBoxIfUnset(const cv::Size& size)
{
    std::lock_guard<std::mutex> lock(sizesLock);
    if (sharedPreviewBox.width == 0 && sharedPreviewBox.height == 0)
        sharedPreviewBox = size;
}

cv::Size thumbnailSize()
{
    std::lock_guard<std::mutex> lock(sizesLock);
    return sharedThumbnailSize;
}

void setThumbnailSize(const cv::Size& size)
{
    std::lock_guard<std::mutex> lock(sizesLock);
    sharedThumbnailSize = size;
}
