#include "Pyramid.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>

namespace {

const cv::Mat pyramidTaps = (cv::Mat_<float>(1, 5) << 0.05f, 0.25f, 0.4f, 0.25f, 0.05f);

struct Window {
    int r0, r1, c0, c1;
};

Window readWindow(const cv::Mat& window, const cv::Mat& image)
{
    if (window.empty())
        return {0, image.rows - 1, 0, image.cols - 1};
    const short* w = window.ptr<short>();
    return {w[0], w[1], w[2], w[3]};
}

int ceilHalf(int v)
{
    return (v + 1) >> 1;
}

// Row bands in parallel: filtering a band of a larger image reads its real neighbours
// across the band's edges, so only the image's own border is zero.
cv::Mat filterWithZeroBorder(const cv::Mat& image)
{
    cv::Mat filtered(image.size(), CV_MAKETYPE(CV_32F, image.channels()));
    cv::parallel_for_(cv::Range(0, image.rows), [&](const cv::Range& band) {
        cv::Mat target = filtered.rowRange(band);
        cv::sepFilter2D(image.rowRange(band), target, CV_32F, pyramidTaps, pyramidTaps, cv::Point(-1, -1), 0,
                        cv::BORDER_CONSTANT);
    });
    return filtered;
}

// Weight of the spread samples along one axis: the 1-D kernel applied to a 0/1 mask.
std::vector<float> spreadWeights(int length, int firstSample, int sampleCount)
{
    cv::Mat mask = cv::Mat::zeros(1, length, CV_32F);
    for (int i = 0; i < sampleCount && firstSample + 2 * i < length; ++i)
        mask.at<float>(0, firstSample + 2 * i) = 1.0f;
    cv::Mat filtered;
    cv::sepFilter2D(mask, filtered, CV_32F, pyramidTaps, cv::Mat::ones(1, 1, CV_32F), cv::Point(-1, -1), 0,
                    cv::BORDER_CONSTANT);
    return std::vector<float>(filtered.ptr<float>(), filtered.ptr<float>() + length);
}

}  // namespace

cv::Mat initPyramidKernel()
{
    cv::Mat column;
    cv::transpose(pyramidTaps, column);
    return column * pyramidTaps;
}

const cv::Mat pyramidKernel = initPyramidKernel();

cv::Mat pyramidWindow(int firstRow, int lastRow, int firstColumn, int lastColumn)
{
    return (cv::Mat_<short>(1, 4) << short(firstRow), short(lastRow), short(firstColumn), short(lastColumn));
}

cv::Mat childWindow(const cv::Mat& window)
{
    const short* w = window.ptr<short>();
    return pyramidWindow(ceilHalf(w[0]), w[1] >> 1, ceilHalf(w[2]), w[3] >> 1);
}

int pyramidLevelCount(int rows, int columns)
{
    int m = std::min(rows, columns);
    int levels = 1;
    while (m > 1) {
        ++levels;
        m = ceilHalf(m);
    }
    return levels;
}

cv::Mat pyramidDown(const cv::Mat& input, cv::Mat window, cv::Mat& childWindowOut)
{
    if (window.empty())
        window = pyramidWindow(0, input.rows - 1, 0, input.cols - 1);
    const Window w = readWindow(window, input);
    childWindowOut = childWindow(window);
    const Window child = readWindow(childWindowOut, input);
    const cv::Mat filtered = filterWithZeroBorder(input);
    const int rows = child.r1 - child.r0 + 1;
    const int columns = child.c1 - child.c0 + 1;
    const int channels = input.channels();
    cv::Mat reduced(rows, columns, CV_MAKETYPE(CV_32F, channels));
    cv::parallel_for_(cv::Range(0, rows), [&](const cv::Range& band) {
        for (int i = band.start; i < band.end; ++i) {
            const float* source = filtered.ptr<float>((w.r0 & 1) + 2 * i) + (w.c0 & 1) * channels;
            float* target = reduced.ptr<float>(i);
            for (int j = 0; j < columns; ++j)
                for (int c = 0; c < channels; ++c)
                    target[j * channels + c] = source[2 * j * channels + c];
        }
    });
    return reduced;
}

