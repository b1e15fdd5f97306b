#include "FileFilter.h"

#include <QRegularExpression>
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

QString filterExtension(const QString& filter)
{
    static const QRegularExpression pattern(QStringLiteral("\\*\\.([A-Za-z0-9]+)[ )]"));
    return pattern.match(filter).captured(1);
}
