#include "FileFilter.h"

#include <QStringList>

QString buildFileFilter(const char* const* extensions, int count, const QString& groupName, const std::string* names)
{
    QString filter;
    QStringList patterns;
    for (int i = 0; i < count; ++i) {
        const QString pattern = QStringLiteral("*.") + QString::fromLatin1(extensions[i]);
        if (names)
            filter += QString::fromStdString(names[i]) + QStringLiteral(" (") + pattern + QStringLiteral(");;");
        patterns << pattern;
    }
    return filter + groupName + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
           QStringLiteral(");;All Files (*.*)");
}
