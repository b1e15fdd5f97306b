// Editing in the main window on a 12-megapixel light image with a 1-megapixel
// preview, each beside the render pipeline doing the same work alone: a colour
// slider move to the repainted picture, an operator-parameter move rendered on the
// tone-mapping worker, and the longest pause of the event loop while it renders;
// and how sharp the picture is once a colour slider's drag ends. As the user
// edits, in a process that has made a stacking run first; the re-renders of two
// settings beside the same process without one.
#include "EngineDefaults.h"
#include "HdrBenchImage.h"
#include "ImagesSequence.h"
#include "PixelOps.h"
#include "RenderPipeline.h"
#include "SharpestImageSelection.h"
#include "StackingContext.h"
#include "WindowBenchApplication.h"
#include "Workspace.h"
#include "vellumbraV2.h"

#include "BenchChildProcess.h"
#include "BenchMedia.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QSlider>
#include <QThread>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

namespace {

const cv::Size kPreview(1224, 816);
const QSize kWindow(2060, 1150);

const cv::Mat& lightImage()
{
    static const cv::Mat light = hdrbench::hdrImage(12.0);
    return light;
}

// Set in the process that edits without having stacked.
constexpr const char* kWithoutStackingVariable = "VB_BENCH_WITHOUT_STACKING";

// The run the user makes before editing, once per process, on a worker thread as
// the window runs it: nine frames of the phone video around the chosen one,
// aligned, automatic antighosting at medium tolerance.
void stackingRunFirst()
{
    static const bool stacked = [] {
        const QString video = benchmedia::phoneVideo();
        if (std::getenv(kWithoutStackingVariable) || video.isEmpty())
            return false;
        ImagesSequence source(video);
        cv::Mat shown;
        source.getDisplayImageAt(shown, 20, false, false);
        StackingContext context;
        int count = 9;
        std::thread([&] {
            context.stackFrames(&source, 20, 16, &count, -1.0f, 4.0f, true, 15,
                                std::max(1, QThread::idealThreadCount() - 1));
        }).join();
        return !context.lightImage.empty();
    }();
    (void)stacked;
}

// The editing step as a stacking run leaves it: one light image selected and rendered.
struct EditingWindow {
    QTemporaryDir files;
    VellumbraV2 window;
    QSlider* exposure = window.findChild<QSlider*>(QStringLiteral("horizontalSlider_TMExposition"));
    QSlider* operatorAlpha = window.findChild<QSlider*>(QStringLiteral("horizontalSlider_TMAlpha"));
    QLabel* picture = window.findChild<QLabel*>(QStringLiteral("label_VideoPreview"));
    SharpestImageSelection* tile = nullptr;

    EditingWindow()
    {
        // The window fits the preview box to its view; this size gives a view of about a megapixel.
        setPreviewBox(kPreview);
        window.resize(kWindow);
        const QString photo = files.filePath("photo.png");
        cv::imwrite(photo.toStdString(), cv::Mat(8, 12, CV_8UC3, cv::Scalar::all(90)));
        auto* open = new Workspace(photo, false);
        window.adoptWorkspace(open);
        tile = open->addImageTile(
            lightImage(), window.findChild<QWidget*>(QStringLiteral("scrollAreaWidgetContents_ProEditingSelection")));
        tile->pipeline().setSourceImage(lightImage(), false);
        window.onClickSelectImage(tile);
    }

