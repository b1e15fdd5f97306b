#pragma once
#include "InputSteps.h"
#include "LaplacianFilterCore.h"
#include "ToneMappingBase.h"

#include <opencv2/core.hpp>

#include <vector>

// Local Laplacian filter on the log luminance (direct form): details below the range
// threshold are raised to alpha, edges above it scaled by beta. The result is
// normalised between its 0.5th and 99.5th percentiles, recoloured from per-pixel
// colour ratios and gamma-encoded.
class Laplacian : public ToneMappingBase {
public:
    // params[0] alpha, params[1] beta; params[2] is not read. With keepInputSteps what
    // the input alone gives is kept for the next call with the same input, and the
    // filter's sums with it: a new beta then skips the filter's windows, a new alpha
    // their edge part. The input's first two alphas are summed exactly; a third
    // starts a drag, and makes node sums from which it and every later alpha take
    // the coarse levels without their windows: within a level of a fresh run.
    cv::Mat& apply(cv::Mat& out, const cv::Mat& in, const float params[3]) override;
    // What the node sums kept for `in` hold, in bytes; 0 without them.
    size_t keptNodeSumBytes(const cv::Mat& in) const;

    struct InputResult {
        cv::Mat luminance;
        cv::Mat lit;          // non-zero where the luminance is above 0
        cv::Mat litInterior;  // the pixels the normalisation's percentiles are taken over
        cv::Mat logLuminance; // the filter's input, black pixels and the edge beside them filled; made when first needed
        cv::Mat edgeOffset;   // the edge pixels' own log luminance less the filled one; empty without black
        LaplacianCoreSteps core;
    };

    float alpha = 1.0f;
    float beta = 0.0f;
    float noiseLevel = 0.01f;
    float sigmaR = 2.5f;
    int domain = 1;
    std::vector<cv::Mat> gaussianPyr;
    std::vector<cv::Mat> laplacianPyr;

private:
    InputSteps<InputResult> kept_;
};

// The operator's body on a 1- or 3-channel float input.
cv::Mat& laplacianToneMap(Laplacian& op, cv::Mat& out, const cv::Mat& in);

// Filters a single-channel float image; empty when cancelled.
cv::Mat& lapfilter_core(Laplacian& op, cv::Mat& out, const cv::Mat& input);

// max(0, (20 red + 40 green + blue) / 61); fills the colour ratios (ColourRatios:
// neutral near black, 0 on black) when ratios is given. A 1-channel input is its own luminance;
// other channel counts give an empty image.
cv::Mat& laplacianLuminance(cv::Mat& out, const cv::Mat& in, cv::Mat* ratios = nullptr);

// ln(e + 2^-23) and its inverse exp(e) - 2^-23, element-wise.
cv::Mat toLogDomain(const cv::Mat& in);
cv::Mat fromLogDomain(const cv::Mat& in);

// Value at percentile p (0 to 100) of a single-channel float image, interpolated
// between the sample positions 100 (i + 0.5) / N; -1 when p is out of range or the
// image has several channels. With sorted set the image is read as already sorted.
// A sorted copy, when asked for, receives the ascending values.
float matPercentile(const cv::Mat& image, float p, bool sorted, cv::Mat* sortedCopy = nullptr);
