#include "vellumbraV2.h"

#include "ImagesSequence.h"
#include "Repolish.h"
#include "Workspace.h"

#include <QCoreApplication>

void VellumbraV2::playPauseVideo()
{
    Workspace* open = currentWorkspace();
    if (!open || !open->isSequence || !usableFrameSource() || (open->state != StateBrowse && open->state != StateDefineParameters))
        return;
    videoPaused = !videoPaused;
    // A running loop sees the flag on its next turn: a pause ends it, a second
    // press before then keeps it going.
    if (videoPaused || playbackLoopRunning)
        return;
    setPlayButtonPlaying(true);
    ImagesSequence* frames = open->frameSource.get();
    if (frames->isAtEnd())
        frames->rewind(true);

    // Every slot can run inside the loop, closing the media included: the lease
    // keeps the frame source alive until the loop has let go of it.
    playbackLoopRunning = true;
    {
        WorkspaceKeeper::Lease lease(workspaceKeeper, open);
        cv::Mat frame;
        while (!lease.closed() && currentWorkspace() == open && !videoPaused && !frames->isAtEnd()) {
            // The frame source sleeps out the rest of the frame time itself.
            showImage(frames->playNextFrame(frame, true));
            QCoreApplication::processEvents();
            if (currentWorkspace() == open)
                showFrameNumber(-1);
        }
    }
    playbackLoopRunning = false;
    videoPaused = true;
    setPlayButtonPlaying(false);
    if (currentWorkspace() == open)
        showFrameNumber(-1);
}

// Playback runs on this thread: a caller inside the loop's event processing finds
// no frame being decoded, and the loop looks at the flag before it touches the
// frame source again, so nothing needs waiting for.
void VellumbraV2::stopPlayback()
{
    videoPaused = true;
}

void VellumbraV2::setPlayButtonPlaying(bool playing)
{
    ui.pushButton_PlayPause->setProperty("SecondState", playing);
    repolish(ui.pushButton_PlayPause);
}
