#include "FftBlur.h"

#include "Threads.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

int decimationFactor(const cv::Mat& image)
{
    const int shorter = std::min(image.rows, image.cols);
    const int factor = shorter < 1024 ? 8 : shorter < 2056 ? 16 : 32;
    // A side shorter than the factor would leave no pixel at all.
    return std::max(1, std::min(factor, shorter));
}

cv::Mat blurKernel(int rows, int cols, int h, int w, int k)
{
    const int width = std::max(1, std::max(h, w) / k);
    cv::Mat kernel(rows, cols, CV_32F);
    for (int i = 0; i < rows; ++i) {
        const double di = i > h ? i - 2 * h : i;
        float* row = kernel.ptr<float>(i);
        for (int j = 0; j < cols; ++j) {
            const double dj = j > w ? j - 2 * w : j;
            const double d = std::sqrt(di * di + dj * dj) / width;
            row[j] = static_cast<float>(std::exp(-d * d));
        }
    }
    return kernel;
}

// The forward transform of a real plane, scaled by 1/N.
void forwardSpectrum(const cv::Mat& plane, cv::Mat& spectrum)
{
    cv::Mat parts[] = {plane, cv::Mat::zeros(plane.size(), CV_32F)};
    cv::Mat complex;
    cv::merge(parts, 2, complex);
    cv::dft(complex, spectrum, cv::DFT_SCALE);
}

}  // namespace

void fftBlur(const cv::Mat& plane, const cv::Mat& kernel, cv::Mat& out)
{
    const cv::Mat* inputs[2] = {&plane, &kernel};
    cv::Mat spectra[2];
    runOnWorkerThreads(2, [&](int i) { forwardSpectrum(*inputs[i], spectra[i]); });

    cv::Mat product;
    cv::mulSpectrums(spectra[0], spectra[1], product, 0);
    cv::Mat blurred;
    cv::dft(product, blurred, cv::DFT_INVERSE);
    cv::Mat parts[2];
    cv::split(blurred, parts);
    cv::magnitude(parts[0], parts[1], out);
}

cv::Mat adaptationBlur(const cv::Mat& image, int k, const cv::Mat& lit)
{
    if (image.empty())
        return cv::Mat();
    const int z = decimationFactor(image);
    const int h = image.rows / z;
    const int w = image.cols / z;

    // Each sample is the mean of its z x z block: a point sample would follow whatever
    // fine texture falls on it, and differ between a picture and its preview. Unlit
    // pixels (a black border) are left out of the mean: a fourth plane carries the
    // blocks' lit share, whose blur normalises the others'.
    const cv::Rect blocks(0, 0, w * z, h * z);
    const bool anyUnlit = !lit.empty() && cv::countNonZero(lit) > 0 && cv::countNonZero(lit(blocks)) < blocks.area();
    cv::Mat small;
    if (anyUnlit) {
        cv::Mat share;
        lit(blocks).convertTo(share, CV_32F, 1.0 / 255.0);
        std::vector<cv::Mat> planes;
        cv::split(image(blocks), planes);
        for (cv::Mat& plane : planes)
            plane = plane.mul(share);
        planes.push_back(share);
        cv::Mat masked;
        cv::merge(planes, masked);
        cv::resize(masked, small, cv::Size(w, h), 0, 0, cv::INTER_AREA);
    } else {
        cv::resize(image(blocks), small, cv::Size(w, h), 0, 0, cv::INTER_AREA);
    }
    const int planeCount = small.channels();

    cv::Mat padded;
    cv::copyMakeBorder(small, padded, h / 2, h - h / 2, w / 2, w - w / 2, cv::BORDER_REFLECT);
    const cv::Mat kernel = blurKernel(padded.rows, padded.cols, h, w, std::max(1, k));

    cv::Mat planes[4];
    cv::split(padded, planes);
    for (int i = 0; i < planeCount; ++i) {
        cv::Mat blurred;
        fftBlur(planes[i], kernel, blurred);
        planes[i] = blurred;
    }
    if (planeCount == 4)
        for (int i = 0; i < 3; ++i)
            cv::divide(planes[i], planes[3], planes[i]);
    cv::Mat merged;
    cv::merge(planes, 3, merged);

    cv::Mat result;
    cv::resize(merged(cv::Rect(w / 2, h / 2, w, h)), result, cv::Size(w * z, h * z), 0, 0, cv::INTER_LINEAR);
    return result;
}
