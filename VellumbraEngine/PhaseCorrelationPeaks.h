#pragma once
#include <opencv2/core.hpp>

#include <vector>

// The whole-pixel shifts at which an image's content best matches a template's,
// strongest first: the peaks of their phase correlation. A camera's motion and a
// subject's moving on its own give peaks of their own.
class PhaseCorrelationPeaks {
public:
    // templateImage: one channel, 8-bit or float.
    explicit PhaseCorrelationPeaks(const cv::Mat& templateImage);

    // Where the template's content lies in `image` (of the template's size and
    // type): at most `count` shifts, each the offset from a template pixel to its
    // match, no two within a few pixels of each other.
    std::vector<cv::Point> peaks(const cv::Mat& image, int count) const;

private:
    cv::Mat spectrum(const cv::Mat& image) const;

    cv::Mat window;            // Hanning window against the image borders' jump
    cv::Size paddedSize;       // a fast transform size
    cv::Mat templateSpectrum;
};
