#pragma once
#include <opencv2/core.hpp>

#include <vector>

// The black frame around a picture (letterbox bars, a canvas larger than the
// picture): the operators see the picture without it, so that the frame changes
// nothing inside, and their result is framed again. Bars of a flat near-black
// (decoded video's black at 16 of 255, with its noise) touching the image's edge are
// a frame too. A frame is bars on opposite edges or on all four, flat but for a
// subtitle and a codec's ringing beside the picture, each meeting the picture at a
// step in a straight line: a dark area on one edge only, or a gradient, is the
// picture's.
// A resampled frame's edge covers the picture's outer line only partly; darker
// than the picture for no reason of its own, that line would count as its darkest
// tones, so it is left out too and drawn afterwards as the line inside it, dimmed
// toward the frame as much as it was.
class BlackFrame {
public:
    // `image`: 32-bit float; its pixels are held, not copied. mayBeLinear: its samples
    // may be in linear light (a light image, an HDR) rather than gamma-encoded (a
    // photo, a frame); a frame near black in linear light is then read so.
    explicit BlackFrame(const cv::Mat& image, bool mayBeLinear = false);

    // Where the picture is; the whole image when it is black.
    cv::Rect picture() const { return picture_; }
    // The picture's render, of the picture's size and the image's type, framed
    // again at the image's size by the image's own frame.
    cv::Mat framed(const cv::Mat& rendered) const;

private:
    struct CutLine {
        cv::Rect line;
        cv::Rect inner;
        double cover;
    };
    void cutPartlyCoveredLines();

    cv::Mat image_;
    // The frame's colour: the flat near-black of its bars; 0 without a frame.
    cv::Scalar frame_;
    cv::Rect picture_;
    std::vector<CutLine> cut_;
};
