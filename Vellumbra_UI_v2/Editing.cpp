#include "vellumbraV2.h"

#include "EditingSliderTable.h"
#include "EditingTools.h"
#include "LanguageEngine.h"
#include "Log.h"
#include "Preset.h"
#include "PresetImage.h"
#include "PresetStore.h"
#include "RenderPipeline.h"
#include "Repolish.h"
#include "ResizableFrame.h"
#include "ResizableLine.h"
#include "SharpestImageSelection.h"
#include "WorkflowStateTable.h"
#include "Workspace.h"

#include <QSignalBlocker>
#include <QStatusBar>

#include <algorithm>

namespace {

bool storeChecked(QSettings& settings, const QAction* action, const QString& key)
{
    const bool checked = action->isChecked();
    settings.setValue(key, checked);
    return checked;
}

// Marks the tiles of the presets that match the panel; true when a mark changed.
bool markMatchingTiles(Workspace& open, const std::vector<Preset*>& presets, const std::vector<PresetImage*>& tiles,
                       const PresetSettings& panel, bool userPresets)
{
    bool changed = false;
    const int count = static_cast<int>(std::min(presets.size(), tiles.size()));
    for (int i = 0; i < count; ++i) {
        const bool matches = presetMatches(*presets[i], panel, userPresets);
        if (tiles[i]->property("isSelected").toBool() == matches)
            continue;
        changed = true;
        if (userPresets)
            matches ? open.markUserPresetTile(i) : open.unmarkUserPresetTile(i);
        else
            matches ? open.markFactoryPresetTile(i) : open.unmarkFactoryPresetTile(i);
    }
    return changed;
}

}  // namespace

RenderPipeline* VellumbraV2::shownPipeline() const
{
    const Workspace* open = currentWorkspace();
    return open ? open->renderPipeline : nullptr;
}

// Parameters of the stacking run.

void VellumbraV2::checkBox_AlignToggled(bool on)
{
    if (Workspace* open = currentWorkspace()) {
        open->undoRedoManager.add(ui.checkBox_Align, &QAbstractButton::setChecked, open->align, on,
                                  "Align check box toggled");
        open->align = on;
    }
}

void VellumbraV2::checkBox_AutoAP2Toggled(bool on)
{
    if (Workspace* open = currentWorkspace()) {
        open->undoRedoManager.add(ui.checkBox_AutoAntighostingP2, &QAbstractButton::setChecked,
                                  open->autoAntighosting, on, "Auto antighosting power toggled");
        open->autoAntighosting = on;
    }
}

void VellumbraV2::horizontalSlider_AP2Moved(int value)
{
    if (Workspace* open = currentWorkspace()) {
        open->undoRedoManager.add(ui.horizontalSlider_AntighostingP2, &QAbstractSlider::setValue,
                                  open->antighostingPower, value, "Undo on texture paremeter");
        open->antighostingPower = value;
    }
}

void VellumbraV2::comboBox_QualityChanged(int index)
{
    if (Workspace* open = currentWorkspace()) {
        open->undoRedoManager.add(ui.comboBox_Quality, &QComboBox::setCurrentIndex, open->qualityIndex, index,
                                  "Undo on quality");
        open->qualityIndex = index;
    }
}

void VellumbraV2::updateAP1ModeValue()
{
    int mode = 0;
    if (ui.radioButton_LongExposure->isChecked())
        mode = 0;
    else if (ui.radioButton_MediumAntighosting->isChecked())
        mode = 80;
    else if (ui.radioButton_HighAntighosting->isChecked())
        mode = 100;
    else
        return;
    if (Workspace* open = currentWorkspace())
        open->antighostingMode = mode;
}

// The editing panel.

void VellumbraV2::editingSliderMoved(QSlider* Ui_VellumbraClass::*slider, int value)
{
    RenderPipeline* pipeline = shownPipeline();
    if (!pipeline)
        return;
    const EditingSlider& row = editingSliderOf(slider);
    const int old = row.conversion.toPosition(row.current(*pipeline));
    // While a drag goes on, stages after the tone mapping are quick enough to render
    // here, at once, in the quick preview; any other change renders the full one.
    const bool rendersHere = row.stage > RenderPipeline::ToneMapStage && (ui.*slider)->isSliderDown();
    // Settings applied together render once, after the last of them.
    row.apply(*workspace, row.conversion.toSetting(value), value, rendersHere && !applyingParameters);
    if (applyingParameters)
        return;
    if (rendersHere)
        showCurrentImageAgain();
    workspace->undoRedoManager.add(ui.*row.slider, &QAbstractSlider::setValue, old, value, row.undoText);
    highlightMatchingPresets();
    if (!rendersHere)
        recomputeToneMapping(row.stage);
}

