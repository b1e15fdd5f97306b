#include "vellumbraV2.h"

#include "EventPolling.h"
#include "Preset.h"
#include "PresetImage.h"
#include "RenderPipeline.h"
#include "TMComputingWorkerThread.h"
#include "ToneMappingBase.h"
#include "Workspace.h"

#include <QCoreApplication>

#include <algorithm>

void VellumbraV2::setLoadingIconeAt(int percent)
{
    if (percent < 100) {
        ui.stackedWidget_LoadingIcone->setCurrentIndex(std::max(0, percent / 10));
        ui.frame_LoadingIcone->show();
    } else {
        QCoreApplication::processEvents();
        ui.frame_LoadingIcone->hide();
    }
}

void VellumbraV2::lockPanelsForRecompute(bool locked)
{
    for (QWidget* panel : {static_cast<QWidget*>(ui.frame_MainOptions), static_cast<QWidget*>(ui.frame_SecondOptions),
                           static_cast<QWidget*>(ui.stackedWidget_CentralWidgetBottom)})
        panel->setEnabled(!locked);
    if (locked) {
        ui.actionUndo->setEnabled(false);
        ui.actionRedo->setEnabled(false);
    }
}

void VellumbraV2::recomputeToneMapping(int startStage)
{
    Workspace* open = currentWorkspace();
    if (!open || !open->renderPipeline)
        return;
    // The user may close the media while the picture renders: it stays alive until the worker is done.
    WorkspaceKeeper::Lease lease(workspaceKeeper, open);
    RenderPipeline* pipeline = open->renderPipeline;
    ++toneMappingRecomputes;
    updateWindow();
    lockPanelsForRecompute(true);
    setLoadingIconeAt(0);

    ToneMappingBase* toneMapper = pipeline->toneMapper();
    if (toneMapper) {
        // A cancelled export or close leaves the flag raised; it must not cut this render short.
        toneMapper->cancel = false;
        toneMapper->progress = 0;
    }
    // Everything shown meanwhile (resizes, hovers, preset previews' updates) shows the picture as it was.
    open->holdCurrentImage();
    auto* worker = new TMComputingWorkerThread(pipeline, ui.checkBox_FastPreview->isChecked(), startStage);
    int shown = 0;
    runWatched(worker, [&] { return !worker->running; },
               [&] {
                   const int progress = toneMapper ? toneMapper->progress.load() : 0;
                   if (progress != shown) {
                       shown = progress;
                       setLoadingIconeAt(progress);
                   }
               });
    worker->wait();
    open->releaseCurrentImage();
    QCoreApplication::processEvents();
    ui.frame_LoadingIcone->hide();
    const bool cancelled = worker->cancelled;
    worker->deleteLater();

    // A render cut short falls back to the first factory preset.
    if (cancelled && !lease.closed() && currentWorkspace() == open && !open->factoryPresetTiles.empty())
        if (const Preset* first = open->factoryPresetTiles.front()->preset())
            applyEditingParameters(*first, true);

    lockPanelsForRecompute(false);
    --toneMappingRecomputes;
    updateWindow();
}
