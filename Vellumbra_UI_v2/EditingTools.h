#pragma once
#include <QPoint>
#include <QRect>
#include <QSize>
#include <opencv2/core.hpp>

// Geometry of the rotation sliders and of the crop and horizon tools drawn over
// the picture label.

// The pipeline's rotation for a slider position in degrees: the slider turns the
// picture the other way round.
float rotationRadians(int degrees);
// The slider position of a rotation: the nearest degree, within -180..180.
int rotationDegrees(double radians);

// The crop, in full-size pixels of the rotated picture, of a frame drawn over a
// label that shows that picture; no crop (-1 everywhere) over an empty label.
cv::Rect cropFromFrame(const QRect& frame, const QSize& label, int fullWidth, int fullHeight);

// The rotation slider position that makes level a line drawn from p1 to p2 over a
// label showing an image of the given size.
int horizonDegrees(const QPoint& p1, const QPoint& p2, const QSize& label, const cv::Size& image);
