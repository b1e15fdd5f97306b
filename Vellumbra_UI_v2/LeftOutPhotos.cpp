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

int nearestReadablePhoto(ImagesSequence& frames, int from)
{
    cv::Mat photo;
    for (int distance = 1; distance < frames.frameCount; ++distance)
        for (const int index : {from + distance, from - distance})
            if (index >= 0 && index < frames.frameCount && !frames.getFrame(photo, index, true).empty())
                return index;
    return -1;
}
