// Peak memory and time of a page of preset tiles rendering live previews of a
// 24-megapixel light image, beside OpenCV reducing the same image as many times.
#include "EngineDefaults.h"
#include "PresetImage.h"
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

// A real photo enlarged to 24 megapixels as a float light image, or smooth
// random content when the media is absent.
const cv::Mat& lightImage()
{
    static const cv::Mat image = [] {
        const QString media = qEnvironmentVariable("VB_TEST_MEDIA", QStringLiteral(VB_TEST_MEDIA));
        cv::Mat photo =
            cv::imread((media + "/mate-backgrounds/usr/share/backgrounds/mate/nature/LadyBird.jpg").toStdString());
        if (photo.empty()) {
            photo.create(64, 96, CV_8UC3);
            cv::RNG(42).fill(photo, cv::RNG::UNIFORM, 0, 255);
        }
        cv::Mat large;
        cv::resize(photo, large, kPhotoSize, 0.0, 0.0, cv::INTER_LINEAR);
        cv::Mat light;
        large.convertTo(light, CV_32FC3, 1.0 / 255.0);
        return light;
    }();
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

void BM_PresetTilesOn24MpLightImage(benchmark::State& state)
{
    application();
    const cv::Mat& light = lightImage();
    engineDefaults.TMalgo = SlidersTMIndex;
    setThumbnailSize(kThumbnail);
    long worstPeak = 0;
    long baseline = 0;
    for (auto _ : state) {
        if (!resetPeak())
            state.SkipWithError("cannot reset the peak resident size");
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
BENCHMARK(BM_PresetTilesOn24MpLightImage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Peer: OpenCV reducing the light image to the thumbnail as many times, no render.
void BM_OpenCVResizeToThumbnailPerTile(benchmark::State& state)
{
    const cv::Mat& light = lightImage();
    long worstPeak = 0;
    long baseline = 0;
    for (auto _ : state) {
        if (!resetPeak())
            state.SkipWithError("cannot reset the peak resident size");
        baseline = statusValue("VmRSS:");
        std::vector<cv::Mat> thumbnails(kTiles);
        for (cv::Mat& thumbnail : thumbnails)
            cv::resize(light, thumbnail, kThumbnail, 0.0, 0.0, cv::INTER_AREA);
        benchmark::DoNotOptimize(thumbnails.data());
        worstPeak = std::max(worstPeak, statusValue("VmHWM:"));
    }
    reportPeak(state, baseline, worstPeak);
}
BENCHMARK(BM_OpenCVResizeToThumbnailPerTile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
