#include "vellumbraV2.h"

#include "EventPolling.h"
#include "ImagesSequence.h"
#include "LanguageEngine.h"
#include "MessageBoxes.h"
#include "PresetImage.h"
#include "ProSharpestImageSelection.h"
#include "Repolish.h"
#include "ResizableFrame.h"
#include "ResizableLine.h"
#include "SharpestImageSelection.h"
#include "StackingContext.h"
#include "StackingRange.h"
#include "ToneMappingBase.h"
#include "WorkflowStateTable.h"
#include "Workspace.h"

#include <QAbstractButton>
#include <QLayout>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QTabBar>

#include <algorithm>
#include <functional>

namespace {

void applySwitch(Switch value, const std::function<void(bool)>& set)
{
    if (value != Switch::Unchanged)
        set(value == Switch::On);
}

void showPage(QStackedWidget* stack, const char* pageName)
{
    if (!pageName)
        return;
    if (auto* page = stack->findChild<QWidget*>(pageName))
        stack->setCurrentWidget(page);
}

void showHome(Ui_VellumbraClass& ui)
{
    ui.frame_TopMenu->setProperty("nbMenu", "0");
    repolish(ui.frame_TopMenu);
    ui.stackedWidget_CentralWidget->setCurrentWidget(ui.page_CentralHome);
    for (QAction* action : {ui.actionOpen, ui.actionOpen_photo_for_tone_mapping, ui.actionOpen_photo_with_burst_mode,
                            ui.menuRecent_videos->menuAction()})
        action->setEnabled(true);
    ui.dockWidget_Histogram->hide();
    for (QAction* action : {ui.actionClose, ui.actionUndo, ui.actionRedo, ui.actionHide_Show_histogram_panel,
                            ui.actionShow_EXIF, ui.actionShow_tone_curve, ui.actionHighlight_over_exposed_pixels,
                            ui.actionHighlight_under_exposed_pixels, ui.menuVideo->menuAction()})
        action->setEnabled(false);
    ui.frame_MainOptions->hide();
    ui.stackedWidget_CentralWidgetBottom->hide();
    ui.frame_SecondOptions->hide();
}

void applyView(Ui_VellumbraClass& ui, const StateView& view)
{
    if (view.selectMenu) {
        ui.frame_TopMenu->setProperty("selectMenu", view.selectMenu);
        repolish(ui.frame_TopMenu);
    }
    showPage(ui.stackedWidget_VerticalDock, view.verticalDockPage);
    showPage(ui.stackedWidget_CentralWidgetBottom, view.bottomPage);
    applySwitch(view.mainOptions, [&](bool on) { ui.frame_MainOptions->setEnabled(on); });
    applySwitch(view.secondOptionsShown, [&](bool on) { ui.frame_SecondOptions->setVisible(on); });
    applySwitch(view.secondOptionsEnabled, [&](bool on) {
        ui.frame_SecondOptions->setEnabled(on);
        ui.frame_BottomPresets->setEnabled(on);
    });
    applySwitch(view.close, [&](bool on) { ui.actionClose->setEnabled(on); });
    applySwitch(view.undoRedo, [&](bool on) {
        ui.actionUndo->setEnabled(on);
        ui.actionRedo->setEnabled(on);
    });
    applySwitch(view.histogramPanel, [&](bool on) { ui.actionHide_Show_histogram_panel->setEnabled(on); });
    applySwitch(view.showExif, [&](bool on) { ui.actionShow_EXIF->setEnabled(on); });
    applySwitch(view.showToneCurve, [&](bool on) { ui.actionShow_tone_curve->setEnabled(on); });
    applySwitch(view.highlightActions, [&](bool on) {
        ui.actionHighlight_over_exposed_pixels->setEnabled(on);
        ui.actionHighlight_under_exposed_pixels->setEnabled(on);
    });
    applySwitch(view.videoMenu, [&](bool on) { ui.menuVideo->menuAction()->setEnabled(on); });
}

// The widgets particular to a state: timeline markers, tool overlays, progress panel.
void showStateWidgets(Ui_VellumbraClass& ui, const Workspace& open, ResizableLine* horizonLine,
                      ResizableFrame* cropFrame)
{
    switch (open.state) {
    case StateBrowse:
    case StateDefineParameters:
        for (QWidget* marker : {static_cast<QWidget*>(ui.label_TrimStartPlayingBar),
                                static_cast<QWidget*>(ui.label_TrimEndPlayingBar),
                                static_cast<QWidget*>(ui.label_CursorSelectorFlag),
                                static_cast<QWidget*>(ui.line_CursorSelectorFlag)})
            marker->setVisible(open.state == StateDefineParameters);
        break;
    case StateEditing:
        ui.frame_ToolsBottom->hide();
        ui.frame_BeforeAfter->show();
        break;
    case StateTool:
        if (open.tool == ToolCrop)
            cropFrame->show();
        else if (open.tool == ToolHorizon)
            horizonLine->showDefault();
        ui.frame_ToolsBottom->show();
        ui.frame_BeforeAfter->hide();
        break;
    case StateSharpestSearch:
    case StateExport:
    case StateStacking:
        ui.Panel_ProgressBar->setEnabled(true);
        ui.label_ByClickingStop->setVisible(open.state == StateStacking);
        if (open.state == StateExport)
            ui.pushButton_ComputingCancel->setEnabled(true);
        break;
    default:
        break;
    }
}

// The question asked before edits that were not exported are dropped.
QMessageBox::StandardButton askExportBeforeClosing(QWidget* parent, const QIcon& icon)
{
    QMessageBox box(QMessageBox::Warning, translate("ClosingWorkspace"), translate("ExplClosingWorkspace2"),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent);
    box.setWindowIcon(icon);
    box.button(QMessageBox::Save)->setText(translate("ExportAll"));
    box.button(QMessageBox::Discard)->setText(translate("Discard"));
    box.button(QMessageBox::Cancel)->setText(translate("Cancel"));
    for (QAbstractButton* button : box.buttons())
        button->setCursor(Qt::PointingHandCursor);
    box.setDefaultButton(QMessageBox::Save);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

void VellumbraV2::adoptWorkspace(Workspace* opened)
{
    workspace = opened;
    workspaceIndex = opened ? 0 : -1;
    updateMode();
}

void VellumbraV2::updateMode()
{
    const QString step = translate("Step");
    const bool sequence = currentWorkspace() && workspace->isSequence;
    ui.frame_TopTopMenu->show();
    if (pluginMode || !sequence) {
        ui.frame_TopMenu->setProperty("nbMenu", "2");
        ui.label_Step1->setText(pluginMode ? translate("PROStep1") : step.arg(1) + translate("PROOnlyTMStep1"));
        ui.label_Step2->setText(pluginMode ? translate("PROStep2") : step.arg(2) + translate("PROOnlyTMStep2"));
    } else {
        ui.frame_TopMenu->setProperty("nbMenu", "4");
        ui.label_Step1->setText(translate("PROStep1"));
        ui.label_Step2->setText(translate("PROStep2"));
        ui.label_Step3->setText(translate("PROStep3"));
        ui.label_Step4->setText(translate("PROStep4"));
    }
    ui.tabWidget_Presets->tabBar()->show();
    ui.frame_GrabFrame->hide();
    ui.stackedWidget_ModeIcon->setCurrentWidget(ui.page_ModeIconPro);
    repolish(ui.frame_TopMenu);
    updateWindow();
}

void VellumbraV2::updateWindow()
{
    Workspace* open = currentWorkspace();
    if (!open) {
        showHome(ui);
    } else {
        ui.stackedWidget_CentralWidget->setCurrentWidget(ui.page_Video);
        ui.frame_MainOptions->show();
        ui.stackedWidget_CentralWidgetBottom->show();
        horizonLine->hide();
        cropFrame->hide();
        // Shown for the first time, the histogram waits for the picture to find its place beside it.
        ui.dockWidget_Histogram->setVisible(histogramShown && histogramDockPlaced);
        if (const StateView* view = stateView(open->state, open->isSequence))
            applyView(ui, *view);
        showStateWidgets(ui, *open, horizonLine, cropFrame);
        // Outside a computation the two actions say whether the history can act.
        if (toneMappingRecomputes > 0)
            lockPanelsForRecompute(true);
        else if (isKnownState(open->state) && !isComputing(open->state))
            open->undoRedoManager.refreshControls();
    }
    QCoreApplication::processEvents();
    needResize();
    if (currentWorkspace() && histogramShown && !histogramDockPlaced)
        showHistogramDock();
}

void VellumbraV2::leaveTool()
{
    workspace->state = StateEditing;
    workspace->tool = ToolNone;
    updateWindow();
}

void VellumbraV2::changeStep(int step)
{
    Workspace* open = currentWorkspace();
    // The step bar stays live during a tone-mapping recompute, whose pipeline no step may touch.
    if (!open || toneMappingRecomputes > 0)
        return;
    const StepPlan plan = planStep(open->state, open->isSequence, step);
    if (plan.leaveTool)
        leaveTool();
    switch (plan.move) {
    case StepMove::None:
        break;
    case StepMove::Refuse:
        showCriticalBox(this, translate("Error"), translate("OperationNotAllowed"));
        return;
    case StepMove::Wait:
        showCriticalBox(this, translate("PleaseWait"), translate("WaitEndProcess"));
        break;
    case StepMove::ChooseFrame:
        stopPlayback();
        open->undoRedoManager.clear();
        updateStackingRange(true);
        ui.label_QuestionSaveMarks->hide();
        break;
    case StepMove::BackToVideo:
        open->renderPipeline = nullptr;
        open->state = StateBrowse;
        open->playWholeSequence();
        open->savedResultName.clear();
        open->undoRedoManager.clear();
        ui.label_QuestionSaveMarks->show();
        break;
    case StepMove::BackToParameters:
        open->renderPipeline = nullptr;
        open->state = StateDefineParameters;
        break;
    case StepMove::StartStacking:
        PushButtonDefineParamsNextClicked();
        break;
    case StepMove::Export:
        PushButtonEditingExportClicked(open->selectedTile);
        break;
    }
    updateMode();
    updateWindow();
}

bool VellumbraV2::MenuActionCloseClicked()
{
    Workspace* open = currentWorkspace();
    if (!open)
        return true;
    switch (closeQuestion(open->state)) {
    case CloseQuestion::SaveDiscardOrCancel: {
        const QMessageBox::StandardButton answer = askExportBeforeClosing(this, messageIcon);
        if (answer == QMessageBox::Cancel)
            return false;
        if (answer == QMessageBox::Save) {
            if (open->state == StateTool)
                leaveTool();
            if (!PushButtonEditingExportClicked(nullptr))
                return false;
            // The export's loop may have let the user close the media already.
            if (currentWorkspace() != open)
                return true;
        }
        break;
    }
    case CloseQuestion::CancelStacking: {
        ui.Panel_ProgressBar->setEnabled(false);
        // Wait for the worker itself: a hand-off run keeps its context after it ends.
        StackingContext* context = open->stackingContext();
        if (context)
            context->requestCancel();
        waitUntil([&] { return currentWorkspace() != open || open->stackingContext() != context || !context ||
                               !context->running; });
        if (currentWorkspace() != open)
            return true;
        break;
    }
    case CloseQuestion::CancelSearch:
        ui.Panel_ProgressBar->setEnabled(false);
        searchCancelRequested = true;
        break;
    case CloseQuestion::ConfirmDuringExport:
        if (askWarningYesNo(this, translate("ClosingWorkspace"), translate("ExplClosingWorkspaceDuringExport")) !=
            QMessageBox::Yes)
            return false;
        PushButtonComputingCancelClicked();
        if (currentWorkspace() != open)
            return true;
        break;
    case CloseQuestion::StopVideo:
        stopPlayback();
        break;
    case CloseQuestion::Plain:
        break;
    }
    closeWorkspace();
    return true;
}

void VellumbraV2::closeWorkspace()
{
    ProSharpestImageSelection::deleteAll();
    Workspace* closing = currentWorkspace();
    if (!closing)
        return;
    ui.Panel_ProgressBar->setEnabled(false);
    switch (closing->state) {
    case StateSharpestSearch:
        searchCancelRequested = true;
        break;
    case StateEditing:
    case StateExport:
        if (closing->renderPipeline && closing->renderPipeline->toneMapper())
            closing->renderPipeline->toneMapper()->cancel = true;
        break;
    case StateStacking:
        if (closing->stackingContext())
            closing->stackingContext()->requestCancel();
        break;
    default:
        break;
    }
    workspaceIndex = -1;
    setWindowTitle(tr("Vellumbra  -  "));
    statusLabel.setText(QString());

    // The preset tiles belong to their layouts, which are emptied below: their
    // previews stop first and the workspace forgets them.
    for (const auto* presetTiles : {&closing->factoryPresetTiles, &closing->userPresetTiles})
        for (PresetImage* presetTile : *presetTiles)
            presetTile->stopPreview();
    closing->clearFactoryPresetTiles();
    closing->clearUserPresetTiles();
    // A workspace that a running loop still reads outlives this close; its tiles
    // leave the window's layouts so that emptying them does not delete them.
    if (workspaceKeeper.isLeased(closing))
        for (SharpestImageSelection* tile : closing->tiles) {
            tile->hide();
            tile->setParent(nullptr);
        }
    workspace = nullptr;
    workspaceKeeper.retire(closing);

    clearLayout(ui.verticalLayout_SelectedImage);
    ui.frame_SelectedImageTop->hide();
    for (QLayout* layout : {static_cast<QLayout*>(ui.verticalLayout_ProSharpestImageSelection),
                            static_cast<QLayout*>(ui.verticalLayout_ProEditingSelection),
                            static_cast<QLayout*>(ui.verticalLayout_SharpestImageSelection),
                            static_cast<QLayout*>(ui.horizontalLayout_BottomPresets),
                            static_cast<QLayout*>(ui.horizontalLayout_BottomUserPresets)})
        clearLayout(layout);
    for (QLabel* pin : pins)
        if (pin && !pin->isHidden())
            pin->hide();
    std::fill(std::begin(pinFrames), std::end(pinFrames), 0);
    placedPins = 0;
    lastShown = ShownPicture();
    updateWindow();
}

void VellumbraV2::PushButtonSelectImageNextClicked()
{
    Workspace* open = currentWorkspace();
    if (!open)
        return;
    stopPlayback();
    open->undoRedoManager.clear();
    updateStackingRange(true);
    ui.label_QuestionSaveMarks->hide();
}

void VellumbraV2::updateStackingRange(bool apply)
{
    Workspace* open = currentWorkspace();
    if (!open)
        return;
    open->chooseCurrentFrame();
    ui.label_CursorSelectorFlag->setText(QString::number(open->currentFrame));
    ImagesSequence* frames = open->frameSource.get();
    if (!frames || open->currentFrame < 0)
        return;
    const int chosen = open->currentFrame;
    const stackingrange::Limits limits = stackingrange::limits(chosen, frames->frameCount);
    {
        // A value cut down to a new maximum is no change of the user's to undo.
        const QSignalBlocker blockAfter(ui.spinBox_ImageStackingAfter);
        const QSignalBlocker blockBefore(ui.spinBox_ImageStackingBefore);
        ui.spinBox_ImageStackingAfter->setMaximum(limits.afterMaximum);
        ui.spinBox_ImageStackingBefore->setMaximum(limits.beforeMaximum);
    }
    open->framesAfter = ui.spinBox_ImageStackingAfter->value();
    open->framesBefore = ui.spinBox_ImageStackingBefore->value();
    if (apply) {
        open->playStackingRange(frames->getCurrentIndex());
    } else {
        const stackingrange::Counts counts = stackingrange::framesAround(chosen, {frames->firstIndex, frames->lastIndex});
        ui.spinBox_ImageStackingBefore->setValue(counts.before);
        ui.spinBox_ImageStackingAfter->setValue(counts.after);
    }
    updateWindow();
}

// A replay would change the pipeline that a tone-mapping recompute is rendering.
void VellumbraV2::MenuActionUndoClicked()
{
    if (Workspace* open = currentWorkspace(); open && toneMappingRecomputes == 0)
        open->undoRedoManager.undo();
}

void VellumbraV2::MenuActionRedoClicked()
{
    if (Workspace* open = currentWorkspace(); open && toneMappingRecomputes == 0)
        open->undoRedoManager.redo();
}
