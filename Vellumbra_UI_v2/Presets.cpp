#include "vellumbraV2.h"

#include "EditingSliderTable.h"
#include "LanguageEngine.h"
#include "MessageBoxes.h"
#include "NewPresetDialog.h"
#include "PresetImage.h"
#include "PresetPreviewSize.h"
#include "PresetStore.h"
#include "PresetTileSettings.h"
#include "RenderPipeline.h"
#include "SharpestImageSelection.h"
#include "WorkflowStateTable.h"
#include "Workspace.h"

#include <QCheckBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>


namespace {

void addRowSpacer(QLayout* row)
{
    row->addItem(new QSpacerItem(10, 5, QSizePolicy::Expanding, QSizePolicy::Maximum));
}

// Ok and Cancel at the foot of a dialog, after a spacer.
void addDialogButtons(QDialog& dialog, QVBoxLayout& layout)
{
    auto* footer = new QFrame(&dialog);
    auto* row = new QHBoxLayout(footer);
    row->addItem(new QSpacerItem(10, 20, QSizePolicy::Expanding, QSizePolicy::Maximum));
    for (const auto& [key, accept] : {std::pair<const char*, bool>{"Ok", true}, {"Cancel", false}}) {
        auto* button = new QPushButton(translate(key), footer);
        button->setCursor(Qt::PointingHandCursor);
        row->addWidget(button);
        QObject::connect(button, &QPushButton::clicked, &dialog, accept ? &QDialog::accept : &QDialog::reject);
    }
    layout.addWidget(footer);
}

// A tile leaves its row with the spacer after it, so no gap builds up.
void removeFromRow(QLayout* row, PresetImage* tile)
{
    const int at = row->indexOf(tile);
    if (at >= 0 && at + 1 < row->count() && row->itemAt(at + 1)->spacerItem())
        delete row->takeAt(at + 1);
    // Its preview thread reads the tile's pipeline: joined before the tile goes.
    tile->stopPreview();
    delete tile;
}

int verticalMargins(const QLayout* layout)
{
    return layout ? layout->contentsMargins().top() + layout->contentsMargins().bottom() : 0;
}

}  // namespace

PresetImage* VellumbraV2::addPresetTile(Preset* preset, QWidget* row, std::vector<PresetImage*>& tiles)
{
    auto* tile = new PresetImage(pipelineFor(*preset), preset, row, nullptr, nullptr, nullptr);
    connect(tile, &PresetImage::previewFinished, &previewUpdateTimer, qOverload<>(&QTimer::start));
    connect(tile, &PresetImage::setPercent, this, &VellumbraV2::setLoadingIconeAt);
    connect(tile, &PresetImage::onClick, this, &VellumbraV2::onClickPresetImage);
    tiles.push_back(tile);
    addRowSpacer(row->layout());
    return tile;
}

void VellumbraV2::buildDefaultPresetTiles(std::vector<Preset*> presets)
{
    clearLayout(ui.horizontalLayout_BottomPresets);
    addRowSpacer(ui.horizontalLayout_BottomPresets);
    Workspace* open = currentWorkspace();
    if (!open)
        return;
    open->clearFactoryPresetTiles();
    open->numberTiles();
    open->state = StateEditing;
    updateWindow();
    for (Preset* preset : presets) {
        PresetImage* tile = addPresetTile(preset, ui.scrollAreaWidgetContents_BottomPresets, open->factoryPresetTiles);
        if (open->factoryPresetTiles.size() != 1)
            continue;
        const auto* bottom = tile->findChild<QWidget*>(QStringLiteral("frame_ImageReferencedBottom"));
        const int height = ui.tabWidget_Presets->height() - 10 - verticalMargins(ui.horizontalLayout_BottomPresets) -
                           ((bottom ? bottom->height() : 0) + verticalMargins(tile->layout()));
        // A strip not laid out yet keeps the thumbnail size it has.
        if (height > 0)
            setThumbnailSize(presetRenderSize(height, open->aspectRatio));
        const std::unique_ptr<RenderPipeline> first = pipelineFor(*preset);
        // Only new results take the first preset: earlier ones keep the user's edits.
        for (SharpestImageSelection* imageTile : open->tiles) {
            if (open->hasSettings(imageTile))
                continue;
            open->markHasSettings(imageTile);
            static_cast<PresetSettings&>(imageTile->preset()) = *preset;
            imageTile->pipeline().copySettings(*first);
            imageTile->pipeline().setSourceImage(imageTile->image(), false, imageTile->sourceKind());
        }
    }
}

