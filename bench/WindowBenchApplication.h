#pragma once
// The main window's benchmarks: an application on the offscreen platform with the
// program's installed files laid out beside it from the sources.
#include "AppIdentity.h"
#include "ApplicationStyleSheet.h"
#include "ThumbnailStorage.h"
#include "VellumbraResources.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <opencv2/core.hpp>

namespace windowbench {

constexpr int kFactoryPresets = 20;

inline void copyFile(const QString& from, const QString& to)
{
    QFile::remove(to);
    QFile::copy(from, to);
}

// The shipped looks, repeated under new names up to kFactoryPresets.
inline void repeatShippedPresets(const QString& path)
{
    QFile source(VB_SOURCE_DIR "/Presets/default.xml");
    source.open(QIODevice::ReadOnly);
    const QRegularExpression element(QStringLiteral("<preset>.*?<name>(.*?)</name>.*?</preset>"),
                                     QRegularExpression::DotMatchesEverythingOption);
    QStringList shipped;
    for (auto match = element.globalMatch(QString::fromUtf8(source.readAll())); match.hasNext();)
        shipped << match.next().captured(0);
    QFile presets(path);
    presets.open(QIODevice::WriteOnly | QIODevice::Truncate);
    for (int i = 0; i < kFactoryPresets && !shipped.isEmpty(); ++i) {
        QString preset = shipped[i % shipped.size()];
        preset.replace(QRegularExpression(QStringLiteral("<name>.*?</name>")), QString("<name>Preset%1</name>").arg(i));
        presets.write(preset.toUtf8() + '\n');
    }
}

// How the factory preset file is laid out: the shipped one as it is, or its looks
// repeated under new names up to kFactoryPresets.
enum class FactoryPresets { Shipped, Twenty };

// The installed files beside the program, a private settings store and data
// folder, and ten recent files with their thumbnails.
inline void prepareInstallation(FactoryPresets factoryPresets)
{
    static QTemporaryDir home;
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME"})
        qputenv(name, QFile::encodeName(home.path() + '/' + name));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path() + "/XDG_CONFIG_HOME");

    const QString program = QCoreApplication::applicationDirPath();
    QDir().mkpath(program + "/Lang");
    QDir().mkpath(program + "/Presets");
    copyFile(VB_SOURCE_DIR "/Lang/English.txt", program + "/Lang/English.txt");
    copyFile(VB_SOURCE_DIR "/Presets/default.xml", program + "/Presets/default.xml");
    if (factoryPresets == FactoryPresets::Twenty)
        repeatShippedPresets(program + "/Presets/default.xml");

    ThumbnailStorage recent;
    cv::Mat frame(1080, 1920, CV_8UC3);
    for (int i = 0; i < ThumbnailStorage::kCapacity; ++i) {
        cv::randu(frame, 0, 255);
        recent.add(QString("/media/clip%1.mp4").arg(i), frame);
    }
    recent.save();
}

inline QApplication& application(FactoryPresets factoryPresets = FactoryPresets::Twenty)
{
    static int argc = 1;
    static char name[] = "vellumbra_bench";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    static const bool ready = [factoryPresets] {
        applyApplicationIdentity();
        loadVellumbraResources();
        applyApplicationStyleSheet(app);
        prepareInstallation(factoryPresets);
        return true;
    }();
    (void)ready;
    return app;
}

}  // namespace windowbench
