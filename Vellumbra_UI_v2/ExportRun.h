#pragma once
#include <QString>
#include <QStringList>
#include <opencv2/core.hpp>

#include <future>
#include <set>
#include <string>
#include <vector>

class RenderPipeline;

// The renders and writes of one export. The results are rendered at full size on
// worker threads, a few at once and in list order, and each file is written and
// given the source's metadata on a thread of its own while later results render.
// Called from one thread; every pipeline must stay alive and unchanged until the
// run has ended.
class ExportRun {
public:
    ExportRun(std::string sourcePath, int depth, std::vector<RenderPipeline*> pipelines);
    // Waits for every render and write still running.
    ~ExportRun();
    ExportRun(const ExportRun&) = delete;
    ExportRun& operator=(const ExportRun&) = delete;

    // True once the index-th render has ended; starts the renders whose turn has come.
    bool rendered(int index);
    // The index-th picture (waits for it); empty when its render was cancelled.
    cv::Mat takeRender(int index);
    // Asks the renders still running to stop; no further render starts.
    void cancelRenders();

    // Writes the picture at the run's depth; the target counts as taken from now on.
    void startWrite(const QString& target, cv::Mat picture);
    bool writing() const;
    // The file exists or an earlier write of this run goes to it.
    bool taken(const QString& target) const;

    // Once writing() is false: the files written, and those whose write failed.
    QStringList written();
    QStringList failed();

private:
    struct Write {
        QString target;
        std::future<bool> done;
        bool ok = false;
        bool settled = false;
    };
    void startDueRenders();
    void settleWrites();

    const std::string sourcePath;
    const int depth;
    const std::vector<RenderPipeline*> pipelines;
    std::vector<std::future<cv::Mat>> renders;
    int taken_ = 0;
    bool cancelled = false;
    std::vector<Write> writes;
    std::set<QString> reserved;
};
