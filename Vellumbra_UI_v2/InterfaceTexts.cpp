#include "vellumbraV2.h"

#include "EditingSliderTable.h"
#include "ExportFormats.h"
#include "FileExtensions.h"
#include "FileFilter.h"
#include "LanguageEngine.h"
#include "Log.h"
#include "StartupValues.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTabBar>

#include <utility>
#include <vector>

namespace {

using KeyedObjects = std::vector<std::pair<QObject*, const char*>>;
using KeyedWidgets = std::vector<std::pair<QWidget*, const char*>>;

const char* const kQualityKeys[3] = {"Fast", "Medium", "Slow"};

// The visible text of a label, button, action, menu title, group-box title or dock title.
void setVisibleText(QObject* object, const QString& text)
{
    if (auto* label = qobject_cast<QLabel*>(object))
        label->setText(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(object))
        button->setText(text);
    else if (auto* action = qobject_cast<QAction*>(object))
        action->setText(text);
    else if (auto* menu = qobject_cast<QMenu*>(object))
        menu->setTitle(text);
    else if (auto* group = qobject_cast<QGroupBox*>(object))
        group->setTitle(text);
    else if (auto* widget = qobject_cast<QWidget*>(object))
        widget->setWindowTitle(text);
}

// Puts the toolkit's translation for the language code in force, in place of the one
// before; without one (logged) the toolkit speaks English.
void useToolkitTranslation(QTranslator& translator, const QString& code)
{
    QCoreApplication::removeTranslator(&translator);
    const QString folder = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
    if (!translator.load(QStringLiteral("qtbase_") + code, folder)) {
        logError("useToolkitTranslation", "No toolkit translation for the language code '" + code.toStdString() +
                                              "' in " + folder.toStdString() + "; its dialogs stay in English.");
        return;
    }
    QCoreApplication::installTranslator(&translator);
}

}  // namespace

void VellumbraV2::loadChosenLanguage()
{
    LanguageEngine::setLanguage(
        settings.value(QStringLiteral("GeneralSettings/ChosenLanguage"), QStringLiteral("English")).toString().toStdString());
    useToolkitTranslation(toolkitTranslator, translate("LanguageCode"));
    applyInterfaceTexts();
}

