#pragma once
#include <QPoint>
#include <QRect>

// Where the timeline's labels go. The bar (label_BackgroundMidPlayingBar) spans
// frames 0 to count - 1; a source of one frame puts everything at the bar's start
// and a zero-wide bar or strip counts as one pixel, so nothing divides by zero.
namespace timeline {

// The bar's x offset of a frame, integer arithmetic.
int frameOffset(int barWidth, int frame, int frameCount);

QPoint cursorPosition(const QRect& bar, int frame, int frameCount, int cursorWidth);
QPoint trimStartPosition(const QRect& bar, int first, int frameCount, int markerWidth);
QPoint trimEndPosition(const QRect& bar, int last, int frameCount);
// The chosen-frame line; its flag label takes the same x.
QPoint chosenFlagPosition(const QRect& bar, int chosen, int frameCount, int lineWidth);
// A pin (above the bar) or a tile's marker (below it), placed in single precision.
QPoint pinPosition(const QRect& bar, int frame, int frameCount, int widgetWidth, bool aboveBar);

// The frame under a press at x pixels into a strip of stripWidth covering the
// playback range [first, last].
int frameAtPress(int x, int stripWidth, int first, int last);
// The frame a drag at window x maps to over the strip starting at stripX; not
// clamped, the cursor and marker drags clamp it their own way.
int frameAtDrag(int mouseX, int stripX, int stripWidth, int first, int last);

struct Layout {
    QRect bar;
    QPoint externLeft;
    QPoint externRight;
};
// The bar between the two trim markers' widths inside the panel, centred on the
// chosen-frame line's height.
Layout layout(int panelWidth, int markerWidth, int barHeight, int flagLineHeight, int externRightWidth);

}  // namespace timeline
