#pragma once
#include <QMetaType>
#include <opencv2/core.hpp>

// Images cross threads by value in queued signals.
Q_DECLARE_METATYPE(cv::Mat)