void VellumbraV2::buildPresetRows()
{
    if (!defaultPresetsLoaded)
        loadDefaultPresets();
    buildDefaultPresetTiles(defaultPresets);
    if (!userPresetsLoaded)
        loadUserPresets();
    buildUserPresetTiles(userPresets);
    if (const std::optional<UserPresetsRepair> repair = takeUserPresetsRepair()) {
        using Outcome = UserPresetsRepair::Outcome;
        const bool setAside = repair->outcome == Outcome::SetAside;
        const char* text = setAside ? "ExplDamagedPresets"
                           : repair->outcome == Outcome::KeptInMemory ? "ExplDamagedPresetsKept"
                                                                       : "ExplUnreadablePresets";
        showWarningBox(this, translate("ErrorPreset"),
                       translate(text)
                           .replace("%1", QString::fromStdString(setAside ? repair->setAsidePath : repair->filePath))
                           .replace("%2", QString::number(repair->keptCount)));
    }
}

void VellumbraV2::buildUserPresetTiles(std::vector<Preset*> presets)
{
    Workspace* open = currentWorkspace();
    if (presets.empty() || !open)
        return;
    open->clearUserPresetTiles();
    clearLayout(ui.horizontalLayout_BottomUserPresets);
    addRowSpacer(ui.horizontalLayout_BottomUserPresets);
    for (Preset* preset : presets)
        addPresetTile(preset, ui.scrollArea_UserPresets_Contents, open->userPresetTiles);
}

void VellumbraV2::newUserPreset()
{
    Workspace* open = currentWorkspace();
    if (!open)
        return;
    NewPresetDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted || currentWorkspace() != open)
        return;

    if (!userPresetsLoaded)
        loadUserPresets();
    const QString typed = dialog.presetName();
    const std::string name =
        typed.isEmpty() ? std::to_string(userPresets.size() + 1) : typed.toUtf8().toStdString();
    auto* record = new Preset();
    static_cast<PresetSettings&>(*record) = panelPositions(ui);
    // Cut at a character boundary when its UTF-8 form does not fit.
    record->setName(name);
    if (!appendUserPreset(record)) {
        showCriticalBox(this, translate("ErrorPreset"), translate("ErrorSavingPreset"));
        return;
    }
    PresetImage* tile = addPresetTile(record, ui.scrollArea_UserPresets_Contents, open->userPresetTiles);
    if (open->selectedTile)
        tile->setSource(&open->selectedTile->image(), open->selectedTile->sourceKind());
    highlightMatchingPresets();
}

void VellumbraV2::removeUserPreset()
{
    Workspace* open = currentWorkspace();
    if (!userPresetsLoaded)
        loadUserPresets();
    const int count = static_cast<int>(userPresets.size());
    if (count == 0) {
        showCriticalBox(this, translate("ErrorPreset"), translate("ExplErrorPreset"));
        return;
    }
    QDialog dialog(this);
    dialog.setWindowTitle(translate("RemovingPresets"));
    dialog.setWindowIcon(windowIcon());
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(translate("SelectPresetsRemove"), &dialog));
    layout->addItem(new QSpacerItem(10, 20, QSizePolicy::Expanding, QSizePolicy::Fixed));
    std::vector<QCheckBox*> boxes;
    for (const Preset* preset : userPresets) {
        boxes.push_back(new QCheckBox(QString::fromUtf8(preset->name), &dialog));
        layout->addWidget(boxes.back());
    }
    layout->addItem(new QSpacerItem(10, 20, QSizePolicy::Expanding, QSizePolicy::Expanding));
    addDialogButtons(dialog, *layout);
    if (dialog.exec() != QDialog::Accepted)
        return;

    open = currentWorkspace();
    bool allRemoved = true;
    for (int i = count - 1; i >= 0; --i) {
        if (!boxes[static_cast<size_t>(i)]->isChecked())
            continue;
        if (!deleteUserPresetFromFile(i)) {
            allRemoved = false;
            continue;
        }
        if (!open || i >= static_cast<int>(open->userPresetTiles.size()))
            continue;
        PresetImage* tile = open->userPresetTiles[static_cast<size_t>(i)];
        open->userPresetTiles.erase(open->userPresetTiles.begin() + i);
        removeFromRow(ui.horizontalLayout_BottomUserPresets, tile);
    }
    if (!allRemoved)
        showCriticalBox(this, translate("ErrorPreset"), translate("ErrorRemovingPreset"));
    highlightMatchingPresets();
}

void VellumbraV2::modifyUserPreset()
{
    showCriticalBox(this, QStringLiteral("TODO"), QStringLiteral("Not implemented yet"));
}
