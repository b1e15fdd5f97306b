#pragma once
#include <QString>

class QSettings;
class QWidget;

// Dialogs remember their geometry in their own settings group under "posX", "posY",
// "width" and "height". Restoring keeps the dialog reachable on the primary screen:
// the position only when both coordinates are stored, the size defaulting to 800 x 600,
// and the height never above the screen's.
void restoreDialogGeometry(QWidget* dialog, QSettings& settings, const QString& group);
void storeDialogGeometry(const QWidget* dialog, QSettings& settings, const QString& group);
