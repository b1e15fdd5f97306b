#include "SliderResets.h"

#include "EditingSliderTable.h"

#include <QStringList>

std::optional<int> resetPosition(const QString& sliderName, const EngineDefaults& defaults)
{
    // An editing slider goes back to the position its start-up setting stands for.
    if (const EditingSlider* row = editingSliderNamed(sliderName))
        return row->conversion.toPosition(row->engine.read(defaults));
    static const QStringList atZero = {"horizontalSlider_VideoSpeed", "horizontalSlider_VideoBrightness",
                                       "horizontalSlider_VideoSpeed_Pro", "horizontalSlider_VideoBrightness_Pro",
                                       "horizontalSlider_Rotation"};
    if (atZero.contains(sliderName))
        return 0;
    return std::nullopt;
}
