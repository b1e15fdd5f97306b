#include "vellumbraV2.h"

#include "EventPolling.h"
#include "HandOffFile.h"
#include "ImagesSequence.h"
#include "LanguageEngine.h"
#include "LeftOutPhotos.h"
#include "Log.h"
#include "MessageBoxes.h"
#include "PresetStore.h"
#include "ProgressText.h"
#include "RenderPipeline.h"
#include "ResultName.h"
#include "SharpestImageSelection.h"
#include "StackingComputingWorkerThread.h"
#include "StackingContext.h"
#include "StartupValues.h"
#include "ToneMappingBase.h"
#include "WorkflowStateTable.h"
#include "Workspace.h"

#include <QDateTime>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

// The stop question's answers, in the order of its buttons.
enum StopAnswer { KeepResult = 0, ReturnToParameters = 1, GoOn = 2 };

const char* const kWhere = "VellumbraV2::HDRprocessWellFinished";

}  // namespace

void VellumbraV2::PushButtonDefineParamsNextClicked()
{
    Workspace* open = currentWorkspace();
    if (!open || !open->frameSource || !open->frameSource->opened || open->state == StateStacking)
        return;
    // The run reads the workspace's frame source: a close from inside the loop
    // below must leave it alive until the run is over.
    WorkspaceKeeper::Lease lease(workspaceKeeper, open);
    open->undoRedoManager.clear();
    // The name an earlier light image was saved under is not this one's.
    open->savedResultName.clear();
    open->state = StateStacking;
    ui.progressBar_Computing->setValue(0);
    updateWindow();
    if (lease.closed())
        return;

    const StackingRunSettings settings = stackingRunSettings(
        {open->currentFrame, open->framesBefore, open->framesAfter,
         open->autoAntighosting, open->antighostingPower, open->antighostingMode,
         ui.horizontalSlider_AntighostingP2->maximum(), open->align, open->qualityIndex,
         QThread::idealThreadCount()});
    auto* context = new StackingContext;
    open->setStackingContext(context);
    auto* worker = new StackingComputingWorkerThread(context, open->frameSource.get(), settings);
    connect(worker, &StackingComputingWorkerThread::processCanceled, this, &VellumbraV2::HDRprocessCanceled);
    connect(worker, &StackingComputingWorkerThread::processStopped, this, &VellumbraV2::HDRprocessWellFinished);
    connect(worker, &StackingComputingWorkerThread::processWellFinished, this, &VellumbraV2::HDRprocessWellFinished);
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    runStackingWorker(worker, settings.frameCount);
}

void VellumbraV2::runStackingWorker(StackingComputingWorkerThread* worker, int count)
{
    const QPointer<StackingComputingWorkerThread> watched(worker);
    Workspace* open = currentWorkspace();
    WorkspaceKeeper::Lease lease(workspaceKeeper, open);
    StackingContext* context = open->stackingContext();
    const std::string pattern = LanguageEngine::lookup("ImageNumber");
    int shownPercent = 0;
    int shownOrdinal = -1;
    // Waits for the worker itself, not for the page: until it stops computing it
    // reads the context and the frame source that the lease keeps alive.
    runWatched(worker, [&] { return !watched || !watched->isComputing(); },
               [&] {
                   // The end of the run, shown by its end slot, is not overwritten.
                   if (lease.closed() || open->state != StateStacking || open->stackingContext() != context ||
                       !watched || !watched->isComputing())
                       return;
                   const int percent = static_cast<int>(context->progress.load());
                   if (percent != shownPercent) {
                       ui.progressBar_Computing->setValue(percent);
                       shownPercent = percent;
                   }
                   const int ordinal = context->frameOrdinal.load() + 1;
                   if (ordinal != shownOrdinal) {
                       ui.progressBar_Computing->setFormat(imageNumberText(pattern, ordinal, count));
                       shownOrdinal = ordinal;
                   }
               });
}

void VellumbraV2::HDRprocessCanceled()
{
    Workspace* open = currentWorkspace();
    if (!open || open->state != StateStacking)
        return;
    // Neither cancelled nor stopped, the run ended without a light image: the user is told why.
    const StackingContext* context = open->stackingContext();
    const bool failed = context && context->request.load() == StackingContext::RequestNone;
    open->state = StateDefineParameters;
    open->setStackingContext(nullptr);
    updateWindow();
    if (failed && currentWorkspace() == open)
        reportNothingStacked(open);
}

