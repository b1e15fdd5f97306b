#include "PixelOps.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace {

// One row of the depth table: element type, full scale.
template <typename T> struct DepthTraits;
template <> struct DepthTraits<uchar> {
    static constexpr int cvDepth = CV_8U;
    static constexpr double fullScale = 255.0;
};
template <> struct DepthTraits<ushort> {
    static constexpr int cvDepth = CV_16U;
    static constexpr double fullScale = 65535.0;
};
template <> struct DepthTraits<float> {
    static constexpr int cvDepth = CV_32F;
    static constexpr double fullScale = 1.0;
};

// Scaled element, clamped to [0, top]; NaN becomes 0. Integer targets truncate.
template <typename Dst>
inline Dst scaledElement(double value, double top)
{
    if (!(value > 0.0))
        return Dst(0);
    return static_cast<Dst>(std::min(value, top));
}

template <typename Src, typename Dst>
cv::Mat convertElements(const cv::Mat& source, double factor)
{
    if (source.empty())
        return cv::Mat();
    cv::Mat result = cv::Mat::zeros(source.size(), CV_MAKETYPE(DepthTraits<Dst>::cvDepth, source.channels()));
    const int elementsPerRow = source.cols * source.channels();
    const double top = DepthTraits<Dst>::fullScale;
    cv::parallel_for_(cv::Range(0, source.rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            const Src* in = source.ptr<Src>(y);
            Dst* out = result.ptr<Dst>(y);
            for (int i = 0; i < elementsPerRow; ++i)
                out[i] = scaledElement<Dst>(static_cast<double>(in[i]) * factor, top);
        }
    });
    return result;
}

template <typename T>
cv::Mat histogramImage(const cv::Mat& image, int channel, double binScale)
{
    cv::Mat picture = cv::Mat::zeros(100, 256, CV_8UC3);
    if (image.empty())
        return picture;
    const int channels = image.channels();
    const int c = std::min(channel - 1, channels - 1);

    std::array<int64_t, 256> counts{};
    for (int y = 0; y < image.rows; ++y) {
        const T* row = image.ptr<T>(y);
        for (int x = 0; x < image.cols; ++x) {
            const T* px = row + static_cast<std::ptrdiff_t>(x) * channels;
            double value;
            if (c >= 0) {
                value = px[c];
            } else {
                double sum = 0.0;
                for (int k = 0; k < channels; ++k)
                    sum += px[k];
                value = sum / channels;
            }
            const double scaled = value * binScale;
            int bin = 0;
            if (scaled >= 255.0)
                bin = 255;
            else if (scaled > 0.0)
                bin = static_cast<int>(scaled);
            ++counts[bin];
        }
    }

    const int64_t k = c < 0 ? channels : 1;
    const int64_t limit = (k * image.rows * static_cast<int64_t>(image.cols)) / 200;
    const int64_t maxCount = *std::max_element(counts.begin(), counts.end());
    const int64_t scale = std::max<int64_t>(1, std::min(maxCount, limit));
    const cv::Vec3b colour = c < 0 ? cv::Vec3b(255, 255, 255)
                                   : cv::Vec3b(c == 0 ? 255 : 0, c == 1 ? 255 : 0, c == 2 ? 255 : 0);
    for (int bin = 0; bin < 256; ++bin) {
        const int height = static_cast<int>(std::min<int64_t>(100, counts[bin] * 99 / scale));
        for (int r = 0; r < height; ++r)
            picture.at<cv::Vec3b>(99 - r, bin) = colour;
    }
    return picture;
}

template <typename T>
void bicubicSample(const cv::Mat& source, float sx, float sy, T* pixelOut)
{
    const int channels = source.channels();
    const int x0 = static_cast<int>(std::floor(sx));
    const int y0 = static_cast<int>(std::floor(sy));
    if (x0 + 1 < 0 || x0 >= source.cols || y0 + 1 < 0 || y0 >= source.rows) {
        std::fill(pixelOut, pixelOut + channels, T(0));
        return;
    }
    float sums[4] = {0.f, 0.f, 0.f, 0.f};
    for (int y = y0 - 1; y <= y0 + 2; ++y) {
        if (y < 0 || y >= source.rows)
            continue;
        const float wy = catmullRomWeight(sy - y);
        const T* row = source.ptr<T>(y);
        for (int x = x0 - 1; x <= x0 + 2; ++x) {
            if (x < 0 || x >= source.cols)
                continue;
            const float w = catmullRomWeight(sx - x) * wy;
            const T* px = row + static_cast<std::ptrdiff_t>(x) * channels;
            for (int k = 0; k < channels && k < 4; ++k)
                sums[k] += static_cast<float>(px[k]) * w;
        }
    }
    const float top = static_cast<float>(DepthTraits<T>::fullScale);
    for (int k = 0; k < channels && k < 4; ++k)
        pixelOut[k] = static_cast<T>(std::clamp(sums[k], 0.f, top));
}

}  // namespace

