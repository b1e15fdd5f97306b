#pragma once
#include "FrameCapture.h"

#include <opencv2/videoio.hpp>

// Video files through OpenCV's FFmpeg backend, named explicitly so that another
// backend never decodes a different number of frames.
class VideoFileCapture : public FrameCapture {
public:
    bool open(const std::string& path) override;
    bool isOpened() const override;
    void release() override;
    bool grab() override;
    bool retrieve(cv::Mat& image) override;
    bool set(int property, double value) override;
    double get(int property) const override;

private:
    cv::VideoCapture capture;
};
