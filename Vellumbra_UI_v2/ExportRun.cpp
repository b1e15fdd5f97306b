#include "ExportRun.h"

#include "ImageIO.h"
#include "Log.h"
#include "RenderPipeline.h"
#include "Threads.h"

#include <QFileInfo>

#include <chrono>
#include <utility>

namespace {

const char* const kWhere = "ExportRun";

template <typename Value>
bool ready(const std::future<Value>& future)
{
    return future.valid() && future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

// work() on a thread of its own, through the guard: a closure that throws, or a
// thread that cannot start, gives `failed`.
template <typename Value, typename Work>
std::future<Value> startGuarded(const std::string& failure, Value failed, Work work)
{
    try {
        return std::async(std::launch::async, [failure, failed, work]() {
            Value value = failed;
            runGuarded(kWhere, failure, [&] { value = work(); });
            return value;
        });
    } catch (const std::exception& error) {
        logError(kWhere, failure + ": " + error.what());
        std::promise<Value> settled;
        settled.set_value(failed);
        return settled.get_future();
    }
}

// Renders ahead of the one being written: each render splits its own loops over
// threads, so three at once keep the cores busy through its serial stages.
constexpr int kRendersAhead = 3;

}  // namespace

ExportRun::ExportRun(std::string source, int bits, const std::vector<RenderPipeline*>& toRender)
    : sourcePath(std::move(source)), depth(bits)
{
    for (const RenderPipeline* pipeline : toRender)
        pipelines.push_back(pipeline->renderCopy());
    startDueRenders();
}

ExportRun::~ExportRun()
{
    for (std::future<Render>& render : renders)
        if (render.valid())
            render.wait();
    for (Write& write : writes)
        if (write.done.valid())
            write.done.wait();
}

void ExportRun::startDueRenders()
{
    while (!cancelled && renders.size() < pipelines.size() &&
           static_cast<int>(renders.size()) < taken_ + kRendersAhead) {
        RenderPipeline* pipeline = pipelines[renders.size()].get();
        const std::string failure = "The full-size render of result " + std::to_string(renders.size() + 1) + " failed";
        renders.push_back(startGuarded(failure, Render{cv::Mat(), true},
                                       [pipeline] { return Render{pipeline->renderFull(), false}; }));
    }
}

bool ExportRun::rendered(int index)
{
    startDueRenders();
    return index >= static_cast<int>(renders.size()) ? cancelled : ready(renders[static_cast<size_t>(index)]);
}

ExportRun::Render ExportRun::takeRender(int index)
{
    if (index >= static_cast<int>(renders.size()) || !renders[static_cast<size_t>(index)].valid())
        return Render();
    Render render = renders[static_cast<size_t>(index)].get();
    taken_ = index + 1;
    startDueRenders();
    return render;
}

void ExportRun::cancelRenders()
{
    cancelled = true;
    for (size_t i = 0; i < renders.size(); ++i)
        if (renders[i].valid() && pipelines[i]->toneMapper())
            pipelines[i]->toneMapper()->cancel = true;
}

void ExportRun::startWrite(const QString& target, cv::Mat picture)
{
    // A file replaced twice in one run: the earlier write ends first.
    for (Write& earlier : writes)
        if (earlier.target == target && earlier.done.valid())
            earlier.done.wait();
    reserved.insert(target);
    Write write;
    write.target = target;
    const std::string path = target.toLocal8Bit().toStdString();
    write.done = startGuarded("Writing \"" + path + "\" failed", Written(), [this, path, picture] {
        Written written;
        written.ok = saveImageWithDepth(path, picture, depth, sourcePath, &written.metadataLost);
        return written;
    });
    writes.push_back(std::move(write));
}

void ExportRun::recordFailure(const QString& target)
{
    logError(kWhere, "\"" + target.toStdString() + "\" was not written: its picture could not be rendered");
    Write write;
    write.target = target;
    write.settled = true;
    writes.push_back(std::move(write));
}

bool ExportRun::writing() const
{
    for (const Write& write : writes)
        if (!write.settled && !ready(write.done))
            return true;
    return false;
}

bool ExportRun::taken(const QString& target) const
{
    return writesTo(target) || QFileInfo::exists(target);
}

void ExportRun::settleWrites()
{
    for (Write& write : writes)
        if (!write.settled) {
            write.result = write.done.get();
            write.settled = true;
        }
}

QStringList ExportRun::failed()
{
    return settledTargets([](const Written& result) { return !result.ok; });
}

QStringList ExportRun::withoutMetadata()
{
    return settledTargets([](const Written& result) { return result.ok && result.metadataLost; });
}

QStringList ExportRun::written()
{
    return settledTargets([](const Written& result) { return result.ok; });
}

QStringList ExportRun::settledTargets(const std::function<bool(const Written&)>& chosen)
{
    settleWrites();
    QStringList files;
    for (const Write& write : writes)
        if (chosen(write.result))
            files << write.target;
    return files;
}
