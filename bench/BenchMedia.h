#pragma once
// Real media of the test media cache that several benchmarks share.
#include <QFileInfo>
#include <QString>

#include <cstdlib>

namespace benchmedia {

// The phone's 1080p video (41 frames); empty when the test media are missing.
inline QString phoneVideo()
{
    const char* root = std::getenv("VB_TEST_MEDIA");
    const QString path = QString::fromLocal8Bit(root ? root : VB_TEST_MEDIA) +
                         "/forensics-samples-files/usr/share/forensics-samples/original-files/movie1/"
                         "VID_20191220_170832.mp4";
    return QFileInfo::exists(path) ? path : QString();
}

}  // namespace benchmedia
