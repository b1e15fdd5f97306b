#include "Repolish.h"

#include <QStyle>
#include <QWidget>

void repolish(QWidget* widget)
{
    if (!widget)
        return;
    QStyle* style = widget->style();
    style->unpolish(widget);
    style->polish(widget);
    for (QWidget* child : widget->findChildren<QWidget*>()) {
        child->style()->unpolish(child);
        child->style()->polish(child);
    }
    widget->window()->update();
}
