#include "PlaybackClock.h"

#include <QThread>

QDateTime SystemPlaybackClock::now()
{
    return QDateTime::currentDateTimeUtc();
}

void SystemPlaybackClock::sleepMicroseconds(qint64 microseconds)
{
    if (microseconds > 0)
        QThread::usleep(static_cast<unsigned long>(microseconds));
}
