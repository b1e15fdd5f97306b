#pragma once
#include <opencv2/core.hpp>

// Deviation of the noise of an 8-bit image in its sample levels, all channels
// together: the median response of a second-difference kernel, which cancels
// smooth content, scaled to the deviation of Gaussian noise. Edges and fine
// texture cover too little of a photograph to move the median much; an image
// smaller than 3 x 3 reads 0.
float estimateNoiseDeviation(const cv::Mat& image8);

// Deviation of each frame's noise in 8-bit levels, all channels together, from what
// differs between two aligned frames of one scene (8-bit, same size and type): the
// scene's texture cancels, so fine detail does not read as noise, and the median
// leaves out subjects that moved. Frames of no common size read 0.
float estimateDifferenceNoise(const cv::Mat& first8, const cv::Mat& second8);

// The noise of a reference and an aligned frame, for their ghost floor: the
// reference's own estimate (referenceNoise) counts fine texture as noise, their
// difference a moved subject; the lower of the two is fooled by neither alone.
float pairNoiseDeviation(float referenceNoise, const cv::Mat& reference8, const cv::Mat& frame8);

// The least difference between two frames of noise deviation `noise`, in 8-bit
// levels, that is not noise: three deviations of the difference of two frames'
// noise, and no less than quantisation and compression leave.
float noiseFloorLevels(float noise);
