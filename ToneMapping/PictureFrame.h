#pragma once
#include <opencv2/core.hpp>

// The geometry of the edited picture: the full-size source rotated onto the canvas
// just large enough to hold it (laid out as rotateImage lays it out), and the crop,
// in pixels of that canvas. An image holding the whole source at any scale (the
// export's source, the preview's reduced one, a thumbnail) is drawn into the same
// frame at its own scale, every pixel sampled straight from it at the place that
// pixel covers in the full-size frame: a reduced render is the full-size one
// reduced by pixel area, shifted by no fraction of a pixel.
class PictureFrame {
public:
    // A crop with a negative coordinate or an empty side is no crop.
    PictureFrame(cv::Size sourceSize, float rotation, cv::Rect crop);

    // Neither rotated nor cropped.
    bool isWhole() const { return rotation_ == 0.f && !cropValid_; }
    // The full-size canvas of the rotated source (fullWidth x fullHeight).
    cv::Size rotatedSize() const { return canvas_; }

    // `image` (the source at its own scale, 32-bit float) rotated onto the frame's
    // canvas at that scale; the image itself when there is no rotation.
    cv::Mat rotated(const cv::Mat& image) const;
    // The same, cropped: the crop rectangle at the image's scale.
    cv::Mat cropped(const cv::Mat& image) const;
    // The cropped picture of `source` (the source at any scale), reduced by pixel area
    // to the scale at which `scaledSize` holds the source: the picture drawn at the
    // image's scale and then reduced, where sampling a source reduced to the final
    // scale would blur or alias fine texture.
    cv::Mat croppedReduced(const cv::Mat& source, const cv::Size& scaledSize) const;
    // The full-size source's pixels the cropped picture shows, or the part `within` of
    // it (in fractions of its width and height): their bounding box in the source, and
    // a mask of them in the box (CV_8U, 255 where shown) when they do not fill it (a
    // rotation).
    struct Shown {
        cv::Rect box;
        cv::Mat mask;
    };
    Shown shownPixels(const cv::Rect2d& within = cv::Rect2d(0, 0, 1, 1)) const;

private:
    struct Region {
        cv::Rect2d inCanvas;  // full-size canvas pixels
        cv::Size size;        // at the image's scale
    };
    Region scaledRegion(const cv::Rect2d& inCanvas, const cv::Size& imageSize) const;
    cv::Mat draw(const cv::Mat& image, const Region& region) const;

    cv::Size source_;
    float rotation_;
    cv::Size canvas_;
    // Full-size canvas pixel to full-size source pixel.
    cv::Matx23d canvasToSource_;
    cv::Rect crop_;
    bool cropValid_;
};