RotationCanvas rotationCanvas(const cv::Size& source, double angle)
{
    const float cx = (source.width - 1) * 0.5f;
    const float cy = (source.height - 1) * 0.5f;
    const float c = static_cast<float>(std::cos(angle));
    const float s = static_cast<float>(std::sin(angle));

    float minX = 0.f, maxX = 0.f, minY = 0.f, maxY = 0.f;
    const float cornersX[4] = {0.f, float(source.width - 1), 0.f, float(source.width - 1)};
    const float cornersY[4] = {0.f, 0.f, float(source.height - 1), float(source.height - 1)};
    for (int i = 0; i < 4; ++i) {
        const float X = cornersX[i] - cx;
        const float Y = cy - cornersY[i];
        const float xr = c * X - s * Y + cx;
        const float yr = cy - (s * X + c * Y);
        if (i == 0 || xr < minX) minX = xr;
        if (i == 0 || xr > maxX) maxX = xr;
        if (i == 0 || yr < minY) minY = yr;
        if (i == 0 || yr > maxY) maxY = yr;
    }
    const int width = std::max(static_cast<int>(maxX - minX + 1.f), 1);
    const int height = std::max(static_cast<int>(maxY - minY + 1.f), 1);
    return {cv::Size(width, height),
            (width - 1) * 0.5f,
            (height - 1) * 0.5f,
            minX,
            minY,
            static_cast<float>(std::cos(-angle)),
            static_cast<float>(std::sin(-angle))};
}

namespace {

template <typename T>
void rotate(const cv::Mat& source, cv::Mat& output, double angle)
{
    if (source.empty()) {
        output = cv::Mat();
        return;
    }
    const RotationCanvas canvas = rotationCanvas(source.size(), angle);
    cv::Mat rotated(canvas.size, source.type());
    const float ocx = canvas.ocx;
    const float ocy = canvas.ocy;
    const float minX = canvas.minX;
    const float minY = canvas.minY;
    const float c2 = canvas.c2;
    const float s2 = canvas.s2;
    const int channels = source.channels();
    cv::parallel_for_(cv::Range(0, rotated.rows), [&](const cv::Range& rows) {
        for (int v = rows.start; v < rows.end; ++v) {
            T* out = rotated.ptr<T>(v);
            const float dy = ocy - v;
            for (int u = 0; u < rotated.cols; ++u) {
                const float dx = u - ocx;
                const float sx = c2 * dx - s2 * dy + ocx + minX;
                const float sy = ocy - (s2 * dx + c2 * dy) + minY;
                bicubicSample<T>(source, sx, sy, out + static_cast<std::ptrdiff_t>(u) * channels);
            }
        }
    });
    output = rotated;
}

void cropClipped(int x, int y, int width, int height, const cv::Mat& source, cv::Mat& output)
{
    const int x0 = std::max(x, 0);
    const int y0 = std::max(y, 0);
    const int w = x0 + width > source.cols ? source.cols - x0 : width;
    const int h = y0 + height > source.rows ? source.rows - y0 : height;
    if (w <= 0 || h <= 0) {
        output = cv::Mat();
        return;
    }
    output = source(cv::Rect(x0, y0, w, h)).clone();
}

}  // namespace

int depthInBits(const cv::Mat& image)
{
    return 8 * static_cast<int>(image.elemSize1());
}

cv::Mat convert8UTo16U(const cv::Mat& source) { return convertElements<uchar, ushort>(source, 257.0); }
cv::Mat convert8UTo32F(const cv::Mat& source) { return convertElements<uchar, float>(source, 1.0 / 255.0); }
cv::Mat convert8UTo8U(const cv::Mat& source) { return convertElements<uchar, uchar>(source, 1.0); }
cv::Mat convert16UTo32F(const cv::Mat& source) { return convertElements<ushort, float>(source, 1.0 / 65535.0); }
cv::Mat convert16UTo8U(const cv::Mat& source) { return convertElements<ushort, uchar>(source, 1.0 / 257.0); }
cv::Mat convert32FTo16U(const cv::Mat& source) { return convertElements<float, ushort>(source, 65535.0); }
cv::Mat convert32FTo8U(const cv::Mat& source) { return convertElements<float, uchar>(source, 255.0); }

