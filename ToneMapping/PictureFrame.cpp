#include "PictureFrame.h"

#include "Log.h"
#include "PixelOps.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

PictureFrame::PictureFrame(cv::Size sourceSize, float rotation, cv::Rect crop)
    : source_(sourceSize), rotation_(rotation), canvas_(sourceSize), canvasToSource_(1, 0, 0, 0, 1, 0), crop_(crop)
{
    if (rotation != 0.f) {
        // The canvas and its map as rotateImage lays them out.
        const RotationCanvas rotated = rotationCanvas(sourceSize, rotation);
        canvas_ = rotated.size;
        const double ocx = rotated.ocx, ocy = rotated.ocy, c2 = rotated.c2, s2 = rotated.s2;
        canvasToSource_ = cv::Matx23d(c2, s2, -c2 * ocx - s2 * ocy + ocx + rotated.minX,  //
                                      -s2, c2, s2 * ocx - c2 * ocy + ocy + rotated.minY);
    }
    const cv::Rect clipped = crop & cv::Rect(cv::Point(), canvas_);
    cropValid_ = crop.x >= 0 && crop.y >= 0 && crop.width >= 1 && crop.height >= 1;
    if (cropValid_ && clipped.area() == 0) {
        logError("PictureFrame", "crop rectangle lies outside the image; crop ignored");
        cropValid_ = false;
    }
    crop_ = clipped;
}

cv::Mat PictureFrame::rotated(const cv::Mat& image) const
{
    return draw(image, scaledRegion(cv::Rect2d(0, 0, canvas_.width, canvas_.height), image.size()));
}

cv::Mat PictureFrame::cropped(const cv::Mat& image) const
{
    if (!cropValid_)
        return rotated(image);
    return draw(image, scaledRegion(cv::Rect2d(crop_), image.size()));
}

cv::Mat PictureFrame::croppedReduced(const cv::Mat& source, const cv::Size& scaledSize) const
{
    const cv::Mat full = cropped(source);
    const cv::Rect2d inCanvas = cropValid_ ? cv::Rect2d(crop_) : cv::Rect2d(0, 0, canvas_.width, canvas_.height);
    const cv::Size size = scaledRegion(inCanvas, scaledSize).size;
    if (size == full.size())
        return full;
    cv::Mat reduced;
    cv::resize(full, reduced, size, 0.0, 0.0, cv::INTER_AREA);
    return reduced;
}

PictureFrame::Shown PictureFrame::shownPixels(const cv::Rect2d& within) const
{
    const cv::Rect2d shown = cropValid_ ? cv::Rect2d(crop_) : cv::Rect2d(0, 0, canvas_.width, canvas_.height);
    const cv::Rect2d inCanvas(shown.x + within.x * shown.width, shown.y + within.y * shown.height,
                              within.width * shown.width, within.height * shown.height);
    if (rotation_ == 0.f) {
        // Whole pixels of the source itself.
        const cv::Point from(int(std::ceil(inCanvas.x - 1e-9)), int(std::ceil(inCanvas.y - 1e-9)));
        const cv::Point to(int(std::floor(inCanvas.br().x + 1e-9)), int(std::floor(inCanvas.br().y + 1e-9)));
        return {cv::Rect(from, to) & cv::Rect(cv::Point(), source_), cv::Mat()};
    }
    // The shown area's corners in the source, at a sixteenth of a pixel.
    constexpr int kShift = 4;
    std::vector<cv::Point> corners;
    for (const cv::Point2d& corner : {inCanvas.tl(), cv::Point2d(inCanvas.br().x, inCanvas.y), inCanvas.br(),
                                      cv::Point2d(inCanvas.x, inCanvas.br().y)}) {
        const cv::Vec2d inSource = canvasToSource_ * cv::Vec3d(corner.x - 0.5, corner.y - 0.5, 1.0);
        corners.emplace_back(int(std::lround(inSource[0] * (1 << kShift))), int(std::lround(inSource[1] * (1 << kShift))));
    }
    cv::Mat mask(source_, CV_8U, cv::Scalar(0));
    cv::fillConvexPoly(mask, corners, cv::Scalar(255), cv::LINE_8, kShift);
    const cv::Rect box = cv::boundingRect(mask);
    return {box, box.empty() ? cv::Mat() : cv::Mat(mask(box))};
}

PictureFrame::Region PictureFrame::scaledRegion(const cv::Rect2d& inCanvas, const cv::Size& imageSize) const
{
    const double kx = double(imageSize.width) / std::max(1, source_.width);
    const double ky = double(imageSize.height) / std::max(1, source_.height);
    return {inCanvas, cv::Size(std::max(1, int(std::lround(inCanvas.width * kx))),
                               std::max(1, int(std::lround(inCanvas.height * ky))))};
}

cv::Mat PictureFrame::draw(const cv::Mat& image, const Region& region) const
{
    if (image.empty())
        return image;
    const double kx = double(image.cols) / std::max(1, source_.width);
    const double ky = double(image.rows) / std::max(1, source_.height);
    // Output pixel centre -> full-size canvas -> full-size source -> image.
    const double au = region.inCanvas.width / region.size.width;
    const double av = region.inCanvas.height / region.size.height;
    const double bu = region.inCanvas.x + 0.5 * au - 0.5;
    const double bv = region.inCanvas.y + 0.5 * av - 0.5;
    const cv::Matx23d& a = canvasToSource_;
    const cv::Matx23d toImage(kx * a(0, 0) * au, kx * a(0, 1) * av,
                              kx * (a(0, 0) * bu + a(0, 1) * bv + a(0, 2)) + 0.5 * kx - 0.5,  //
                              ky * a(1, 0) * au, ky * a(1, 1) * av,
                              ky * (a(1, 0) * bu + a(1, 1) * bv + a(1, 2)) + 0.5 * ky - 0.5);
    // A whole-pixel part of the image itself (the export's crop) needs no sampling.
    const bool wholePixels = toImage(0, 0) == 1.0 && toImage(1, 1) == 1.0 && toImage(0, 1) == 0.0 &&
                             toImage(1, 0) == 0.0 && toImage(0, 2) == std::floor(toImage(0, 2)) &&
                             toImage(1, 2) == std::floor(toImage(1, 2));
    const cv::Rect whole(cv::Point(int(toImage(0, 2)), int(toImage(1, 2))), region.size);
    if (wholePixels && (whole & cv::Rect(cv::Point(), image.size())) == whole)
        return whole.size() == image.size() ? image : image(whole).clone();
    auto warped = [&](const cv::Mat& from, int interpolation) {
        cv::Mat to;
        cv::warpAffine(from, to, cv::Mat(toImage), region.size, interpolation | cv::WARP_INVERSE_MAP,
                       cv::BORDER_CONSTANT, cv::Scalar::all(0));
        return to;
    };
    cv::Mat drawn = warped(image, cv::INTER_CUBIC);
    // The cubic kernel's lobes overshoot beside a hard edge: kept within the pixels
    // around each sample, the picture gains no darker or brighter tone than it has,
    // which the operators' stretches would take up at one size and not at another.
    const cv::Mat around = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(5, 5));
    cv::Mat low, high;
    cv::erode(image, low, around, cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
    cv::dilate(image, high, around, cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
    cv::max(drawn, warped(low, cv::INTER_LINEAR), drawn);
    cv::min(drawn, warped(high, cv::INTER_LINEAR), drawn);
    cv::max(drawn, cv::Scalar::all(0.0), drawn);
    return drawn;
}
