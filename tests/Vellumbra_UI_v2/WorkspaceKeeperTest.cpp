#include "Workspace.h"
#include "WorkspaceKeeper.h"

#include "GeneratedMedia.h"
#include "SharpestImageSelection.h"
#include "TestMedia.h"

#include <QPointer>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

// A one-photo workspace holding one tile, whose deletion tells when the workspace went.
struct Watched {
    Workspace* workspace;
    QPointer<QObject> tile;
};

Watched makeWorkspace(QWidget* parent)
{
    auto* workspace = new Workspace(QStringLiteral("/nonexistent/photo.png"), false);
    QPointer<QObject> tile(workspace->addImageTile(generatedmedia::scene(cv::Size(32, 24), 1), parent));
    return {workspace, tile};
}

}  // namespace

TEST(WorkspaceKeeper, ClosedWorkspaceLivesUntilTheLastLeaseEnds)
{
    struct Case {
        const char* name;
        int leases;  // taken before the close
        bool closedWhileLeased;
    };
    const Case cases[] = {
        {"no loop runs: deleted at the close", 0, false},
        {"one loop runs: deleted when it ends", 1, true},
        {"two nested loops: deleted when the outer one ends", 2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QWidget parent;
        WorkspaceKeeper keeper;
        Watched watched = makeWorkspace(&parent);
        {
            WorkspaceKeeper::Lease outer(keeper, c.leases > 0 ? watched.workspace : nullptr);
            {
                WorkspaceKeeper::Lease inner(keeper, c.leases > 1 ? watched.workspace : nullptr);
                if (c.leases > 1) {
                    EXPECT_FALSE(inner.closed());
                }
                keeper.retire(watched.workspace);
                EXPECT_EQ(!watched.tile.isNull(), c.closedWhileLeased);
                if (c.leases > 1) {
                    EXPECT_TRUE(inner.closed());
                }
            }
            EXPECT_EQ(!watched.tile.isNull(), c.closedWhileLeased);
            if (c.leases > 0) {
                EXPECT_TRUE(outer.closed());
            }
        }
        EXPECT_TRUE(watched.tile.isNull());
    }
}

TEST(WorkspaceKeeper, LeaseOfAnOpenWorkspaceNeitherClosesNorDeletesIt)
{
    QWidget parent;
    WorkspaceKeeper keeper;
    Watched watched = makeWorkspace(&parent);
    {
        WorkspaceKeeper::Lease lease(keeper, watched.workspace);
        EXPECT_FALSE(lease.closed());
        EXPECT_TRUE(keeper.isLeased(watched.workspace));
    }
    EXPECT_FALSE(keeper.isLeased(watched.workspace));
    EXPECT_FALSE(watched.tile.isNull());
    keeper.retire(watched.workspace);
    EXPECT_TRUE(watched.tile.isNull());
}
