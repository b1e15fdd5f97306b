#pragma once
#include <QString>
#include <QStringList>
#include <opencv2/core.hpp>

#include <functional>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <vector>

class RenderPipeline;

// The renders and writes of one export. The results are rendered at full size on
// worker threads, a few at once and in list order, and each file is written and
// given the source's metadata on a thread of its own while later results render.
// A render or write that throws or cannot start a thread is logged and counts as
// failed; nothing of it reaches the caller's thread. Called from one thread. The
// renders work on copies of the pipelines made when the run starts, so the window
// may go on showing, changing or dropping its own.
class ExportRun {
public:
    // One full-size render; an empty picture that did not fail was cancelled.
    struct Render {
        cv::Mat picture;
        bool failed = false;
    };

    ExportRun(std::string sourcePath, int depth, const std::vector<RenderPipeline*>& pipelines);
    // Waits for every render and write still running.
    ~ExportRun();
    ExportRun(const ExportRun&) = delete;
    ExportRun& operator=(const ExportRun&) = delete;

    // True once the index-th render has ended; starts the renders whose turn has come.
    bool rendered(int index);
    // The index-th render (waits for it).
    Render takeRender(int index);
    // Asks the renders still running to stop; no further render starts.
    void cancelRenders();
    // The copy the index-th render works on, for its progress and step.
    const RenderPipeline& rendering(int index) const { return *pipelines[static_cast<size_t>(index)]; }

    // Writes the picture at the run's depth; the target counts as taken from now on.
    void startWrite(const QString& target, cv::Mat picture);
    // A result that could not be rendered: its target counts as a failed write.
    void recordFailure(const QString& target);
    bool writing() const;
    // An earlier write of this run goes to target.
    bool writesTo(const QString& target) const { return reserved.count(target) > 0; }
    // The file exists or an earlier write of this run goes to it.
    bool taken(const QString& target) const;

    // Once writing() is false: the files whose write failed.
    QStringList failed();
    // Once writing() is false: the files written without the source's metadata.
    QStringList withoutMetadata();
    // Once writing() is false: the files written, in the order their writes started.
    QStringList written();

private:
    struct Written {
        bool ok = false;
        bool metadataLost = false;
    };
    struct Write {
        QString target;
        std::future<Written> done;
        Written result;
        bool settled = false;
    };
    void startDueRenders();
    void settleWrites();
    QStringList settledTargets(const std::function<bool(const Written&)>& chosen);

    const std::string sourcePath;
    const int depth;
    std::vector<std::unique_ptr<RenderPipeline>> pipelines;
    std::vector<std::future<Render>> renders;
    int taken_ = 0;
    bool cancelled = false;
    std::vector<Write> writes;
    std::set<QString> reserved;
};
