#pragma once
#include <opencv2/core.hpp>

struct AVFrame;
struct AVStream;
struct SwsContext;

// Decoded video frames as BGR images, converted exactly as cv::VideoCapture converts
// them, so that frames equal its own: bicubic swscale over the coded size (chroma at
// the bottom edge is interpolated alike), cropped to the picture, then turned by the
// stream's display rotation.
class VideoFrameConverter {
public:
    explicit VideoFrameConverter(const AVStream* stream);
    ~VideoFrameConverter();
    VideoFrameConverter(const VideoFrameConverter&) = delete;
    VideoFrameConverter& operator=(const VideoFrameConverter&) = delete;

    bool convert(const AVFrame& frame, int codedWidth, int codedHeight, cv::Mat& image);

private:
    SwsContext* context = nullptr;
    // Clockwise degrees: 0, 90, 180 or 270.
    int rotation = 0;
};
