#include "DialogGeometry.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>

#include <algorithm>

namespace {

constexpr int kDefaultWidth = 800;
constexpr int kDefaultHeight = 600;
constexpr int kScreenMargin = 100;
constexpr int kMinimumX = 100;
constexpr int kMinimumY = 40;

}  // namespace

void restoreDialogGeometry(QWidget* dialog, QSettings& settings, const QString& group)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    settings.beginGroup(group);
    if (settings.contains("posX") && settings.contains("posY")) {
        const int x = std::min(std::max(settings.value("posX").toInt(), kMinimumX), area.width() - kScreenMargin);
        const int y = std::min(std::max(settings.value("posY").toInt(), kMinimumY), area.height() - kScreenMargin);
        dialog->move(x, y);
    }
    dialog->resize(std::min(settings.value("width", kDefaultWidth).toInt(), area.width() - kScreenMargin),
                   std::min(settings.value("height", kDefaultHeight).toInt(), area.height() - kScreenMargin));
    settings.endGroup();
    dialog->setMaximumHeight(area.height());
}

void storeDialogGeometry(const QWidget* dialog, QSettings& settings, const QString& group)
{
    settings.beginGroup(group);
    settings.setValue("width", dialog->width());
    settings.setValue("height", dialog->height());
    settings.setValue("posX", dialog->pos().x());
    settings.setValue("posY", dialog->pos().y());
    settings.endGroup();
}
