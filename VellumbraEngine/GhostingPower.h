#pragma once
#include <opencv2/core.hpp>

// 8-bit working copies that the ghost searches run on, the squared-difference
// probe they share, and small helpers on float arrays. The ghosting-power estimate
// itself is StackingContext::computeGhostingPower.

// 8-bit copy of a 16-bit image: sample * (float)(1/257), truncated.
void makeSearchCopy16U(const cv::Mat& source, cv::Mat& output);
// 8-bit copy of a float image scaled so that its largest finite sample becomes
// 255 (truncated). NaN and negative samples give 0, infinite ones 255; an image
// without a positive finite sample gives zeros.
void makeSearchCopy32F(const cv::Mat& source, cv::Mat& output);

// Largest finite sample of a float image; 0 when it has none.
float largestFiniteSample(const cv::Mat& image);

// The largest of n values (n < 2: the first).
float maxOfFloats(const float* values, int n);
// Sum accumulated in float, divided by n.
float meanOfFloats(const float* values, int n);

// Where the (2 half + 1)-pixel square of templateSource around (y, x) best matches
// searchImage (squared differences summed over the channels) within radius of
// (y, x): returns the smallest score and the offset (dy, dx) from the template's
// place to the match. Near the border the template is moved inside the image, and
// a search window the border leaves narrower than the template is widened to take
// in the template's own place; an image smaller than the template, or images of
// different types, give offset (0, 0) and an infinite score.
double probeDisplacement(const cv::Mat& templateSource, const cv::Mat& searchImage, int y, int x, int half,
                         int radius, int* dy, int* dx);
// The same with the search window centred on (centreY, centreX) instead of (y, x).
// `expected`, an offset where the match is likely, only speeds the search up.
double probeDisplacementAround(const cv::Mat& templateSource, const cv::Mat& searchImage, int y, int x, int half,
                               int centreY, int centreX, int radius, int* dy, int* dx,
                               cv::Point expected = cv::Point());

// Ascending sort of values[lo..hi].
void quickSortFloats(float* values, int lo, int hi);
// Moves the values smaller than values[pivotIndex] before it; returns its new index.
int partitionFloats(float* values, int lo, int hi, int pivotIndex);
