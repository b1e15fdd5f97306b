#pragma once
#include <QString>

#include <optional>

// What a media file is taken for, by its lower-case suffix.
enum class MediaKind { Photo, Video, Other };

// The part after the last '.', in lower case; empty without one.
QString lowerSuffix(const QString& path);
MediaKind mediaKindOf(const QString& path);
// The name of the media in the window title: "holiday.final[.mp4 Video]".
QString mediaDisplayName(const QString& kind, const QString& path);

// Why a path cannot be opened whatever its suffix: nothing there, a link that
// reaches no file (dangling, or a loop), a folder, something that is no regular
// file (a pipe or a device, whose reading may never end). None when it names a file.
enum class PathTrouble { None, Missing, UnreachableLink, Folder, NotRegularFile };
PathTrouble pathTroubleOf(const QString& path);
// The language key of the text that names the trouble, "%1" standing for the path.
const char* pathTroubleTextKey(PathTrouble trouble);

// The status bar's text of the media: "1920x1080, 29.97fps", the rate rounded to
// hundredths; the size alone for media without a rate of their own.
QString mediaStatusText(int width, int height, std::optional<double> fps);
