// Frame reads through ImagesSequence beside the same reads with a bare
// cv::VideoCapture, on a generated 1080p H.264 clip with a key frame every 30
// frames, as phones write them, and on a real 1080p phone clip looped to 10 s and
// to 5 min. Then the peak memory of a stacking run over nine frames of a 4K
// H.264 clip, beside the same run over those frames as files and a plain
// decoder holding them.
#include "ImagesSequence.h"
#include "StackingContext.h"

#include "BenchMedia.h"
#include "BenchPhotos.h"
#include "PeakMemory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <benchmark/benchmark.h>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr int kClipFrames = 300;

std::string clipPath()
{
    static const std::string path = [] {
        const QString file = QDir::temp().filePath("vb-bench-1080p-h264.mp4");
        if (!QFileInfo::exists(file)) {
            const QStringList arguments{"-v", "error", "-y", "-f", "lavfi", "-i",
                                        "testsrc2=size=1920x1080:rate=30", "-frames:v",
                                        QString::number(kClipFrames), "-c:v", "libx264", "-pix_fmt",
                                        "yuv420p", "-g", "30", file};
            if (QProcess::execute("ffmpeg", arguments) != 0)
                return std::string();
        }
        return QFile::encodeName(file).toStdString();
    }();
    return path;
}

// The real 1080p phone clip (1.5 s) played `plays` times, copied without re-encoding.
QString loopedPhoneClip(int plays)
{
    const QString source = QString::fromStdString(benchmedia::phoneVideoPath());
    const QString file = QDir::temp().filePath(QString("vb-bench-phone-1080p-x%1.mp4").arg(plays));
    if (!QFileInfo::exists(file)) {
        if (!QFileInfo::exists(source))
            return QString();
        const QStringList arguments{"-v", "error", "-y", "-stream_loop", QString::number(plays - 1), "-i", source,
                                    "-an", "-c", "copy", file};
        if (QProcess::execute("ffmpeg", arguments) != 0)
            return QString();
    }
    return file;
}

// 7 plays last about 10 s, 200 plays about 5 min.
QString openingClip(int64_t plays)
{
    static const QString tenSeconds = loopedPhoneClip(7);
    static const QString fiveMinutes = loopedPhoneClip(200);
    return plays == 7 ? tenSeconds : fiveMinutes;
}

// Open until the first frame is on display, whatever the clip's length.
void BM_OpenToFirstFrame_ImagesSequence(benchmark::State& state)
{
    const QString path = openingClip(state.range(0));
    if (path.isEmpty())
        return state.SkipWithError("real phone clip absent (VB_TEST_MEDIA) or ffmpeg missing");
    state.SetLabel(state.range(0) == 7 ? "10 s" : "5 min");
    for (auto _ : state) {
        ImagesSequence sequence(path);
        if (!sequence.opened)
            return state.SkipWithError("clip did not open");
        cv::Mat shown;
        benchmark::DoNotOptimize(sequence.getDisplayImageAt(shown, 0, false, false).data);
    }
}

void BM_OpenToFirstFrame_VideoCapture(benchmark::State& state)
{
    const QString path = openingClip(state.range(0));
    if (path.isEmpty())
        return state.SkipWithError("real phone clip absent (VB_TEST_MEDIA) or ffmpeg missing");
    state.SetLabel(state.range(0) == 7 ? "10 s" : "5 min");
    const std::string file = QFile::encodeName(path).toStdString();
    for (auto _ : state) {
        cv::VideoCapture capture(file, cv::CAP_FFMPEG);
        cv::Mat frame;
        benchmark::DoNotOptimize(capture.read(frame));
    }
}

// One read at a random place of the 5-minute clip: far from the last one, so the
// decoder starts again from a key frame every time.
std::vector<int> randomSeekTargets(int frames)
{
    std::mt19937 random(9);
    std::vector<int> targets(256);
    for (int& target : targets)
        target = std::uniform_int_distribution<int>(0, frames - 1)(random);
    return targets;
}

void BM_RandomSeek_ImagesSequence(benchmark::State& state)
{
    const QString path = openingClip(200);
    static ImagesSequence sequence(path);
    if (path.isEmpty() || !sequence.opened)
        return state.SkipWithError("real phone clip absent (VB_TEST_MEDIA) or ffmpeg missing");
    const std::vector<int> targets = randomSeekTargets(sequence.frameCount);
    cv::Mat frame;
    size_t next = 0;
    // The timeline's jump: the frame is decoded and shown, without the run of
    // neighbours that a worker's read caches.
    for (auto _ : state)
        benchmark::DoNotOptimize(sequence.getDisplayImageAt(frame, targets[next++ % targets.size()], false, false).data);
}

