#include "QtMessageFailure.h"

#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

// Main of the main window's test programs. A program that asks for the X
// platform runs on the display named by VB_TEST_DISPLAY (the Xvfb of test.sh),
// else on DISPLAY; without either it falls back to offscreen and its window
// tests skip. Any Qt warning fails the test that caused it.
int main(int argc, char** argv)
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    QByteArray display = qgetenv("VB_TEST_DISPLAY");
    if (display.isEmpty())
        display = qgetenv("DISPLAY");
    if (platform == "xcb" && !display.isEmpty())
        qputenv("DISPLAY", display);
    else
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // Qt warns when its runtime folder is missing, which CI machines often lack.
    std::unique_ptr<QTemporaryDir> runtimeDir;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        runtimeDir = std::make_unique<QTemporaryDir>();
        qputenv("XDG_RUNTIME_DIR", runtimeDir->path().toLocal8Bit());
    }

    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    failTestsOnQtWarnings();
    return RUN_ALL_TESTS();
}
