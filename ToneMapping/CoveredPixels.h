#pragma once
#include <opencv2/core.hpp>

// The pixels a rotated picture covers only partly, along its slanted edges: darker
// than the picture for no reason of their own and drawn differently at every size,
// they must neither count among an operator's darkest tones nor feed its
// surrounds. The operators see them black, as the canvas around them, and they are
// drawn afterwards as the wholly covered pixels next to them, dimmed by their cover.
class CoveredPixels {
public:
    // coverage: 1-channel float, the share of each pixel the picture covers, as the
    // picture itself was drawn; empty when every pixel is whole.
    explicit CoveredPixels(const cv::Mat& coverage);

    // The image with every pixel not wholly covered black; the image itself when all are.
    cv::Mat picture(const cv::Mat& image) const;
    // The render of picture(), its partly covered pixels drawn back.
    cv::Mat drawnBack(const cv::Mat& rendered) const;

private:
    cv::Mat coverage_;
    cv::Mat whole_;
};
