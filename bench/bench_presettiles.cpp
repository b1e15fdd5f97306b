// Peak memory and time of a page of preset tiles rendering live previews of a
// 24-megapixel light image, of a 17.9-megapixel photo and of a 30000 x 200 panorama,
// each beside OpenCV reducing the same image as many times.
#include "EngineDefaults.h"
#include "PresetImage.h"
#include "PresetPreviewSize.h"
#include "RenderPipeline.h"
#include "ToneMapperFactory.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QThread>
#include <QVBoxLayout>
#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kTiles = 20;
constexpr int kTileHeight = 128;
const cv::Size kPhotoSize(6000, 4000);
const cv::Size kThumbnail(192, 128);

QApplication& application()
{
    static int argc = 1;
    static char name[] = "bench_presettiles";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
}

// A real photo resized to size as a float light image, or smooth random content
// when the media is absent.
cv::Mat lightImageOfSize(const cv::Size& size)
{
    const QString media = qEnvironmentVariable("VB_TEST_MEDIA", QStringLiteral(VB_TEST_MEDIA));
    cv::Mat photo =
        cv::imread((media + "/mate-backgrounds/usr/share/backgrounds/mate/nature/LadyBird.jpg").toStdString());
    if (photo.empty()) {
        photo.create(64, 96, CV_8UC3);
        cv::RNG(42).fill(photo, cv::RNG::UNIFORM, 0, 255);
    }
    cv::Mat resized;
    cv::resize(photo, resized, size, 0.0, 0.0, cv::INTER_LINEAR);
    cv::Mat light;
    resized.convertTo(light, CV_32FC3, 1.0 / 255.0);
    return light;
}

const cv::Mat& lightImage()
{
    static const cv::Mat image = lightImageOfSize(kPhotoSize);
    return image;
}

// Resident and peak resident memory of the process, in kB, from /proc.
long statusValue(const char* key)
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(static_cast<int>(qstrlen(key))).trimmed().split(' ').first().toLong();
    return 0;
}

// Starts a new peak measurement; false when the kernel refuses to reset the peak.
bool resetPeak()
{
    QFile clearRefs("/proc/self/clear_refs");
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

// growthMB: the peak above what was resident before (the light image among it);
// a full-size float copy per tile would add 288 MB each.
void reportPeak(benchmark::State& state, long baselineKb, long peakKb)
{
    state.counters["peakMB"] = benchmark::Counter(static_cast<double>(peakKb) / 1024.0);
    state.counters["growthMB"] = benchmark::Counter(static_cast<double>(peakKb - baselineKb) / 1024.0);
}

// A page of tiles previewing light at thumbnail size.
void presetTilePage(benchmark::State& state, const cv::Mat& light, const cv::Size& thumbnail)
{
    application();
    engineDefaults.TMalgo = SlidersTMIndex;
    setThumbnailSize(thumbnail);
    long worstPeak = 0;
    long baseline = 0;
    for (auto _ : state) {
        if (!resetPeak())
            state.SkipWithError("cannot reset the peak resident size");
        // Before the first page: later pages reuse what the allocator kept.
        if (baseline == 0)
            baseline = statusValue("VmRSS:");
        {
            QWidget page;
            page.setLayout(new QVBoxLayout);
            std::vector<PresetImage*> tiles;
            for (int i = 0; i < kTiles; ++i) {
                tiles.push_back(new PresetImage(std::make_unique<RenderPipeline>(), QString("Preset %1").arg(i), &page,
                                                nullptr, nullptr, nullptr));
                tiles.back()->setSource(&light);
            }
            QElapsedTimer timer;
            timer.start();
            auto allShown = [&tiles] {
                for (PresetImage* tile : tiles)
                    if (tile->findChild<QLabel*>("label_ImageReferenced")->pixmap(Qt::ReturnByValue).isNull())
                        return false;
                return true;
            };
            while (!allShown() && timer.elapsed() < 60000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (!allShown())
                state.SkipWithError("previews did not arrive");
        }
        worstPeak = std::max(worstPeak, statusValue("VmHWM:"));
    }
    reportPeak(state, baseline, worstPeak);
}

// Peer: OpenCV reducing the light image to the thumbnail as many times, no render.
void openCvResizePerTile(benchmark::State& state, const cv::Mat& light, const cv::Size& thumbnail)
{
    long worstPeak = 0;
    long baseline = 0;
    for (auto _ : state) {
        if (!resetPeak())
            state.SkipWithError("cannot reset the peak resident size");
        // Before the first page: later pages reuse what the allocator kept.
        if (baseline == 0)
            baseline = statusValue("VmRSS:");
        std::vector<cv::Mat> thumbnails(kTiles);
        for (cv::Mat& reduced : thumbnails)
            cv::resize(light, reduced, thumbnail, 0.0, 0.0, cv::INTER_AREA);
        benchmark::DoNotOptimize(thumbnails.data());
        worstPeak = std::max(worstPeak, statusValue("VmHWM:"));
    }
    reportPeak(state, baseline, worstPeak);
}

void BM_PresetTilesOn24MpLightImage(benchmark::State& state)
{
    presetTilePage(state, lightImage(), kThumbnail);
}
BENCHMARK(BM_PresetTilesOn24MpLightImage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_OpenCVResizeToThumbnailPerTile(benchmark::State& state)
{
    openCvResizePerTile(state, lightImage(), kThumbnail);
}
BENCHMARK(BM_OpenCVResizeToThumbnailPerTile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// A 17.9-megapixel photo and a panorama of a third of its pixels, with the tile
// size the window gives pictures of their shape: the panorama's page must not cost
// more than the photo's.
const cv::Size kPhoto17Mp(5184, 3456);
const cv::Size kPanorama(30000, 200);

cv::Size windowThumbnail(const cv::Size& picture)
{
    return presetRenderSize(kTileHeight, static_cast<double>(picture.width) / picture.height);
}

void BM_PresetTiles(benchmark::State& state, cv::Size picture)
{
    const cv::Mat light = lightImageOfSize(picture);
    presetTilePage(state, light, windowThumbnail(picture));
}
BENCHMARK_CAPTURE(BM_PresetTiles, Photo17_9Mp, kPhoto17Mp)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(BM_PresetTiles, Panorama30000x200, kPanorama)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

void BM_OpenCVResizePerTile(benchmark::State& state, cv::Size picture)
{
    const cv::Mat light = lightImageOfSize(picture);
    openCvResizePerTile(state, light, windowThumbnail(picture));
}
BENCHMARK_CAPTURE(BM_OpenCVResizePerTile, Photo17_9Mp, kPhoto17Mp)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK_CAPTURE(BM_OpenCVResizePerTile, Panorama30000x200, kPanorama)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace
