#pragma once
#include "ToneMappingBase.h"

// Image-appearance tone mapping: the light image in absolute XYZ is split by the
// fast bilateral filter into base and detail layers; the base is chromatically
// adapted to a blurred local white and tone-compressed with cone and rod
// responses, the detail is enhanced by the local adaptation, colourfulness and
// lightness are adjusted in IPT, and the result is encoded as clipped sRGB.
// params: p0 the response exponent, p1 the lightness gamma, p2 the largest Y.
class LayerProcessing : public ToneMappingBase {
public:
    cv::Mat& apply(cv::Mat& out, const cv::Mat& in, const float params[3]) override;
};

// The model on a 32-bit float blue-green-red image: out becomes CV_32FC3 in
// [0, 1], or empty when op.cancel was found set.
void layerProcessingToneMap(LayerProcessing& op, cv::Mat& out, const cv::Mat& in32, float p0, float p1, float p2);
