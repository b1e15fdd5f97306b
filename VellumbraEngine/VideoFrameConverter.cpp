#include "VideoFrameConverter.h"

#include "FrameBufferPool.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>

VideoFrameConverter::VideoFrameConverter(const AVStream* stream)
{
    if (const uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr)) {
        const long counterClockwise = std::lround(av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix)));
        rotation = static_cast<int>(((-counterClockwise % 360) + 360) % 360);
    }
}

VideoFrameConverter::~VideoFrameConverter()
{
    sws_freeContext(context);
}

bool VideoFrameConverter::convert(const AVFrame& frame, int codedWidth, int codedHeight, cv::Mat& image)
{
    const int width = codedWidth > 0 ? codedWidth : frame.width;
    const int height = codedHeight > 0 ? codedHeight : frame.height;
    context = sws_getCachedContext(context, width, height, static_cast<AVPixelFormat>(frame.format), width, height,
                                   AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!context)
        return false;
    // In a stacking run, into one of the run's buffers: a 4K frame is 25 MB of fresh pages otherwise.
    cv::Mat bgr = runBuffer(cv::Size(width, height), CV_8UC3);
    uint8_t* planes[4] = {bgr.data, nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(bgr.step), 0, 0, 0};
    sws_scale(context, frame.data, frame.linesize, 0, height, planes, strides);
    const cv::Rect picture(0, 0, std::min(frame.width, width), std::min(frame.height, height));
    const cv::Mat cropped = picture.size() == bgr.size() ? bgr : bgr(picture).clone();
    switch (rotation) {
    case 90: cv::rotate(cropped, image, cv::ROTATE_90_CLOCKWISE); break;
    case 180: cv::rotate(cropped, image, cv::ROTATE_180); break;
    case 270: cv::rotate(cropped, image, cv::ROTATE_90_COUNTERCLOCKWISE); break;
    default: image = cropped; break;
    }
    return true;
}