cv::Mat convertBitDepth(const cv::Mat& source, int targetBits)
{
    const int bits = depthInBits(source);
    const int target = (targetBits == 16 || targetBits == 32) ? targetBits : 8;
    if (bits == target)
        return source.clone();
    switch (bits) {
    case 8:
        return target == 16 ? convert8UTo16U(source) : convert8UTo32F(source);
    case 16:
        return target == 32 ? convert16UTo32F(source) : convert16UTo8U(source);
    case 32:
        return target == 16 ? convert32FTo16U(source) : convert32FTo8U(source);
    default:
        return cv::Mat();
    }
}

cv::Mat asFloat(const cv::Mat& image)
{
    return image.depth() == CV_32F ? image : convertBitDepth(image, 32);
}

cv::Mat histogramImage8U(const cv::Mat& image, int channel) { return histogramImage<uchar>(image, channel, 1.0); }
cv::Mat histogramImage16U(const cv::Mat& image, int channel)
{
    return histogramImage<ushort>(image, channel, 0.0038910505836575876);
}
cv::Mat histogramImage32F(const cv::Mat& image, int channel) { return histogramImage<float>(image, channel, 255.0); }

cv::Mat computeHistogramImage(const cv::Mat& image, int channel)
{
    switch (depthInBits(image)) {
    case 8: return histogramImage8U(image, channel);
    case 16: return histogramImage16U(image, channel);
    case 32: return histogramImage32F(image, channel);
    default: return cv::Mat();
    }
}

float catmullRomWeight(float x)
{
    const float t = std::fabs(x);
    if (t < 1.f)
        return (9.f * t * t * t - 15.f * t * t + 6.f) / 6.f;
    if (t < 2.f)
        return (15.f * t * t - 3.f * t * t * t - 24.f * t + 12.f) / 6.f;
    return 0.f;
}

void bicubicSample8U(const cv::Mat& source, float sx, float sy, uchar* pixelOut) { bicubicSample(source, sx, sy, pixelOut); }
void bicubicSample16U(const cv::Mat& source, float sx, float sy, ushort* pixelOut) { bicubicSample(source, sx, sy, pixelOut); }
void bicubicSample32F(const cv::Mat& source, float sx, float sy, float* pixelOut) { bicubicSample(source, sx, sy, pixelOut); }

void rotateImage8U(const cv::Mat& source, cv::Mat& output, double angle) { rotate<uchar>(source, output, angle); }
void rotateImage16U(const cv::Mat& source, cv::Mat& output, double angle) { rotate<ushort>(source, output, angle); }
void rotateImage32F(const cv::Mat& source, cv::Mat& output, double angle) { rotate<float>(source, output, angle); }

void rotateImage(const cv::Mat& source, cv::Mat& output, double angle)
{
    switch (source.depth()) {
    case CV_8U: rotateImage8U(source, output, angle); break;
    case CV_16U: rotateImage16U(source, output, angle); break;
    case CV_32F: rotateImage32F(source, output, angle); break;
    default: break;
    }
}

void cropImage8U(int x, int y, int width, int height, const cv::Mat& source, cv::Mat& output)
{
    cropClipped(x, y, width, height, source, output);
}
void cropImage16U(int x, int y, int width, int height, const cv::Mat& source, cv::Mat& output)
{
    cropClipped(x, y, width, height, source, output);
}
void cropImage32F(int x, int y, int width, int height, const cv::Mat& source, cv::Mat& output)
{
    cropClipped(x, y, width, height, source, output);
}

void cropImage(int x, int y, int width, int height, const cv::Mat& source, cv::Mat& output)
{
    switch (source.depth()) {
    case CV_8U: cropImage8U(x, y, width, height, source, output); break;
    case CV_16U: cropImage16U(x, y, width, height, source, output); break;
    case CV_32F: cropImage32F(x, y, width, height, source, output); break;
    default: break;
    }
}

float laplacianVariance(const cv::Mat& image)
{
    if (image.empty())
        return 0.f;
    // OpenCV has no float-to-double Laplacian: widen float samples first.
    cv::Mat source = image;
    if (image.depth() == CV_32F)
        image.convertTo(source, CV_64F);
    cv::Mat laplacian;
    cv::Laplacian(source, laplacian, CV_64F, 1, 1, 0, cv::BORDER_DEFAULT);
    cv::Scalar mean, stddev;
    cv::meanStdDev(laplacian, mean, stddev);
    return static_cast<float>(stddev[0] * stddev[0]);
}
