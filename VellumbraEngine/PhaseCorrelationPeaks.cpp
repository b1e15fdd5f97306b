#include "PhaseCorrelationPeaks.h"

#include <opencv2/imgproc.hpp>

namespace {

// A peak's neighbours within this many pixels belong to it.
constexpr int kPeakRadius = 3;

}  // namespace

PhaseCorrelationPeaks::PhaseCorrelationPeaks(const cv::Mat& templateImage)
{
    cv::createHanningWindow(window, templateImage.size(), CV_32F);
    paddedSize = cv::Size(cv::getOptimalDFTSize(templateImage.cols), cv::getOptimalDFTSize(templateImage.rows));
    templateSpectrum = spectrum(templateImage);
}

cv::Mat PhaseCorrelationPeaks::spectrum(const cv::Mat& image) const
{
    cv::Mat windowed, padded, result;
    image.convertTo(windowed, CV_32F);
    windowed = windowed.mul(window);
    cv::copyMakeBorder(windowed, padded, 0, paddedSize.height - image.rows, 0, paddedSize.width - image.cols,
                       cv::BORDER_CONSTANT, cv::Scalar(0));
    cv::dft(padded, result, cv::DFT_COMPLEX_OUTPUT);
    return result;
}

std::vector<cv::Point> PhaseCorrelationPeaks::peaks(const cv::Mat& image, int count) const
{
    // The cross-power spectrum with every frequency's weight made equal: its inverse
    // is a sharp peak at each shift that carries part of the content.
    cv::Mat crossPower;
    cv::mulSpectrums(spectrum(image), templateSpectrum, crossPower, 0, true);
    cv::Mat parts[2];
    cv::split(crossPower, parts);
    cv::Mat magnitude;
    cv::magnitude(parts[0], parts[1], magnitude);
    magnitude += 1e-9f;
    cv::divide(parts[0], magnitude, parts[0]);
    cv::divide(parts[1], magnitude, parts[1]);
    cv::merge(parts, 2, crossPower);
    cv::Mat surface;
    cv::idft(crossPower, surface, cv::DFT_REAL_OUTPUT | cv::DFT_SCALE);

    std::vector<cv::Point> found;
    const int width = surface.cols, height = surface.rows;
    for (int k = 0; k < count; ++k) {
        double strongest = 0;
        cv::Point at;
        cv::minMaxLoc(surface, nullptr, &strongest, nullptr, &at);
        if (!(strongest > 0))
            break;
        // The surface wraps around: the far half holds the negative shifts.
        found.emplace_back(at.x > width / 2 ? at.x - width : at.x, at.y > height / 2 ? at.y - height : at.y);
        for (int dy = -kPeakRadius; dy <= kPeakRadius; ++dy)
            for (int dx = -kPeakRadius; dx <= kPeakRadius; ++dx)
                surface.at<float>((at.y + dy + height) % height, (at.x + dx + width) % width) = 0.0f;
    }
    return found;
}
