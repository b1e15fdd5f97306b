#include "WindowTest.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

namespace windowtest {

bool hasRealDisplay()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

QString saveScreenshot(const QString& name)
{
    const QDir dir(QStringLiteral(VB_SCREENSHOT_DIR));
    if (!dir.mkpath(QStringLiteral(".")))
        return {};
    // repaint() flushes to the X server before the grab, which the server answers in order.
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isVisible())
            widget->repaint();
    const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    const QString path = dir.filePath(name + QStringLiteral(".png"));
    return screen.save(path) ? path : QString();
}

}  // namespace windowtest
