#include "ResizableFrame.h"

#include "OverlayGeometry.h"

#include <QMouseEvent>

#include <algorithm>

namespace {

constexpr int kMinimumSize = 10;
constexpr int kBorder = 8;

enum Zone { TopLeft, Left, BottomLeft, Bottom, BottomRight, Right, TopRight, Top, Inside };

}  // namespace

ResizableFrame::ResizableFrame(QWidget* parent) : QFrame(parent)
{
    setMouseTracking(true);
    const int w = parent ? parent->width() : 0;
    const int h = parent ? parent->height() : 0;
    setGeometryClamped(w / 4, h / 4, w / 2, h / 2);
}

void ResizableFrame::setGeometryClamped(int x, int y, int w, int h)
{
    const QWidget* parent = parentWidget();
    if (!parent) {
        setGeometry(x, y, std::max(w, kMinimumSize), std::max(h, kMinimumSize));
        return;
    }
    const int parentWidth = parent->width();
    const int parentHeight = parent->height();
    x = clampToRange(x, 0, parentWidth - kMinimumSize);
    y = clampToRange(y, 0, parentHeight - kMinimumSize);
    // The minimum yields to the parent's edge when the parent is smaller than it.
    w = std::min(std::max(w, kMinimumSize), parentWidth - x);
    h = std::min(std::max(h, kMinimumSize), parentHeight - y);
    setGeometry(x, y, w, h);
}

void ResizableFrame::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    pressPosition = event->pos();
    pressGeometry = geometry();
}

void ResizableFrame::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        drag(event->pos().x(), event->pos().y());
    else
        hover(event->pos().x(), event->pos().y());
}

void ResizableFrame::hover(int x, int y)
{
    const int w = width();
    const int h = height();
    const bool nearLeft = x <= kBorder;
    const bool nearTop = y <= kBorder;
    const bool nearRight = x >= w - kBorder;
    const bool nearBottom = y >= h - kBorder;
    Qt::CursorShape shape;
    if (nearLeft && nearTop) {
        zone = TopLeft;
        shape = Qt::SizeFDiagCursor;
    } else if (nearLeft && nearBottom) {
        zone = BottomLeft;
        shape = Qt::SizeBDiagCursor;
    } else if (nearRight && nearTop) {
        zone = TopRight;
        shape = Qt::SizeBDiagCursor;
    } else if (nearRight && nearBottom) {
        zone = BottomRight;
        shape = Qt::SizeFDiagCursor;
    } else if (nearLeft) {
        zone = Left;
        shape = Qt::SizeHorCursor;
    } else if (nearRight) {
        zone = Right;
        shape = Qt::SizeHorCursor;
    } else if (!nearTop && !nearBottom) {
        zone = Inside;
        shape = Qt::SizeAllCursor;
    } else if (!nearTop) {
        zone = Bottom;
        shape = Qt::SizeVerCursor;
    } else {
        zone = Top;
        shape = Qt::SizeVerCursor;
    }
    setCursor(shape);
}

void ResizableFrame::drag(int x, int y)
{
    const QRect& g = pressGeometry;
    const int px = pressPosition.x();
    const int py = pressPosition.y();
    const int wc = width();
    const int hc = height();
    QRect target;
    switch (zone) {
    case TopLeft: target = QRect(g.left() + x - px, g.top() + y - py, g.width() + px - x, hc + py - y); break;
    case Left: target = QRect(g.left() + x - px, g.top(), g.width() + px - x, hc); break;
    case BottomLeft: target = QRect(g.left() + x - px, g.top(), g.width() + px - x, y); break;
    case Bottom: target = QRect(g.left(), g.top(), wc, y); break;
    case BottomRight: target = QRect(g.left(), g.top(), x, y); break;
    case Right: target = QRect(g.left(), g.top(), x, hc); break;
    case TopRight: target = QRect(g.left(), g.top() + y - py, x, hc + py - y); break;
    case Top: target = QRect(g.left(), g.top() + y - py, g.width(), hc + py - y); break;
    case Inside: {
        const QWidget* parent = parentWidget();
        int left = g.left() + x - px;
        int top = g.top() + y - py;
        if (parent) {
            left = clampToRange(left, 0, parent->width() - wc);
            top = clampToRange(top, 0, parent->height() - hc);
        }
        target = QRect(left, top, wc, hc);
        break;
    }
    default:
        return;  // a press before any hover has no zone to act on
    }
    setGeometryClamped(target.left(), target.top(), target.width(), target.height());
    // Zones that move the top-left corner see later events relative to the moved frame.
    if (zone != Bottom && zone != BottomRight && zone != Right)
        pressGeometry = geometry();
}
