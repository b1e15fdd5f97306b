#include "vellumbraV2.h"

#include "EngineDefaults.h"
#include "HistogramPlacement.h"
#include "HoverReadout.h"
#include "ImagesSequence.h"
#include "LanguageEngine.h"
#include "MatToQImage.h"
#include "RenderPipeline.h"
#include "Repolish.h"
#include "SliderResets.h"
#include "TimelineGeometry.h"
#include "UndoRedoManager.h"
#include "Utilities.h"
#include "Workspace.h"

#include <QCloseEvent>
#include <QDockWidget>
#include <QGuiApplication>
#include <QHoverEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QWheelEvent>
#include <QWindow>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

bool isState(const Workspace* open, std::initializer_list<WorkflowState> states)
{
    return open && std::find(states.begin(), states.end(), open->state) != states.end();
}

// Scrolls by the vertical wheel turn, kept within the bar's range.
void scrollBy(QScrollBar* bar, int delta)
{
    bar->setValue(std::clamp(bar->value() - delta, bar->minimum(), bar->maximum()));
}

// An eighth of a wheel delta, halves rounded upward.
int eighth(int delta)
{
    return static_cast<int>(std::floor(delta / 8.0 + 0.5));
}

}  // namespace

bool VellumbraV2::eventFilter(QObject* object, QEvent* event)
{
    if (auto* widget = qobject_cast<QWidget*>(object); widget && !widget->isEnabled())
        return false;
    if (object == ui.dockWidget_Histogram) {
        switch (event->type()) {
        case QEvent::Resize:
            needResizeHistogramDock();
            return false;
        case QEvent::Close:
            closeHistogramDock();
            return false;
        // The dock neither floats nor docks by a double-click on its title.
        case QEvent::NonClientAreaMouseButtonDblClick:
        case QEvent::MouseButtonDblClick:
            return true;
        default:
            return false;
        }
    }
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        return pressOnWatched(object, static_cast<QMouseEvent*>(event));
    case QEvent::MouseButtonDblClick:
        return doubleClickOnWatched(object, static_cast<QMouseEvent*>(event));
    case QEvent::Wheel:
        return wheelOnPresetStrip(object, static_cast<QWheelEvent*>(event));
    case QEvent::HoverEnter:
        if (object == ui.frame_BeforeAfterLogo && currentWorkspace() && workspace->renderPipeline) {
            showUneditedImage();
            setBeforeAfterHover(true);
        }
        return false;
    case QEvent::HoverLeave:
        if (object == ui.frame_BeforeAfterLogo) {
            needResize();
            setBeforeAfterHover(false);
        } else if (object == ui.label_VideoPreview && currentWorkspace()) {
            statusBar()->clearMessage();
        }
        return false;
    case QEvent::HoverMove:
        if (object == ui.label_VideoPreview && currentWorkspace())
            showHoverReadout(static_cast<QHoverEvent*>(event));
        return false;
    default:
        return false;
    }
}

bool VellumbraV2::pressOnWatched(QObject* object, QMouseEvent* event)
{
    Workspace* open = currentWorkspace();
    if (!open)
        return false;
    QLabel* const steps[] = {ui.label_Step1, ui.label_Step2, ui.label_Step3, ui.label_Step4};
    for (int i = 0; i < 4; ++i) {
        if (object == steps[i]) {
            changeStep(i + 1);
            return false;
        }
    }
    ImagesSequence* frames = usableFrameSource();
    if (!isState(open, {StateBrowse, StateDefineParameters}) || !frames)
        return false;
    if (object == ui.label_ForegroundMidPlayingBar) {
        stopPlayback();
        showFrameIndex(timeline::frameAtPress(event->pos().x(), ui.label_ForegroundMidPlayingBar->width(),
                                              frames->firstIndex, frames->lastIndex));
        markerDragKind = 1;
        markerDragging = true;
    } else if (object == ui.label_CursorPlayingBar) {
        stopPlayback();
        markerDragKind = 1;
        markerDragging = true;
    } else if (object == ui.label_VideoPreview && event->button() == Qt::LeftButton) {
        // Playback runs inside this call, and the media may be gone when it returns.
        if (videoPaused)
            playPauseVideo();
        else
            stopPlayback();
        return false;
    } else if (event->button() == Qt::RightButton) {
        for (int i = 0; i < 4; ++i) {
            if (object == pins[i] && !pins[i]->isHidden()) {
                pins[i]->hide();
                pinFrames[i] = 0;
                --placedPins;
            }
        }
    }
    if (open->state != StateDefineParameters)
        return false;
    if (object == ui.label_TrimStartPlayingBar || object == ui.label_TrimEndPlayingBar) {
        markerDragKind = object == ui.label_TrimStartPlayingBar ? 2 : 3;
        markerDragging = true;
    } else if (object == ui.frame_CursorSelectorFlag) {
        updateStackingRange(false);
    } else if (object == ui.label_CursorSelectorFlag) {
        showFrameIndex(open->currentFrame);
    }
    return false;
}

