#pragma once
#include "InputSteps.h"
#include "ToneMappingBase.h"

// Edge-stopped local contrast: compresses the luminance with a power law adapted
// to its log-average, builds a surround whose weights drop behind Canny edges,
// subtracts a sigmoid-weighted share of the surround's logarithm and puts the
// chroma back. params: p0 the floor inside the logarithms, p1 and p2 the
// sigmoid's slope and centre (truncated to integers).
class LC_Model : public ToneMappingBase {
public:
    // With keepInputSteps the luminance, its edges and surround are kept for the
    // next call with the same input: only the parameters' steps run again. The
    // surround's spreads (16 and 5 pixels) are scaled by spatialScale.
    cv::Mat& apply(cv::Mat& out, const cv::Mat& in, const float params[3]) override;

    // What the model computes from the input alone.
    struct InputResult {
        cv::Mat chroma;
        cv::Mat luminance;
        cv::Mat surround;
        // Non-zero where the input is not black: the statistics leave black pixels out.
        cv::Mat lit;
        float spread = 0.0f;
    };

private:
    InputSteps<InputResult> kept_;
};

// The driver on a three-channel 32-bit float image; out is empty when op.cancel
// was found set. The surround's state is local to each call, so any number of
// calls may run at once.
void lcModelToneMap(LC_Model& op, cv::Mat& out, const cv::Mat& in32, float spread, float edgeSpread, float p0, float p1,
                    float p2);

// The steps, on single-channel CV_32F images unless said otherwise.
namespace lc_model {

// Compressed luminance, chroma and surround of a three-channel float image brought
// to the display range (displayScale), with progress 10, 30 and 60; false when
// op.cancel was found set.
bool inputSteps(LC_Model& op, const cv::Mat& in32, float spread, float edgeSpread, LC_Model::InputResult& result);
// The parameters' steps: local adaptation and the chroma put back, progress 80 and 100.
void parameterSteps(LC_Model& op, const LC_Model::InputResult& input, float p0, float p1, float p2, cv::Mat& out);

// Largest channel per pixel of image x scale (the factor that brings it to the
// display range) raised to k = exponent adapted to the log-average of the lit
// pixels; chroma receives the colour ratios to that largest channel (CV_32FC3,
// ColourRatios); lit, when given, receives the non-black pixels.
cv::Mat compressLuminance(const cv::Mat& image, float scale, cv::Mat& chroma, cv::Mat* lit = nullptr);
// Canny edges of the luminance as a cleaned 0/1 map.
cv::Mat detectEdges(const cv::Mat& luminance);
// 1 where at least two of the pixels above, left and right are edges.
cv::Mat cleanEdgeMap(const cv::Mat& binaryMap);
// Edge-stopped weighted mean of the luminance over a (6 spread + 3)-wide window,
// over the pixels where `lit` is non-zero (empty: all). Rows are split over threads;
// an empty image when cancel is found set.
cv::Mat adaptiveSurround(const cv::Mat& luminance, const cv::Mat& edges, float spread, float edgeSpread,
                         const std::atomic<bool>& cancel, const cv::Mat& lit = cv::Mat());
cv::Mat localAdaptation(const cv::Mat& luminance, const cv::Mat& surround, float p0, float p1, float p2,
                        const cv::Mat& lit = cv::Mat());
// g in [0, 255]; slope and centre are used as integers.
cv::Mat sigmFac(const cv::Mat& g, int slope, int centre, const cv::Mat& lit = cv::Mat());
// Linear rescale to [low, high] of the values two in a thousand in from either end
// where `lit` is non-zero (empty: everywhere), so that a preview and its export
// stretch alike; zeros when the image is flat there.
cv::Mat scaleImage(const cv::Mat& image, float low, float high, const cv::Mat& lit = cv::Mat());
cv::Mat recombineColour(const cv::Mat& chroma, const cv::Mat& luminance);

}  // namespace lc_model
