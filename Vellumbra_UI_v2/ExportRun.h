#pragma once
#include <QString>
#include <QStringList>
#include <opencv2/core.hpp>

#include <future>
#include <set>
#include <string>
#include <vector>

class RenderPipeline;

// The renders and writes of one export. Each result is rendered at full size on a
// worker thread; its file is written and given the source's metadata on another
// while the next result renders. Called from one thread; the pipeline being
// rendered must stay alive and unchanged until its render has been taken.
class ExportRun {
public:
    ExportRun(std::string sourcePath, int depth);
    // Waits for every render and write still running.
    ~ExportRun();
    ExportRun(const ExportRun&) = delete;
    ExportRun& operator=(const ExportRun&) = delete;

    void startRender(RenderPipeline* pipeline);
    bool rendering() const;
    // The finished picture (waits for it); empty when the render was cancelled.
    cv::Mat takeRender();

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
    void settleWrites();

    const std::string sourcePath;
    const int depth;
    std::future<cv::Mat> render;
    std::vector<Write> writes;
    std::set<QString> reserved;
};
