#pragma once
#include "Log.h"
#include "ScopedFileSizeLimit.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <string>

// File helpers shared by the CommonUI tests.
namespace testfiles {

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Points the log at a fresh file in dir.
inline void useLogIn(const QString& dir)
{
    setLogDirectory(dir.toStdString() + "/");
    resetLogFile();
}

inline int countInLog(const std::string& text)
{
    const std::string log = readFile(QString::fromStdString(logFilePath())).toStdString();
    int count = 0;
    for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + text.size()))
        ++count;
    return count;
}

using testsupport::ScopedFileSizeLimit;

}  // namespace testfiles
