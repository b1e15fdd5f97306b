#pragma once
#include <opencv2/core.hpp>

// Pixel operations shared by every subsystem. Each dispatches on the source's
// sample depth: 8-bit unsigned, 16-bit unsigned or 32-bit float.

// 8 x the byte size of one channel element (8, 16, 32, or 64 for double).
int depthInBits(const cv::Mat& image);

// Target 16 gives 16-bit, 32 gives float, anything else 8-bit. Same depth: deep copy.
cv::Mat convertBitDepth(const cv::Mat& source, int targetBits);
// Float images shared as they are (read-only callers need no copy), others converted to float.
cv::Mat asFloat(const cv::Mat& image);

cv::Mat convert8UTo16U(const cv::Mat& source);
cv::Mat convert8UTo32F(const cv::Mat& source);
cv::Mat convert8UTo8U(const cv::Mat& source);
cv::Mat convert16UTo32F(const cv::Mat& source);
cv::Mat convert16UTo8U(const cv::Mat& source);
cv::Mat convert32FTo16U(const cv::Mat& source);
cv::Mat convert32FTo8U(const cv::Mat& source);

// 100 x 256 BGR picture of the histogram. Channel 0: mean of the channels
// (white bars); channel k >= 1: channel k (1 blue, 2 green, 3 red).
cv::Mat computeHistogramImage(const cv::Mat& image, int channel);
cv::Mat histogramImage8U(const cv::Mat& image, int channel);
cv::Mat histogramImage16U(const cv::Mat& image, int channel);
cv::Mat histogramImage32F(const cv::Mat& image, int channel);

// The canvas an image of `source` size rotated by angle is laid on, and where each
// canvas pixel (u, v) comes from: x = c2 (u - ocx) - s2 (ocy - v) + ocx + minX,
// y = ocy - (s2 (u - ocx) + c2 (ocy - v)) + minY, in single precision.
struct RotationCanvas {
    cv::Size size;
    float ocx, ocy, minX, minY, c2, s2;
};
RotationCanvas rotationCanvas(const cv::Size& source, double angle);

// Rotates counter-clockwise on screen by angle (radians) onto the enclosing canvas,
// sampling bicubically. Another depth leaves output untouched.
void rotateImage(const cv::Mat& source, cv::Mat& output, double angle);
void rotateImage8U(const cv::Mat& source, cv::Mat& output, double angle);
void rotateImage16U(const cv::Mat& source, cv::Mat& output, double angle);
void rotateImage32F(const cv::Mat& source, cv::Mat& output, double angle);

// The Catmull-Rom cubic convolution kernel.
float catmullRomWeight(float x);
void bicubicSample8U(const cv::Mat& source, float sx, float sy, uchar* pixelOut);
void bicubicSample16U(const cv::Mat& source, float sx, float sy, ushort* pixelOut);
void bicubicSample32F(const cv::Mat& source, float sx, float sy, float* pixelOut);

// Copies the rectangle clipped to the source. A rectangle that lies wholly
// outside the source gives an empty output. Another depth leaves output untouched.
void cropImage(int x, int y, int width, int height, const cv::Mat& source, cv::Mat& output);
void cropImage8U(int x, int y, int width, int height, const cv::Mat& source, cv::Mat& output);
void cropImage16U(int x, int y, int width, int height, const cv::Mat& source, cv::Mat& output);
void cropImage32F(int x, int y, int width, int height, const cv::Mat& source, cv::Mat& output);

// Variance of the Laplacian of the first channel: larger means sharper. Empty gives 0.
float laplacianVariance(const cv::Mat& image);
