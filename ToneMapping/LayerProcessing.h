#pragma once
#include "InputSteps.h"
#include "ToneMappingBase.h"

// Image-appearance tone mapping: the light image in absolute XYZ is split by the
// fast bilateral filter into base and detail layers; the base is chromatically
// adapted to a blurred local white and tone-compressed with cone and rod
// responses, the detail is enhanced by the local adaptation, colourfulness and
// lightness are adjusted in IPT, and the result is encoded as clipped sRGB.
// params: p0 the response exponent, p1 the lightness gamma, p2 the largest Y.
class LayerProcessing : public ToneMappingBase {
public:
    // With keepInputSteps the layers and adapted base made for one input and one p2
    // are kept for the next call with them: only the tone compression (p0) and the
    // steps after it run again.
    cv::Mat& apply(cv::Mat& out, const cv::Mat& in, const float params[3]) override;

    // What the model computes from the input and p2 alone.
    struct InputResult {
        float maxLuminance = 0.0f;
        cv::Mat base;      // the bilateral base layer, XYZ
        cv::Mat white;     // the local white of the tone compression
        cv::Mat adapted;   // the base adapted to the local white
        cv::Mat enhanced;  // the enhanced detail layer
        cv::Mat lit;       // non-zero where the input is not black
    };

private:
    InputSteps<InputResult> kept_;
};

// The model on a 32-bit float blue-green-red image: out becomes CV_32FC3 in
// [0, 1], or empty when op.cancel was found set.
void layerProcessingToneMap(LayerProcessing& op, cv::Mat& out, const cv::Mat& in32, float p0, float p1, float p2);

namespace layer_processing {

// XYZ scaled to p2 up to the adapted base, with progress 5 to 60, then the tone
// compression with p0 (into compressed) beside the detail's enhancement; false
// when op.cancel was found set.
bool inputSteps(LayerProcessing& op, const cv::Mat& in32, float p0, float p2, LayerProcessing::InputResult& result,
                cv::Mat& compressed);
// The tone compression alone, for an input whose detail is already enhanced.
bool compressBase(LayerProcessing& op, const LayerProcessing::InputResult& input, float p0, cv::Mat& compressed);
// Compressed base times detail, the IPT adjustment with p1, the display encoding and
// the finishing colour pass, with progress 80 to 100. Consumes compressed, and with
// consume every layer of input once it is no longer needed.
void finishSteps(LayerProcessing& op, LayerProcessing::InputResult& input, bool consume, cv::Mat& compressed,
                 float p1, cv::Mat& out);

}  // namespace layer_processing
