#include "PresetPreviewSize.h"

#include <algorithm>
#include <cmath>

namespace {

double boxAspect(double aspectRatio)
{
    return std::clamp(aspectRatio, kMinTileAspect, kMaxTileAspect);
}

}  // namespace

cv::Size presetRenderSize(int height, double aspectRatio)
{
    if (height < 1 || !(aspectRatio > 0.0) || !std::isfinite(aspectRatio))
        return cv::Size(std::max(height, 1), std::max(height, 1));
    const double box = boxAspect(aspectRatio);
    if (box == aspectRatio)
        return cv::Size(std::max(1, static_cast<int>(std::trunc(height * aspectRatio))), height);
    // The box's area spent on the picture's aspect; the long side is rounded up, so
    // that presetTileBox() finds the height again.
    const double area = static_cast<double>(height) * height * box;
    if (aspectRatio > box) {
        const int rows = std::max(1, static_cast<int>(std::lround(std::sqrt(area / aspectRatio))));
        return cv::Size(static_cast<int>(std::ceil(area / rows)), rows);
    }
    const int columns = std::max(1, static_cast<int>(std::lround(std::sqrt(area * aspectRatio))));
    return cv::Size(columns, static_cast<int>(std::ceil(area / columns)));
}

cv::Size presetTileBox(const cv::Size& render)
{
    if (render.width < 1 || render.height < 1)
        return render;
    const double aspectRatio = static_cast<double>(render.width) / render.height;
    const double box = boxAspect(aspectRatio);
    if (box == aspectRatio)
        return render;
    const int height = static_cast<int>(std::lround(std::sqrt(static_cast<double>(render.area()) / box)));
    return cv::Size(std::max(1, static_cast<int>(std::trunc(height * box))), height);
}