void VellumbraV2::editingSliderReleased()
{
    const RenderPipeline* pipeline = shownPipeline();
    if (pipeline && pipeline->showsQuickPreview() && !applyingParameters)
        recomputeToneMapping(RenderPipeline::ColourStage);
}

void VellumbraV2::horizontalSlider_TM1AlphaMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TMAlpha, v); }
void VellumbraV2::horizontalSlider_TM1BetaMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TMBeta, v); }
void VellumbraV2::horizontalSlider_TM2AlphaMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TM2_Alpha, v); }
void VellumbraV2::horizontalSlider_TM4AlphaMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TM4_Alpha, v); }
void VellumbraV2::horizontalSlider_TM4BetaMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TM4_Beta, v); }
void VellumbraV2::horizontalSlider_TM4GammaMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TM4_Gamma, v); }
void VellumbraV2::horizontalSlider_TM3AlphaMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TM3_Alpha, v); }
void VellumbraV2::horizontalSlider_TM3BetaMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TM3_Beta, v); }
void VellumbraV2::horizontalSlider_TM3GammaMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TM3_Gamma, v); }
void VellumbraV2::horizontalSlider_TMStrengthMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TMStrength, v); }
void VellumbraV2::horizontalSlider_TMExpositionMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TMExposition, v); }
void VellumbraV2::horizontalSlider_TMContrastMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TMContrast, v); }
void VellumbraV2::horizontalSlider_TMHighlightsMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TMHighlights, v); }
void VellumbraV2::horizontalSlider_TMShadowsMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TMShadows, v); }
void VellumbraV2::horizontalSlider_TMWhitesMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TMWhites, v); }
void VellumbraV2::horizontalSlider_TMBlacksMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TMBlacks, v); }
void VellumbraV2::horizontalSlider_TMHueMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TMHue, v); }
void VellumbraV2::horizontalSlider_TMSaturationMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TMSaturation, v); }
void VellumbraV2::horizontalSlider_TMVibranceMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TMVibrance, v); }
void VellumbraV2::horizontalSlider_TMBlackClipMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TMBlackClip, v); }
void VellumbraV2::horizontalSlider_TMWhiteClipMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TMWhiteClip, v); }
void VellumbraV2::horizontalSlider_TMSharpeningAmountMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TMSharpeningAmount, v); }
void VellumbraV2::horizontalSlider_TMSharpeningRadiusMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TMSharpeningRadius, v); }
void VellumbraV2::horizontalSlider_TMSharpeningThresholdMoved(int v) { editingSliderMoved(&Ui_VellumbraClass::horizontalSlider_TMSharpeningThreshold, v); }

void VellumbraV2::checkBox_ApplyTMOptionsToggled(bool on)
{
    RenderPipeline* pipeline = shownPipeline();
    if (!pipeline)
        return;
    const bool old = pipeline->applyTM();
    workspace->setApplyTM(on, false);
    if (applyingParameters)
        return;
    workspace->undoRedoManager.add(ui.groupBox_TMOptions, &QGroupBox::setChecked, old, on,
                                   "Undo on applying tone mapping");
    highlightMatchingPresets();
    recomputeToneMapping(RenderPipeline::ToneMapStage);
}

void VellumbraV2::comboBox_TMChanged(int index)
{
    RenderPipeline* pipeline = shownPipeline();
    // An emptied combo has no operator to offer.
    if (!pipeline || index < 0)
        return;
    const int old = pipeline->TMalgo();
    workspace->setTMAlgo(std::min(index, kLastToneMappingOperator), false);
    if (applyingParameters)
        return;
    // The tiles' records still hold the previous operator's positions: they take the
    // new operator's sliders, whose values the pipeline renders with, so that coming
    // back to the tile shows them and not the previous operator's.
    for (const EditingSlider& row : editingSliders()) {
        if (row.isOperatorParameter() && row.shownWith(pipeline->TMalgo())) {
            const int position = (ui.*row.slider)->value();
            row.apply(*workspace, row.conversion.toSetting(position), position, false);
        }
    }
    workspace->undoRedoManager.add(ui.comboBox_TM, &QComboBox::setCurrentIndex, old, index,
                                   "Undo on tone mapping choice");
    highlightMatchingPresets();
    recomputeToneMapping(RenderPipeline::ToneMapStage);
}

