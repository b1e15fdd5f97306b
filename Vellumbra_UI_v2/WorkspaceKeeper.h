#pragma once
#include <map>
#include <memory>

class Workspace;

// Keeps a closed workspace alive while a loop that watches one of its worker
// threads still reads it. The window polls such workers in loops that process
// events, so the user can close the media from inside the loop: the close then
// retires the workspace, and the last lease deletes it once the loop is done.
class WorkspaceKeeper {
public:
    class Lease {
    public:
        // workspace may be null (nothing is kept).
        Lease(WorkspaceKeeper& keeper, Workspace* workspace);
        ~Lease();
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;

        Workspace* workspace() const { return held; }
        // The media was closed while the loop ran: the loop stops and leaves
        // the window alone.
        bool closed() const;

    private:
        WorkspaceKeeper& keeper;
        Workspace* held;
    };

    WorkspaceKeeper() = default;
    ~WorkspaceKeeper();
    WorkspaceKeeper(const WorkspaceKeeper&) = delete;
    WorkspaceKeeper& operator=(const WorkspaceKeeper&) = delete;

    // Deletes the workspace now, or when its last lease ends.
    void retire(Workspace* workspace);
    bool isLeased(const Workspace* workspace) const;
    bool isRetired(const Workspace* workspace) const;

private:
    void release(Workspace* workspace);

    std::map<const Workspace*, int> leaseCounts;
    std::map<const Workspace*, std::unique_ptr<Workspace>> retired;
};
