#include "InstallerSettings.h"

#include "AppIdentity.h"

#include <QSettings>

void applyInstallerSettings(const QString& language)
{
    QSettings settings;
    settings.setValue(QStringLiteral("GeneralSettings/ChosenLanguage"), language);

    const QString version = AppIdentity::kVersion;
    settings.beginGroup(QStringLiteral("UserParameters"));
    if (settings.value(QStringLiteral("currentVersion")).toString() != version) {
        settings.setValue(QStringLiteral("currentVersion"), version);
        settings.setValue(QStringLiteral("DoNotShowUpdates"), false);
        settings.setValue(QStringLiteral("isFirstRunVersion"), true);
    }
    settings.endGroup();
}
