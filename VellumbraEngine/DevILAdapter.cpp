#include "DevILAdapter.h"

#include <IL/il.h>
#include <opencv2/imgproc.hpp>

#include <cstdio>

namespace {

int elementDepthOf(ILint devilType)
{
    switch (devilType) {
    case IL_BYTE: return CV_8S;
    case IL_UNSIGNED_BYTE: return CV_8U;
    case IL_SHORT: return CV_16S;
    case IL_UNSIGNED_SHORT: return CV_16U;
    case IL_INT: return CV_32S;
    case IL_FLOAT: return CV_32F;
    case IL_DOUBLE: return CV_64F;
    default: return -1;
    }
}

ILenum devilTypeOf(int elementDepth)
{
    switch (elementDepth) {
    case CV_8U: return IL_UNSIGNED_BYTE;
    case CV_8S: return IL_BYTE;
    case CV_16U: return IL_UNSIGNED_SHORT;
    case CV_16S: return IL_SHORT;
    case CV_32S: return IL_INT;
    case CV_32F: return IL_FLOAT;
    case CV_64F: return IL_DOUBLE;
    default: return 0;
    }
}

ILenum devilFormatOf(int channels)
{
    switch (channels) {
    case 1: return IL_LUMINANCE;
    case 3: return IL_BGR;
    case 4: return IL_BGRA;
    default: return 0;
    }
}

}  // namespace

cv::Mat devilToMat()
{
    const int elementDepth = elementDepthOf(ilGetInteger(IL_IMAGE_TYPE));
    if (elementDepth < 0)
        return cv::Mat();

    // Palette, BGR(A) and grey-alpha layouts would otherwise come out as indices or
    // with red and blue swapped: bring everything to grey or RGB first.
    const ILint format = ilGetInteger(IL_IMAGE_FORMAT);
    if (format == IL_LUMINANCE_ALPHA) {
        if (!ilConvertImage(IL_LUMINANCE, ilGetInteger(IL_IMAGE_TYPE)))
            return cv::Mat();
    } else if (format != IL_LUMINANCE && format != IL_RGB) {
        if (!ilConvertImage(IL_RGB, ilGetInteger(IL_IMAGE_TYPE)))
            return cv::Mat();
    }

    // IL_IMAGE_BITS_PER_PIXEL counts 8 bits per channel whatever the type, so the
    // channel count comes from the format.
    const int width = ilGetInteger(IL_IMAGE_WIDTH);
    const int height = ilGetInteger(IL_IMAGE_HEIGHT);
    const int channels = ilGetInteger(IL_IMAGE_FORMAT) == IL_LUMINANCE ? 1 : 3;
    const ILubyte* data = ilGetData();
    const double expectedBytes = double(width) * height * channels * CV_ELEM_SIZE1(elementDepth);
    if (width <= 0 || height <= 0 || !data || ilGetInteger(IL_IMAGE_SIZE_OF_DATA) < expectedBytes)
        return cv::Mat();

    // One pass over the pixels into memory of our own: the flip or the colour swap
    // writes the copy, a plain clone only when neither is needed.
    const cv::Mat view(height, width, CV_MAKETYPE(elementDepth, channels), const_cast<ILubyte*>(data));
    cv::Mat image;
    if (ilGetInteger(IL_IMAGE_ORIGIN) != IL_ORIGIN_UPPER_LEFT)
        cv::flip(view, image, 0);
    else if (channels == 1)
        image = view.clone();
    else
        image = view;
    if (channels == 1)
        return image;
    cv::Mat bgr;
    cv::cvtColor(image, bgr, cv::COLOR_RGB2BGR);
    return bgr;
}

int matToDevil(const cv::Mat& image)
{
    ILuint name = 0;
    ilGenImages(1, &name);
    ilBindImage(name);

    const ILenum type = devilTypeOf(image.depth());
    if (type == 0) {
        std::printf("\n\nUnrecognized OpenCv Type %d\n", image.depth());
        ilDeleteImages(1, &name);
        return -1;
    }
    const ILenum format = devilFormatOf(image.channels());
    if (format == 0) {
        std::printf("\n\nUnrecognized channel count %d\n", image.channels());
        ilDeleteImages(1, &name);
        return -1;
    }

    cv::Mat rows;
    if (ilGetInteger(IL_IMAGE_ORIGIN) == IL_ORIGIN_UPPER_LEFT)
        rows = image.isContinuous() ? image : image.clone();
    else
        cv::flip(image, rows, 0);

    if (!ilTexImage(static_cast<ILuint>(rows.cols), static_cast<ILuint>(rows.rows), 1,
                    static_cast<ILubyte>(rows.channels()), format, type, rows.data)) {
        ilDeleteImages(1, &name);
        return -1;
    }
    return static_cast<int>(name);
}
