#pragma once
#include <QString>

class QApplication;

// The application style sheet, read from the embedded resources; empty (and
// logged) when it cannot be read.
QString applicationStyleSheet();

// Gives the whole application the style sheet; call it before the main window's
// widgets are made, so every widget, dialog and tile is polished with it once.
// Without a readable sheet the application keeps its default look.
void applyApplicationStyleSheet(QApplication& application);
