#pragma once
#include <QPoint>
#include <QRect>
#include <QSize>

// Where the floating histogram goes, in screen coordinates.

// What the histogram must find room among when it first shows.
struct HistogramSurroundings {
    QRect screen;       // the part of the window's screen that windows may use
    QRect window;       // the main window's frame
    QRect pictureArea;  // the central area the picture is fitted into, as narrow as any step makes it
    QRect picture;      // the picture itself, within pictureArea
};

// A top corner of the picture area that leaves the picture uncovered; else a place
// beside the window within the screen; else the top corner that covers the least of
// the picture. Inside the picture area it covers neither the menus nor the side panels.
QPoint firstHistogramPlace(const QSize& dock, const HistogramSurroundings& around);

// A place kept from an earlier start, brought into the screen and below the menu bar
// when it lies across either.
QPoint restoredHistogramPlace(const QPoint& stored, const QSize& dock, const QRect& menuBar, const QRect& screen);
