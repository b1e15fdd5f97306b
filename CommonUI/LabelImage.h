#pragma once
#include <QSize>
#include <opencv2/core.hpp>

class QLabel;

// Shows image (any depth) as the label's pixmap, scaled down with its aspect
// kept to fit bound when it is larger, so that a tile does not keep a
// full-resolution pixmap. An empty bound shows it at its own size. False when
// the image cannot be displayed.
bool showImageInLabel(QLabel* label, const cv::Mat& image, const QSize& bound);
