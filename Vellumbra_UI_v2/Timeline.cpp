#include "vellumbraV2.h"

#include "ImagesSequence.h"
#include "SharpestImageSelection.h"
#include "StackingRange.h"
#include "TimelineGeometry.h"
#include "Workspace.h"

#include <QMouseEvent>
#include <QSignalBlocker>

#include <algorithm>

ImagesSequence* VellumbraV2::usableFrameSource() const
{
    Workspace* open = currentWorkspace();
    if (!open || !open->frameSource || !open->frameSource->opened)
        return nullptr;
    return open->frameSource.get();
}

bool VellumbraV2::canNavigate() const
{
    return usableFrameSource() && videoPaused && (workspace->state == StateBrowse || workspace->state == StateDefineParameters);
}

void VellumbraV2::showFrameIndex(int frame)
{
    if (!canNavigate())
        return;
    // Decoding waits for the timer, so a drag or a held spin box decodes once.
    targetFrame = frame;
    frameTimer.start();
    showFrameNumber(frame);
    placeTimelineCursor(frame);
}

void VellumbraV2::showBeginFrame()
{
    if (ImagesSequence* frames = usableFrameSource())
        showFrameIndex(frames->firstIndex);
}

void VellumbraV2::showEndFrame()
{
    if (ImagesSequence* frames = usableFrameSource())
        showFrameIndex(frames->lastIndex);
}

void VellumbraV2::TimerTimeoutShowFrameIndex()
{
    // A search or stacking run started since the jump owns the frame source's position.
    if (!canNavigate())
        return;
    ImagesSequence* frames = usableFrameSource();
    cv::Mat frame;
    showImage(frames->getDisplayImageAt(frame, targetFrame, true, false));
    showFrameNumber(-1);
}

// A press moves exactly one frame, at once: pacing belongs to playback.
void VellumbraV2::showNextFrame()
{
    if (!canNavigate())
        return;
    cv::Mat frame;
    showImage(workspace->frameSource->nextFrame(frame, false, true));
    showFrameNumber(-1);
}

void VellumbraV2::showPreviousFrame()
{
    if (!canNavigate())
        return;
    cv::Mat frame;
    showImage(workspace->frameSource->previousFrame(frame, false, true));
    showFrameNumber(-1);
}

void VellumbraV2::showFrameNumber(int frame)
{
    ImagesSequence* frames = usableFrameSource();
    if (!frames || !workspace->isSequence)
        return;
    if (frame == -1)
        frame = frames->getCurrentIndex();
    ui.label_CurrentTime_CurrentImageIndex->setText(frames->positionLabel(frame));
    ui.label_EndTime_CurrentImageName->setText(frames->infoLabel(-1));
    ui.label_CurrentFrameNumber->setText(QString::number(frame));
    ui.label_CurrentFrameNumber_2->setText(QString::number(frame));
    refreshTimeline();
}

void VellumbraV2::placeTimelineCursor(int frame)
{
    ImagesSequence* frames = usableFrameSource();
    if (!frames)
        return;
    if (frame == -1)
        frame = frames->getCurrentIndex();
    QLabel* cursor = ui.label_CursorPlayingBar;
    cursor->move(timeline::cursorPosition(ui.label_BackgroundMidPlayingBar->geometry(), frame, frames->frameCount,
                                          cursor->width()));
}

void VellumbraV2::placeTrimMarkers()
{
    ImagesSequence* frames = usableFrameSource();
    if (!frames)
        return;
    const QRect bar = ui.label_BackgroundMidPlayingBar->geometry();
    QLabel* start = ui.label_TrimStartPlayingBar;
    QLabel* end = ui.label_TrimEndPlayingBar;
    start->move(timeline::trimStartPosition(bar, frames->firstIndex, frames->frameCount, start->width()));
    end->move(timeline::trimEndPosition(bar, frames->lastIndex, frames->frameCount));
    const int left = start->geometry().right() + 1;
    ui.label_ForegroundMidPlayingBar->setGeometry(left, bar.y(), std::max(end->x() - left, 0),
                                                  ui.label_ForegroundMidPlayingBar->height());
}

void VellumbraV2::placeChosenFrameFlag()
{
    ImagesSequence* frames = usableFrameSource();
    if (!frames)
        return;
    QWidget* line = ui.line_CursorSelectorFlag;
    line->move(timeline::chosenFlagPosition(ui.label_BackgroundMidPlayingBar->geometry(), workspace->currentFrame,
                                            frames->frameCount, line->width()));
    ui.label_CursorSelectorFlag->move(line->x(), 0);
}

