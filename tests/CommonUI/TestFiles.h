#pragma once
#include "Log.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <csignal>
#include <string>
#include <sys/resource.h>

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

// Makes writes past a size fail with EFBIG, which holds even for root, unlike permissions.
class ScopedFileSizeLimit
{
public:
    explicit ScopedFileSizeLimit(rlim_t bytes)
    {
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous);
        rlimit limited = previous;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~ScopedFileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
    }
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

private:
    rlimit previous{};
    void (*previousHandler)(int) = SIG_DFL;
};

}  // namespace testfiles
