#include <QApplication>
#include <gtest/gtest.h>

// Every test program gets an application object, so widgets, timers and
// QObject-based workers behave as they do in the real program.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