void VellumbraV2::refreshTimeline()
{
    placeTimelineCursor(-1);
    placeTrimMarkers();
    if (currentWorkspace() && workspace->state == StateDefineParameters)
        placeChosenFrameFlag();
}

void VellumbraV2::layoutTimeline()
{
    const timeline::Layout placed =
        timeline::layout(ui.Panel_LectureTop2->width(), ui.label_TrimStartPlayingBar->width(),
                         ui.label_BackgroundMidPlayingBar->height(), ui.line_CursorSelectorFlag->height(),
                         ui.label_ExternRightPlayingBar->width());
    ui.label_BackgroundMidPlayingBar->setGeometry(placed.bar);
    ui.label_ExternLeftPlayingBar->move(placed.externLeft);
    ui.label_ExternRightPlayingBar->move(placed.externRight);
    if (usableFrameSource())
        refreshTimeline();
}

void VellumbraV2::CursorDClicked(int frame)
{
    ImagesSequence* frames = usableFrameSource();
    if (!frames || placedPins >= 4)
        return;
    for (int i = 0; i < 4; ++i) {
        if (!pins[i]->isHidden())
            continue;
        pins[i]->show();
        pins[i]->move(timeline::pinPosition(ui.label_BackgroundMidPlayingBar->geometry(), frame, frames->frameCount,
                                            pins[i]->width(), true));
        ++placedPins;
        pinFrames[i] = frame;
        return;
    }
}

void VellumbraV2::moveProSharpestPin(QWidget* marker, int frame)
{
    ImagesSequence* frames = usableFrameSource();
    if (!frames || !marker)
        return;
    marker->move(timeline::pinPosition(ui.label_BackgroundMidPlayingBar->geometry(), frame, frames->frameCount,
                                       marker->width(), false));
}

void VellumbraV2::mouseMoveEvent(QMouseEvent* event)
{
    QMainWindow::mouseMoveEvent(event);
    ImagesSequence* frames = usableFrameSource();
    if (!markerDragging || !frames || !workspace->isSequence)
        return;
    QLabel* strip = ui.label_ForegroundMidPlayingBar;
    const int first = frames->firstIndex;
    const int last = frames->lastIndex;
    const int stripX = strip->mapTo(this, QPoint(0, 0)).x();
    const int frame = timeline::frameAtDrag(event->pos().x(), stripX, strip->width(), first, last);
    switch (markerDragKind) {
    case 1: {
        if (first == last)
            return;
        showFrameIndex(frame <= last ? std::max(frame, first) : last);
        const QRect bar = ui.label_BackgroundMidPlayingBar->geometry();
        const int x = std::clamp(ui.Panel_LectureTop2->mapFrom(this, event->pos()).x(), strip->x(),
                                 strip->x() + strip->width());
        QLabel* cursor = ui.label_CursorPlayingBar;
        cursor->move(x - cursor->width() / 2, bar.y() + (bar.height() * 3) / 4);
        break;
    }
    case 2:
        ui.spinBox_ImageStackingBefore->setValue(workspace->currentFrame - frame);
        break;
    case 3:
        ui.spinBox_ImageStackingAfter->setValue(frame - workspace->currentFrame);
        break;
    default:
        break;
    }
}

// The press sets no cursor of its own, so the release leaves the application's
// override cursor (a running computation's) alone.
void VellumbraV2::mouseReleaseEvent(QMouseEvent* event)
{
    markerDragKind = 0;
    markerDragging = false;
    QMainWindow::mouseReleaseEvent(event);
}

void VellumbraV2::spinBox_NbImagesBeforeChanged(int value)
{
    stackingCountChanged(ui.spinBox_ImageStackingBefore, &Workspace::framesBefore, value);
}

void VellumbraV2::spinBox_NbImagesAfterChanged(int value)
{
    stackingCountChanged(ui.spinBox_ImageStackingAfter, &Workspace::framesAfter, value);
}

void VellumbraV2::stackingCountChanged(QSpinBox* box, int Workspace::*count, int value)
{
    Workspace* open = currentWorkspace();
    if (!open)
        return;
    open->undoRedoManager.add<int, QSpinBox>(box, &QSpinBox::setValue, open->*count, value,
                                             "Undo on neighboring frames number");
    open->*count = value;
    ImagesSequence* frames = usableFrameSource();
    // Browsing plays the whole sequence; only the parameters step plays the stacked frames.
    if (!frames || open->state != StateDefineParameters)
        return;
    const QSignalBlocker blocker(box);
    // The frame on show moves into the frames the counts take. It gets there when
    // the frame timer fires; until then the range keeps the frame on show.
    const int chosen = open->currentFrame;
    const stackingrange::Range taken =
        stackingrange::playbackRange(chosen, frames->frameCount, chosen, open->framesBefore, open->framesAfter);
    const int shown = frames->getCurrentIndex();
    if (shown < taken.first || shown > taken.last)
        showFrameIndex(std::clamp(shown, taken.first, taken.last));
    open->playStackingRange(shown);
    placeTrimMarkers();
}

