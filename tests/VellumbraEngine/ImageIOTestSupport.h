#pragma once
#include "ImageIO.h"
#include "PixelOps.h"

#include <cstdio>  // before jpeglib.h, which uses FILE
#include <jpeglib.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

namespace imageio_test {

// Records the reader's and writer's library attempts while it lives.
class TraceRecorder {
public:
    TraceRecorder()
    {
        setImageIOTrace([this](const std::string& event) {
            std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back(event);
        });
    }
    ~TraceRecorder() { setImageIOTrace({}); }
    TraceRecorder(const TraceRecorder&) = delete;
    TraceRecorder& operator=(const TraceRecorder&) = delete;

    // The first line of each event ("exiftool" for a tool run).
    std::vector<std::string> names() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> result;
        for (const std::string& event : events_)
            result.push_back(event.substr(0, event.find('\n')));
        return result;
    }
    std::vector<std::string> events() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    int count(const std::string& name) const
    {
        const std::vector<std::string> all = names();
        return static_cast<int>(std::count(all.begin(), all.end(), name));
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

// A smooth BGR gradient of the given type at full scale of its depth, so lossy
// formats stay close and a flip or channel swap shows.
inline cv::Mat gradientImage(int rows, int cols, int type)
{
    cv::Mat bytes(rows, cols, CV_8UC3);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            bytes.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uchar>(x * 255 / std::max(cols - 1, 1)),
                                                 static_cast<uchar>(y * 255 / std::max(rows - 1, 1)), 160);
    cv::Mat result;
    switch (CV_MAT_DEPTH(type)) {
    case CV_16U: bytes.convertTo(result, CV_16U, 257.0); break;
    case CV_32F: bytes.convertTo(result, CV_32F, 1.0 / 255.0); break;
    default: result = bytes; break;
    }
    if (CV_MAT_CN(type) == 1) {
        cv::Mat grey;
        cv::extractChannel(result, grey, 1);
        return grey;
    }
    return result;
}

// Largest difference after scaling both to 8 bits; infinite when sizes or channels
// differ, so that no tolerance passes them.
inline double maxDifference8(const cv::Mat& a, const cv::Mat& b)
{
    if (a.empty() || a.size() != b.size() || a.channels() != b.channels())
        return std::numeric_limits<double>::infinity();
    return cv::norm(convertBitDepth(a, 8), convertBitDepth(b, 8), cv::NORM_INF);
}

// The same JPEG with its coefficients arithmetic-coded, as libjpeg writes it.
inline std::vector<uchar> arithmeticCodedJpeg(const std::vector<uchar>& jpeg)
{
    jpeg_decompress_struct source{};
    jpeg_compress_struct target{};
    jpeg_error_mgr sourceErrors{};
    jpeg_error_mgr targetErrors{};
    source.err = jpeg_std_error(&sourceErrors);
    target.err = jpeg_std_error(&targetErrors);
    jpeg_create_decompress(&source);
    jpeg_create_compress(&target);
    jpeg_mem_src(&source, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&source, TRUE);
    jvirt_barray_ptr* coefficients = jpeg_read_coefficients(&source);
    jpeg_copy_critical_parameters(&source, &target);
    target.arith_code = TRUE;
    unsigned char* coded = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&target, &coded, &size);
    jpeg_write_coefficients(&target, coefficients);
    jpeg_finish_compress(&target);
    jpeg_finish_decompress(&source);
    std::vector<uchar> result(coded, coded + size);
    std::free(coded);
    jpeg_destroy_compress(&target);
    jpeg_destroy_decompress(&source);
    return result;
}

}  // namespace imageio_test