bool VellumbraV2::doubleClickOnWatched(QObject* object, QMouseEvent* event)
{
    if (const std::optional<int> reset = resetPosition(object->objectName(), engineDefaults)) {
        // Consumed: the slider would take the second press as a page step away from it.
        static_cast<QSlider*>(object)->setValue(*reset);
        return true;
    }
    Workspace* open = currentWorkspace();
    ImagesSequence* frames = usableFrameSource();
    if (!frames)
        return false;
    if ((object == ui.label_CursorPlayingBar || object == ui.label_VideoPreview) && open->state == StateBrowse) {
        CursorDClicked(frames->getCurrentIndex());
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        if (object != pins[i] || event->button() != Qt::LeftButton)
            continue;
        stopPlayback();
        showFrameIndex(pinFrames[i]);
        open->state = StateBrowse;
        open->playWholeSequence();
        open->savedResultName.clear();
        open->undoRedoManager.clear();
        updateWindow();
    }
    return false;
}

bool VellumbraV2::wheelOnPresetStrip(QObject* object, QWheelEvent* event)
{
    QPoint delta = event->angleDelta();
    QScrollBar* bar = nullptr;
    if (object == ui.scrollAreaWidgetContents_BottomPresets) {
        bar = ui.scrollArea_BottomPresets->horizontalScrollBar();
    } else if (object == ui.scrollArea_UserPresets_Contents) {
        bar = ui.scrollArea_UserPresets->horizontalScrollBar();
        delta = QPoint(eighth(delta.x()), eighth(delta.y()));
    } else {
        return false;
    }
    event->accept();
    if (delta.isNull())
        return false;
    scrollBy(bar, delta.y());
    return true;
}

void VellumbraV2::showHoverReadout(QHoverEvent* event)
{
    const cv::Mat image = workspace->currentImage();
    const std::optional<cv::Point> pixel = hoverPixel(event->pos(), ui.label_VideoPreview->size(), image.size());
    if (!pixel)
        return;
    statusBar()->showMessage(hoverReadout(image, *pixel, isState(workspace, {StateBrowse, StateSharpestSearch, StateDefineParameters, StateStacking})));
}

void VellumbraV2::showUneditedImage()
{
    const cv::Mat& unedited = workspace->renderPipeline->initialSource();
    const QSize box = ui.frame_VideoPreview2->size();
    fitInBox(unedited.size(), box.width(), box.height(), &viewSize.width, &viewSize.height);
    showImage(unedited);
}

void VellumbraV2::setBeforeAfterHover(bool on)
{
    ui.frame_BeforeAfterLogo->setProperty("onHov", on);
    repolish(ui.frame_BeforeAfterLogo);
}

void VellumbraV2::keyPressEvent(QKeyEvent* event)
{
    Workspace* open = currentWorkspace();
    if (!isState(open, {StateEditing}) || event->key() != Qt::Key_O) {
        QMainWindow::keyPressEvent(event);
        return;
    }
    // Auto-repeat presses restart the timer, so the unedited image stays while O is held.
    if (open->renderPipeline)
        showUneditedImage();
    setBeforeAfterHover(true);
    oKeyTimer->start();
}

void VellumbraV2::keyReleaseEvent(QKeyEvent* event)
{
    QMainWindow::keyReleaseEvent(event);
}

void VellumbraV2::TimerTimeoutReleaseOKey()
{
    Workspace* open = currentWorkspace();
    if (!isState(open, {StateEditing}))
        return;
    showImage(open->currentImage());
    setBeforeAfterHover(false);
}

void VellumbraV2::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    needResize();
    // Maximised or restored, the panels move under the floating histogram: once they
    // are laid out, a histogram left over them is placed again.
    QTimer::singleShot(0, this, [this] {
        if (histogramDockPlaced && ui.dockWidget_Histogram->isVisible() && histogramCoversControls())
            placeHistogramDock();
    });
}

void VellumbraV2::needResize()
{
    Workspace* open = currentWorkspace();
    if (!open)
        return;
    const QSize box = ui.frame_VideoPreview2->size();
    if (isState(open, {StateBrowse, StateSharpestSearch, StateDefineParameters, StateStacking})) {
        if (ImagesSequence* frames = usableFrameSource()) {
            cv::Mat shown;
            frames->getDisplayImageAt(shown, -1, false, false);
            // A photo that cannot be read keeps the view of its neighbours.
            if (!shown.empty())
                fitInBox(shown.size(), box.width(), box.height(), &viewSize.width, &viewSize.height);
        }
        if (isState(open, {StateBrowse, StateDefineParameters}))
            layoutTimeline();
    } else if (isState(open, {StateEditing, StateTool, StateExport})) {
        fitInBox(open->currentImage().size(), box.width(), box.height(), &viewSize.width, &viewSize.height);
        const int size[2] = {viewSize.width, viewSize.height};
        RenderPipeline::setPreviewSize(size);
    }
    const cv::Mat current = open->sharedCurrentImage();
    if (!showsAlready(current))
        showImage(current);
}

void VellumbraV2::showCurrentImageAgain()
{
    if (Workspace* open = currentWorkspace())
        showImage(open->sharedCurrentImage());
}

void VellumbraV2::needResizeHistogramDock()
{
    Workspace* open = currentWorkspace();
    if (!open || !ui.dockWidget_Histogram->isVisible() || open->histogramImage.empty())
        return;
    const QSize size = ui.label_Histogram->size();
    if (size.isEmpty())
        return;
    cv::Mat fitted;
    cv::resize(open->histogramImage, fitted, cv::Size(size.width(), size.height()), 0, 0, cv::INTER_LINEAR);
    const std::unique_ptr<QImage> picture(matToQImage(fitted));
    if (!picture || picture->isNull())
        return;
    // setPixmap schedules the repaint; painting at once would hold up playback.
    ui.label_Histogram->setPixmap(QPixmap::fromImage(*picture));
}

void VellumbraV2::showHistogramDock()
{
    if (!histogramDockPlaced)
        placeHistogramDock();
    histogramDockPlaced = true;
    ui.dockWidget_Histogram->show();
    // The picture shows again with the histogram drawn from it.
    needResize();
}

void VellumbraV2::placeHistogramDock()
{
    QDockWidget* dock = ui.dockWidget_Histogram;
    dock->ensurePolished();
    const QSize size = dock->size().expandedTo(dock->minimumSize()).boundedTo(dock->maximumSize());
    const QScreen* screen = windowHandle() ? windowHandle()->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen->availableGeometry();
    const auto onScreen = [](const QWidget* widget) { return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size()); };
    // A place kept from an earlier start stays when it leaves the menus and panels uncovered.
    if (histogramDockRestored) {
        dock->move(restoredHistogramPlace(dock->pos(), size, onScreen(menuBar()), available));
        if (!histogramCoversControls())
            return;
    }
    // The editing panel comes in at the editing step and narrows the area by its width.
    QRect pictureArea = onScreen(ui.frame_VideoPreview2);
    if (ui.frame_SecondOptions->isHidden()) {
        ui.frame_SecondOptions->ensurePolished();
        pictureArea.setRight(pictureArea.right() - ui.frame_SecondOptions->minimumWidth());
    }
    const HistogramSurroundings around{available, frameGeometry(), pictureArea, onScreen(ui.label_VideoPreview)};
    dock->move(firstHistogramPlace(size, around));
}

bool VellumbraV2::histogramCoversControls() const
{
    const QRect placed = ui.dockWidget_Histogram->frameGeometry();
    const QWidget* const controls[] = {menuBar(), ui.frame_MainOptions, ui.frame_SecondOptions};
    for (const QWidget* control : controls)
        if (control->isVisible() && placed.intersects(QRect(control->mapToGlobal(QPoint(0, 0)), control->size())))
            return true;
    return false;
}

void VellumbraV2::MenuActionShowHistogramClicked()
{
    histogramShown = !ui.dockWidget_Histogram->isVisible();
    if (histogramShown) {
        showHistogramDock();
    } else {
        ui.dockWidget_Histogram->hide();
    }
    settings.setValue(QStringLiteral("MainWindow/histogramDockWidgetIsShown"), histogramShown);
}

void VellumbraV2::closeHistogramDock()
{
    histogramShown = false;
    settings.setValue(QStringLiteral("MainWindow/histogramDockWidgetIsShown"), false);
    ui.actionHide_Show_histogram_panel->setChecked(false);
}

void VellumbraV2::closeEvent(QCloseEvent* event)
{
    if (!MenuActionCloseClicked()) {
        event->ignore();
        return;
    }
    event->accept();
    settings.beginGroup(QStringLiteral("MainWindow"));
    settings.setValue(QStringLiteral("maximized"), isMaximized());
    if (!isMaximized()) {
        settings.setValue(QStringLiteral("width"), width());
        settings.setValue(QStringLiteral("height"), height());
        settings.setValue(QStringLiteral("posX"), x());
        settings.setValue(QStringLiteral("posY"), y());
    }
    settings.setValue(QStringLiteral("histogramDockWidgetPos"), ui.dockWidget_Histogram->pos());
    settings.endGroup();
    UndoRedoManager::deleteControls();
}

void VellumbraV2::customMenuRequested(QPoint position)
{
    if (!isState(currentWorkspace(), {StateBrowse, StateDefineParameters}))
        return;
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(translate("SaveTheCurrentImage"), this, SLOT(saveCurrentFrame()));
    menu->popup(ui.label_VideoPreview->mapToGlobal(position));
}