void VellumbraV2::PushButtonImageStacking_BeforeClicked()
{
    ImagesSequence* frames = usableFrameSource();
    if (!frames)
        return;
    const int shown = frames->getCurrentIndex();
    const int chosen = workspace->currentFrame;
    ui.spinBox_ImageStackingBefore->setValue(shown <= chosen ? chosen - shown : 0);
}

void VellumbraV2::PushButtonImageStacking_AfterClicked()
{
    ImagesSequence* frames = usableFrameSource();
    if (!frames)
        return;
    const int shown = frames->getCurrentIndex();
    const int chosen = workspace->currentFrame;
    ui.spinBox_ImageStackingAfter->setValue(shown >= chosen ? shown - chosen : 0);
}

void VellumbraV2::changeVideoBrightness(QSlider* slider, int value)
{
    Workspace* open = currentWorkspace();
    if (!open || !open->isSequence || !usableFrameSource())
        return;
    open->undoRedoManager.add<int, QAbstractSlider>(slider, &QAbstractSlider::setValue, open->videoBrightness, value,
                                                    "Undo on brightness");
    open->setVideoBrightness(value);
    cv::Mat frame;
    showImage(open->frameSource->getDisplayImageAt(frame, -1, true, false));
}

void VellumbraV2::changeVideoSpeed(QSlider* slider, int value)
{
    Workspace* open = currentWorkspace();
    if (!open || !open->isSequence || !usableFrameSource())
        return;
    open->undoRedoManager.add<int, QAbstractSlider>(slider, &QAbstractSlider::setValue, open->videoSpeed, value,
                                                    "Undo on video speed");
    open->setVideoSpeed(value);
}

void VellumbraV2::horizontalSlider_VideoBrightnessMoved(int value)
{
    changeVideoBrightness(ui.horizontalSlider_VideoBrightness, value);
}

void VellumbraV2::horizontalSlider_VideoBrightness_ProMoved(int value)
{
    changeVideoBrightness(ui.horizontalSlider_VideoBrightness_Pro, value);
}

void VellumbraV2::horizontalSlider_VideoSpeedMoved(int value)
{
    changeVideoSpeed(ui.horizontalSlider_VideoSpeed, value);
}

void VellumbraV2::horizontalSlider_VideoSpeed_ProMoved(int value)
{
    changeVideoSpeed(ui.horizontalSlider_VideoSpeed_Pro, value);
}

void VellumbraV2::grabCurrentFrame()
{
    Workspace* open = currentWorkspace();
    if (!open || open->state != StateBrowse)
        return;
    SharpestImageSelection* tile = open->addCurrentFrameTile(ui.scrollAreaWidgetContents_SharpestImageSelection);
    if (!tile)
        return;
    connect(tile, SIGNAL(removeImage(SharpestImageSelection*)), this,
            SLOT(removeSharpestImageSelection(SharpestImageSelection*)));
    connect(tile, SIGNAL(selecting(int)), this, SLOT(showFrameIndex(int)));
    connect(tile, SIGNAL(onClick(SharpestImageSelection*)), this, SLOT(onClickSelectImage(SharpestImageSelection*)));
    connect(tile, SIGNAL(onExport(SharpestImageSelection*)), this,
            SLOT(PushButtonEditingExportClicked(SharpestImageSelection*)));
    QLabel* marker = tile->pinLabel();
    ImagesSequence* frames = usableFrameSource();
    if (!marker || !frames)
        return;
    marker->setParent(ui.Panel_LectureTop2);
    marker->show();
    const int markerWidth = open->tiles.front()->pinLabel() ? open->tiles.front()->pinLabel()->width() : marker->width();
    marker->move(timeline::pinPosition(ui.label_BackgroundMidPlayingBar->geometry(), tile->frameIndex(),
                                       frames->frameCount, markerWidth, false));
}

// The tile asks from inside its own button's click: it goes once that has returned.
void VellumbraV2::removeSharpestImageSelection(SharpestImageSelection* tile)
{
    QPointer<SharpestImageSelection> leaving(tile);
    QMetaObject::invokeMethod(
        this,
        [this, leaving] {
            Workspace* open = currentWorkspace();
            if (!leaving || !open || std::find(open->tiles.begin(), open->tiles.end(), leaving) == open->tiles.end())
                return;
            open->removeTile(leaving);
        },
        Qt::QueuedConnection);
}
