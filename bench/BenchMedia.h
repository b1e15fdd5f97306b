#pragma once
// Real media of the test media cache that several benchmarks share.
#include <QFileInfo>
#include <QString>

#include <cstdlib>
#include <string>

namespace benchmedia {

// The test media cache: VB_TEST_MEDIA when set, else the one this build was configured with.
inline std::string root()
{
    const char* overridden = std::getenv("VB_TEST_MEDIA");
    return overridden ? overridden : VB_TEST_MEDIA;
}

// The phone's 1080p video (41 frames) in the cache.
inline std::string phoneVideoPath()
{
    return root() + "/forensics-samples-files/usr/share/forensics-samples/original-files/movie1/VID_20191220_170832.mp4";
}

// The phone's video; empty when the test media are missing.
inline QString phoneVideo()
{
    const QString path = QString::fromStdString(phoneVideoPath());
    return QFileInfo::exists(path) ? path : QString();
}

}  // namespace benchmedia
