#include "MediaFiles.h"

#include "FileExtensions.h"
#include "Utilities.h"

#include <QFileInfo>

#include <cmath>

QString lowerSuffix(const QString& path)
{
    return QFileInfo(path).suffix().toLower();
}

MediaKind mediaKindOf(const QString& path)
{
    const QByteArray suffix = lowerSuffix(path).toUtf8();
    if (indexOfString(imageExtensions, imageExtensionCount, suffix.constData()) >= 0)
        return MediaKind::Photo;
    if (indexOfString(videoExtensions, videoExtensionCount, suffix.constData()) >= 0)
        return MediaKind::Video;
    return MediaKind::Other;
}

QString mediaDisplayName(const QString& kind, const QString& path)
{
    const QFileInfo file(path);
    return file.completeBaseName() + QStringLiteral("[.") + lowerSuffix(path) + QStringLiteral(" ") + kind +
           QStringLiteral("]");
}

PathTrouble pathTroubleOf(const QString& path)
{
    const QFileInfo file(path);
    // exists() follows links: a dangling link or a loop of links is not there.
    if (!file.exists())
        return file.isSymLink() ? PathTrouble::UnreachableLink : PathTrouble::Missing;
    if (file.isDir())
        return PathTrouble::Folder;
    return file.isFile() ? PathTrouble::None : PathTrouble::NotRegularFile;
}

const char* pathTroubleTextKey(PathTrouble trouble)
{
    switch (trouble) {
    case PathTrouble::Missing:
        return "ExplFileAbsent";
    case PathTrouble::UnreachableLink:
        return "ExplLinkUnreachable";
    case PathTrouble::Folder:
        return "ExplFolderNotMedia";
    case PathTrouble::NotRegularFile:
        return "ExplNotRegularFile";
    case PathTrouble::None:
        break;
    }
    return "";
}

QString mediaStatusText(int width, int height, std::optional<double> fps)
{
    const QString size = QStringLiteral("%1x%2").arg(width).arg(height);
    if (!fps)
        return size;
    // A rate measured as 14.9999 reads 15: hundredths tell the usual rates (29.97, 23.98) apart.
    return size + QStringLiteral(", %1fps").arg(std::round(*fps * 100.0) / 100.0, 0, 'g', 6);
}
