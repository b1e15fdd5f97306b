#include "FftBlur.h"

#include "RowBands.h"
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

namespace {

// The means of z x z blocks, h by w of them, one row of blocks at a time on the
// library's threads (its own reduction runs on one thread); rowsOf(sourceRows)
// gives the image rows that a row of blocks averages.
template <typename RowsOf>
cv::Mat blockMeans(int h, int w, int z, int type, const RowsOf& rowsOf)
{
    cv::Mat small(h, w, type);
    cv::parallel_for_(cv::Range(0, h), [&](const cv::Range& rows) {
        for (int r = rows.start; r < rows.end; ++r) {
            cv::Mat row = small.row(r);
            cv::resize(rowsOf(cv::Range(r * z, (r + 1) * z)), row, row.size(), 0, 0, cv::INTER_AREA);
        }
    });
    return small;
}

// The image reduced by z, each sample the mean of its z x z block. Unlit pixels (a
// black border) are left out of the mean: a fourth plane carries the blocks' lit
// share, whose blur later normalises the others'.
cv::Mat reduced(const cv::Mat& image, const cv::Mat& lit, int z)
{
    const int h = image.rows / z;
    const int w = image.cols / z;
    // A point sample would follow whatever fine texture falls on it, and differ
    // between a picture and its preview.
    const cv::Rect blocks(0, 0, w * z, h * z);
    const bool anyUnlit = !lit.empty() && cv::countNonZero(lit) > 0 && cv::countNonZero(lit(blocks)) < blocks.area();
    if (!anyUnlit)
        return blockMeans(h, w, z, CV_32FC3, [&](const cv::Range& rows) { return image(blocks).rowRange(rows); });
    return blockMeans(h, w, z, CV_32FC4, [&](const cv::Range& rows) {
        cv::Mat masked(rows.size(), blocks.width, CV_32FC4);
        for (int r = 0; r < masked.rows; ++r) {
            const cv::Vec3f* in = image.ptr<cv::Vec3f>(rows.start + r);
            const uchar* shown = lit.ptr<uchar>(rows.start + r);
            cv::Vec4f* out = masked.ptr<cv::Vec4f>(r);
            for (int c = 0; c < masked.cols; ++c) {
                const float share = shown[c] ? 1.0f : 0.0f;
                out[c] = cv::Vec4f(in[c][0] * share, in[c][1] * share, in[c][2] * share, share);
            }
        }
        return masked;
    });
}

// The reduced image blurred with the divisor k, h x w.
cv::Mat blurredReduction(const cv::Mat& small, int k)
{
    const int h = small.rows;
    const int w = small.cols;
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
    if (planeCount == 4) {
        // The lit mean carries the blur's own gain (the kernel's sum over the sample
        // count) as a picture without unlit pixels does: a single black pixel must not
        // change the white's level everywhere.
        const double gain = cv::sum(kernel)[0] / double(kernel.total());
        for (int i = 0; i < 3; ++i)
            cv::divide(planes[i], planes[3], planes[i], gain);
    }
    cv::Mat merged;
    cv::merge(planes, 3, merged);
    return merged(cv::Rect(w / 2, h / 2, w, h));
}

// The edges of `image` outside `inner` repeat the nearest pixel of inner.
void replicateAround(cv::Mat& image, const cv::Rect& inner)
{
    const int right = inner.x + inner.width;
    forEachRowBand(inner.height, [&](const cv::Range& rows) {
        for (int r = inner.y + rows.start; r < inner.y + rows.end; ++r) {
            cv::Vec3f* row = image.ptr<cv::Vec3f>(r);
            std::fill(row, row + inner.x, row[inner.x]);
            std::fill(row + right, row + image.cols, row[right - 1]);
        }
    });
    for (int r = 0; r < inner.y; ++r)
        image.row(inner.y).copyTo(image.row(r));
    for (int r = inner.y + inner.height; r < image.rows; ++r)
        image.row(inner.y + inner.height - 1).copyTo(image.row(r));
}

}  // namespace

cv::Mat adaptationBlur(const cv::Mat& image, int k, const cv::Mat& lit)
{
    if (image.empty())
        return cv::Mat();
    const int z = decimationFactor(image);
    const cv::Mat small = reduced(image, lit, z);
    cv::Mat result;
    cv::resize(blurredReduction(small, k), result, small.size() * z, 0, 0, cv::INTER_LINEAR);
    return result;
}

std::vector<cv::Mat> adaptationBlurs(const cv::Mat& image, const std::vector<int>& ks, const cv::Mat& lit)
{
    std::vector<cv::Mat> whites;
    if (image.empty())
        return std::vector<cv::Mat>(ks.size());
    const int z = decimationFactor(image);
    const cv::Mat small = reduced(image, lit, z);
    const cv::Size enlarged = small.size() * z;
    const int dr = image.rows - enlarged.height;
    const int dc = image.cols - enlarged.width;
    const cv::Rect inner(dc / 2, dr / 2, enlarged.width, enlarged.height);
    for (const int k : ks) {
        cv::Mat white(image.size(), CV_32FC3);
        cv::Mat window = white(inner);
        cv::resize(blurredReduction(small, k), window, enlarged, 0, 0, cv::INTER_LINEAR);
        replicateAround(white, inner);
        whites.push_back(white);
    }
    return whites;
}
