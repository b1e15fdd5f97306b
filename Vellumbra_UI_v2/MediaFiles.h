#pragma once
#include <QString>

// What a media file is taken for, by its lower-case suffix.
enum class MediaKind { Photo, Video, Other };

// The part after the last '.', in lower case; empty without one.
QString lowerSuffix(const QString& path);
MediaKind mediaKindOf(const QString& path);
// The name of the media in the window title: "holiday.final[.mp4 Video]".
QString mediaDisplayName(const QString& kind, const QString& path);
