#include "TimelineGeometry.h"

#include <algorithm>

namespace timeline {

namespace {

int belowBar(const QRect& bar)
{
    return bar.y() + (bar.height() * 3) / 4;
}

}  // namespace

int frameOffset(int barWidth, int frame, int frameCount)
{
    if (frameCount < 2)
        return 0;
    return (barWidth * frame) / (frameCount - 1);
}

QPoint cursorPosition(const QRect& bar, int frame, int frameCount, int cursorWidth)
{
    return {bar.x() + frameOffset(bar.width(), frame, frameCount) - cursorWidth / 2, belowBar(bar)};
}

QPoint trimStartPosition(const QRect& bar, int first, int frameCount, int markerWidth)
{
    return {bar.x() + frameOffset(bar.width(), first, frameCount) - markerWidth, bar.y()};
}

QPoint trimEndPosition(const QRect& bar, int last, int frameCount)
{
    return {bar.x() + frameOffset(bar.width(), last, frameCount), bar.y()};
}

QPoint chosenFlagPosition(const QRect& bar, int chosen, int frameCount, int lineWidth)
{
    return {bar.x() + frameOffset(bar.width(), chosen, frameCount) - lineWidth / 2, 0};
}

QPoint pinPosition(const QRect& bar, int frame, int frameCount, int widgetWidth, bool aboveBar)
{
    const float step = frameCount < 2 ? 0.0f : static_cast<float>(bar.width()) / (frameCount - 1.0f);
    const int x = static_cast<int>(bar.x() - widgetWidth * 0.5f + static_cast<int>(frame * step));
    const int quarterBelow = (bar.height() * 3) / 4;
    return {x, aboveBar ? bar.y() - quarterBelow : bar.y() + quarterBelow};
}

int frameAtPress(int x, int stripWidth, int first, int last)
{
    const int frame = first + x * (last - first + 1) / std::max(stripWidth, 1);
    return std::clamp(frame, first, std::max(first, last));
}

int frameAtDrag(int mouseX, int stripX, int stripWidth, int first, int last)
{
    return ((last - first + 1) * (mouseX - stripX)) / std::max(stripWidth, 1) + first;
}

Layout layout(int panelWidth, int markerWidth, int barHeight, int flagLineHeight, int externRightWidth)
{
    const int y = flagLineHeight - barHeight / 2;
    return {QRect(markerWidth, y, std::max(panelWidth - 2 * markerWidth, 0), barHeight), QPoint(markerWidth, y),
            QPoint(panelWidth - markerWidth - externRightWidth, y)};
}

}  // namespace timeline
