#include "vellumbraV2.h"

#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QLCDNumber>
#include <QListWidget>
#include <QMenuBar>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <gtest/gtest.h>

#include <memory>

// The structural facts of the main window's form as its description gives them,
// checked against the form built on a bare window (the main window's own
// set-up changes some of them later).
namespace {

struct Form {
    Form() { ui.setupUi(&window); }
    template <typename T = QObject>
    T* find(const char* name) const { return window.findChild<T*>(QString::fromLatin1(name)); }
    QMainWindow window;
    Ui::VellumbraClass ui;
};

QStringList words(const char* text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Object names by class; slider rows are checked by the range table below.
const struct {
    const char* className;
    const char* names;
} kClasses[] = {
    {"QWidget", "centralWidget page_Empty page_PRO_SelectImage page_PRO_DefineParams page_PRO_Editing page_Result "
                "page_BASICCLASSIC_SelectImage page_Exporting scrollAreaWidgetContents_ProSharpestImageSelection "
                "scrollAreaWidgetContents_ProEditingSelection page_VideoPreviewOptions page_EditingOptions "
                "page_BASICCLASSICSelectImageNext page_BASICCLASSICEditingExport "
                "scrollAreaWidgetContents_SharpestImageSelection page_VersionChoice page_CentralHome page_Video "
                "page_ModeIconBasic page_ModeIconClassic page_ModeIconPro dockWidgetContents_3 page_TimeLine "
                "page_ProgressBar page_TM DefaultTab UserTab scrollAreaWidgetContents_BottomPresets "
                "scrollArea_UserPresets_Contents scrollAreaWidgetContents_panelTM page_TM1 page_TM2 page_TM4 page_TM5 "
                "page_TM3"},
    {"QFrame", "frame_BGTop frame_25 frame_MainOptions frame_26 frame_TopTopMenu frame_Main frame_Central frame_Docks "
               "frame_SecondOptions frame_14 frame_7 frame frame_9 frame_8 frame_30 frame_SelectedImageTop frame_27 "
               "frame_SelectedImage line_3 frame_34 frame_10 frame_19 frame_12 frame_16 line_4 frame_17 "
               "frame_CursorSelectorFlag frame_13 frame_38 line_2 frame_39 frame_11 frame_18 frame_21 line_7 frame_15 "
               "frame_ExportProEditing frame_ProEditingOptions frame_31 frame_32 frame_ProExport frame_22 frame_23 "
               "frame_24 frame_33 frame_5 frame_28 frame_29 frame_BGTopLeftSquare frame_TopMenu frame_BGTopRightSquare "
               "frame_BGTopLeftTriangle frame_TopMenu1 frame_BGTopLeftTriangle_2 frame_TopMenu2 "
               "frame_BGTopLeftTriangle_3 frame_TopMenu3 frame_BGTopLeftTriangle_4 frame_TopMenu4 "
               "frame_BGTopLeftTriangle_end frame_SelectMode frame_SelectModeBasic frame_SelectModeClassic "
               "frame_SelectModePro frame_Home frame_3 frame_40 frame_4 frame_6 frame_20 frame_2 frame_VideoPreview "
               "frame_VideoPreview2 frame_LoadingIcone frame_LoadingIcone2 Panel_Lecture frame_GrabFrame "
               "Panel_LectureTop Panel_LectureTop2 line_CursorSelectorFlag Panel_LectureBottom Panel_ProgressBar "
               "Panel_ProgressBarTop frame_BeforeAfter frame_BeforeAfterLogo frame_ToolsBottom frame_BeforeAfterLogo_2 "
               "frame_BottomPresets frame_UserTabPresetsBottom frame_TMBasic frame_TM1_Beta frame_TM1_Alpha "
               "frame_TM4_Alpha_2 frame_TM4_Alpha frame_TM4_Beta frame_TM4_Gamma frame_TM3_Alpha frame_TM3_Beta "
               "frame_TM3_Gamma frame_TMStrength frame_TMExposure frame_TMContrast frame_TMHighlights frame_TMShadows "
               "frame_TMWhites frame_TMBlacks frame_TMHue frame_TMSaturation frame_TMVibrance frame_TMBlackClip "
               "frame_TMWhiteClip frame_TMAmount frame_TMSharpeningRadius frame_TMSharpeningThreshold"},
    {"QLabel", "label_SelectFinalFrame label_QuestionSelectFinalFrame label_SelectingImageFrameNumber "
               "label_CurrentFrameNumber label_SharpnessCheck label_QuestionSharpnessCheck label_FindSharpestImageInThe "
               "label_FindSharpestFrameSurroundingFrames label_SelectedImage label_VideoBrightness_Pro "
               "label_VideoSpeed_2 label_QuestionSaveThisFrame label_Quality label_QuestionQuality label_ImageStacking "
               "label_QuestionImageStacking label_ImageStacking_Before label_CursorSelectorFlag_2 "
               "label_ImageStacking_After label_ImageStackingChosenFrame label_ImageStackingBot label_options "
               "label_AntighostingP1 label_QuestionAntighostingP1 label_AntighostingP2 label_QuestionAntighostingP2 "
               "label_Rotation_2 label_VideoSpeed label_VideoBrightness label_EditionFrameNumber "
               "label_CurrentFrameNumber_2 label_SelectingSharpnessTitle label_QuestionSelectingSharpness "
               "label_Rotation label_WhatAfterExport label_Step1 label_Step2 label_Step3 label_Step4 "
               "label_SelectModeBasicTitle label_IconSelectModeBasic label_SelectModeBasicText "
               "label_SelectModeClassicTitle label_IconSelectModeClassic label_SelectModeClassicText "
               "label_SelectModeProTitle label_IconSelectModePro label_SelectModeProText label_ModeIconBasic "
               "label_ModeIconClassic label_ModeIconPro label_RecentFilesTitle label_upload label_DropFiles "
               "label_DropFiles_2 label_VideoPreview label_Loading0 label_Loading10 label_Loading20 label_Loading30 "
               "label_Loading40 label_Loading50 label_Loading60 label_Loading70 label_Loading80 label_Loading90 "
               "label_Loading100 label_Histogram label_BackgroundMidPlayingBar label_ForegroundMidPlayingBar "
               "label_ExternLeftPlayingBar label_ExternRightPlayingBar label_TrimEndPlayingBar "
               "label_TrimStartPlayingBar label_CursorSelectorFlag label_CursorPlayingBar "
               "label_QuestionSharpnessCheck_2 label_CurrentTime_CurrentImageIndex label_EndTime_CurrentImageName "
               "label_QuestionSaveMarks label_zoomOut label_zoomIn label_ByClickingStop label_ShowOriginal "
               "label_TMBeta label_TMAlpha label_TM2_Alpha label_TM4_Alpha label_TM4_Beta label_TM4_Gamma "
               "label_TM3_Alpha label_TM3_Beta label_TM3_Gamma label_TMStrength label_TMExposure label_TMContrast "
               "label_TMHighlights label_TMShadows label_TMWhites label_TMBlacks label_TMHue label_TMSaturation "
               "label_TMVibrance label_TMBlackClip label_TMWhiteClip label_TMSharpeningAmount "
               "label_TMSharpeningRadius label_TMSharpeningThreshold"},
    {"QPushButton", "pushButton_FindSharpestImage pushButton_saveSelectedImage pushButton_SelectImageNext "
                    "pushButton_ImageStacking_Before pushButton_ImageStacking_After pushButton_DefineParamsNext "
                    "pushButton_Crop_2 pushButton_ProEditingExport pushButton_ResultSaveImage "
                    "pushButton_ResultToneMapAgain pushButton_ResultReToneMapImage pushButton_Horizon pushButton_Crop "
                    "pushButton_BASICCLASSICSelectImageNext pushButton_BASICCLASSICEditingExport pushButton_OpenVideo "
                    "pushButton_GrabFrame pushButton_ToBegin pushButton_Previous pushButton_PlayPause pushButton_Next "
                    "pushButton_ToEnd pushButton_ComputingCancel pushButton_ApplyTool pushButton_CancelTool "
                    "pushButton_UserPresetsNew pushButton_UserPresetsRemove pushButton_UserPresetsModify"},
    {"QStackedWidget", "stackedWidget_VerticalDock stackedWidget_SelectingEditingOptions "
                       "stackedWidget_SelectingEditingValidation stackedWidget_CentralWidget stackedWidget_ModeIcon "
                       "stackedWidget_LoadingIcone stackedWidget_CentralWidgetBottom stackedWidget_TM"},
    {"QScrollArea", "scrollArea_ProSharpestImageSelection scrollArea_ProEditingSelection "
                    "scrollArea_SharpestImageSelection scrollArea_BottomPresets scrollArea_UserPresets "
                    "scrollArea_panelTM"},
    {"QGroupBox", "groupBox_PlayerOptions_Pro groupBox_PlayerOptions groupBox_TMOptions groupBox_Sharpening"},
    {"QCheckBox", "checkBox_AutoAntighostingP2 checkBox_Align checkBox_UseThisMode checkBox_FastPreview"},
    {"QRadioButton", "radioButton_LongExposure radioButton_MediumAntighosting radioButton_HighAntighosting"},
    {"QComboBox", "comboBox_Quality comboBox_WhatAfterExport comboBox_TM"},
    {"QLCDNumber", "lcdNumber_Rotation_2"},
    {"QListWidget", "listWidget_RecentFilesThumbnails listWidget_RecentFiles"},
    {"QTabWidget", "tabWidget_Presets"},
    {"QProgressBar", "progressBar_Computing"},
    {"QDockWidget", "dockWidget_Histogram"},
    {"QMenuBar", "menuBar"},
    {"QMenu", "menuFile menuRecent_videos menuEdit menuView menuPanels menuVideo menuHelp"},
    {"QStatusBar", "statusBar"},
    {"QButtonGroup", "buttonGroup_AntighostingP1"},
    {"QVBoxLayout", "verticalLayout_7 verticalLayout verticalLayout_22 verticalLayout_2 verticalLayout_3 "
                    "verticalLayout_36 verticalLayout_SelectedImageTop verticalLayout_SelectedImage "
                    "verticalLayout_ProSharpestImageSelection verticalLayout_64 verticalLayout_5 verticalLayout_9 "
                    "verticalLayout_20 verticalLayout_55 verticalLayout_50 verticalLayout_53 "
                    "verticalLayout_ProEditingSelection verticalLayout_8 verticalLayout_33 verticalLayout_48 "
                    "verticalLayout_23 verticalLayout_34 verticalLayout_47 verticalLayout_SharpestImageSelection "
                    "verticalLayout_24 verticalLayout_31 verticalLayout_29 verticalLayout_12 verticalLayout_13 "
                    "verticalLayout_30 verticalLayout_16 verticalLayout_46 verticalLayout_63 verticalLayout_28 "
                    "verticalLayout_15 verticalLayout_27 verticalLayout_6 verticalLayout_26 verticalLayout_49 "
                    "verticalLayout_25 verticalLayout_4 verticalLayout_14 verticalLayout_19 verticalLayout_18 "
                    "verticalLayout_17 verticalLayout_21 verticalLayout_Sliders verticalLayout_11"},
    {"QHBoxLayout", "horizontalLayout_24 horizontalLayout_35 horizontalLayout_9 horizontalLayout_58 "
                    "horizontalLayout_27 horizontalLayout_31 horizontalLayout_47 horizontalLayout_39 "
                    "horizontalLayout_41 horizontalLayout_42 horizontalLayout_45 horizontalLayout_4 horizontalLayout_8 "
                    "horizontalLayout_5 horizontalLayout_6 horizontalLayout_7 horizontalLayout_52 horizontalLayout_12 "
                    "horizontalLayout_40 horizontalLayout_11 horizontalLayout_13 horizontalLayout_16 "
                    "horizontalLayout_37 horizontalLayout_38 horizontalLayout_54 horizontalLayout_55 "
                    "horizontalLayout_43 horizontalLayout_44 horizontalLayout_BottomPresets horizontalLayout_36 "
                    "horizontalLayout_BottomUserPresets"},
    {"QGridLayout", "gridLayout"},
};

// Where things sit: the widget that holds a widget, or whose layout a layout is.
const struct {
    const char* object;
    const char* holder;
} kHolders[] = {
    {"frame_MainOptions", "frame_25"}, {"frame_26", "frame_25"}, {"frame_SecondOptions", "frame_25"},
    {"stackedWidget_CentralWidget", "frame_Central"}, {"frame_Docks", "frame_Central"},
    {"stackedWidget_CentralWidgetBottom", "frame_Central"}, {"dockWidget_Histogram", "frame_Docks"},
    {"label_VideoPreview", "frame_VideoPreview2"}, {"frame_LoadingIcone", "frame_VideoPreview2"},
    {"label_CursorPlayingBar", "Panel_LectureTop2"}, {"frame_TMStrength", "groupBox_TMOptions"},
    {"verticalLayout_SelectedImage", "frame_SelectedImage"},
    {"verticalLayout_ProSharpestImageSelection", "scrollAreaWidgetContents_ProSharpestImageSelection"},
    {"verticalLayout_ProEditingSelection", "scrollAreaWidgetContents_ProEditingSelection"},
    {"verticalLayout_SharpestImageSelection", "scrollAreaWidgetContents_SharpestImageSelection"},
    {"horizontalLayout_BottomPresets", "scrollAreaWidgetContents_BottomPresets"},
    {"horizontalLayout_BottomUserPresets", "scrollArea_UserPresets_Contents"},
};

// Pages in index order and the index the form leaves current.
const struct {
    const char* name;
    const char* pages;
    int current;
} kPages[] = {
    {"stackedWidget_VerticalDock", "page_Empty page_PRO_SelectImage page_PRO_DefineParams page_PRO_Editing "
                                   "page_Result page_BASICCLASSIC_SelectImage page_Exporting", 2},
    {"stackedWidget_SelectingEditingOptions", "page_VideoPreviewOptions page_EditingOptions", 0},
    {"stackedWidget_SelectingEditingValidation", "page_BASICCLASSICSelectImageNext page_BASICCLASSICEditingExport", 1},
    {"stackedWidget_CentralWidget", "page_VersionChoice page_CentralHome page_Video", 1},
    {"stackedWidget_ModeIcon", "page_ModeIconBasic page_ModeIconClassic page_ModeIconPro", 0},
    {"stackedWidget_LoadingIcone", "page_Loading0 page_Loading10 page_Loading20 page_Loading30 page_Loading40 "
                                   "page_Loading50 page_Loading60 page_Loading70 page_Loading80 page_Loading90 "
                                   "page_Loading100", 10},
    {"stackedWidget_CentralWidgetBottom", "page_TimeLine page_ProgressBar page_TM", 0},
    {"tabWidget_Presets", "DefaultTab UserTab", 0},
    {"stackedWidget_TM", "page_TM1 page_TM2 page_TM4 page_TM5 page_TM3", 4},
};

// Item texts of the lists and the tab titles, in order.
const struct {
    const char* name;
    QStringList texts;
    int current;
} kItems[] = {
    {"comboBox_TM", {"Tone mapping 1", "Tone mapping 2", "Tone mapping 3", "Tone mapping 4"}, 0},
    {"comboBox_WhatAfterExport",
     {"Return to Edition page", "Return to Selection page", "Exit Vellumbra", "Shutdown computer"}, 0},
    {"comboBox_Quality", {}, -1},
    {"tabWidget_Presets", {"Auto", "User"}, 0},
    {"listWidget_RecentFiles",
     {"C://tarata/Fichier1.mov", "C://tarata/Fichier2.mov", "C://tarata/Fichier3.mov",
      "C://tarata/touroutoutou/couroucoucou/Fichier4.mov", "C://tarata/Fichier5.mov", "C://tarata/Fichier6.mov",
      "C://tarata/Fichier7.mov"}, -1},
};

constexpr int kAny = -1000;  // a setting the description leaves to the toolkit

// Value controls; lcd is the number the control drives through the form's own connections.
struct Range {
    const char* name;
    int minimum, maximum, pageStep, value;
    bool tracking;
    const char* lcd;
    int lcdValue;
};
const Range kRanges[] = {
    {"horizontalSlider_TMBeta", -100, 100, 50, 50, false, "lcdNumber_TMBeta", 0},
    {"horizontalSlider_TMAlpha", -100, 100, 50, 50, false, "lcdNumber_TMAlpha", 0},
    {"horizontalSlider_TM2_Alpha", -100, 100, 50, 50, false, "lcdNumber_TM2_Alpha", 0},
    {"horizontalSlider_TM4_Alpha", -100, 100, 50, 30, false, "lcdNumber_TM4_Alpha", 0},
    {"horizontalSlider_TM4_Beta", -100, 100, 50, -50, false, "lcdNumber_TM4_Beta", 0},
    {"horizontalSlider_TM4_Gamma", -100, 100, 50, -95, false, "lcdNumber_TM4_Gamma", 0},
    {"horizontalSlider_TM3_Alpha", -100, 100, 50, 50, false, "lcdNumber_TM3_Alpha", 0},
    {"horizontalSlider_TM3_Beta", -100, 100, 50, 0, false, "lcdNumber_TM3_Beta", 0},
    {"horizontalSlider_TM3_Gamma", -100, 100, 50, -40, false, "lcdNumber_TM3_Gamma", 0},
    {"horizontalSlider_TMStrength", -100, 100, 50, 0, true, "lcdNumber_TMStrength", 0},
    {"horizontalSlider_TMExposition", -100, 100, 50, 0, true, "lcdNumber_TMExposure", 0},
    {"horizontalSlider_TMContrast", -100, 100, 50, 0, true, "lcdNumber_TMContrast", 0},
    {"horizontalSlider_TMHighlights", -100, 100, 50, 0, true, "lcdNumber_TMHighlights", 0},
    {"horizontalSlider_TMShadows", -100, 100, 50, 0, true, "lcdNumber_TMShadows", 0},
    {"horizontalSlider_TMWhites", -100, 100, 50, 0, true, "lcdNumber_TMWhites", 0},
    {"horizontalSlider_TMBlacks", -100, 100, 50, 0, true, "lcdNumber_TMBlacks", 0},
    {"horizontalSlider_TMHue", -100, 100, 50, 0, true, "lcdNumber_TMHue", 0},
    {"horizontalSlider_TMSaturation", -100, 100, 50, 0, true, "lcdNumber_TMSaturation", 0},
    {"horizontalSlider_TMVibrance", -100, 100, 50, 0, true, "lcdNumber_TMVibrance", 0},
    {"horizontalSlider_TMBlackClip", 0, 100, 10, 0, true, "lcdNumber_TMBlackClip", 0},
    {"horizontalSlider_TMWhiteClip", 0, 100, 10, 0, true, "lcdNumber_TMWhiteClip", 0},
    {"horizontalSlider_TMSharpeningAmount", 0, 100, 20, 50, true, "lcdNumber_TMSharpeningAmount", 0},
    {"horizontalSlider_TMSharpeningRadius", 0, 20, 20, 3, true, "lcdNumber_TMSharpeningRadius", 0},
    {"horizontalSlider_TMSharpeningThreshold", 0, 100, 25, 25, true, "lcdNumber_TMSharpeningThreshold", 0},
    {"horizontalSlider_AntighostingP2", 0, 100, 1, 30, true, "lcdNumber_AntighostingP2", 30},
    {"horizontalSlider_Rotation_2", -180, 180, 90, 0, false, nullptr, 0},
    {"horizontalSlider_Rotation", -180, 180, 90, 0, false, nullptr, 0},
    {"horizontalSlider_VideoBrightness_Pro", -12, 12, kAny, 0, true, nullptr, 0},
    {"horizontalSlider_VideoSpeed_Pro", -12, 0, kAny, 0, true, nullptr, 0},
    {"horizontalSlider_VideoSpeed", -12, 0, kAny, 0, true, nullptr, 0},
    {"horizontalSlider_VideoBrightness", -12, 12, kAny, 0, true, nullptr, 0},
    {"spinBox_FindSharpestImage", 2, 999, kAny, 10, true, nullptr, 0},
    {"spinBox_ImageStackingBefore", 0, 999, kAny, 2, true, nullptr, 0},
    {"spinBox_ImageStackingAfter", 0, 999, kAny, 2, true, nullptr, 0},
};

const struct {
    const char* name;
    const char* text;
    const char* shortcut;
    bool checkable, enabled, autoRepeat;
} kActions[] = {
    {"actionOpen", "Open a video", "Ctrl+O", false, true, false},
    {"actionOpen_photo_with_burst_mode", "Open photos (in burst mode)", "Ctrl+Shift+O", false, true, false},
    {"actionClose", "Close", "Ctrl+W", false, false, false},
    {"actionExit", "Exit", "", false, true, false},
    {"actionUndo", "Undo", "Ctrl+Z", false, true, true},
    {"actionRedo", "Redo", "Ctrl+Y", false, true, true},
    {"actionOpen_photo_for_tone_mapping", "Open photo (for tone mapping)", "", false, true, false},
    {"actionPrevious_frame", "Previous frame", "Left", false, true, true},
    {"actionPlay_Pause", "Play/Pause", "Space", false, true, false},
    {"actionNext_frame", "Next frame", "Right", false, true, true},
    {"actionSave_the_current_image", "Save the current image", "", false, true, false},
    {"actionAbout", "About", "", false, true, false},
    {"actionShow_log", "Show log", "", false, true, false},
    {"actionCheck_updates", "Check updates", "", false, true, false},
    {"actionHide_Show_histogram_panel", "Show histogram panel", "H", true, true, false},
    {"actionQuick_guide", "Quick guide", "", false, true, false},
    {"actionSettingsMenu", "Settings", "", false, true, false},
    {"actionShow_tone_curve", "Show tone curve", "C", true, true, false},
    {"actionHighlight_over_exposed_pixels", "Highlight over-exposed pixels", "", true, true, false},
    {"actionHighlight_under_exposed_pixels", "Highlight under-exposed pixels", "", true, true, false},
    {"actionShow_EXIF", "Show EXIF", "E", true, true, false},
    {"actionFAQ", "FAQ", "", false, true, false},
    {"actionTutorial", "Tutorial", "", false, true, false},
    {"actionGuide", "Guide", "", false, true, true},
};

// Menu entries in order: actions and submenus by name, "-" for a separator.
const struct {
    const char* name;
    const char* title;
    const char* entries;
} kMenus[] = {
    {"menuBar", "", "menuFile menuEdit menuView menuVideo menuHelp"},
    {"menuFile", "File", "actionOpen actionOpen_photo_with_burst_mode actionOpen_photo_for_tone_mapping "
                         "menuRecent_videos - actionClose - - actionExit"},
    {"menuRecent_videos", "Recent files", ""},
    {"menuEdit", "Edit", "actionUndo actionRedo - actionSettingsMenu"},
    {"menuView", "View", "menuPanels actionHighlight_over_exposed_pixels actionHighlight_under_exposed_pixels"},
    {"menuPanels", "Panels", "actionHide_Show_histogram_panel actionShow_tone_curve actionShow_EXIF"},
    {"menuVideo", "Video", "actionPlay_Pause actionPrevious_frame actionNext_frame - actionSave_the_current_image"},
    {"menuHelp", "Help", "actionGuide actionTutorial actionFAQ actionQuick_guide actionCheck_updates actionShow_log - "
                         "actionAbout"},
};

// Further settings that the window's code or the style sheet rely on.
const struct {
    const char* name;
    const char* property;
    QVariant value;
} kProperties[] = {
    {"radioButton_LongExposure", "checked", false},
    {"radioButton_MediumAntighosting", "checked", true},
    {"radioButton_HighAntighosting", "checked", false},
    {"checkBox_AutoAntighostingP2", "checked", false},
    {"checkBox_Align", "checked", true},
    {"checkBox_UseThisMode", "checked", false},
    {"checkBox_FastPreview", "checked", false},
    {"groupBox_TMOptions", "checkable", true},
    {"groupBox_TMOptions", "checked", true},
    {"groupBox_Sharpening", "checkable", true},
    {"groupBox_Sharpening", "checked", true},
    {"pushButton_ToBegin", "autoRepeat", false},
    {"pushButton_Previous", "autoRepeat", true},
    {"pushButton_PlayPause", "autoRepeat", false},
    {"pushButton_Next", "autoRepeat", true},
    {"pushButton_ToEnd", "autoRepeat", false},
    {"pushButton_UserPresetsModify", "maximumSize", QSize(20, 0)},
    {"stackedWidget_LoadingIcone", "maximumSize", QSize(195, 65)},
    {"listWidget_RecentFilesThumbnails", "dragEnabled", false},
    {"listWidget_RecentFilesThumbnails", "iconSize", QSize(250, 125)},
    {"listWidget_RecentFilesThumbnails", "gridSize", QSize(250, 225)},
    {"tabWidget_Presets", "documentMode", true},
    {"progressBar_Computing", "value", 30},
    {"progressBar_Computing", "format", "%p%"},
    {"dockWidget_Histogram", "floating", true},
    {"dockWidget_Histogram", "windowTitle", "Histogram"},
    {"lcdNumber_AntighostingP2", "digitCount", 3},
    {"label_Step1", "text", "Step 1 : Select"},
    {"label_Step2", "text", "Step 2 : Create HDR"},
    {"label_Step3", "text", "Step 3 : Edit"},
    {"label_Step4", "text", "Step 4 : Export"},
    {"label_DropFiles", "text", "Drop files here "},
    {"label_Loading0", "text", "0 %"},
    {"label_Loading100", "text", "100 %"},
    {"label_CursorSelectorFlag", "text", "20"},
    {"horizontalSlider_VideoSpeed_Pro", "accessibleName", "Video speed name"},
    {"pushButton_UserPresetsNew", "toolTip", "Create a new preset"},
    {"pushButton_UserPresetsRemove", "toolTip", "Remove one or several presets"},
    {"horizontalSlider_TMExposition", "toolTip", "Exposure"},
    {"horizontalSlider_TMBlackClip", "toolTip", ""},
};

QStringList pageNames(QObject* object)
{
    QStringList names;
    if (auto* stack = qobject_cast<QStackedWidget*>(object))
        for (int i = 0; i < stack->count(); ++i)
            names << stack->widget(i)->objectName();
    if (auto* tabs = qobject_cast<QTabWidget*>(object))
        for (int i = 0; i < tabs->count(); ++i)
            names << tabs->widget(i)->objectName();
    return names;
}

QStringList itemTexts(QObject* object)
{
    QStringList texts;
    if (auto* combo = qobject_cast<QComboBox*>(object))
        for (int i = 0; i < combo->count(); ++i)
            texts << combo->itemText(i);
    if (auto* tabs = qobject_cast<QTabWidget*>(object))
        for (int i = 0; i < tabs->count(); ++i)
            texts << tabs->tabText(i);
    if (auto* list = qobject_cast<QListWidget*>(object))
        for (int i = 0; i < list->count(); ++i)
            texts << list->item(i)->text();
    return texts;
}

QString entryName(const QAction* action)
{
    if (action->menu())
        return action->menu()->objectName();
    return action->isSeparator() ? QStringLiteral("-") : action->objectName();
}

TEST(FormStructure, EveryNamedObjectExistsOnceWithItsClass)
{
    Form form;
    for (const auto& row : kClasses)
        for (const QString& name : words(row.names)) {
            const auto found = form.window.findChildren<QObject*>(name);
            ASSERT_EQ(found.size(), 1) << name.toStdString();
            EXPECT_STREQ(found.front()->metaObject()->className(), row.className) << name.toStdString();
        }
}

TEST(FormStructure, ObjectsSitInTheirHolders)
{
    Form form;
    for (const auto& row : kHolders) {
        QObject* object = form.find(row.object);
        ASSERT_NE(object, nullptr) << row.object;
        const auto* layout = qobject_cast<QLayout*>(object);
        const QWidget* holder = layout ? layout->parentWidget() : qobject_cast<QWidget*>(object)->parentWidget();
        ASSERT_NE(holder, nullptr) << row.object;
        EXPECT_EQ(holder->objectName(), QLatin1String(row.holder)) << row.object;
    }
}

TEST(FormStructure, PagesInOrderAndTheInitialPage)
{
    Form form;
    for (const auto& row : kPages) {
        QObject* object = form.find(row.name);
        ASSERT_NE(object, nullptr) << row.name;
        EXPECT_EQ(pageNames(object), words(row.pages)) << row.name;
        EXPECT_EQ(object->property("currentIndex").toInt(), row.current) << row.name;
    }
}

TEST(FormStructure, ItemTextsInOrderAndTheInitialItem)
{
    Form form;
    for (const auto& row : kItems) {
        QObject* object = form.find(row.name);
        ASSERT_NE(object, nullptr) << row.name;
        EXPECT_EQ(itemTexts(object), row.texts) << row.name;
        if (!qobject_cast<QListWidget*>(object)) {
            EXPECT_EQ(object->property("currentIndex").toInt(), row.current) << row.name;
        }
    }
}

TEST(FormStructure, RangesStepsAndInitialValues)
{
    Form form;
    for (const auto& row : kRanges) {
        QObject* control = form.find(row.name);
        ASSERT_TRUE(qobject_cast<QSlider*>(control) || qobject_cast<QSpinBox*>(control)) << row.name;
        EXPECT_EQ(control->property("minimum").toInt(), row.minimum) << row.name;
        EXPECT_EQ(control->property("maximum").toInt(), row.maximum) << row.name;
        EXPECT_EQ(control->property("value").toInt(), row.value) << row.name;
        if (auto* slider = qobject_cast<QSlider*>(control)) {
            EXPECT_EQ(slider->orientation(), Qt::Horizontal) << row.name;
            EXPECT_EQ(slider->singleStep(), 1) << row.name;
            EXPECT_EQ(slider->hasTracking(), row.tracking) << row.name;
            if (row.pageStep != kAny) {
                EXPECT_EQ(slider->pageStep(), row.pageStep) << row.name;
            }
        }
        if (row.lcd) {
            const auto* lcd = form.find<QLCDNumber>(row.lcd);
            ASSERT_NE(lcd, nullptr) << row.lcd;
            EXPECT_EQ(lcd->intValue(), row.lcdValue) << row.lcd;
        }
    }
}

TEST(FormStructure, ActionsTextsShortcutsAndStates)
{
    Form form;
    for (const auto& row : kActions) {
        const auto* action = form.find<QAction>(row.name);
        ASSERT_NE(action, nullptr) << row.name;
        EXPECT_EQ(action->parent(), &form.window) << row.name;
        EXPECT_EQ(action->text(), QLatin1String(row.text)) << row.name;
        EXPECT_EQ(action->shortcut(), QKeySequence(QLatin1String(row.shortcut))) << row.name;
        EXPECT_EQ(action->isCheckable(), row.checkable) << row.name;
        EXPECT_FALSE(action->isChecked()) << row.name;
        EXPECT_EQ(action->isEnabled(), row.enabled) << row.name;
        EXPECT_EQ(action->autoRepeat(), row.autoRepeat) << row.name;
        EXPECT_TRUE(action->icon().isNull()) << row.name;
    }
}

TEST(FormStructure, MenusTitlesAndEntries)
{
    Form form;
    for (const auto& row : kMenus) {
        const auto* widget = form.find<QWidget>(row.name);
        ASSERT_NE(widget, nullptr) << row.name;
        QStringList entries;
        for (const QAction* action : widget->actions())
            entries << entryName(action);
        EXPECT_EQ(entries, words(row.entries)) << row.name;
        if (const auto* menu = qobject_cast<const QMenu*>(widget)) {
            EXPECT_EQ(menu->title(), QLatin1String(row.title)) << row.name;
        }
    }
}

TEST(FormStructure, FurtherSettings)
{
    Form form;
    for (const auto& row : kProperties) {
        const QObject* object = form.find(row.name);
        ASSERT_NE(object, nullptr) << row.name;
        EXPECT_EQ(object->property(row.property), row.value) << row.name << "." << row.property;
    }
}

TEST(FormStructure, AntighostingButtonGroupHoldsTheThreeChoices)
{
    Form form;
    const QButtonGroup* group = form.ui.buttonGroup_AntighostingP1;
    EXPECT_EQ(group->parent(), &form.window);
    EXPECT_TRUE(group->exclusive());
    QStringList members;
    for (const QAbstractButton* button : group->buttons())
        members << button->objectName();
    EXPECT_EQ(members, words("radioButton_LongExposure radioButton_MediumAntighosting radioButton_HighAntighosting"));
    EXPECT_EQ(group->checkedButton(), form.ui.radioButton_MediumAntighosting);
}

TEST(FormStructure, WindowPropertiesAndNaming)
{
    Form form;
    EXPECT_EQ(form.window.objectName(), QLatin1String("VellumbraClass"));
    EXPECT_EQ(form.window.windowTitle(), QLatin1String("Vellumbra"));
    EXPECT_EQ(form.window.size(), QSize(1155, 858));
    EXPECT_TRUE(form.window.acceptDrops());
    EXPECT_EQ(form.window.dockOptions(), QMainWindow::AnimatedDocks | QMainWindow::AllowNestedDocks);
    EXPECT_EQ(form.window.centralWidget(), form.ui.centralWidget);
    EXPECT_EQ(form.window.menuBar(), form.ui.menuBar);
    EXPECT_EQ(form.window.statusBar(), form.ui.statusBar);
    EXPECT_EQ(form.ui.dockWidget_Histogram->allowedAreas(), Qt::NoDockWidgetArea);

    QMainWindow named;
    named.setObjectName(QStringLiteral("AlreadyNamed"));
    Ui::VellumbraClass ui;
    ui.setupUi(&named);
    EXPECT_EQ(named.objectName(), QLatin1String("AlreadyNamed"));
}

// Every connection the form makes by itself, fired through its sender.
TEST(FormConnections, EachSenderReachesItsReceiver)
{
    Form form;
    for (const Range& row : kRanges) {
        if (!row.lcd)
            continue;
        auto* slider = form.find<QSlider>(row.name);
        const auto* lcd = form.find<QLCDNumber>(row.lcd);
        const int moved = row.value == row.maximum ? row.minimum : row.maximum;
        if (!row.tracking) {
            // While dragged the number follows the thumb; the value changes on release.
            slider->setSliderDown(true);
            slider->setSliderPosition(moved);
            EXPECT_EQ(lcd->intValue(), moved) << row.name << " while dragged";
            EXPECT_EQ(slider->value(), row.value) << row.name << " while dragged";
            slider->setSliderDown(false);
            slider->setValue(row.value);
        }
        slider->setValue(moved);
        EXPECT_EQ(lcd->intValue(), moved) << row.name;
    }

    form.ui.checkBox_AutoAntighostingP2->setChecked(true);
    EXPECT_TRUE(form.ui.horizontalSlider_AntighostingP2->isHidden());
    EXPECT_TRUE(form.ui.lcdNumber_AntighostingP2->isHidden());
    form.ui.checkBox_AutoAntighostingP2->setChecked(false);
    EXPECT_FALSE(form.ui.horizontalSlider_AntighostingP2->isHidden());
    EXPECT_FALSE(form.ui.lcdNumber_AntighostingP2->isHidden());

    for (int index : {3, 1, 0}) {
        form.ui.comboBox_TM->setCurrentIndex(index);
        EXPECT_EQ(form.ui.stackedWidget_TM->currentIndex(), index);
    }

    form.window.show();
    form.ui.actionExit->trigger();
    EXPECT_FALSE(form.window.isVisible());
}

}  // namespace
