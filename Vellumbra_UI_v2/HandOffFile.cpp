#include "HandOffFile.h"

#include <QFile>
#include <QFileInfo>

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

bool appendHandOffLine(const QString& handOffFile, const QString& savedPath)
{
    QFile file(handOffFile);
    if (!file.open(QIODevice::Append | QIODevice::Text))
        return false;
    const QByteArray line = handOffLine(savedPath).toUtf8();
    return file.write(line) == line.size();
}
