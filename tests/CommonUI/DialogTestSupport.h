#pragma once
#include "LanguageEngine.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

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
