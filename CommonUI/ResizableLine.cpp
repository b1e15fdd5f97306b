#include "ResizableLine.h"

#include "OverlayGeometry.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

namespace {

constexpr int kEndRadius = 10;
constexpr int kHoverDistance = 10;
constexpr int kMinimumEndDistance = 20;

}  // namespace

ResizableLine::ResizableLine(QWidget* parent) : QLabel(parent)
{
    setMouseTracking(true);
    if (parent)
        parent->installEventFilter(this);
}

void ResizableLine::setLineColor(const QColor& value)
{
    color = value;
    redraw();
}

void ResizableLine::setLineThickness(qint8 value)
{
    thickness = value;
    redraw();
}

void ResizableLine::setLineStyle(Qt::PenStyle value)
{
    style = value;
    redraw();
}

bool ResizableLine::endsAreSet() const
{
    return end1.x() != -1 && end1.y() != -1 && end2.x() != -1 && end2.y() != -1;
}

void ResizableLine::redraw()
{
    const QWidget* parent = parentWidget();
    if (!parent || !endsAreSet() || parent->width() <= 0 || parent->height() <= 0)
        return;
    QPixmap picture(parent->size());
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setPen(QPen(QBrush(color), thickness, style, Qt::SquareCap, Qt::BevelJoin));
    painter.drawLine(end1, end2);
    painter.setPen(QPen(QBrush(color), thickness, Qt::SolidLine));
    painter.drawEllipse(end1, kEndRadius, kEndRadius);
    painter.drawEllipse(end2, kEndRadius, kEndRadius);
    painter.end();
    setPixmap(picture);
}

void ResizableLine::rescale(bool keepScale)
{
    const QWidget* parent = parentWidget();
    if (!parent || !endsAreSet())
        return;
    const int parentWidth = parent->width();
    const int parentHeight = parent->height();
    // The own size is still the parent's previous size; a zero one has no scale to carry over.
    float scaleX = 1.0f;
    float scaleY = 1.0f;
    if (!keepScale && width() > 0 && height() > 0) {
        scaleX = float(parentWidth) / float(width());
        scaleY = float(parentHeight) / float(height());
    }
    for (QPoint* end : {&end1, &end2}) {
        end->setX(clampToRange(int(float(end->x()) * scaleX), 0, parentWidth - 1));
        end->setY(clampToRange(int(float(end->y()) * scaleY), 0, parentHeight - 1));
    }
    setGeometry(0, 0, parentWidth, parentHeight);
    redraw();
}

void ResizableLine::showDefault()
{
    show();
    const QWidget* parent = parentWidget();
    if (!parent)
        return;
    const int w = parent->width();
    const int h = parent->height();
    end1 = QPoint(w / 4, h / 2);
    end2 = QPoint(3 * w / 4, h / 2);
    rescale(true);
}

bool ResizableLine::eventFilter(QObject* object, QEvent* event)
{
    if (object == parentWidget() && event->type() == QEvent::Resize && isVisible())
        rescale(false);
    return QLabel::eventFilter(object, event);
}

void ResizableLine::mousePressEvent(QMouseEvent*) {}

void ResizableLine::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint position = event->pos();
    if (!(event->buttons() & Qt::LeftButton)) {
        if ((position - end1).manhattanLength() <= kHoverDistance) {
            movingEnd = &end1;
            fixedEnd = &end2;
            setCursor(Qt::SizeAllCursor);
        } else if ((position - end2).manhattanLength() <= kHoverDistance) {
            movingEnd = &end2;
            fixedEnd = &end1;
            setCursor(Qt::SizeAllCursor);
        } else {
            movingEnd = nullptr;
            fixedEnd = nullptr;
            unsetCursor();
        }
        return;
    }
    // Refusing moves that come too close keeps the two ends apart, so the angle stays defined.
    if (!movingEnd || (position - *fixedEnd).manhattanLength() <= kMinimumEndDistance)
        return;
    *movingEnd = QPoint(clampToRange(position.x(), 0, width()), clampToRange(position.y(), 0, height()));
    redraw();
}
