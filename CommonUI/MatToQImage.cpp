#include "MatToQImage.h"

#include "Log.h"

#include <QImage>

#include <opencv2/imgproc.hpp>

#include <memory>
#include <vector>

namespace {

// Truncation toward zero written as rounding after a -0.5 offset, so that one
// saturating convertTo does it. For 16 bits, v * 255/65535 truncated is v / 257
// and the small margin keeps every value an exact level; for floats the result
// can only differ within 1e-4 of a level boundary.
constexpr double kSixteenBitScale = 1.0 / 257.0;
constexpr double kSixteenBitOffset = -0.5 + 0.5 / 257.0;
constexpr double kFloatScale = 255.0;
constexpr double kFloatOffset = -0.5 + 1e-4;
constexpr double kFloatCap = 2.0;

// The same bytes seen with the channel type the conversion reads them as.
cv::Mat reinterpretAs(const cv::Mat& image, int depth)
{
    return cv::Mat(image.rows, image.cols, CV_MAKETYPE(depth, image.channels()), image.data, image.step);
}

// 8-bit copy of the image with its own channel count; empty for 64-bit channels.
cv::Mat toBytes(const cv::Mat& image)
{
    cv::Mat bytes;
    switch (image.elemSize1()) {
    case 1:
        return reinterpretAs(image, CV_8U);
    case 2:
        reinterpretAs(image, CV_16U).convertTo(bytes, CV_8U, kSixteenBitScale, kSixteenBitOffset);
        return bytes;
    case 4: {
        // convertTo wraps values far above full scale to 0; NaN passes the cut and ends as 0.
        cv::Mat capped;
        cv::threshold(reinterpretAs(image, CV_32F), capped, kFloatCap, kFloatCap, cv::THRESH_TRUNC);
        capped.convertTo(bytes, CV_8U, kFloatScale, kFloatOffset);
        return bytes;
    }
    default:
        return bytes;
    }
}

}  // namespace

QImage* matToQImage(cv::Mat image)
{
    const int channels = image.channels();
    if (image.empty() || image.dims != 2 || channels == 2)
        return nullptr;
    const cv::Mat bytes = toBytes(image);
    if (bytes.empty())
        return nullptr;

    auto display = std::make_unique<QImage>(bytes.cols, bytes.rows, QImage::Format_RGB32);
    if (display->isNull()) {
        logError("matToQImage", "Cannot allocate a display image of " + std::to_string(bytes.cols) + " x " +
                                    std::to_string(bytes.rows));
        return nullptr;
    }
    // Written in place (the buffer already has the size and type), alpha at 255.
    cv::Mat target(bytes.rows, bytes.cols, CV_8UC4, display->bits(), display->bytesPerLine());
    if (channels == 1) {
        cv::cvtColor(bytes, target, cv::COLOR_GRAY2BGRA);
    } else if (channels == 3) {
        cv::cvtColor(bytes, target, cv::COLOR_BGR2BGRA);
    } else {
        display->fill(0xFFFFFFFFu);
        const std::vector<int> firstThree = {0, 0, 1, 1, 2, 2};
        cv::mixChannels(std::vector<cv::Mat>{bytes}, std::vector<cv::Mat>{target}, firstThree);
    }
    return display.release();
}
