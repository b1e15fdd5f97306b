#pragma once
#include <QRect>
#include <QString>

class QWidget;

// Shared by the test programs of the main window.
namespace windowtest {

// True when the program runs on a real X display (the Xvfb of test.sh), where
// windows are mapped and can be photographed; false on the offscreen platform.
bool hasRealDisplay();

// The whole X screen: window tests fill it, so one run per screen size shows the
// window as a photographer with that screen sees it.
QRect screenGeometry();

// Paints every visible top-level window, grabs the whole screen and saves it as
// <build dir>/artefacts/screenshots/<name>.png, or under a sub-folder named after the
// screen size (1280x720/) on a screen other than full HD. Returns the file's path,
// empty on failure.
QString saveScreenshot(const QString& name);

// Delivers pending events, then saves the screenshot; a failed save fails the test.
void photograph(const QString& name);

}  // namespace windowtest
