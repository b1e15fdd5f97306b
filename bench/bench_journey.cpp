// One video's journey through the main window without the user's pauses: open the
// 1080p phone video, search the sharpest frames, stack 9 frames with alignment
// (until the editing step shows the result and its preset previews), move one
// tone-mapping operator slider, export one full-size JPEG with the video's
// metadata. Beside each step, in the same iteration, the engine does the same work
// alone (frame source, search worker, stackFrames, render pipeline, image writer).
// Counters: each step's window and engine milliseconds, and the window's overhead
// over the engine in percent for the whole journey.
#include "EngineDefaults.h"
#include "ImageIO.h"
#include "ImagesSequence.h"
#include "PresetStore.h"
#include "PresetTileSettings.h"
#include "ProSharpestImageSelection.h"
#include "RenderPipeline.h"
#include "SharpestImageSearcherWorkerThread.h"
#include "SharpestImageSelection.h"
#include "StackingContext.h"
#include "StackingRunSettings.h"
#include "WindowBenchApplication.h"
#include "WorkflowStateTable.h"
#include "Workspace.h"
#include "vellumbraV2.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>

#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

namespace {

constexpr int kSearchHalfWidth = 6;
constexpr int kFramesAround = 4;  // 9 frames stacked
constexpr int kShownFrame = 20;

enum Step { Open, Search, Stack, Operator, Export, kSteps };
const char* const kStepNames[kSteps] = {"open", "search", "stack", "operator", "export"};
using StepTimes = std::array<double, kSteps>;

QString phoneVideo()
{
    const char* root = std::getenv("VB_TEST_MEDIA");
    return QString::fromLocal8Bit(root ? root : VB_TEST_MEDIA) +
           "/forensics-samples-files/usr/share/forensics-samples/original-files/movie1/VID_20191220_170832.mp4";
}

double timed(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Answers the window's dialogs as a user in a hurry: "Discard" or "No" to every
// question, the given file name to every file dialog. It wakes only when a dialog
// shows: a polling timer would take the cores' time from the work measured.
class DialogAnswers : public QObject {
public:
    explicit DialogAnswers(QString fileName) : fileName(std::move(fileName)) { qApp->installEventFilter(this); }
    ~DialogAnswers() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && (qobject_cast<QMessageBox*>(watched) || qobject_cast<QFileDialog*>(watched)))
            QTimer::singleShot(0, this, [this, modal = QPointer<QWidget>(static_cast<QWidget*>(watched))] {
                if (modal)
                    answer(modal);
            });
        return false;
    }

private:
    void answer(QWidget* modal)
    {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            QAbstractButton* discard = box->button(QMessageBox::Discard);
            QAbstractButton* no = box->button(QMessageBox::No);
            if (discard || no)
                (discard ? discard : no)->click();
            else
                box->reject();
        } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            dialog->selectFile(fileName);
            QMetaObject::invokeMethod(dialog, "accept");
        }
    }

    QString fileName;
};

// What the preset strip asks of the engine: each factory preset rendered on the
// light image reduced to the thumbnail size, one thread per preset.
void renderPresetThumbnails(const cv::Mat& light)
{
    const cv::Size size = thumbnailSize();
    std::vector<std::thread> renders;
    for (const Preset* preset : defaultPresets)
        renders.emplace_back([&, preset] {
            const std::unique_ptr<RenderPipeline> pipeline = pipelineFor(*preset);
            cv::Mat reduced;
            cv::resize(light, reduced, size, 0.0, 0.0, cv::INTER_AREA);
            pipeline->setSourceImage(reduced, true);
            benchmark::DoNotOptimize(pipeline->renderScaled().data);
        });
    for (std::thread& render : renders)
        render.join();
}

StackingChoices choicesOf(VellumbraV2& window, const Workspace& open)
{
    return {open.currentFrame,
            kFramesAround,
            kFramesAround,
            open.autoAntighosting,
            open.antighostingPower,
            open.antighostingMode,
            window.findChild<QSlider*>(QStringLiteral("horizontalSlider_AntighostingP2"))->maximum(),
            true,
            open.qualityIndex,
            QThread::idealThreadCount()};
}

