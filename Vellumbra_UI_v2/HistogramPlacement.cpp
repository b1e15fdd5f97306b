#include "HistogramPlacement.h"

#include <algorithm>
#include <array>

namespace {

constexpr int kMargin = 6;

// The top corners only: the picture is centred, so a free bottom corner comes with a
// free top one, and the bottom of the area moves with the strip below it. Top left
// first, as the left edge of the area stays put from one step to the next.
std::array<QRect, 2> cornersOf(const QRect& area, const QSize& dock)
{
    const QRect inner = area.adjusted(kMargin, kMargin, -kMargin, -kMargin);
    return {QRect(inner.topLeft(), dock), QRect(QPoint(inner.right() - dock.width() + 1, inner.top()), dock)};
}

long long coveredArea(const QRect& placed, const QRect& picture)
{
    const QRect covered = placed.intersected(picture);
    return covered.isEmpty() ? 0 : static_cast<long long>(covered.width()) * covered.height();
}

}  // namespace

QPoint firstHistogramPlace(const QSize& dock, const HistogramSurroundings& around)
{
    const std::array<QRect, 2> corners = cornersOf(around.pictureArea, dock);
    for (const QRect& corner : corners)
        if (around.pictureArea.contains(corner) && !corner.intersects(around.picture))
            return corner.topLeft();
    const int top = around.pictureArea.top();
    const QRect beside[] = {QRect(QPoint(around.window.right() + 1 + kMargin, top), dock),
                            QRect(QPoint(around.window.left() - kMargin - dock.width(), top), dock)};
    for (const QRect& place : beside)
        if (around.screen.contains(place))
            return place.topLeft();
    return std::min_element(corners.begin(), corners.end(),
                            [&](const QRect& a, const QRect& b) {
                                return coveredArea(a, around.picture) < coveredArea(b, around.picture);
                            })
        ->topLeft();
}

QPoint restoredHistogramPlace(const QPoint& stored, const QSize& dock, const QRect& menuBar, const QRect& screen)
{
    QRect placed(stored, dock);
    placed.moveLeft(std::clamp(placed.left(), screen.left(), std::max(screen.left(), screen.right() - dock.width() + 1)));
    placed.moveTop(std::clamp(placed.top(), screen.top(), std::max(screen.top(), screen.bottom() - dock.height() + 1)));
    if (placed.intersects(menuBar))
        placed.moveTop(menuBar.bottom() + 1);
    return placed.topLeft();
}
