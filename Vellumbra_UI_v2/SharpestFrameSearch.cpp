#include "vellumbraV2.h"

#include "EventPolling.h"
#include "ImagesSequence.h"
#include "LanguageEngine.h"
#include "ProSharpestImageSelection.h"
#include "SharpestImageSearcherWorkerThread.h"
#include "WorkflowStateTable.h"
#include "Workspace.h"

#include <QLabel>
#include <QSpacerItem>

#include <iterator>
#include <memory>

void VellumbraV2::PushButtonFindSharpestImageClicked()
{
    ProSharpestImageSelection::deleteAll();
    Workspace* open = currentWorkspace();
    if (!open || !open->frameSource || !open->frameSource->opened || open->state == StateSharpestSearch)
        return;
    // Closing the media from inside the loop below must leave the frame source
    // to the search until it has ended.
    WorkspaceKeeper::Lease lease(workspaceKeeper, open);
    searchCancelRequested = false;
    stopPlayback();
    open->state = StateSharpestSearch;
    ui.progressBar_Computing->setFormat(translate("LookingForSharperImages"));
    updateWindow();
    if (lease.closed())
        return;

    ImagesSequence* frames = open->frameSource.get();
    const int current = frames->getCurrentIndex();
    cv::Mat image;
    frames->getCvImageAt(image, current, false, false, false);
    SharpnessCandidates candidates;
    bool reported = false;
    auto worker =
        std::make_unique<SharpestImageSearcherWorkerThread>(image, current, frames, ui.spinBox_FindSharpestImage->value());
    // Stored on the worker's thread; read here only once it has finished.
    connect(
        worker.get(), &SharpestImageSearcherWorkerThread::processWellFinished, worker.get(),
        [&](SharpnessCandidates found) {
            candidates = std::move(found);
            reported = true;
        },
        Qt::DirectConnection);
    int shownPercent = -1;
    runWatched(worker.get(), [&] { return worker->isFinished(); },
               [&] {
                   const int percent = worker->progress();
                   if (percent != shownPercent) {
                       ui.progressBar_Computing->setValue(percent);
                       shownPercent = percent;
                   }
                   if (searchCancelRequested)
                       worker->requestInterruption();
               });
    worker->wait();

    if (!lease.closed()) {
        if (!searchCancelRequested && reported)
            listSharperFrames(frames, candidates);
        open->state = StateBrowse;
        updateWindow();
    }
    searchCancelRequested = false;
}

void VellumbraV2::listSharperFrames(ImagesSequence* frames, const SharpnessCandidates& candidates)
{
    clearLayout(ui.verticalLayout_ProSharpestImageSelection);
    clearLayout(ui.verticalLayout_SelectedImage);
    ui.frame_SelectedImageTop->show();

    const QString pattern = translate("GenericSharpText");
    const std::vector<int> percents = sharpnessPercents(candidates);
    auto addTile = [&](QWidget* parent, const std::pair<float, int>& candidate, int percent) {
        cv::Mat image;
        frames->getCvImageAt(image, candidate.second, true, true, false);
        auto* tile = new ProSharpestImageSelection(parent, ui.Panel_LectureTop2, image, candidate.second,
                                                   pattern.arg(percent));
        connect(tile, &ProSharpestImageSelection::onClick, this, &VellumbraV2::showFrameIndex);
        connect(tile, &ProSharpestImageSelection::onClick, tile, &ProSharpestImageSelection::FrameClicked);
        connect(tile, &ProSharpestImageSelection::movePin, this, &VellumbraV2::moveProSharpestPin);
        return tile;
    };

    // The displayed frame scores lowest of the set: it comes first.
    addTile(ui.frame_SelectedImage, *candidates.begin(), percents.front())
        ->setStyleSheet(QStringLiteral("background-color: rgb(50, 50, 50)"));
    if (candidates.size() < 2) {
        auto* note = new QLabel(translate("NoProSharpenerImages"));
        note->setWordWrap(true);
        ui.verticalLayout_ProSharpestImageSelection->addWidget(note);
    } else {
        auto percent = percents.rbegin();
        for (auto candidate = candidates.rbegin(); candidate != std::prev(candidates.rend()); ++candidate, ++percent)
            addTile(ui.scrollAreaWidgetContents_ProSharpestImageSelection, *candidate, *percent);
    }
    ui.verticalLayout_ProSharpestImageSelection->addItem(
        new QSpacerItem(1, 1, QSizePolicy::Minimum, QSizePolicy::Expanding));
}
