// The main window's share of opening, stepping and playing a 1080p video, each
// beside the frame source or decoder doing the same job alone in the same run:
// openFile to the first frame on screen against the frame source's open and
// first read (real phone video); one step forward against one frame decode
// (generated 1080p H.264 clip, longer than the frame cache); the late frames of
// playback in the window against those of the frame source playing alone.
#include "ImagesSequence.h"
#include "WindowBenchApplication.h"
#include "Workspace.h"
#include "vellumbraV2.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <benchmark/benchmark.h>
#include <opencv2/videoio.hpp>

#include <sys/resource.h>

#include <memory>
#include <vector>

namespace {

constexpr int kClipFrames = 300;

QString phoneVideo()
{
    const QString path = QStringLiteral(VB_TEST_MEDIA) +
                         "/forensics-samples-files/usr/share/forensics-samples/original-files/movie1/"
                         "VID_20191220_170832.mp4";
    return QFileInfo::exists(path) ? path : QString();
}

QString generatedClip()
{
    static const QString file = [] {
        const QString path = QDir::temp().filePath("vb-bench-window-1080p-h264.mp4");
        if (!QFileInfo::exists(path)) {
            const QStringList arguments{"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30",
                                        "-frames:v", QString::number(kClipFrames), "-c:v", "libx264", "-pix_fmt",
                                        "yuv420p", "-g", "30", path};
            if (QProcess::execute("ffmpeg", arguments) != 0)
                return QString();
        }
        return path;
    }();
    return file;
}

VellumbraV2& window()
{
    windowbench::application();
    static std::unique_ptr<VellumbraV2> shown = [] {
        auto made = std::make_unique<VellumbraV2>();
        made->resize(1920, 1080);
        QCoreApplication::processEvents();
        return made;
    }();
    return *shown;
}

void closeMedia(VellumbraV2& shown)
{
    if (Workspace* open = shown.currentWorkspace()) {
        open->state = 1;
        shown.MenuActionCloseClicked();
    }
}

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

void BM_WindowOpenFileToFirstFrameShown(benchmark::State& state)
{
    const QString video = phoneVideo();
    if (video.isEmpty()) {
        state.SkipWithError("the real phone video is not in the test media");
        return;
    }
    VellumbraV2& shown = window();
    // The first save of a session encodes the thumbnails it loaded; later ones reuse them.
    shown.openFile(video);
    closeMedia(shown);
    for (auto _ : state) {
        shown.openFile(video);
        QCoreApplication::processEvents();
        state.PauseTiming();
        closeMedia(shown);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_WindowOpenFileToFirstFrameShown)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// Peer: the frame source alone, opened and its first frame read.
void BM_FrameSourceOpenAndFirstRead(benchmark::State& state)
{
    const QString video = phoneVideo();
    if (video.isEmpty()) {
        state.SkipWithError("the real phone video is not in the test media");
        return;
    }
    for (auto _ : state) {
        auto sequence = std::make_unique<ImagesSequence>(video);
        cv::Mat frame;
        benchmark::DoNotOptimize(sequence->getFrame(frame, 0, false).data);
        // Closing is outside the window's measure too.
        state.PauseTiming();
        sequence.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FrameSourceOpenAndFirstRead)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

void BM_WindowStepForward(benchmark::State& state)
{
    const QString clip = generatedClip();
    VellumbraV2& shown = window();
    if (clip.isEmpty() || !shown.openFile(clip)) {
        state.SkipWithError("no generated clip");
        return;
    }
    ImagesSequence* frames = shown.currentWorkspace()->frameSource.get();
    for (auto _ : state) {
        if (frames->isAtEnd()) {
            state.PauseTiming();
            frames->rewind(true);
            state.ResumeTiming();
        }
        shown.showNextFrame();
    }
    closeMedia(shown);
}
BENCHMARK(BM_WindowStepForward)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// Peer: the frame source's own step, without showing.
void BM_FrameSourceStepForward(benchmark::State& state)
{
    ImagesSequence frames(generatedClip());
    if (!frames.opened) {
        state.SkipWithError("no generated clip");
        return;
    }
    cv::Mat frame;
    for (auto _ : state) {
        if (frames.isAtEnd()) {
            state.PauseTiming();
            frames.rewind(true);
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(frames.nextFrame(frame, false, true).data);
    }
}
BENCHMARK(BM_FrameSourceStepForward)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// Peer: one frame decoded and retrieved by the bare capture.
void BM_FrameDecode(benchmark::State& state)
{
    const QString clip = generatedClip();
    cv::VideoCapture capture(QFile::encodeName(clip).toStdString(), cv::CAP_FFMPEG);
    if (!capture.isOpened()) {
        state.SkipWithError("no generated clip");
        return;
    }
    cv::Mat frame;
    for (auto _ : state) {
        if (!capture.read(frame)) {
            state.PauseTiming();
            capture.set(cv::CAP_PROP_POS_FRAMES, 0);
            state.ResumeTiming();
            capture.read(frame);
        }
        benchmark::DoNotOptimize(frame.data);
    }
}
BENCHMARK(BM_FrameDecode)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// Late frames: shown more than a quarter of a frame time after the pace asks, or skipped.
struct PaceCount {
    int shown = 0;
    int late = 0;
};

class PaceWatch {
public:
    explicit PaceWatch(float secondsPerFrame) : limitMs(1250.0 * secondsPerFrame) { clock.start(); }
    void frameShown(int index, PaceCount& count)
    {
        const qint64 now = clock.elapsed();
        if (lastIndex >= 0) {
            ++count.shown;
            if (index != lastIndex + 1 || static_cast<double>(now - lastMs) > limitMs)
                ++count.late;
        }
        lastIndex = index;
        lastMs = now;
    }

private:
    double limitMs;
    QElapsedTimer clock;
    qint64 lastMs = 0;
    int lastIndex = -1;
};

// Every frame the window puts up is painted; the watch reads the frame number then.
class PaintWatch : public QObject {
public:
    PaintWatch(ImagesSequence* frames, PaceWatch& watch, PaceCount& count)
        : frames(frames), watch(watch), count(count)
    {
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && frames->getCurrentIndex() != painted) {
            painted = frames->getCurrentIndex();
            watch.frameShown(painted, count);
        }
        return false;
    }

private:
    ImagesSequence* frames;
    PaceWatch& watch;
    PaceCount& count;
    int painted = -1;
};

void reportPace(benchmark::State& state, const PaceCount& count, double cpuSeconds, double wallSeconds)
{
    state.counters["frames"] = count.shown;
    state.counters["late_percent"] = count.shown ? 100.0 * count.late / count.shown : 0.0;
    state.counters["cpu_per_wall"] = wallSeconds > 0.0 ? cpuSeconds / wallSeconds : 0.0;
}

void BM_WindowPlaybackLateFrames(benchmark::State& state)
{
    const QString video = phoneVideo();
    VellumbraV2& shown = window();
    if (video.isEmpty() || !shown.openFile(video)) {
        state.SkipWithError("the real phone video is not in the test media");
        return;
    }
    ImagesSequence* frames = shown.currentWorkspace()->frameSource.get();
    QWidget* picture = shown.findChild<QWidget*>("label_VideoPreview");
    PaceCount count;
    double cpu = 0.0, wall = 0.0;
    for (auto _ : state) {
        PaceWatch watch(frames->secondsPerFrame);
        PaintWatch paints(frames, watch, count);
        picture->installEventFilter(&paints);
        QElapsedTimer clock;
        clock.start();
        const double cpuBefore = processCpuSeconds();
        shown.playPauseVideo();
        cpu += processCpuSeconds() - cpuBefore;
        wall += clock.nsecsElapsed() * 1e-9;
        picture->removeEventFilter(&paints);
    }
    reportPace(state, count, cpu, wall);
    closeMedia(shown);
}
BENCHMARK(BM_WindowPlaybackLateFrames)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

// Peer: the frame source playing the same video by itself.
void BM_FrameSourcePlaybackLateFrames(benchmark::State& state)
{
    const QString video = phoneVideo();
    if (video.isEmpty()) {
        state.SkipWithError("the real phone video is not in the test media");
        return;
    }
    ImagesSequence frames(video);
    PaceCount count;
    double cpu = 0.0, wall = 0.0;
    for (auto _ : state) {
        frames.rewind(true);
        PaceWatch watch(frames.secondsPerFrame);
        QElapsedTimer clock;
        clock.start();
        const double cpuBefore = processCpuSeconds();
        cv::Mat frame;
        while (!frames.isAtEnd()) {
            frames.playNextFrame(frame, true);
            watch.frameShown(frames.getCurrentIndex(), count);
        }
        cpu += processCpuSeconds() - cpuBefore;
        wall += clock.nsecsElapsed() * 1e-9;
    }
    reportPace(state, count, cpu, wall);
}
BENCHMARK(BM_FrameSourcePlaybackLateFrames)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

}  // namespace
