#include "TestMedia.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>

namespace testmedia {

QString rawDir()
{
    return QStringLiteral(VB_RAW_TESTDATA);
}

QString mediaRoot()
{
    const QString fromEnvironment = qEnvironmentVariable("VB_TEST_MEDIA");
    return fromEnvironment.isEmpty() ? QStringLiteral(VB_TEST_MEDIA) : fromEnvironment;
}

QString mediaFile(const QString& relativePath)
{
    const QString path = QDir(mediaRoot()).filePath(relativePath);
    return QFileInfo::exists(path) ? path : QString();
}

QStringList mediaFiles(const QString& relativeDir, const QStringList& patterns)
{
    QStringList found;
    QDirIterator it(QDir(mediaRoot()).filePath(relativeDir), patterns, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    found.sort();
    return found;
}

QString makeTempDir(const QString& prefix)
{
    QTemporaryDir dir(QDir::tempPath() + "/" + prefix + "-XXXXXX");
    dir.setAutoRemove(false);
    return dir.path();
}

}  // namespace testmedia
