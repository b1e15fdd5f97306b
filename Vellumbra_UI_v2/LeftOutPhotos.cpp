#include "LeftOutPhotos.h"

#include "ImagesSequence.h"

#include <QStringList>

#include <algorithm>

QString leftOutPhotoNames(ImagesSequence& frames, std::vector<int> leftOut)
{
    if (!frames.isPhotoList)
        return QString();
    std::sort(leftOut.begin(), leftOut.end());
    leftOut.erase(std::unique(leftOut.begin(), leftOut.end()), leftOut.end());
    QStringList names;
    for (int index : leftOut)
        names << frames.infoLabel(index);
    return names.join(QStringLiteral(", "));
}
