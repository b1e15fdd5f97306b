#pragma once
#include <QString>

// The installer's run: stores the chosen language and, once per application version,
// marks the version as new (announcements on, first-run event pending). The settings
// store is the one of the application identity, which must be set before.
void applyInstallerSettings(const QString& language);
