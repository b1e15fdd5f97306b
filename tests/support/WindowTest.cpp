#include "WindowTest.h"

#include <QApplication>
#include <gtest/gtest.h>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace windowtest {

bool hasRealDisplay()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

QRect screenGeometry()
{
    return QGuiApplication::primaryScreen()->geometry();
}

QString saveScreenshot(const QString& name)
{
    const QSize screenSize = screenGeometry().size();
    QDir dir(QStringLiteral(VB_SCREENSHOT_DIR));
    if (screenSize != QSize(1920, 1080))
        dir.setPath(dir.filePath(QStringLiteral("%1x%2").arg(screenSize.width()).arg(screenSize.height())));
    if (!dir.mkpath(QStringLiteral(".")))
        return {};
    // Each visible window renders itself onto a picture of the screen: a grab of the X
    // screen can still show a window that an earlier test process left behind.
    QList<QWidget*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isVisible())
            windows.append(widget);
    // Windows first, then their tool windows (the floating histogram), then dialogs over
    // them, the modal one on top, then menus and tool tips.
    const auto layer = [](const QWidget* widget) {
        if (widget->windowType() == Qt::Popup || widget->windowType() == Qt::ToolTip)
            return 3;
        if (QApplication::activeModalWidget() == widget)
            return 2;
        return widget->parentWidget() || widget->isModal() ? 1 : 0;
    };
    std::stable_sort(windows.begin(), windows.end(),
                     [&](const QWidget* a, const QWidget* b) { return layer(a) < layer(b); });
    QImage screen(screenSize, QImage::Format_RGB32);
    screen.fill(Qt::black);
    QPainter painter(&screen);
    for (QWidget* widget : windows)
        painter.drawPixmap(widget->geometry().topLeft(), widget->grab());
    painter.end();
    const QString path = dir.filePath(name + QStringLiteral(".png"));
    return screen.save(path) ? path : QString();
}

void photograph(const QString& name)
{
    QCoreApplication::processEvents();
    EXPECT_FALSE(saveScreenshot(name).isEmpty()) << name.toStdString();
}

}  // namespace windowtest
