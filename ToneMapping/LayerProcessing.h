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
    // With keepInputSteps the layers made from one input are kept for the next call
    // with it: a new p2 only rescales them and redoes the adaptation, another p0
    // or p1 only the tone compression and the steps after it.
    cv::Mat& apply(cv::Mat& out, const cv::Mat& in, const float params[3]) override;
    // The layers are scaled to the picture's largest luminance.
    bool readsExtremes() const override { return true; }

    struct InputResult {
        // From the input alone, at a largest Y of 1.
        cv::Mat unitBase;    // the bilateral base layer, XYZ
        cv::Mat unitWhite2;  // the local whites of the adaptation and the tone compression
        cv::Mat unitWhite3;
        cv::Mat detail;      // the detail layer, which no scale changes
        cv::Mat lit;         // non-zero where the input is not black
        // For the largest Y of maxLuminance (0: none yet).
        float maxLuminance = 0.0f;
        cv::Mat base;
        cv::Mat white;
        cv::Mat adapted;   // the base adapted to the local white
        cv::Mat enhanced;  // the enhanced detail layer
    };

private:
    InputSteps<InputResult> kept_;
};

// The model on a 32-bit float blue-green-red image: out becomes CV_32FC3 in
// [0, 1], or empty when op.cancel was found set.
void layerProcessingToneMap(LayerProcessing& op, cv::Mat& out, const cv::Mat& in32, float p0, float p1, float p2);

namespace layer_processing {

// XYZ at a largest Y of 1 split into the base and detail layers, and its local
// whites, with progress 5 to 55; false when op.cancel was found set.
bool inputSteps(LayerProcessing& op, const cv::Mat& in32, LayerProcessing::InputResult& result);
// The layers scaled to a largest Y of p2 and the base adapted to its white, with
// progress 60; with consume into the unit layers' own pixels. False when cancelled.
bool scaledSteps(LayerProcessing& op, LayerProcessing::InputResult& input, float p2, bool consume);
// The tone compression with p0 into compressed, beside the detail's enhancement when
// enhanceDetail; with consume both write into the pixels of the layers they read.
// False when cancelled (the input's scaled layers then count as stale).
bool compressBase(LayerProcessing& op, LayerProcessing::InputResult& input, float p0, bool enhanceDetail,
                  bool consume, cv::Mat& compressed);
// Compressed base times detail, the IPT adjustment with p1, the display encoding and
// the finishing colour pass, with progress 80 to 100. Consumes compressed, and with
// consume every layer of input once it is no longer needed.
void finishSteps(LayerProcessing& op, LayerProcessing::InputResult& input, bool consume, cv::Mat& compressed,
                 float p1, cv::Mat& out);

}  // namespace layer_processing
