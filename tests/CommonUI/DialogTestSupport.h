#pragma once
#include "LanguageEngine.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <utility>

// Drives the next modal widget: a timer polls QApplication::activeModalWidget()
// while exec() runs its own event loop and hands the widget to the action once.
class ModalDriver {
public:
    explicit ModalDriver(std::function<void(QWidget*)> action) : act(std::move(action))
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal)
                return;
            timer.stop();
            seen = modal;
            act(modal);
        });
        timer.start(10);
    }
    // The modal widget the action ran on, or null when none appeared.
    QWidget* modal() const { return seen; }

private:
    std::function<void(QWidget*)> act;
    QTimer timer;
    QWidget* seen = nullptr;
};

inline void clickButton(QWidget* dialog, const char* objectName)
{
    if (auto* button = dialog->findChild<QPushButton*>(objectName))
        button->click();
}

// The application's settings store redirected into a fresh folder for one test.
class TemporarySettings {
public:
    TemporarySettings()
    {
        QCoreApplication::setOrganizationName("Orvane");
        QCoreApplication::setApplicationName("Vellumbra 3");
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    }

private:
    QTemporaryDir folder;
};

inline QString shippedLanguageFolder() { return QFileInfo(QString(__FILE__)).absolutePath() + "/../../Lang/"; }

// Makes the files of folder the engine's languages, with English current.
inline void useLanguagesIn(const QString& folder)
{
    LanguageEngine::setApplicationFolder(folder.toStdString());
    LanguageEngine::setUserFolder(folder.toStdString());
    LanguageEngine::init();
    LanguageEngine::setLanguage("English");
}

// The shipped languages, so every text is found and none is logged as missing.
inline void useShippedLanguages() { useLanguagesIn(shippedLanguageFolder()); }

// Saves a picture of the widget beside the test program, as an artefact of the run.
inline bool saveScreenshot(QWidget* widget, const QString& name)
{
    const QString folder = QCoreApplication::applicationDirPath() + "/screenshots";
    QDir().mkpath(folder);
    return widget->grab().save(folder + "/" + name + ".png");
}

// What a screenshot must show: every visible button, box, label and text view lies
// wholly inside the widget and is drawn, so its region of the picture is not one
// flat colour (a control cut off by the layout or left without its text fails).
inline void expectControlsDrawnInside(QWidget* widget)
{
    const QImage picture = widget->grab().toImage();
    ASSERT_EQ(picture.size(), widget->size());
    int checked = 0;
    for (QWidget* control : widget->findChildren<QWidget*>()) {
        if (!control->isVisible() || !(qobject_cast<QAbstractButton*>(control) || qobject_cast<QComboBox*>(control) ||
                                       qobject_cast<QLabel*>(control) || qobject_cast<QPlainTextEdit*>(control)))
            continue;
        const QRect area(control->mapTo(widget, QPoint(0, 0)), control->size());
        const QString name = control->objectName();
        EXPECT_TRUE(widget->rect().contains(area)) << name.toStdString();
        const QImage region = picture.copy(area);
        QImage flat(region.size(), region.format());
        flat.fill(region.pixelColor(0, 0));
        EXPECT_TRUE(region != flat) << name.toStdString() << " is not drawn";
        ++checked;
    }
    EXPECT_GT(checked, 0);
}