void VellumbraV2::checkBox_ApplySharpeningToggled(bool on)
{
    RenderPipeline* pipeline = shownPipeline();
    if (!pipeline)
        return;
    const bool old = pipeline->applySharpening();
    workspace->setApplySharpening(on, false);
    if (applyingParameters)
        return;
    workspace->undoRedoManager.add(ui.groupBox_Sharpening, &QGroupBox::setChecked, old, on,
                                   "Undo on applying sharpening");
    highlightMatchingPresets();
    recomputeToneMapping(RenderPipeline::SharpenStage);
}

// Rotation, crop and horizon.

void VellumbraV2::rotationMoved(QSlider* slider, int degrees)
{
    RenderPipeline* pipeline = shownPipeline();
    if (!pipeline)
        return;
    const int old = rotationDegrees(pipeline->rotation());
    workspace->setRotation(rotationRadians(degrees), false);
    if (applyingParameters)
        return;
    workspace->undoRedoManager.add(slider, &QAbstractSlider::setValue, old, degrees, "Undo on rotation");
    // A crop drawn on the picture before it turned no longer fits it.
    workspace->setCrop(-1, -1, -1, -1, false);
    recomputeToneMapping(RenderPipeline::RotationStage);
}

void VellumbraV2::horizontalSlider_RotationMoved(int value)
{
    rotationMoved(ui.horizontalSlider_Rotation, value);
}

void VellumbraV2::horizontalSlider_Rotation_2Moved(int value)
{
    rotationMoved(ui.horizontalSlider_Rotation_2, value);
}

void VellumbraV2::setCropRect(const cv::Rect& rect)
{
    RenderPipeline* pipeline = shownPipeline();
    if (!pipeline)
        return;
    const cv::Rect old = pipeline->crop();
    workspace->setCrop(rect.x, rect.y, rect.width, rect.height, false);
    if (applyingParameters)
        return;
    workspace->undoRedoManager.add(this, &VellumbraV2::setCropRect, old, rect, "Undo on crop");
    recomputeToneMapping(RenderPipeline::CropStage);
}

void VellumbraV2::enterTool(EditingTool tool)
{
    if (Workspace* open = currentWorkspace()) {
        open->state = StateTool;
        open->tool = tool;
        // Like the horizon line, the crop starts over the middle of the picture as it shows
        // now: where an earlier crop left it may lie off a picture shown smaller since.
        if (tool == ToolCrop) {
            const QSize shown = ui.label_VideoPreview->size();
            cropFrame->setGeometryClamped(shown.width() / 4, shown.height() / 4, shown.width() / 2,
                                          shown.height() / 2);
        }
        updateWindow();
    }
}

void VellumbraV2::PushButtonCropToolClicked()
{
    enterTool(ToolCrop);
}

void VellumbraV2::PushButtonHorizonToolClicked()
{
    enterTool(ToolHorizon);
}

void VellumbraV2::PushButtonCancelToolsClicked()
{
    if (currentWorkspace())
        leaveTool();
}

void VellumbraV2::PushButtonApplyToolsClicked()
{
    Workspace* open = currentWorkspace();
    if (!open || open->state != StateTool)
        return;
    const QSize label = ui.label_VideoPreview->size();
    switch (open->tool) {
    case ToolCrop:
        if (const RenderPipeline* pipeline = shownPipeline())
            setCropRect(cropFromFrame(cropFrame->geometry(), label, pipeline->fullWidth(), pipeline->fullHeight()));
        break;
    case ToolHorizon: {
        const cv::Mat shown = open->currentImage();
        const bool wasCropped = shownPipeline() && shownPipeline()->crop().width > 0;
        ui.horizontalSlider_Rotation_2->setValue(
            horizonDegrees(horizonLine->p1(), horizonLine->p2(), label, shown.size()));
        // The turn drops the crop drawn before it: the user is told, not left to find out.
        if (wasCropped && currentWorkspace() == open && shownPipeline()->crop().width <= 0)
            statusBar()->showMessage(translate("HorizonRemovedCrop"));
        break;
    }
    default:
        logDebug("On ne devrait pas passer par ici !", __FILE__, __LINE__);
        break;
    }
    // The media may have been closed while the picture rendered.
    if (currentWorkspace() == open)
        leaveTool();
}