void BM_RandomSeek_VideoCapture(benchmark::State& state)
{
    const QString path = openingClip(200);
    static cv::VideoCapture capture(QFile::encodeName(path).toStdString(), cv::CAP_FFMPEG);
    if (path.isEmpty() || !capture.isOpened())
        return state.SkipWithError("real phone clip absent (VB_TEST_MEDIA) or ffmpeg missing");
    const std::vector<int> targets = randomSeekTargets(static_cast<int>(capture.get(cv::CAP_PROP_FRAME_COUNT)));
    cv::Mat frame;
    size_t next = 0;
    for (auto _ : state) {
        capture.set(cv::CAP_PROP_POS_FRAMES, targets[next++ % targets.size()]);
        benchmark::DoNotOptimize(capture.read(frame));
    }
}

ImagesSequence* sharedSequence()
{
    static ImagesSequence sequence(QFile::decodeName(clipPath().c_str()));
    return sequence.opened ? &sequence : nullptr;
}

cv::VideoCapture* sharedCapture()
{
    static cv::VideoCapture capture(clipPath(), cv::CAP_FFMPEG);
    return capture.isOpened() ? &capture : nullptr;
}

// Chosen frames far enough apart that one run's frames are gone from the cache by the next.
int chosenFrame(int iteration)
{
    static const int chosen[] = {50, 150, 250, 100, 200};
    return chosen[iteration % 5];
}

std::vector<int> stackingOrder(int instant, int before, int after)
{
    std::vector<int> order{instant};
    for (int k = 1; k <= std::max(before, after); ++k) {
        if (k <= after)
            order.push_back(instant + k);
        if (k <= before)
            order.push_back(instant - k);
    }
    return order;
}

// N frames around a chosen one in the stacking run's order, after and before in
// turn, the range declared first as the run does.
void BM_StackingOrder_ImagesSequence(benchmark::State& state)
{
    ImagesSequence* sequence = sharedSequence();
    if (!sequence)
        return state.SkipWithError("no 1080p clip (ffmpeg missing?)");
    const int side = static_cast<int>(state.range(0)) / 2;
    cv::Mat frame;
    int iteration = 0;
    for (auto _ : state) {
        const int instant = chosenFrame(iteration++);
        sequence->prepareRange(instant - side, 2 * side + 1);
        for (int index : stackingOrder(instant, side, side))
            benchmark::DoNotOptimize(sequence->getFrame(frame, index, false).data);
    }
    state.SetItemsProcessed(state.iterations() * (2 * side + 1));
}

// The same frames read in sequence from the first of them.
void BM_StackingOrder_VideoCaptureSequential(benchmark::State& state)
{
    cv::VideoCapture* capture = sharedCapture();
    if (!capture)
        return state.SkipWithError("no 1080p clip (ffmpeg missing?)");
    const int side = static_cast<int>(state.range(0)) / 2;
    cv::Mat frame;
    int iteration = 0;
    for (auto _ : state) {
        capture->set(cv::CAP_PROP_POS_FRAMES, chosenFrame(iteration++) - side);
        for (int i = 0; i < 2 * side + 1; ++i)
            benchmark::DoNotOptimize(capture->read(frame));
    }
    state.SetItemsProcessed(state.iterations() * (2 * side + 1));
}

void BM_SequentialRead_ImagesSequence(benchmark::State& state)
{
    ImagesSequence* sequence = sharedSequence();
    if (!sequence)
        return state.SkipWithError("no 1080p clip (ffmpeg missing?)");
    cv::Mat frame;
    for (auto _ : state) {
        for (int index = 0; index < kClipFrames; ++index)
            benchmark::DoNotOptimize(sequence->getFrame(frame, index, false).data);
    }
    state.SetItemsProcessed(state.iterations() * kClipFrames);
}

void BM_SequentialRead_VideoCapture(benchmark::State& state)
{
    cv::VideoCapture* capture = sharedCapture();
    if (!capture)
        return state.SkipWithError("no 1080p clip (ffmpeg missing?)");
    cv::Mat frame;
    for (auto _ : state) {
        capture->set(cv::CAP_PROP_POS_FRAMES, 0);
        for (int index = 0; index < kClipFrames; ++index)
            benchmark::DoNotOptimize(capture->read(frame));
    }
    state.SetItemsProcessed(state.iterations() * kClipFrames);
}

std::vector<int> randomIndices()
{
    std::mt19937 random(5);
    std::vector<int> indices(64);
    for (int& index : indices)
        index = std::uniform_int_distribution<int>(0, kClipFrames - 1)(random);
    return indices;
}

