#include "WorkspaceKeeper.h"

#include "Workspace.h"

WorkspaceKeeper::Lease::Lease(WorkspaceKeeper& keeperIn, Workspace* workspace) : keeper(keeperIn), held(workspace)
{
    if (held)
        ++keeper.leaseCounts[held];
}

WorkspaceKeeper::Lease::~Lease()
{
    if (held)
        keeper.release(held);
}

bool WorkspaceKeeper::Lease::closed() const
{
    return !held || keeper.isRetired(held);
}

WorkspaceKeeper::~WorkspaceKeeper() = default;

void WorkspaceKeeper::retire(Workspace* workspace)
{
    if (!workspace)
        return;
    if (isLeased(workspace))
        retired[workspace].reset(workspace);
    else
        delete workspace;
}

bool WorkspaceKeeper::isLeased(const Workspace* workspace) const
{
    return leaseCounts.count(workspace) > 0;
}

bool WorkspaceKeeper::isRetired(const Workspace* workspace) const
{
    return retired.count(workspace) > 0;
}

void WorkspaceKeeper::release(Workspace* workspace)
{
    auto count = leaseCounts.find(workspace);
    if (count == leaseCounts.end() || --count->second > 0)
        return;
    leaseCounts.erase(count);
    // Erased from the map before it is deleted: its destructor may run events.
    auto entry = retired.find(workspace);
    if (entry == retired.end())
        return;
    std::unique_ptr<Workspace> last = std::move(entry->second);
    retired.erase(entry);
}
