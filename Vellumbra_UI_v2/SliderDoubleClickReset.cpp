#include "SliderDoubleClickReset.h"

#include "EditingSliderTable.h"

#include <QEvent>
#include <QSlider>

SliderDoubleClickReset::SliderDoubleClickReset(QObject* parent) : QObject(parent) {}

void SliderDoubleClickReset::watch(QSlider* slider, const EditingSlider& row)
{
    rows[slider] = &row;
    slider->installEventFilter(this);
}

bool SliderDoubleClickReset::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::MouseButtonDblClick)
        return QObject::eventFilter(watched, event);
    const auto found = rows.find(watched);
    if (found == rows.end())
        return QObject::eventFilter(watched, event);
    static_cast<QSlider*>(watched)->setValue(found->second->defaultPosition());
    return true;
}