// The journey through the window; the choices it stacked with are handed to the engine's turn.
StepTimes windowJourney(const QString& folder, StackingChoices& choices)
{
    VellumbraV2 window;
    window.resize(1920, 1080);
    StepTimes times{};
    Workspace* open = nullptr;
    times[Open] = timed([&] {
        window.openFile(phoneVideo());
        open = window.currentWorkspace();
        // The jump's 300 ms debounce waits for the user's hand to stop: not work.
        window.showFrameIndex(kShownFrame);
        window.TimerTimeoutShowFrameIndex();
        while (open->frameSource->getCurrentIndex() != kShownFrame)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    });
    times[Search] = timed([&] {
        window.findChild<QSpinBox*>(QStringLiteral("spinBox_FindSharpestImage"))->setValue(kSearchHalfWidth);
        window.PushButtonFindSharpestImageClicked();
    });
    times[Stack] = timed([&] {
        DialogAnswers answers{QString()};
        window.PushButtonSelectImageNextClicked();
        window.findChild<QSpinBox*>(QStringLiteral("spinBox_ImageStackingBefore"))->setValue(kFramesAround);
        window.findChild<QSpinBox*>(QStringLiteral("spinBox_ImageStackingAfter"))->setValue(kFramesAround);
        window.findChild<QCheckBox*>(QStringLiteral("checkBox_Align"))->setChecked(true);
        choices = choicesOf(window, *open);
        window.PushButtonDefineParamsNextClicked();
        // The run's end reaches the window as an event, maybe after the press has returned;
        // the editing step is fully shown once every preset tile shows its preview.
        while (open->state != StateEditing || !open->presetPreviewsShown())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    });
    times[Operator] = timed([&] {
        QSlider* alpha = window.findChild<QSlider*>(QStringLiteral("horizontalSlider_TMAlpha"));
        alpha->setValue(alpha->value() + 20);
    });
    times[Export] = timed([&] {
        DialogAnswers answers(folder + "/window.jpg");
        window.PushButtonEditingExportClicked(open->tiles.front());
    });
    DialogAnswers answers{QString()};
    window.MenuActionCloseClicked();
    return times;
}

// The same steps by the engine alone.
StepTimes engineJourney(const QString& folder, const StackingChoices& choices)
{
    StepTimes times{};
    std::unique_ptr<ImagesSequence> frames;
    cv::Mat shown;
    times[Open] = timed([&] {
        frames = std::make_unique<ImagesSequence>(phoneVideo());
        // As the window's jump reads it: the frame alone, no run of neighbours cached.
        frames->getCvImageAt(shown, kShownFrame, false, false, false);
    });
    times[Search] = timed([&] {
        SharpestImageSearcherWorkerThread search(shown, kShownFrame, frames.get(), kSearchHalfWidth);
        search.start();
        search.wait();
    });
    const StackingRunSettings settings = stackingRunSettings(choices);
    RenderPipeline pipeline;
    // The step ends, as in the window, with the light image shown tone-mapped
    // and the presets' previews rendered.
    times[Stack] = timed([&] {
        StackingContext context;
        int count = settings.frameCount;
        const cv::Mat light =
            context.stackFrames(frames.get(), settings.instantFrame, settings.firstFrame, &count,
                                settings.antighostingPower, settings.ghostWeight, settings.align, settings.quality,
                                settings.threadCount);
        pipeline.setSourceImage(light, true);
        pipeline.renderPreview(RenderPipeline::RotationStage, false);
        renderPresetThumbnails(light);
    });
    times[Operator] = timed([&] {
        pipeline.setTM1Alpha(0.6f, false);
        pipeline.renderPreview(RenderPipeline::ToneMapStage, false);
    });
    times[Export] = timed([&] {
        saveImageWithDepth((folder + "/engine.jpg").toStdString(), pipeline.renderFull(), 8,
                           phoneVideo().toStdString());
    });
    return times;
}

void BM_VideoJourneyWindowBesideEngine(benchmark::State& state)
{
    // The program as installed: the shipped factory presets.
    windowbench::application(windowbench::FactoryPresets::Shipped);
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QTemporaryDir folder;
    StepTimes window{}, engine{};
    for (auto _ : state) {
        StackingChoices choices{};
        const StepTimes w = windowJourney(folder.path(), choices);
        const StepTimes e = engineJourney(folder.path(), choices);
        for (int s = 0; s < kSteps; ++s) {
            window[s] += w[s];
            engine[s] += e[s];
        }
    }
    double windowTotal = 0.0, engineTotal = 0.0;
    const double n = static_cast<double>(state.iterations());
    std::fprintf(stderr, "\n%-10s %12s %12s %10s\n", "step", "window ms", "engine ms", "overhead");
    for (int s = 0; s < kSteps; ++s) {
        state.counters[std::string(kStepNames[s]) + "_window_ms"] = window[s] / n;
        state.counters[std::string(kStepNames[s]) + "_engine_ms"] = engine[s] / n;
        std::fprintf(stderr, "%-10s %12.1f %12.1f %9.1f%%\n", kStepNames[s], window[s] / n, engine[s] / n,
                     100.0 * (window[s] - engine[s]) / engine[s]);
        windowTotal += window[s];
        engineTotal += engine[s];
    }
    std::fprintf(stderr, "%-10s %12.1f %12.1f %9.1f%%\n", "journey", windowTotal / n, engineTotal / n,
                 100.0 * (windowTotal - engineTotal) / engineTotal);
    state.counters["overhead_pct"] = 100.0 * (windowTotal - engineTotal) / engineTotal;
}
BENCHMARK(BM_VideoJourneyWindowBesideEngine)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
