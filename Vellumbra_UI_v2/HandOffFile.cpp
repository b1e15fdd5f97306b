#include "HandOffFile.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

namespace {

// File systems keep modification times to a second or two.
constexpr int kTimeGranularitySeconds = 2;

}  // namespace

QString handOffLine(const QString& savedPath)
{
    return QString(savedPath).replace('/', '\\') + '\n';
}

bool fileWrittenSince(const QString& savedPath, const QDateTime& since)
{
    const QFileInfo written(savedPath);
    return written.isFile() && written.size() > 0 &&
           written.lastModified() >= since.addSecs(-kTimeGranularitySeconds);
}

bool handOffCarries(const QString& savedPath)
{
    return !savedPath.contains(QLatin1Char('\n')) && !savedPath.contains(QLatin1Char('\r'));
}

bool appendHandOffLine(const QString& handOffFile, const QString& savedPath)
{
    if (!handOffCarries(savedPath))
        return false;
    // Written straight through, so that a full disk or a device that takes nothing
    // answers this very write.
    const int file = ::open(QFile::encodeName(handOffFile).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (file < 0)
        return false;
    const QByteArray line = handOffLine(savedPath).toUtf8();
    const bool written = ::write(file, line.constData(), static_cast<size_t>(line.size())) == line.size();
    return ::close(file) == 0 && written;
}
