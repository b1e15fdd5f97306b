#include "CoveredPixels.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>

namespace {

// A resampled constant is exact to a few float steps; the cubic kernel's lobes
// overshoot a pixel or two inside an edge, which therefore counts as partly covered.
constexpr float kWholeTolerance = 1e-3f;

}  // namespace

CoveredPixels::CoveredPixels(const cv::Mat& coverage)
{
    if (coverage.empty())
        return;
    const cv::Mat whole = cv::abs(coverage - 1.0f) < kWholeTolerance;
    if (cv::countNonZero(whole) == int(whole.total()) || cv::countNonZero(whole) == 0)
        return;
    coverage_ = cv::min(coverage, 1.0f);
    whole_ = whole;
}

cv::Mat CoveredPixels::picture(const cv::Mat& image) const
{
    if (whole_.empty())
        return image;
    cv::Mat inside = cv::Mat::zeros(image.size(), image.type());
    image.copyTo(inside, whole_);
    return inside;
}

cv::Mat CoveredPixels::drawnBack(const cv::Mat& rendered) const
{
    if (whole_.empty() || rendered.size() != whole_.size())
        return rendered;
    // The mean of the wholly covered pixels around each one: a mean over a mask.
    cv::Mat weight, sum;
    whole_.convertTo(weight, CV_32F, 1.0 / 255.0);
    const cv::Size reach(5, 5);
    cv::blur(weight, weight, reach);
    cv::Mat masked = cv::Mat::zeros(rendered.size(), rendered.type());
    rendered.copyTo(masked, whole_);
    cv::blur(masked, sum, reach);
    cv::Mat out = rendered.clone();
    const int channels = rendered.channels();
    for (int r = 0; r < out.rows; ++r) {
        const uchar* whole = whole_.ptr<uchar>(r);
        const float* cover = coverage_.ptr<float>(r);
        const float* w = weight.ptr<float>(r);
        const float* s = sum.ptr<float>(r);
        float* o = out.ptr<float>(r);
        for (int c = 0; c < out.cols; ++c) {
            if (whole[c] || !(cover[c] > 0.0f))
                continue;
            const float scale = w[c] > 0.0f ? std::max(0.0f, cover[c]) / w[c] : 0.0f;
            for (int k = 0; k < channels; ++k)
                o[channels * c + k] = s[channels * c + k] * scale;
        }
    }
    return out;
}
