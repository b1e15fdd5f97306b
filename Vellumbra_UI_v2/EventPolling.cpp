#include "EventPolling.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>

namespace {

// Short enough for a smooth progress display, long enough to cost nothing.
constexpr int kTurnMs = 10;

}  // namespace

void waitUntil(const std::function<bool()>& done, const std::function<void()>& eachTurn, const QThread* worker)
{
    if (eachTurn)
        eachTurn();
    if (done())
        return;
    QEventLoop loop;
    const auto turn = [&] {
        if (eachTurn)
            eachTurn();
        if (done())
            loop.quit();
    };
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, turn);
    if (worker)
        QObject::connect(worker, &QThread::finished, &loop, turn);
    tick.start(kTurnMs);
    loop.exec();
}

void runWatched(QThread* worker, const std::function<bool()>& done, const std::function<void()>& showProgress)
{
    worker->start(QThread::InheritPriority);
    waitUntil(done, showProgress, worker);
}
