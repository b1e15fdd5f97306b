#include "TemporaryEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace windowtest {

TemporaryEnvironment::TemporaryEnvironment() : root(QDir::tempPath() + "/vb-window-XXXXXX")
{
    QCoreApplication::setOrganizationName("Orvane");
    QCoreApplication::setApplicationName("Vellumbra 3");
    const QString base = root.path();
    for (const char* folder : {"/config", "/data", "/cache", "/runtime", "/files"})
        QDir().mkpath(base + folder);
    QFile::setPermissions(base + "/runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    set("HOME", base);
    set("XDG_CONFIG_HOME", base + "/config");
    set("XDG_DATA_HOME", base + "/data");
    set("XDG_CACHE_HOME", base + "/cache");
    set("XDG_RUNTIME_DIR", base + "/runtime");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, base + "/config");
}

TemporaryEnvironment::~TemporaryEnvironment()
{
    for (auto it = saved.rbegin(); it != saved.rend(); ++it) {
        if (it->wasSet)
            qputenv(it->name.constData(), it->value);
        else
            qunsetenv(it->name.constData());
    }
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       config.isEmpty() ? QDir::homePath() + "/.config" : QString::fromLocal8Bit(config));
}

QString TemporaryEnvironment::dataFolder() const
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

void TemporaryEnvironment::set(const char* name, const QString& value)
{
    saved.push_back({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
    qputenv(name, QFile::encodeName(value));
}

}  // namespace windowtest