cv::Mat pyramidUp(const cv::Mat& input, const cv::Mat& window)
{
    const Window w = readWindow(window, input);
    const int rows = w.r1 - w.r0 + 1;
    const int columns = w.c1 - w.c0 + 1;
    const int channels = input.channels();
    const int rowOffset = w.r0 & 1;
    const int columnOffset = w.c0 & 1;
    cv::Mat spread(rows, columns, input.type());
    cv::parallel_for_(cv::Range(0, rows), [&](const cv::Range& band) {
        for (int r = band.start; r < band.end; ++r) {
            float* target = spread.ptr<float>(r);
            std::fill(target, target + size_t(columns) * channels, 0.0f);
            const int i = (r - rowOffset) / 2;
            if (r < rowOffset || (r - rowOffset) % 2 != 0 || i >= input.rows)
                continue;
            const float* source = input.ptr<float>(i);
            target += columnOffset * channels;
            for (int j = 0; j < input.cols && columnOffset + 2 * j < columns; ++j)
                for (int c = 0; c < channels; ++c)
                    target[2 * j * channels + c] = source[j * channels + c];
        }
    });
    cv::Mat expanded = filterWithZeroBorder(spread);
    // The filtered 0/1 mask of the spread samples is separable: one weight per row times one per column.
    const std::vector<float> rowWeights = spreadWeights(rows, rowOffset, input.rows);
    const std::vector<float> columnWeights = spreadWeights(columns, columnOffset, input.cols);
    cv::parallel_for_(cv::Range(0, rows), [&](const cv::Range& band) {
        for (int i = band.start; i < band.end; ++i) {
            float* target = expanded.ptr<float>(i);
            for (int j = 0; j < columns; ++j) {
                const float weight = rowWeights[i] * columnWeights[j];
                for (int c = 0; c < channels; ++c)
                    target[j * channels + c] /= weight;
            }
        }
    });
    return expanded;
}

std::vector<cv::Mat> gaussianPyramid(const cv::Mat& input, const cv::Mat& window)
{
    const int levels = pyramidLevelCount(input.rows, input.cols);
    std::vector<cv::Mat> pyramid{input};
    cv::Mat levelWindow = window;
    for (int level = 1; level < levels; ++level) {
        cv::Mat nextWindow;
        pyramid.push_back(pyramidDown(pyramid.back(), levelWindow, nextWindow));
        levelWindow = nextWindow;
    }
    return pyramid;
}

std::vector<cv::Mat> laplacianPyramid(const cv::Mat& input, int levels, const cv::Mat& window)
{
    if (levels == -1)
        levels = pyramidLevelCount(input.rows, input.cols);
    std::vector<cv::Mat> pyramid;
    cv::Mat current = input;
    cv::Mat levelWindow = window.empty() ? pyramidWindow(0, input.rows - 1, 0, input.cols - 1) : window;
    for (int level = 0; level < levels - 1; ++level) {
        cv::Mat nextWindow;
        cv::Mat reduced = pyramidDown(current, levelWindow, nextWindow);
        pyramid.push_back(current - pyramidUp(reduced, levelWindow));
        current = reduced;
        levelWindow = nextWindow;
    }
    pyramid.push_back(current);
    return pyramid;
}

cv::Mat reconstructLaplacianPyramid(const std::vector<cv::Mat>& pyramid, const cv::Mat& window)
{
    if (pyramid.empty())
        return cv::Mat();
    std::vector<cv::Mat> windows{window.empty()
                                     ? pyramidWindow(0, pyramid[0].rows - 1, 0, pyramid[0].cols - 1)
                                     : window};
    for (size_t level = 1; level < pyramid.size(); ++level)
        windows.push_back(childWindow(windows.back()));
    cv::Mat result = pyramid.back();
    for (int level = int(pyramid.size()) - 2; level >= 0; --level)
        result = pyramid[level] + pyramidUp(result, windows[level]);
    return result;
}