void VellumbraV2::reportNothingStacked(Workspace* open)
{
    ImagesSequence& frames = *open->frameSource;
    const int chosen = open->currentFrame;
    cv::Mat probe;
    const int nearest =
        frames.isPhotoList && frames.getFrame(probe, chosen, true).empty() ? nearestReadablePhoto(frames, chosen) : -1;
    if (nearest < 0) {
        showCriticalBox(this, translate("Error"), translate("ExplNothingStacked"));
        return;
    }
    const QString question = translate("ChosenPhotoUnreadable").arg(frames.infoLabel(chosen), frames.infoLabel(nearest));
    if (askYesNo(this, translate("ErrorOpenOneImage"), question) != QMessageBox::Yes || currentWorkspace() != open ||
        open->state != StateDefineParameters)
        return;
    targetFrame = nearest;
    TimerTimeoutShowFrameIndex();
    updateStackingRange(true);
    placeTimelineCursor(nearest);
    // Once the ended run's watch has let go.
    QTimer::singleShot(0, this, [this] { PushButtonDefineParamsNextClicked(); });
}

void VellumbraV2::HDRprocessWellFinished(int count)
{
    Workspace* open = currentWorkspace();
    if (!open || open->state != StateStacking)
        return;
    const StackingContext* context = open->stackingContext();
    const cv::Mat result = context ? context->lightImage : cv::Mat();
    // Nothing kept: as if cancelled, with no empty result to edit or hand off.
    if (result.empty() || count < 1) {
        HDRprocessCanceled();
        return;
    }
    // The questions below run events; a close from there must not free the workspace under us.
    WorkspaceKeeper::Lease lease(workspaceKeeper, open);
    // The watch may have ended before the run's last progress: the questions show beside it.
    ui.progressBar_Computing->setValue(static_cast<int>(context->progress.load()));
    const int stacked = context->accumulatedCount;
    const bool stoppedByUser = context->request.load() == StackingContext::RequestStop;
    // The frames in the light image: photos left out were walked, not stacked.
    open->stackedFrameCount = stacked > 0 ? stacked : count;
    // A run that ended early by itself (a change of shot) or left frames out says how much of
    // the range it kept, the frames asked for that the media has, beside its progress too.
    const int firstAsked = std::max(0, open->currentFrame - ui.spinBox_ImageStackingBefore->value());
    const int lastAsked = std::min(open->frameSource->frameCount - 1,
                                   open->currentFrame + ui.spinBox_ImageStackingAfter->value());
    const int asked = lastAsked - firstAsked + 1;
    if (!stoppedByUser && stacked < asked) {
        const QString fewer = translate("StackedFewerFrames").arg(stacked).arg(asked);
        statusBar()->showMessage(fewer);
        ui.progressBar_Computing->setFormat(fewer);
    } else {
        ui.progressBar_Computing->setFormat(imageNumberText(LanguageEngine::lookup("ImageNumber"), count, asked));
    }
    showImage(result);
    QCoreApplication::processEvents();
    if (currentWorkspace() != open)
        return;
    const QString leftOut = leftOutPhotoNames(*open->frameSource, context->leftOutFrames);
    if (!leftOut.isEmpty()) {
        showWarningBox(this, translate("PhotosLeftOut"), translate("ExplPhotosLeftOut").replace("%1", leftOut));
        if (currentWorkspace() != open)
            return;
    }
    if (pluginMode)
        handOffResult(open);
    else
        openResultForEditing(open, result);
}

