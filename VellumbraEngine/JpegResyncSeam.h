#pragma once
#include <opencv2/core.hpp>

// A Huffman decoder that lost its place in damaged data often finds it again a few
// blocks later without a word: the rest of the picture then decodes with its
// brightness or colour offset by a constant, from a block in the middle of a row of
// blocks on. True when an 8-bit picture shows that seam: an even step across one
// boundary between rows of blocks right of some column, and the same step across the
// next boundary left of it. blockGroup is the decoder's MCU in pixels.
bool showsResyncSeam(const cv::Mat& picture, cv::Size blockGroup);
