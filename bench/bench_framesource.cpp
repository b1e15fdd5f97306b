// Frame reads through ImagesSequence beside the same reads with a bare
// cv::VideoCapture, on a generated 1080p H.264 clip with a key frame every 30
// frames, as phones write them.
#include "ImagesSequence.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <benchmark/benchmark.h>
#include <opencv2/videoio.hpp>

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

void BM_Open_ImagesSequence(benchmark::State& state)
{
    const QString path = QFile::decodeName(clipPath().c_str());
    for (auto _ : state) {
        ImagesSequence sequence(path);
        if (!sequence.opened)
            return state.SkipWithError("no 1080p clip (ffmpeg missing?)");
        benchmark::DoNotOptimize(sequence.frameCount);
    }
}

void BM_Open_VideoCaptureGrabAll(benchmark::State& state)
{
    const std::string path = clipPath();
    for (auto _ : state) {
        cv::VideoCapture capture(path, cv::CAP_FFMPEG);
        int frames = 0;
        while (capture.grab())
            ++frames;
        benchmark::DoNotOptimize(frames);
    }
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

BENCHMARK(BM_Open_ImagesSequence)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Open_VideoCaptureGrabAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StackingOrder_ImagesSequence)->Arg(5)->Arg(11)->Arg(21)->Arg(41)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StackingOrder_VideoCaptureSequential)->Arg(5)->Arg(11)->Arg(21)->Arg(41)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SequentialRead_ImagesSequence)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SequentialRead_VideoCapture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RandomRead_ImagesSequence)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RandomRead_VideoCapture)->Unit(benchmark::kMillisecond);