void VellumbraV2::applyInterfaceTexts()
{
    for (int i = 0; i < 3; ++i) {
        qualityNames[i] = translate(kQualityKeys[i]);
        ui.comboBox_Quality->setItemText(i, qualityNames[i]);
    }
    for (int i = 0; i < exportExtensionCount; ++i)
        exportFormatNames[i] = LanguageEngine::lookup(exportformats::nameKeys[i]);
    photoFileFilter = buildFileFilter(imageExtensions, imageExtensionCount, translate("ImageFiles"));
    exportFileFilter =
        buildFileFilter(exportExtensions, exportExtensionCount, translate("ImageFiles"), exportFormatNames);
    videoFileFilter = buildFileFilter(videoExtensions, videoExtensionCount, translate("VideoFiles"));

    const KeyedObjects texts = {
        {ui.menuFile, "File"},
        {ui.actionOpen, "OpenAVideo"},
        {ui.actionOpen_photo_with_burst_mode, "OpenPhotosInBurstMode"},
        {ui.actionOpen_photo_for_tone_mapping, "OpenPhotoForToneMapping"},
        {ui.actionClose, "Close"},
        {ui.actionExit, "Exit"},
        {ui.menuRecent_videos, "RecentVideos"},
        {ui.menuEdit, "Edit"},
        {ui.actionUndo, "Undo"},
        {ui.actionRedo, "Redo"},
        {ui.actionSettingsMenu, "Settings"},
        {ui.menuView, "View"},
        {ui.actionHide_Show_histogram_panel, "ShowHistogramPanel"},
        {ui.actionShow_tone_curve, "ShowToneCurvePanel"},
        {ui.actionShow_EXIF, "ShowEXIF"},
        {ui.menuPanels, "Panels"},
        {ui.actionHighlight_over_exposed_pixels, "HighlightOverExposed"},
        {ui.actionHighlight_under_exposed_pixels, "HighlightUnderExposed"},
        {ui.menuVideo, "Video"},
        {ui.actionPlay_Pause, "PlayPause"},
        {ui.actionPrevious_frame, "PreviousFrame"},
        {ui.actionNext_frame, "NextFrame"},
        {ui.actionSave_the_current_image, "SaveTheCurrentImage"},
        {ui.menuHelp, "Help"},
        {ui.actionFAQ, "FAQ"},
        {ui.actionTutorial, "Tutorial"},
        {ui.actionGuide, "Guide"},
        {ui.actionQuick_guide, "QuickGuide"},
        {ui.actionCheck_updates, "CheckUpdates"},
        {ui.actionShow_log, "ShowLog"},
        {ui.actionAbout, "About"},
        {ui.label_RecentFilesTitle, "RecentVideos"},
        {ui.label_DropFiles, "DropFilesHere"},
        {ui.label_DropFiles_2, "DropFilesHereOr"},
        {ui.label_SelectFinalFrame, "SelectYourFinalFrame"},
        {ui.label_SelectingImageFrameNumber, "FrameNumber"},
        {ui.label_SharpnessCheck, "SharpnessCheck"},
        {ui.label_FindSharpestImageInThe, "FindSharpestFrameInThe"},
        {ui.label_FindSharpestFrameSurroundingFrames, "FindSharpestFrameSurroundingFrames"},
        {ui.label_SelectedImage, "SelectedImage"},
        {ui.label_ImageStacking, "ImageStacking"},
        {ui.label_ImageStackingBot, "ImageStackingBot"},
        {ui.label_ImageStacking_Before, "Before"},
        {ui.label_ImageStacking_After, "After"},
        {ui.label_ImageStackingChosenFrame, "ChosenFrame"},
        {ui.label_options, "OptionsStep2"},
        {ui.label_AntighostingP1, "AntighostingP1"},
        {ui.label_Quality, "Quality"},
        {ui.label_EditionFrameNumber, "FrameNumber"},
        {ui.label_SelectingSharpnessTitle, "Sharpness"},
        {ui.label_WhatAfterExport, "WhatAfterExport"},
        {ui.label_ByClickingStop, "ByClickingStop"},
        {ui.label_ShowOriginal, "ShowOriginal"},
        {ui.pushButton_OpenVideo, "OpenAVideoHome"},
        {ui.pushButton_FindSharpestImage, "FindSharpestFrame"},
        {ui.pushButton_saveSelectedImage, "SaveDisplayedImage"},
        {ui.pushButton_SelectImageNext, "Next"},
        {ui.radioButton_LongExposure, "LongExposureSimulation"},
        {ui.radioButton_MediumAntighosting, "MediumAntighosting"},
        {ui.radioButton_HighAntighosting, "HighAntighosting"},
        {ui.checkBox_AutoAntighostingP2, "Auto"},
        {ui.checkBox_Align, "AlignImages"},
        {ui.pushButton_DefineParamsNext, "Compute"},
        {ui.pushButton_ProEditingExport, "Export"},
        {ui.pushButton_BASICCLASSICEditingExport, "ExportAll"},
        {ui.pushButton_GrabFrame, "GrabFrame"},
        {ui.pushButton_ComputingCancel, "Cancel"},
        {ui.checkBox_FastPreview, "FastPreview"},
        {ui.groupBox_PlayerOptions, "PlayerOptions"},
        {ui.groupBox_PlayerOptions_Pro, "PlayerOptionsPro"},
        {ui.groupBox_TMOptions, "ToneMappingOptions"},
        {ui.groupBox_Sharpening, "Sharpening"},
        {ui.dockWidget_Histogram, "Histogram"},
        {ui.label_Rotation, "Rotation"},
        {ui.label_Rotation_2, "Rotation"},
        {ui.label_VideoSpeed, "VideoSpeed"},
        {ui.label_VideoSpeed_2, "VideoSpeed"},
        {ui.label_VideoBrightness, "Brightness"},
        {ui.label_VideoBrightness_Pro, "Brightness"},
        {ui.label_AntighostingP2, "AntighostingP2"},
    };
    const KeyedWidgets tips = {
        {ui.label_QuestionSaveMarks, "QuestionSaveMarks"},
        {ui.label_QuestionSaveThisFrame, "QuestionSaveThisFrame"},
        {ui.label_ModeIconPro, "ChangeMode"},
        {ui.label_QuestionSelectFinalFrame, "QuestionSelectYourFinalFrameTooltip"},
        {ui.label_QuestionSharpnessCheck, "QuestionSharpnessCheckTooltip"},
        {ui.label_QuestionImageStacking, "QestionImageStackingTooltip"},
        {ui.label_QuestionAntighostingP1, "QestionAntighostingP1Tooltip"},
        {ui.label_QuestionAntighostingP2, "QestionAntighostingP2Tooltip"},
        {ui.label_QuestionQuality, "QestionQualityTooltip"},
        {ui.label_QuestionSelectingSharpness, "QuestionSharpnessTooltip"},
        {ui.checkBox_Align, "AlignImagesTooltip"},
        {ui.pushButton_UserPresetsNew, "UserPresetsNewTooltip"},
        {ui.pushButton_UserPresetsRemove, "UserPresetsRemoveTooltip"},
        {ui.horizontalSlider_Rotation, "Rotation"},
        {ui.horizontalSlider_Rotation_2, "Rotation"},
        {ui.horizontalSlider_VideoSpeed, "VideoSpeed"},
        {ui.horizontalSlider_VideoSpeed_Pro, "VideoSpeed"},
        {ui.horizontalSlider_VideoBrightness, "Brightness"},
        {ui.horizontalSlider_VideoBrightness_Pro, "Brightness"},
        {ui.horizontalSlider_AntighostingP2, "AntighostingP2"},
    };
    const KeyedWidgets names = {
        {ui.pushButton_OpenVideo, "OpenAVideoHome"},
        {ui.pushButton_FindSharpestImage, "FindSharpestFrame"},
        {ui.pushButton_SelectImageNext, "Next"},
        {ui.radioButton_LongExposure, "LongExposureSimulation"},
        {ui.radioButton_MediumAntighosting, "MediumAntighosting"},
        {ui.radioButton_HighAntighosting, "HighAntighosting"},
        {ui.pushButton_DefineParamsNext, "Compute"},
        {ui.pushButton_ProEditingExport, "Export"},
        {ui.pushButton_BASICCLASSICEditingExport, "ExportAll"},
        {ui.pushButton_GrabFrame, "GrabFrame"},
        {ui.pushButton_ComputingCancel, "Cancel"},
        {ui.checkBox_FastPreview, "FastPreview"},
        {ui.pushButton_Crop_2, "CropTool"},
        {ui.pushButton_Horizon_2, "HorizonTool"},
        {ui.pushButton_Next, "NextFrame"},
        {ui.pushButton_PlayPause, "PlayPause"},
        {ui.pushButton_Previous, "PreviousFrame"},
        {ui.pushButton_ToBegin, "GoToBegin"},
        {ui.pushButton_ToEnd, "GoToEnd"},
        {ui.pushButton_UserPresetsNew, "UserPresetsNewTooltip"},
        {ui.pushButton_UserPresetsRemove, "UserPresetsRemoveTooltip"},
        {ui.tabWidget_Presets, "UserTab"},
        {ui.dockWidget_Histogram, "Histogram"},
        {ui.horizontalSlider_Rotation, "Rotation"},
        {ui.horizontalSlider_Rotation_2, "Rotation"},
        {ui.horizontalSlider_VideoSpeed_Pro, "VideoSpeed"},
        {ui.horizontalSlider_VideoBrightness_Pro, "Brightness"},
        {ui.horizontalSlider_AntighostingP2, "AntighostingP2"},
    };
    for (const auto& [object, key] : texts)
        setVisibleText(object, translate(key));
    for (const auto& [widget, key] : tips)
        widget->setToolTip(translate(key));
    for (const auto& [widget, key] : names)
        widget->setAccessibleName(translate(key));
    for (const EditingSlider& row : editingSliders()) {
        setVisibleText(ui.*row.label, translate(row.textKey));
        (ui.*row.slider)->setToolTip(translate(row.tipKey));
        (ui.*row.slider)->setAccessibleName(translate(row.textKey));
        // An operator parameter's label explains it as its slider does.
        if (row.isOperatorParameter())
            (ui.*row.label)->setToolTip(translate(row.tipKey));
    }

    const char* const whatAfterExportKeys[] = {"ReturnEditionPage", "ReturnSelectionPage", "ExitVellumbra"};
    for (int i = 0; i < 3; ++i)
        ui.comboBox_WhatAfterExport->setItemText(i, translate(whatAfterExportKeys[i]));
    const char* const operatorKeys[] = {"TM1", "TM2", "TM3", "TM4"};
    for (int i = 0; i < 4; ++i)
        ui.comboBox_TM->setItemText(i, translate(operatorKeys[i]));
    ui.tabWidget_Presets->setTabText(0, translate("DefaultTab"));
    ui.tabWidget_Presets->setTabText(1, translate("UserTab"));
    // The side tabs are as long as their texts: the strip is at least as high, so none is cut.
    ui.tabWidget_Presets->setMinimumHeight(ui.tabWidget_Presets->tabBar()->sizeHint().height());

    updateMode();
}
