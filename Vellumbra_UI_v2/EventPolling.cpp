#include "EventPolling.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace {

// Short enough for a smooth progress display, long enough to cost nothing.
constexpr int kWakeUpMs = 10;

}  // namespace

void processEventsWhile(const std::function<bool()>& busy, const std::function<void()>& eachTurn)
{
    QTimer wakeUp;
    wakeUp.start(kWakeUpMs);
    while (busy()) {
        if (eachTurn)
            eachTurn();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}
