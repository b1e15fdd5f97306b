// The ThreadSanitizer set-up tells the sanitizer of queued calls: it must order a
// thread with those it posts calls to, and with nobody else.
#if defined(__SANITIZE_THREAD__)
#include "LookForBestImagesWorkerThread.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

// A worker writes a value and emits its finished signal, then the interface thread
// reads the value in a queued call: one the signal posted to it, or one of its own.
// Exits with the sanitizer's code when it reported a race.
[[noreturn]] void writeEmitThenRead(bool signalConnectedToTheReader)
{
    LookForBestImagesWorkerThread worker(nullptr, 0);
    QObject reader;
    int value = 0;
    int seen = 0;
    const auto read = [&] { seen = value; };
    if (signalConnectedToTheReader)
        QObject::connect(&worker, &LookForBestImagesWorkerThread::processWellFinished, &reader, read);
    std::atomic<bool> emitted{false};
    std::thread writer([&] {
        value = 1;
        emit worker.processWellFinished(0, 0);
        // Relaxed: it orders nothing the sanitizer sees.
        emitted.store(true, std::memory_order_relaxed);
    });
    while (!emitted.load(std::memory_order_relaxed))
        std::this_thread::yield();
    if (!signalConnectedToTheReader)
        QMetaObject::invokeMethod(&reader, read, Qt::QueuedConnection);
    QCoreApplication::sendPostedEvents(&reader, QEvent::MetaCall);
    writer.join();
    std::exit(seen == 1 ? 0 : 1);
}

struct Exchange {
    const char* name;
    bool signalConnectedToTheReader;
    bool raceReported;
};

using ThreadSanitizerSetup = ::testing::TestWithParam<Exchange>;

TEST_P(ThreadSanitizerSetup, OrdersAQueuedCallWithItsReceiverAlone)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // 66: the sanitizer's exit code once it has reported.
    EXPECT_EXIT(writeEmitThenRead(GetParam().signalConnectedToTheReader),
                ::testing::ExitedWithCode(GetParam().raceReported ? 66 : 0),
                GetParam().raceReported ? "ThreadSanitizer: data race" : "");
}

INSTANTIATE_TEST_SUITE_P(
    QueuedCalls, ThreadSanitizerSetup,
    ::testing::Values(Exchange{"HandedOverByTheSignal", true, false},
                      // The signal reaches nobody: the reader's own call orders nothing with the writer.
                      Exchange{"SignalToNobody", false, true}),
    [](const ::testing::TestParamInfo<Exchange>& info) { return std::string(info.param.name); });

}  // namespace
#endif
