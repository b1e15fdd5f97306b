#pragma once
#include <opencv2/core.hpp>

// Sizes of preset previews. A tile's picture box keeps the picture's aspect within
// kMinTileAspect to kMaxTileAspect (width over height); a wider or taller picture is
// letterboxed in it, and is rendered with the pixels of the box's area rather than
// the box's height, so that a panorama neither widens its tile past the strip nor
// renders thousands of pixels wide.
constexpr double kMinTileAspect = 0.4;
constexpr double kMaxTileAspect = 2.5;

// The size previews of a picture of that aspect are rendered at, for tiles height
// pixels high.
cv::Size presetRenderSize(int height, double aspectRatio);
// The box a rendered preview is shown in.
cv::Size presetTileBox(const cv::Size& render);
