// Frame reads through ImagesSequence beside the same reads with a bare
// cv::VideoCapture, on a generated 1080p H.264 clip with a key frame every 30
// frames, as phones write them, and on a real 1080p phone clip looped to 10 s and
// to 5 min.
#include "ImagesSequence.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <benchmark/benchmark.h>
#include <opencv2/videoio.hpp>

#include <cstdlib>
#include <random>
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
    const char* overridden = std::getenv("VB_TEST_MEDIA");
    const QString source = QString(overridden ? overridden : VB_TEST_MEDIA) +
                           "/forensics-samples-files/usr/share/forensics-samples/original-files/movie1/VID_20191220_170832.mp4";
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

// N frames around a chosen one in the stacking run's order: after and before in turn.
void BM_StackingOrder_ImagesSequence(benchmark::State& state)
{
    ImagesSequence* sequence = sharedSequence();
    if (!sequence)
        return state.SkipWithError("no 1080p clip (ffmpeg missing?)");
    const int side = static_cast<int>(state.range(0)) / 2;
    cv::Mat frame;
    int iteration = 0;
    for (auto _ : state) {
        for (int index : stackingOrder(chosenFrame(iteration++), side, side))
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