// Exposure highlights.

void VellumbraV2::MenuActionHighlightOverExposedClicked()
{
    highlightOverExposed = storeChecked(settings, ui.actionHighlight_over_exposed_pixels,
                                        QStringLiteral("UserParameters/highlightOverExposed"));
    showCurrentImageAgain();
}

void VellumbraV2::MenuActionHighlightUnderExposedClicked()
{
    highlightUnderExposed = storeChecked(settings, ui.actionHighlight_under_exposed_pixels,
                                         QStringLiteral("UserParameters/highlightUnderExposed"));
    showCurrentImageAgain();
}

// Parameter records and presets.

void VellumbraV2::applyEditingParameters(const PresetSettings& record, bool recompute)
{
    Workspace* open = currentWorkspace();
    if (open)
        open->undoRedoManager.clear();
    ui.actionUndo->setEnabled(false);
    ui.actionRedo->setEnabled(false);

    // The selected tiles remember the record whole: a slider already at the record's
    // position sends no change that would write it there.
    if (open)
        for (SharpestImageSelection* tile : open->selection)
            if (&tile->preset() != &record)
                static_cast<PresetSettings&>(tile->preset()) = record;
    applyingParameters = true;
    // A record's operator that the combo cannot show becomes the last one it shows,
    // so the combo and the pipeline always agree on a valid operator.
    const int toneMapper = std::clamp(record.TMalgo, 0, ui.comboBox_TM->count() - 1);
    ui.groupBox_TMOptions->setChecked(record.applyTM);
    ui.comboBox_TM->setCurrentIndex(toneMapper);
    if (open)
        open->setTMAlgo(toneMapper, false);
    ui.groupBox_Sharpening->setChecked(record.applySharpening);
    for (const EditingSlider& row : editingSliders())
        if (row.shownWith(toneMapper))
            (ui.*row.slider)->setValue(record.*row.field);
    applyingParameters = false;

    highlightMatchingPresets();
    if (recompute)
        recomputeToneMapping(RenderPipeline::ToneMapStage);
}

void VellumbraV2::highlightMatchingPresets()
{
    Workspace* open = currentWorkspace();
    if (!open)
        return;
    const PresetSettings panel = panelPositions(ui);
    if (!defaultPresetsLoaded)
        loadDefaultPresets();
    if (markMatchingTiles(*open, defaultPresets, open->factoryPresetTiles, panel, false))
        repolish(ui.scrollAreaWidgetContents_BottomPresets);
    if (!userPresetsLoaded)
        loadUserPresets();
    if (markMatchingTiles(*open, userPresets, open->userPresetTiles, panel, true))
        repolish(ui.scrollArea_UserPresets_Contents);
}

void VellumbraV2::onClickSelectImage(SharpestImageSelection* tile)
{
    Workspace* open = currentWorkspace();
    if (!open || !tile)
        return;
    open->selectTile(tile);
    repolish(ui.scrollAreaWidgetContents_SharpestImageSelection);
    repolish(ui.scrollAreaWidgetContents_ProEditingSelection);
    const RenderPipeline& pipeline = *open->renderPipeline;
    const int degrees = rotationDegrees(pipeline.rotation());
    for (QSlider* rotation : {ui.horizontalSlider_Rotation, ui.horizontalSlider_Rotation_2}) {
        const QSignalBlocker quiet(rotation);
        rotation->setValue(degrees);
    }
    // The read-out hangs on the slider's signal, which stayed quiet.
    ui.lcdNumber_Rotation_2->display(degrees);
    // A picture already rendered at the view's size is shown as it is.
    const bool rendered = pipeline.output().cols >= viewSize.width && pipeline.output().rows >= viewSize.height &&
                          pipeline.rotated().rows > 0 && pipeline.rotated().cols > 0;
    applyEditingParameters(tile->preset(), !rendered);
    if (currentWorkspace() != open)
        return;
    // The picture the user looks at renders first, alone; the previews follow.
    open->previewSelectionInPresets();
    needResize();
}

void VellumbraV2::onClickPresetImage(PresetImage* presetTile)
{
    Workspace* open = currentWorkspace();
    if (!open || !open->selectedTile || !presetTile)
        return;
    open->applyPresetToSelection(presetTile);
    applyEditingParameters(open->selectedTile->preset(), true);
}
