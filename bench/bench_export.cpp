// Export of edited results: the window's export run (full render on a worker,
// 16-bit TIFF write and metadata copy on another) beside the same three steps
// called one after the other, and five results beside one.
#include "BenchMedia.h"
#include "ExportRun.h"
#include "HdrBenchImage.h"
#include "ImageIO.h"
#include "PixelOps.h"
#include "RenderPipeline.h"

#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace {

const cv::Mat& lightImage()
{
    static const cv::Mat image = hdrbench::hdrImage(12.0);
    return image;
}

// The phone video the results come from: its tags go into every file.
std::string sourceVideo()
{
    return benchmedia::phoneVideoPath();
}

std::vector<std::unique_ptr<RenderPipeline>> pipelines(int count)
{
    std::vector<std::unique_ptr<RenderPipeline>> made;
    for (int i = 0; i < count; ++i) {
        made.push_back(std::make_unique<RenderPipeline>());
        made.back()->setSourceImage(lightImage(), true);
        made.back()->setContrast(1.0f + 0.05f * i, false);
    }
    return made;
}

void waitFor(const std::function<bool()>& busy)
{
    while (busy())
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

// What the window's per-tile loop does, without the dialogs.
void exportAll(std::vector<std::unique_ptr<RenderPipeline>>& results, const QString& folder, benchmark::State& state)
{
    std::vector<RenderPipeline*> order;
    for (auto& result : results)
        order.push_back(result.get());
    ExportRun run(sourceVideo(), 16, order);
    for (int i = 0; i < static_cast<int>(order.size()); ++i) {
        waitFor([&] { return !run.rendered(i); });
        run.startWrite(QString("%1/%2.tif").arg(folder).arg(i), run.takeRender(i).picture);
    }
    waitFor([&] { return run.writing(); });
    if (!run.failed().isEmpty() || QDir(folder).entryList(QDir::Files).size() != static_cast<int>(results.size()))
        state.SkipWithError("a result was not written");
}

void BM_ExportTiles(benchmark::State& state)
{
    auto results = pipelines(static_cast<int>(state.range(0)));
    QTemporaryDir folder;
    for (auto _ : state)
        exportAll(results, folder.path(), state);
}
BENCHMARK(BM_ExportTiles)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// The peer: full render, then writeImage with the metadata copy, in turn.
void BM_RenderThenWriteImage(benchmark::State& state)
{
    auto results = pipelines(1);
    QTemporaryDir folder;
    for (auto _ : state) {
        const cv::Mat picture = results.front()->renderFull();
        if (!writeImage((folder.path() + "/peer.tif").toStdString(), convertBitDepth(picture, 16), sourceVideo(),
                        "Vellumbra"))
            state.SkipWithError("the peer's write failed");
    }
}
BENCHMARK(BM_RenderThenWriteImage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace
