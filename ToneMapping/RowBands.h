#pragma once
#include <opencv2/core.hpp>

#include <algorithm>

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