void BM_RandomRead_ImagesSequence(benchmark::State& state)
{
    ImagesSequence* sequence = sharedSequence();
    if (!sequence)
        return state.SkipWithError("no 1080p clip (ffmpeg missing?)");
    const std::vector<int> indices = randomIndices();
    cv::Mat frame;
    for (auto _ : state) {
        for (int index : indices)
            benchmark::DoNotOptimize(sequence->getFrame(frame, index, false).data);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(indices.size()));
}

void BM_RandomRead_VideoCapture(benchmark::State& state)
{
    cv::VideoCapture* capture = sharedCapture();
    if (!capture)
        return state.SkipWithError("no 1080p clip (ffmpeg missing?)");
    const std::vector<int> indices = randomIndices();
    cv::Mat frame;
    for (auto _ : state) {
        for (int index : indices) {
            capture->set(cv::CAP_PROP_POS_FRAMES, index);
            benchmark::DoNotOptimize(capture->read(frame));
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(indices.size()));
}

// --- Peak memory of a 4K stacking run ------------------------------------------------

using peakmemory::peakSince;
using peakmemory::startPeakMeasure;

constexpr int kRunFrames = 9;
constexpr int kRunFirst = 16;
constexpr int kRunInstant = kRunFirst + kRunFrames / 2;
constexpr int k4KClipFrames = 40;
const cv::Size k4K(3840, 2160);

QString runFrameFile(int index)
{
    return QDir::temp().filePath(QString("vb-bench-4k-frame%1.png").arg(index, 2, 10, QChar('0')));
}

// A real photograph moved a little from frame to frame, with sensor noise, as a
// hand-held phone films a still scene; H.264 as OpenCV writes it.
QString clip4K()
{
    static const QString path = [] {
        const QString file = QDir::temp().filePath("vb-bench-4k-h264.mp4");
        // The container follows the extension; the name is taken once the clip is whole.
        const QString partial = QDir::temp().filePath("vb-bench-4k-h264.part.mp4");
        if (QFileInfo::exists(file))
            return file;
        const cv::Mat photo = benchphotos::loadPhoto("Garden.jpg", k4K);
        cv::VideoWriter writer(QFile::encodeName(partial).toStdString(), cv::CAP_FFMPEG,
                               cv::VideoWriter::fourcc('a', 'v', 'c', '1'), 30.0, k4K);
        if (!writer.isOpened())
            return QString();
        for (int i = 0; i < k4KClipFrames; ++i) {
            cv::Mat moved, noise(k4K, CV_16SC3), frame;
            const cv::Mat shift = (cv::Mat_<double>(2, 3) << 1, 0, 0.4 * (i % 5), 0, 1, 0.3 * (i % 3));
            cv::warpAffine(photo, moved, shift, k4K, cv::INTER_LINEAR, cv::BORDER_REFLECT_101);
            cv::RNG(100 + i).fill(noise, cv::RNG::NORMAL, 0.0, 3.0);
            cv::add(moved, noise, frame, cv::noArray(), CV_8U);
            writer.write(frame);
        }
        writer.release();
        return QFile::rename(partial, file) ? file : QString();
    }();
    return path;
}

// The run's frames as PNG files, decoded from the clip.
QStringList clip4KFrameFiles()
{
    static const QStringList files = [] {
        QStringList written;
        for (int i = kRunFirst; i < kRunFirst + kRunFrames; ++i)
            written << runFrameFile(i);
        // Decoding would leave its memory with the process that measures.
        if (std::all_of(written.begin(), written.end(), [](const QString& file) { return QFileInfo::exists(file); }))
            return written;
        cv::VideoCapture capture(QFile::encodeName(clip4K()).toStdString(), cv::CAP_FFMPEG);
        cv::Mat frame;
        for (int i = 0; i < kRunFirst + kRunFrames; ++i) {
            if (!capture.read(frame) || (i >= kRunFirst && !cv::imwrite(QFile::encodeName(runFrameFile(i)).toStdString(), frame)))
                return QStringList();
        }
        return written;
    }();
    return files;
}

// As the window does it: the media opened, the chosen frame shown on the timeline,
// then the run on a worker thread, with alignment and medium antighosting.
double stackingRunPeakMB(std::unique_ptr<ImagesSequence> (*open)(), int instant)
{
    const double baseline = startPeakMeasure();
    std::unique_ptr<ImagesSequence> sequence = open();
    if (!sequence->opened)
        return -1.0;
    cv::Mat shown;
    sequence->getDisplayImageAt(shown, instant, true, false);
    std::thread worker([&] {
        StackingContext context;
        int count = kRunFrames;
        const int threads = std::max(1, static_cast<int>(std::thread::hardware_concurrency()) - 1);
        benchmark::DoNotOptimize(
            context.stackFrames(sequence.get(), instant, instant - kRunFrames / 2, &count, -1.0f, 4.0f, true, 15, threads)
                .data);
    });
    worker.join();
    return peakSince(baseline);
}

double clipRunPeakMB()
{
    return stackingRunPeakMB([] { return std::make_unique<ImagesSequence>(clip4K()); }, kRunInstant);
}

double filesRunPeakMB()
{
    return stackingRunPeakMB([] { return std::make_unique<ImagesSequence>(clip4KFrameFiles()); }, kRunFrames / 2);
}

// The peer: a plain decoder reading the nine frames in order and holding them all.
double videoCaptureHoldPeakMB()
{
    const double baseline = startPeakMeasure();
    cv::VideoCapture capture(QFile::encodeName(clip4K()).toStdString(), cv::CAP_FFMPEG);
    capture.set(cv::CAP_PROP_POS_FRAMES, kRunFirst);
    std::vector<cv::Mat> frames(kRunFrames);
    for (cv::Mat& frame : frames)
        capture.read(frame);
    benchmark::DoNotOptimize(frames.back().data);
    return peakSince(baseline);
}

const std::map<std::string, double (*)()> kPeakMeasurements = {
    {"clip", clipRunPeakMB}, {"files", filesRunPeakMB}, {"videocapture", videoCaptureHoldPeakMB}};
constexpr const char* kPeakVariable = "VB_BENCH_PEAK_OF";

// Each peak is measured in a process of its own: memory that the benchmarks before
// it left with the allocator would be reused and hide part of the peak.
double peakInOwnProcessMB(const char* measurement)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(kPeakVariable, measurement);
    child.setProcessEnvironment(environment);
    child.start("/proc/self/exe", {"--benchmark_filter=^$"});
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        return -1.0;
    bool number = false;
    const double peak = child.readAllStandardOutput().trimmed().toDouble(&number);
    return number ? peak : -1.0;
}