void VellumbraV2::handOffResult(Workspace* open)
{
    auto backToParameters = [&] {
        open->state = StateDefineParameters;
        updateWindow();
    };
    if (askYesNo(this, translate("SatisfiedWithHDRImageTitle"), translate("SatisfiedWithHDRImage")) !=
        QMessageBox::Yes) {
        if (currentWorkspace() == open)
            backToParameters();
        return;
    }
    if (currentWorkspace() != open)
        return;
    const QDateTime saveStarted = QDateTime::currentDateTime();
    const QString saved = saveHDRimage();
    if (currentWorkspace() != open)
        return;
    if (saved.isEmpty()) {
        backToParameters();
        return;
    }
    // The writer's outcome is not reported by the save: the plug-in must never
    // be sent to a file that is not there.
    if (!fileWrittenSince(saved, saveStarted)) {
        logError(kWhere, "The light image was not written to " + saved.toStdString() + "; nothing is handed off.");
        showCriticalBox(this, translate("Error"), translate("ErrorSaveImages"));
        backToParameters();
        return;
    }
    const bool sent = handOff(saved);
    if (currentWorkspace() != open)
        return;

    const bool closeWindow =
        (sent ? askCloseOrReturn(this, translate("CloseVellumbraTitle"), translate("CloseVellumbra"))
              : askCloseOrReturn(this, translate("HandOffFailedTitle"), translate("CloseVellumbraNotSent").arg(saved))) ==
        QMessageBox::Yes;
    if (currentWorkspace() != open)
        return;
    if (closeWindow) {
        closeWorkspace();
        close();
        return;
    }
    // Return: the same media again, a burst as a burst.
    const QStringList burst = open->burstPaths;
    const QString video = open->currentFileName();
    closeWorkspace();
    adoptWorkspace(burst.isEmpty() ? new Workspace(video, true) : new Workspace(burst));
    showFrameNumber(-1);
    if (const Workspace* reopened = currentWorkspace())
        showMediaIdentity(*reopened);
}

void VellumbraV2::openResultForEditing(Workspace* open, const cv::Mat& result)
{
    if (askYesNo(this, translate("RecommendedSavingHDRimageTitle"), translate("RecommendedSavingHDRimage")) ==
        QMessageBox::Yes)
        saveHDRimage();
    if (currentWorkspace() != open)
        return;
    open->state = StateEditing;
    updateWindow();
    if (currentWorkspace() != open)
        return;

    const StackingContext* context = open->stackingContext();
    const SourceKind kind = context ? stackedSourceKind(context->frameDepth) : SourceKind::Unknown;
    QString title;
    if (open->savedResultName.isEmpty())
        buildResultName(title, true);
    else
        title = ownResultTitle(*open, open->savedResultName);
    SharpestImageSelection* tile =
        open->addImageTile(result, ui.scrollAreaWidgetContents_ProEditingSelection, kind);
    connect(tile, &SharpestImageSelection::onClick, this, &VellumbraV2::onClickSelectImage);
    tile->enterEditionMode(title);
    buildPresetRows();
    onClickSelectImage(open->tiles.front());
    if (currentWorkspace() != open)
        return;
    updateWindow();
    if (currentWorkspace() == open)
        open->setStackingContext(nullptr);
}

void VellumbraV2::PushButtonComputingCancelClicked()
{
    PushButtonComputingCancelClicked(true);
}

void VellumbraV2::PushButtonComputingCancelClicked(bool ask)
{
    ui.Panel_ProgressBar->setEnabled(false);
    Workspace* open = currentWorkspace();
    if (!open)
        return;
    switch (open->state) {
    case StateSharpestSearch:
        searchCancelRequested = true;
        break;
    case StateEditing:
    case StateExport:
        if (open->renderPipeline && open->renderPipeline->toneMapper())
            open->renderPipeline->toneMapper()->cancel = true;
        break;
    case StateStacking: {
        const int answer = ask ? askStopComputing() : ReturnToParameters;
        // The run may have ended, or the media closed, while the question was open.
        Workspace* still = currentWorkspace();
        StackingContext* context = still && still->state == StateStacking ? still->stackingContext() : nullptr;
        if (answer == GoOn)
            ui.Panel_ProgressBar->setEnabled(true);
        else if (context && answer == KeepResult)
            context->requestStop();
        else if (context)
            context->requestCancel();
        break;
    }
    default:
        break;
    }
}

int VellumbraV2::askStopComputing()
{
    QMessageBox box(this);
    box.setWindowTitle(translate("StopComputingTitle"));
    box.setWindowIcon(windowIcon());
    box.setText(translate("StopComputingText"));
    const std::pair<const char*, QMessageBox::ButtonRole> answers[] = {
        {"KeepHDRImage", QMessageBox::YesRole}, {"ReturnToVideo", QMessageBox::NoRole}, {"Cancel", QMessageBox::RejectRole}};
    std::vector<QAbstractButton*> buttons;
    for (const auto& [key, role] : answers) {
        QPushButton* button = box.addButton(translate(key), role);
        button->setCursor(Qt::PointingHandCursor);
        button->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Maximum);
        buttons.push_back(button);
    }
    box.setEscapeButton(buttons.back());
    box.exec();
    const auto pressed = std::find(buttons.begin(), buttons.end(), box.clickedButton());
    return pressed == buttons.end() ? GoOn : static_cast<int>(pressed - buttons.begin());
}
