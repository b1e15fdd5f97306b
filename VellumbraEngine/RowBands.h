#pragma once
#include <opencv2/core.hpp>

#include <algorithm>
#include <limits>
#include <mutex>

// Runs body(rows) over fixed bands of rows on the library's threads. Fixed bands
// keep results independent of how the threads split the work: the library's
// vectorised passes round a band's tail differently from its body.
template <typename Body>
void forEachRowBand(int rows, const Body& body)
{
    constexpr int kBandRows = 16;
    const int bands = (rows + kBandRows - 1) / kBandRows;
    cv::parallel_for_(cv::Range(0, bands), [&](const cv::Range& range) {
        for (int band = range.start; band < range.end; ++band)
            body(cv::Range(band * kBandRows, std::min(rows, (band + 1) * kBandRows)));
    });
}

// The largest value of one channel, or of all with channel < 0, band by band:
// a whole-image search runs on one thread. -infinity for an empty image.
inline double largestInBands(const cv::Mat& image, int channel)
{
    std::mutex lock;
    double largest = -std::numeric_limits<double>::infinity();
    forEachRowBand(image.rows, [&](const cv::Range& rows) {
        const cv::Mat band = image.rowRange(rows);
        cv::Mat values;
        if (channel >= 0)
            cv::extractChannel(band, values, channel);
        else
            values = band.reshape(1);
        double bandLargest = 0.0;
        cv::minMaxLoc(values, nullptr, &bandLargest);
        const std::lock_guard<std::mutex> guard(lock);
        largest = std::max(largest, bandLargest);
    });
    return largest;
}
