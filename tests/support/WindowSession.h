#pragma once
#include "ModalScript.h"
#include "TemporaryEnvironment.h"

#include <QString>
#include <QStringList>

#include <memory>

class VellumbraV2;
class Workspace;

namespace windowtest {

// One main window for a workflow test: a private HOME, the languages and factory
// presets copied beside the test program, the application style sheet. A dialog
// that no script of the test expects fails the test instead of waiting forever. Media is installed the way
// opening installs it, into a fresh workspace.
class WindowSession {
public:
    WindowSession();
    // A window in plug-in hand-off mode, reporting saved results into resultFile.
    WindowSession(const QString& resultFile, const QString& secondPath);
    ~WindowSession();
    WindowSession(const WindowSession&) = delete;
    WindowSession& operator=(const WindowSession&) = delete;

    VellumbraV2& window() { return *mainWindow; }
    TemporaryEnvironment& environment() { return home; }
    // The open media, or null.
    Workspace* workspace() const;

    // The next start of the program: a new window on the same settings and data.
    VellumbraV2& restartWindow();

    // Closes the open media without a question, whatever its state.
    void discardMedia();
    // Install new media; the previous media must be closed first. A video that
    // opens is at shownFrame.
    Workspace* adoptVideo(const QString& path, int shownFrame = 0);
    Workspace* adoptPhoto(const QString& path);
    Workspace* adoptBurst(const QStringList& paths);

    // The window's child of that object name, or null.
    template <typename Widget>
    Widget* find(const char* objectName) const;

private:
    Workspace* adopt(Workspace* opened);

    TemporaryEnvironment home;
    ModalScript unexpectedDialogs;
    std::unique_ptr<VellumbraV2> mainWindow;
};

// A session whose window fills the X screen, shown and exposed.
std::unique_ptr<WindowSession> fullScreenSession();

}  // namespace windowtest

#include "vellumbraV2.h"

template <typename Widget>
Widget* windowtest::WindowSession::find(const char* objectName) const
{
    return mainWindow->findChild<Widget*>(QString::fromLatin1(objectName));
}
