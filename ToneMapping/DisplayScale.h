#pragma once
#include "SourceKind.h"

#include <opencv2/core.hpp>

#include <functional>

// The operators were made for display-referred pictures: white at 1, the picture
// well above an 8-bit sample step. A scene-referred picture (an HDR with values a
// stop above 1, or one scaled down so that its sun or lamps are 1 and the rest
// lies within a sample step of black) is brought there by a factor that gives its
// log-average luminance the key its tones call for: kMiddleKey for a scene whose
// average lies midway between its darkest and brightest tones (in stops), less
// for a low-key one, more for a high-key one. The factor depends only on ratios of
// the picture's own values, so any scaling of an HDR renders alike. When the kind
// is not known, the factor passes gradually between a display-referred picture and
// a scene-referred one, so that a change of exposure never makes the picture jump.
//
// Statistics leave out pixels of exactly zero luminance (borders, rotation
// corners, black patches) and non-finite ones, so a border changes nothing.
namespace display_scale {

constexpr double kMiddleKey = 0.18;
// One 8-bit sample step of the display range.
constexpr double kSampleStep = 1.0 / 255.0;

}  // namespace display_scale

// The factor that brings a 32-bit float image (1 or 3 channels, BGR) to the display
// range: 1 for a display-referred picture, for one without any lit pixel and for
// one already brought there. For an unknown kind the factor is guessed, and the
// picture it gives never darkens as the image's own exposure rises.
// `alsoOnRows`, when given, runs on every band of the image's rows (on the library's
// threads, several at once) while the measuring reads them: a caller that needs
// statistics of its own reads the image once for both. `shown` (CV_8U, the image's
// size), when given, limits the measure to its non-zero pixels.
using RowsVisitor = std::function<void(const cv::Range&)>;
double displayScale(const cv::Mat& image, SourceKind kind = SourceKind::Unknown,
                    const RowsVisitor& alsoOnRows = nullptr, const cv::Mat& shown = cv::Mat());

// image x scale (shared, not copied, when the scale is 1).
cv::Mat scaledToDisplay(const cv::Mat& image, double scale);
