#include "ExportRun.h"

#include "ImageIO.h"
#include "RenderPipeline.h"

#include <QFileInfo>

#include <chrono>
#include <utility>

namespace {

template <typename Value>
bool ready(const std::future<Value>& future)
{
    return future.valid() && future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

}  // namespace

ExportRun::ExportRun(std::string source, int bits) : sourcePath(std::move(source)), depth(bits) {}

ExportRun::~ExportRun()
{
    if (render.valid())
        render.wait();
    for (Write& write : writes)
        if (write.done.valid())
            write.done.wait();
}

void ExportRun::startRender(RenderPipeline* pipeline)
{
    render = std::async(std::launch::async, [pipeline] { return pipeline->renderFull(); });
}

bool ExportRun::rendering() const
{
    return render.valid() && !ready(render);
}

cv::Mat ExportRun::takeRender()
{
    return render.valid() ? render.get() : cv::Mat();
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
    write.done = std::async(std::launch::async, [this, path = target.toLocal8Bit().toStdString(), picture] {
        return saveImageWithDepth(path, picture, depth, sourcePath);
    });
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
    return reserved.count(target) > 0 || QFileInfo::exists(target);
}

void ExportRun::settleWrites()
{
    for (Write& write : writes)
        if (!write.settled) {
            write.ok = write.done.get();
            write.settled = true;
        }
}

QStringList ExportRun::written()
{
    settleWrites();
    QStringList files;
    for (const Write& write : writes)
        if (write.ok)
            files << write.target;
    return files;
}

QStringList ExportRun::failed()
{
    settleWrites();
    QStringList files;
    for (const Write& write : writes)
        if (!write.ok)
            files << write.target;
    return files;
}
