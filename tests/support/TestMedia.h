#pragma once
#include <QString>
#include <QStringList>

// Locations of real media for the tests. Tests skip when a file is absent.
namespace testmedia {

// Folder of real camera raw files (may not exist).
QString rawDir();
// Root of the media unpacked from Debian packages by scripts/fetch-test-media.sh.
QString mediaRoot();
// Absolute path of a file below mediaRoot(), or an empty string when it is missing.
QString mediaFile(const QString& relativePath);
// All files below mediaRoot()/relativeDir whose names match one of the patterns, sorted.
QStringList mediaFiles(const QString& relativeDir, const QStringList& patterns);
// A fresh temporary directory for one test, removed by the caller or left in /tmp.
QString makeTempDir(const QString& prefix);

}  // namespace testmedia
