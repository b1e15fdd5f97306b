#pragma once
#include "EngineDefaults.h"

#include <QString>

#include <optional>

// Where a double-click puts a slider back: the editing sliders at the position
// their setting in the defaults stands for (the inverse of the window's start-up
// conversion), the video and rotation sliders at 0. None for other objects.
std::optional<int> resetPosition(const QString& sliderName, const EngineDefaults& defaults);