void reportPeak(benchmark::State& state, const char* measurement)
{
    double peak = -1.0;
    for (auto _ : state)
        peak = peakInOwnProcessMB(measurement);
    if (peak < 0.0)
        return state.SkipWithError("the measuring process failed (no FFmpeg writer, or media that did not open)");
    const double framesMB = kRunFrames * static_cast<double>(k4K.area()) * 3.0 / (1024.0 * 1024.0);
    state.counters["peak_MB"] = peak;
    state.counters["frames_MB"] = framesMB;
    state.counters["target_MB"] = 2.0 * framesMB + 300.0;
}

void BM_StackRun4KPeakMemory_Clip(benchmark::State& state)
{
    if (clip4K().isEmpty())
        return state.SkipWithError("cannot write an H.264 clip (OpenCV without FFmpeg?)");
    reportPeak(state, "clip");
}

void BM_StackRun4KPeakMemory_Files(benchmark::State& state)
{
    if (clip4KFrameFiles().isEmpty())
        return state.SkipWithError("cannot decode the 4K clip into files");
    reportPeak(state, "files");
}

void BM_HoldRun4KPeakMemory_VideoCapture(benchmark::State& state)
{
    if (clip4K().isEmpty())
        return state.SkipWithError("cannot write an H.264 clip (OpenCV without FFmpeg?)");
    reportPeak(state, "videocapture");
}

// In a process started by peakInOwnProcessMB: measures, prints the peak and ends
// before any benchmark runs.
const bool measuringProcess = [] {
    const char* measurement = std::getenv(kPeakVariable);
    if (!measurement)
        return false;
    const auto found = kPeakMeasurements.find(measurement);
    if (found == kPeakMeasurements.end())
        std::_Exit(1);
    std::printf("%f\n", found->second());
    std::fflush(stdout);
    std::_Exit(0);
}();

}  // namespace

BENCHMARK(BM_OpenToFirstFrame_ImagesSequence)->Arg(7)->Arg(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenToFirstFrame_VideoCapture)->Arg(7)->Arg(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RandomSeek_ImagesSequence)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RandomSeek_VideoCapture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StackingOrder_ImagesSequence)->Arg(5)->Arg(11)->Arg(21)->Arg(41)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StackingOrder_VideoCaptureSequential)->Arg(5)->Arg(11)->Arg(21)->Arg(41)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SequentialRead_ImagesSequence)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SequentialRead_VideoCapture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RandomRead_ImagesSequence)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RandomRead_VideoCapture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StackRun4KPeakMemory_Clip)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StackRun4KPeakMemory_Files)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HoldRun4KPeakMemory_VideoCapture)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
