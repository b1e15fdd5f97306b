#include "VideoFileCapture.h"

bool VideoFileCapture::open(const std::string& path)
{
    return capture.open(path, cv::CAP_FFMPEG);
}

bool VideoFileCapture::isOpened() const
{
    return capture.isOpened();
}

void VideoFileCapture::release()
{
    capture.release();
}

bool VideoFileCapture::grab()
{
    return capture.grab();
}

bool VideoFileCapture::retrieve(cv::Mat& image)
{
    return capture.retrieve(image);
}

bool VideoFileCapture::set(int property, double value)
{
    return capture.set(property, value);
}

double VideoFileCapture::get(int property) const
{
    return capture.get(property);
}