    // Megapixels of the preview the window renders, which follows its view.
    double previewMegapixels() { return tile->pipeline().output().total() / 1e6; }
};

EditingWindow& editingWindow()
{
    windowbench::application();
    stackingRunFirst();
    static EditingWindow editing;
    return editing;
}

// The selected image's pipeline alone, in the preview box the window left.
struct PipelineAlone {
    RenderPipeline pipeline;
    PipelineAlone()
    {
        editingWindow();
        pipeline.setSourceImage(lightImage(), true);
        pipeline.renderPreview(RenderPipeline::RotationStage, false);
    }
};

PipelineAlone& pipelineAlone()
{
    static PipelineAlone alone;
    return alone;
}

void BM_WindowColourSliderToRepaintedPreview(benchmark::State& state)
{
    EditingWindow& editing = editingWindow();
    // The first move after a full-box render rebuilds the drag-sized stages.
    editing.exposure->setValue(5);
    int position = 0;
    for (auto _ : state) {
        position = position == 10 ? 20 : 10;
        editing.exposure->setValue(position);
        editing.picture->repaint();
    }
    state.counters["preview_mp"] = editing.previewMegapixels();
}
BENCHMARK(BM_WindowColourSliderToRepaintedPreview)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_PipelineColourStage(benchmark::State& state)
{
    RenderPipeline& pipeline = pipelineAlone().pipeline;
    pipeline.setExposure(0.05f, true);
    float exposure = 0.f;
    for (auto _ : state) {
        exposure = exposure == 0.1f ? 0.2f : 0.1f;
        pipeline.setExposure(exposure, true);
        benchmark::DoNotOptimize(pipeline.output().data);
    }
    state.counters["preview_mp"] = pipeline.output().total() / 1e6;
}
BENCHMARK(BM_PipelineColourStage)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_WindowOperatorParameterMove(benchmark::State& state)
{
    EditingWindow& editing = editingWindow();
    int position = 0;
    for (auto _ : state) {
        position = position == 40 ? 60 : 40;
        editing.operatorAlpha->setValue(position);
    }
    state.counters["preview_mp"] = editing.previewMegapixels();
}
BENCHMARK(BM_WindowOperatorParameterMove)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

void BM_PipelineToneMapStage(benchmark::State& state)
{
    RenderPipeline& pipeline = pipelineAlone().pipeline;
    float alpha = 0.f;
    for (auto _ : state) {
        alpha = alpha == 0.4f ? 0.6f : 0.4f;
        pipeline.setTM1Alpha(alpha, false);
        pipeline.renderPreview(RenderPipeline::ToneMapStage, false);
        benchmark::DoNotOptimize(pipeline.output().data);
    }
    state.counters["preview_mp"] = pipeline.output().total() / 1e6;
}
BENCHMARK(BM_PipelineToneMapStage)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

enum EditedSetting { Exposure = 0, Strength = 1 };

// Args: the preview box's height (720: 1280 x 720, 1080: 1920 x 1080), the setting
// moved. Its re-render of the light image in this process, which stacked first,
// beside the same benchmark in a process of this program that did not; counters:
// both times per re-render and their ratio.
void BM_RerenderAfterStackingRun(benchmark::State& state)
{
    windowbench::application();
    stackingRunFirst();
    const cv::Size windowBox = previewBox();
    setPreviewBox(state.range(0) == 720 ? cv::Size(1280, 720) : cv::Size(1920, 1080));
    RenderPipeline pipeline;
    pipeline.setSourceImage(lightImage(), true);
    pipeline.renderPreview(RenderPipeline::RotationStage, false);
    const auto move = [&pipeline, &state](float value) {
        state.range(1) == Exposure ? pipeline.setExposure(value, true) : pipeline.setStrength(value + 0.3f, true);
    };
    move(0.05f);
    float value = 0.f;
    double totalMs = 0.0;
    for (auto _ : state) {
        value = value == 0.1f ? 0.2f : 0.1f;
        const auto start = std::chrono::steady_clock::now();
        move(value);
        totalMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        benchmark::DoNotOptimize(pipeline.output().data);
    }
    setPreviewBox(windowBox);
    const double ms = totalMs / double(state.iterations());
    if (benchchild::inChild()) {
        benchchild::reportToParent(ms);
        return;
    }
    const double without = benchchild::runAlone("BM_RerenderAfterStackingRun/" + std::to_string(state.range(0)) +
                                                    "/" + std::to_string(state.range(1)),
                                                {std::string(kWithoutStackingVariable) + "=1"});
    state.counters["after_stacking_ms"] = ms;
    state.counters["without_stacking_ms"] = without;
    state.counters["ratio"] = without > 0.0 ? ms / without : 0.0;
}
BENCHMARK(BM_RerenderAfterStackingRun)
    ->ArgsProduct({{720, 1080}, {Exposure, Strength}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

// Runs work while a 1 ms timer ticks on the interface thread; the longest wait
// between two ticks, in milliseconds.
double longestEventGap(const std::function<void()>& work)
{
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    clock.start();
    tick.start();
    work();
    tick.stop();
    longest = std::max(longest, clock.nsecsElapsed() - last);
    return longest / 1e6;
}

void BM_WindowLongestEventGapDuringRecompute(benchmark::State& state)
{
    EditingWindow& editing = editingWindow();
    int position = 0;
    double longest = 0.0;
    for (auto _ : state) {
        position = position == 30 ? 70 : 30;
        longest = std::max(longest, longestEventGap([&] { editing.operatorAlpha->setValue(position); }));
    }
    state.counters["longest_gap_ms"] = longest;
}
BENCHMARK(BM_WindowLongestEventGapDuringRecompute)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// Floor: the event loop left alone while the pipeline renders on a plain thread.
void BM_EventLoopGapWhilePipelineRendersElsewhere(benchmark::State& state)
{
    windowbench::application();
    RenderPipeline& pipeline = pipelineAlone().pipeline;
    float alpha = 0.f;
    double longest = 0.0;
    for (auto _ : state) {
        alpha = alpha == 0.3f ? 0.7f : 0.3f;
        longest = std::max(longest, longestEventGap([&] {
            pipeline.setTM1Alpha(alpha, false);
            std::atomic<bool> done{false};
            std::thread render([&] {
                pipeline.renderPreview(RenderPipeline::ToneMapStage, false);
                done = true;
            });
            while (!done)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            render.join();
        }));
    }
    state.counters["longest_gap_ms"] = longest;
}
BENCHMARK(BM_EventLoopGapWhilePipelineRendersElsewhere)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// Sharpness of a picture as the deviation of its grey Laplacian.
double laplacianDeviation(const cv::Mat& bgr)
{
    cv::Mat grey, laplacian;
    cv::cvtColor(bgr, grey, bgr.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
    cv::Laplacian(grey, laplacian, CV_32F);
    cv::Scalar mean, deviation;
    cv::meanStdDev(laplacian, mean, deviation);
    return deviation[0];
}

// The picture the window shows.
cv::Mat shownPicture(const EditingWindow& editing)
{
    const QImage shown = editing.picture->pixmap(Qt::ReturnByValue).toImage().convertToFormat(QImage::Format_RGB32);
    return cv::Mat(shown.height(), shown.width(), CV_8UC4, const_cast<uchar*>(shown.constBits()),
                   size_t(shown.bytesPerLine()))
        .clone();
}

// The saturation slider dragged as a hand drags it (pressed, moved, released): the
// sharpness of the picture the window then shows against the one it shows once the
// same settings are rendered afresh (1 when the drag ends in the full preview).
void BM_WindowSaturationDragSharpness(benchmark::State& state)
{
    EditingWindow& editing = editingWindow();
    QSlider* saturation = editing.window.findChild<QSlider*>(QStringLiteral("horizontalSlider_TMSaturation"));
    double ratio = 0.0;
    int to = 0;
    for (auto _ : state) {
        const int from = to;
        to = from == 0 ? 40 : 0;
        saturation->setSliderDown(true);
        for (int step = 1; step <= 4; ++step)
            saturation->setValue(from + (to - from) * step / 4);
        saturation->setSliderDown(false);
        QCoreApplication::processEvents();
        const double dragged = laplacianDeviation(shownPicture(editing));
        editing.window.recomputeToneMapping(RenderPipeline::RotationStage);
        ratio = dragged / laplacianDeviation(shownPicture(editing));
    }
    state.counters["sharpness_ratio"] = ratio;
}
BENCHMARK(BM_WindowSaturationDragSharpness)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace
