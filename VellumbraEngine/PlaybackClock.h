#pragma once
#include <QDateTime>

// Time source of playback pacing; tests replace it to step time by hand.
class PlaybackClock {
public:
    virtual ~PlaybackClock() = default;
    virtual QDateTime now() = 0;
    virtual void sleepMicroseconds(qint64 microseconds) = 0;
};

// The wall clock (UTC, so a daylight-saving change never stalls playback).
class SystemPlaybackClock : public PlaybackClock {
public:
    QDateTime now() override;
    void sleepMicroseconds(qint64 microseconds) override;
};
