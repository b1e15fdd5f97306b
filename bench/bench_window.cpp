// Start of the main window to its first showing, with a full recent-files list and
// twenty factory presets beside the program, against a bare main window as floor.
// The stacking run from the "Compute" press to the editing step, nine frames of the
// real 1080p phone video with alignment and automatic antighosting, against the
// engine's own stackFrames on the same frames; counters: the ratio to the engine,
// the longest gap between two turns of the event loop and the largest progress step.
#include "ImagesSequence.h"
#include "StackingContext.h"
#include "WindowBenchApplication.h"
#include "Workspace.h"
#include "vellumbraV2.h"

#include <QApplication>
#include <QAbstractButton>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QThread>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>

#include <algorithm>
#include <cstdlib>

namespace {

using windowbench::application;

void BM_StartToFirstShownWindow(benchmark::State& state)
{
    application();
    for (auto _ : state) {
        VellumbraV2 window;
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(window.isVisible());
    }
}
BENCHMARK(BM_StartToFirstShownWindow)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// Floor: a main window with an empty form, shown.
void BM_BareMainWindow(benchmark::State& state)
{
    application();
    for (auto _ : state) {
        QMainWindow window;
        window.resize(1155, 858);
        window.show();
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(window.isVisible());
    }
}
BENCHMARK(BM_BareMainWindow)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace

namespace {

// Nine frames around frame 40 of the phone video, as the window's defaults run them.
constexpr int kInstant = 40, kAround = 4, kFrames = 2 * kAround + 1;
constexpr float kMediumGhostWeight = 4.0f;
constexpr int kFirstQuality = 15;

QString phoneVideo()
{
    const char* root = std::getenv("VB_TEST_MEDIA");
    return QString(root ? root : VB_TEST_MEDIA) +
           "/forensics-samples-files/usr/share/forensics-samples/original-files/movie1/VID_20191220_170832.mp4";
}

// Engine time of the last peer run, for the window's ratio.
double engineSeconds = 0.0;

void BM_EngineStackFramesPhoneVideo(benchmark::State& state)
{
    ImagesSequence frames(phoneVideo());
    if (!frames.opened) {
        state.SkipWithError("the phone video is not in the test media");
        return;
    }
    const int threads = std::max(1, QThread::idealThreadCount() - 1);
    auto runOnce = [&] {
        StackingContext context;
        int count = kFrames;
        QElapsedTimer clock;
        clock.start();
        const cv::Mat light = context.stackFrames(&frames, kInstant, kInstant - kAround, &count, -1.0f,
                                                  kMediumGhostWeight, true, kFirstQuality, threads);
        benchmark::DoNotOptimize(light.data);
        return clock.nsecsElapsed() * 1e-9;
    };
    // The frames decoded once, as the window's run finds them too.
    runOnce();
    double total = 0.0;
    for (auto _ : state) {
        const double seconds = runOnce();
        state.SetIterationTime(seconds);
        total += seconds;
    }
    engineSeconds = total / static_cast<double>(state.iterations());
}
BENCHMARK(BM_EngineStackFramesPhoneVideo)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// Presses No in any question the run asks ("save the light image?").
void answerQuestionsNo()
{
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
        if (QAbstractButton* no = box->button(QMessageBox::No))
            no->click();
}

void BM_ComputeToEditingPhoneVideo(benchmark::State& state)
{
    application();
    VellumbraV2 window;
    auto* opened = new Workspace(phoneVideo(), true);
    if (!opened->valid) {
        delete opened;
        state.SkipWithError("the phone video is not in the test media");
        return;
    }
    window.adoptWorkspace(opened);
    QTimer answers;
    QObject::connect(&answers, &QTimer::timeout, answerQuestionsNo);
    answers.start(5);

    auto* progress = window.findChild<QProgressBar*>("progressBar_Computing");
    int shown = 0, largestStep = 0;
    QObject::connect(progress, &QProgressBar::valueChanged, [&](int value) {
        largestStep = std::max(largestStep, value - shown);
        shown = value;
    });
    // Every turn of the event loop: the gap since the last one, and how long the
    // progress display (value and text) has stayed the same.
    QElapsedTimer sinceTurn, sinceProgress;
    qint64 longestGap = 0, longestSilence = 0;
    QString shownText;
    QTimer turns;
    QObject::connect(&turns, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, sinceTurn.restart());
        if (progress->text() != shownText) {
            shownText = progress->text();
            longestSilence = std::max(longestSilence, sinceProgress.restart());
        }
    });

    auto runOnce = [&] {
        opened->frameSource->seek(kInstant);
        window.PushButtonSelectImageNextClicked();
        window.findChild<QSpinBox*>("spinBox_ImageStackingBefore")->setValue(kAround);
        window.findChild<QSpinBox*>("spinBox_ImageStackingAfter")->setValue(kAround);
        opened->align = true;
        opened->autoAntighosting = true;
        opened->antighostingMode = 80;
        opened->qualityIndex = 0;
        shown = 0;

        QElapsedTimer clock;
        clock.start();
        sinceTurn.start();
        sinceProgress.start();
        turns.start(1);
        window.findChild<QPushButton*>("pushButton_DefineParamsNext")->click();
        while (opened->state != 5)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const double seconds = clock.nsecsElapsed() * 1e-9;
        turns.stop();
        largestStep = std::max(largestStep, 100 - shown);
        return seconds;
    };
    runOnce();
    longestGap = 0;
    largestStep = 0;
    double total = 0.0, longestSilenceShare = 0.0;
    for (auto _ : state) {
        longestSilence = 0;
        const double seconds = runOnce();
        state.SetIterationTime(seconds);
        total += seconds;
        longestSilenceShare = std::max(longestSilenceShare, longestSilence * 1e-3 / seconds);
    }
    const double windowSeconds = total / static_cast<double>(state.iterations());
    state.counters["ratio_to_stackFrames"] = engineSeconds > 0.0 ? windowSeconds / engineSeconds : 0.0;
    state.counters["longest_event_gap_ms"] = static_cast<double>(longestGap);
    state.counters["largest_progress_step_pct"] = largestStep;
    state.counters["longest_progress_silence_pct"] = 100.0 * longestSilenceShare;
    window.changeStep(1);
}
BENCHMARK(BM_ComputeToEditingPhoneVideo)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

}  // namespace
