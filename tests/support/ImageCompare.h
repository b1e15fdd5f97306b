#pragma once
#include <opencv2/core.hpp>

#include <cstring>

namespace testmedia {

// Same size, type and bytes (NaN payloads included, unlike cv::norm).
inline bool identical(const cv::Mat& a, const cv::Mat& b)
{
    if (a.size() != b.size() || a.type() != b.type())
        return false;
    for (int y = 0; y < a.rows; ++y)
        if (std::memcmp(a.ptr(y), b.ptr(y), a.cols * a.elemSize()) != 0)
            return false;
    return true;
}

}  // namespace testmedia
