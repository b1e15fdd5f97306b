#pragma once
#include <QColor>
#include <QImage>

// Colours of the frame and candidate tiles: the pin tint and the candidate
// tile's border, by tile number modulo 15 (negative numbers wrap too).
QColor tileColour(int tileNumber);

// Copy of pin in 32-bit ARGB with colour's red, green and blue added to every
// pixel whose alpha is not 0, each clamped to 255; alpha unchanged.
QImage tintPin(const QImage& pin, const QColor& colour);

// The interface's pin picture (read once) tinted for the tile number; a null
// image when the picture cannot be read (logged once).
QImage tintedPin(int tileNumber);
