#include "MagickAdapter.h"

namespace {

bool isGrey(const Magick::Image& image)
{
    const Magick::ImageType type = image.type();
    return type == Magick::BilevelType || type == Magick::GrayscaleType || type == Magick::GrayscaleMatteType;
}

}  // namespace

cv::Mat magickToMat(const Magick::Image& source)
{
    Magick::Image image(source);
    // Rows in file order (TGA) and camera rotations from EXIF both come upright.
    image.autoOrient();
    // Printing separations would be exported as their ink amounts, not as colours.
    if (image.colorSpace() == Magick::CMYKColorspace)
        image.colorSpace(Magick::sRGBColorspace);
    const bool colour = !isGrey(image);
    const int channels = colour ? 3 : 1;
    const std::string map = colour ? "BGR" : "B";
    const std::size_t depth = image.depth();

    int elementDepth;
    Magick::StorageType storage;
    if (depth >= 1 && depth <= 8) {
        elementDepth = CV_8U;
        storage = Magick::CharPixel;
    } else if (depth >= 10 && depth <= 16) {
        elementDepth = CV_16U;
        storage = Magick::ShortPixel;
    } else if (depth == 32) {
        elementDepth = CV_32F;
        storage = Magick::FloatPixel;
    } else if (depth == 64) {
        elementDepth = CV_64F;
        storage = Magick::DoublePixel;
    } else {
        return cv::Mat();
    }

    const int width = static_cast<int>(image.columns());
    const int height = static_cast<int>(image.rows());
    if (width <= 0 || height <= 0)
        return cv::Mat();
    cv::Mat result(height, width, CV_MAKETYPE(elementDepth, channels));
    image.write(0, 0, image.columns(), image.rows(), map, storage, result.data);
    return result;
}

Magick::Image matToMagick(const cv::Mat& image)
{
    Magick::StorageType storage;
    // Signed elements would be read back as unsigned or float bit patterns.
    switch (image.depth()) {
    case CV_8U: storage = Magick::CharPixel; break;
    case CV_16U: storage = Magick::ShortPixel; break;
    case CV_32F: storage = Magick::FloatPixel; break;
    case CV_64F: storage = Magick::DoublePixel; break;
    default: return Magick::Image();
    }
    // "B" alone would leave red and green at zero: grey goes in as intensity.
    static const char* const maps[] = {"I", "IA", "BGR", "BGRA"};
    const int channels = image.channels();
    if (channels < 1 || channels > 4)
        return Magick::Image();
    const cv::Mat continuous = image.isContinuous() ? image : image.clone();
    return Magick::Image(continuous.cols, continuous.rows, maps[channels - 1], storage, continuous.data);
}
