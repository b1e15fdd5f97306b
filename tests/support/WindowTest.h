#pragma once
#include <QString>

class QWidget;

// Shared by the test programs of the main window.
namespace windowtest {

// True when the program runs on a real X display (the Xvfb of test.sh), where
// windows are mapped and can be photographed; false on the offscreen platform.
bool hasRealDisplay();

// Paints every visible top-level window, grabs the whole screen and saves it as
// <build dir>/artefacts/screenshots/<name>.png. Returns the file's path, empty on failure.
QString saveScreenshot(const QString& name);

// Delivers pending events, then saves the screenshot; a failed save fails the test.
void photograph(const QString& name);

}  // namespace windowtest
