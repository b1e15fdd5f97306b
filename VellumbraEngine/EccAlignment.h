#pragma once
#include <opencv2/core.hpp>

// Translation alignment by maximising the enhanced correlation coefficient: a
// Gauss-Newton iteration of forward-additive warp updates, invariant to a gain and
// an offset of the brightness.

// Estimates the translation carrying templateImage onto inputImage (both 8-bit or
// both float, single channel; sizes may differ) and adds it to the translation
// column of warpMatrix (2x3 float, usually the identity; maps template to input
// coordinates). motionType is ignored: translation is the only model. Returns the
// last correlation coefficient, or -1 when the images or the matrix have types it
// does not handle or the iteration cannot go on (for example a uniform template);
// the matrix then keeps its last value. Malformed arguments raise cv::Exception.
double findTransform(cv::InputArray templateImage, cv::InputArray inputImage, cv::InputOutputArray warpMatrix,
                     int motionType, const cv::TermCriteria& criteria);

struct EccOutcome {
    double correlation = -1.0;
    // The iteration stopped because the coefficient settled, not at the count limit
    // or on a degenerate step.
    bool converged = false;
};

// The iteration of findTransform, also telling whether it converged. Template
// pixels where templateMask (8-bit, template size, optional) is 0 take no part:
// moving subjects left out there do not pull the estimate.
EccOutcome estimateTranslation(cv::InputArray templateImage, cv::InputArray inputImage,
                               cv::InputOutputArray warpMatrix, const cv::TermCriteria& criteria,
                               cv::InputArray templateMask = cv::noArray());

// Adds update (2x1 float) to the translation column of map_matrix (2x3 float).
void update_warping_matrix_ECC(cv::Mat& map_matrix, const cv::Mat& update);
