#pragma once
#include <opencv2/core.hpp>

#include <vector>

// The black frame around a picture (letterbox bars, a canvas larger than the
// picture): the operators see the picture without it, so that the frame changes
// nothing inside, and their result is framed again. A resampled frame's edge
// covers the picture's outer line only partly; darker than the picture for no
// reason of its own, that line would count as its darkest tones, so it is left out
// too and drawn afterwards as the line inside it, dimmed as much as it was.
class BlackFrame {
public:
    // `image`: 32-bit float.
    explicit BlackFrame(const cv::Mat& image);

    // Where the picture is; the whole image when it is black.
    cv::Rect picture() const { return picture_; }
    // The picture's render, of the picture's size and the image's type, framed
    // again at the image's size.
    cv::Mat framed(const cv::Mat& rendered) const;

private:
    struct CutLine {
        cv::Rect line;
        cv::Rect inner;
        double cover;
    };
    void cutPartlyCoveredLines(const cv::Mat& image);

    cv::Size size_;
    cv::Rect picture_;
    std::vector<CutLine> cut_;
};
