#include "WindowSession.h"

#include "ApplicationStyleSheet.h"
#include "ImagesSequence.h"
#include "VellumbraResources.h"
#include "Workspace.h"

#include <QTest>
#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>

namespace windowtest {

WindowSession::WindowSession()
{
    loadVellumbraResources();
    applyApplicationStyleSheet(*qApp);
    mainWindow = std::make_unique<VellumbraV2>();
}

WindowSession::WindowSession(const QString& resultFile, const QString& secondPath)
{
    loadVellumbraResources();
    applyApplicationStyleSheet(*qApp);
    mainWindow = std::make_unique<VellumbraV2>(resultFile, secondPath);
}

WindowSession::~WindowSession() = default;

VellumbraV2& WindowSession::restartWindow()
{
    discardMedia();
    mainWindow.reset();
    mainWindow = std::make_unique<VellumbraV2>();
    return *mainWindow;
}

Workspace* WindowSession::workspace() const
{
    return mainWindow->currentWorkspace();
}

void WindowSession::discardMedia()
{
    if (Workspace* open = workspace()) {
        // Browsing asks nothing before the close.
        open->state = StateBrowse;
        open->tool = 0;
        EXPECT_TRUE(mainWindow->MenuActionCloseClicked());
    }
}

Workspace* WindowSession::adopt(Workspace* opened)
{
    EXPECT_EQ(workspace(), nullptr) << "the media open before was not closed";
    mainWindow->adoptWorkspace(opened);
    return opened;
}

Workspace* WindowSession::adoptVideo(const QString& path, int shownFrame)
{
    Workspace* opened = adopt(new Workspace(path, true));
    if (opened && opened->valid)
        opened->frameSource->seek(shownFrame);
    return opened;
}

Workspace* WindowSession::adoptPhoto(const QString& path)
{
    return adopt(new Workspace(path, false));
}

Workspace* WindowSession::adoptBurst(const QStringList& paths)
{
    return adopt(new Workspace(paths));
}

std::unique_ptr<WindowSession> fullScreenSession()
{
    auto session = std::make_unique<WindowSession>();
    session->window().setGeometry(QGuiApplication::primaryScreen()->geometry());
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&session->window()));
    return session;
}

}  // namespace windowtest
