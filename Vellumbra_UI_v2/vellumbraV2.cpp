#include "vellumbraV2.h"

#include "AppIdentity.h"
#include "AnalyticsManager.h"
#include "EditingDefaults.h"
#include "EditingSliderTable.h"
#include "ImageIO.h"
#include "LanguageEngine.h"
#include "Log.h"
#include "MessageBoxes.h"
#include "PresetStore.h"
#include "RecentFileCaptionDelegate.h"
#include "ResizableFrame.h"
#include "ResizableLine.h"
#include "StartupValues.h"
#include "ThumbnailStorage.h"
#include "TileColours.h"
#include "UndoRedoManager.h"
#include "WorkerCount.h"
#include "Workspace.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTabBar>
#include <QThread>

#include <algorithm>

namespace {

constexpr int kPinCount = 4;
constexpr int kFrameTimerMs = 300;
constexpr int kOKeyTimerMs = 500;

struct Connection
{
    QObject* sender;
    const char* signal;
    const char* slot;
};

std::string localPath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

}  // namespace

VellumbraV2::VellumbraV2(QWidget* parent)
    : QMainWindow(parent), thumbnailStorage(new ThumbnailStorage(this)), oKeyTimer(new QTimer(this))
{
    initialise();
    if (!failedAtStartup)
        show();
}

VellumbraV2::VellumbraV2(QString resultFile, QString secondPath, QWidget* parent)
    : QMainWindow(parent), thumbnailStorage(new ThumbnailStorage(this)), oKeyTimer(new QTimer(this)),
      pluginMode(true)
{
    initialise();
    if (failedAtStartup)
        return;
    resultFilePath = std::move(resultFile);
    this->secondPath = std::move(secondPath);
    applyHandOffLayout();
    updateWindow();
    needResizeHistogramDock();
    show();
}

VellumbraV2::~VellumbraV2()
{
    if (updateRequest) {
        updateRequest->wait();
        delete updateRequest;
    }
    delete workspace;
    workspace = nullptr;
    for (QLabel*& pin : pins) {
        delete pin;
        pin = nullptr;
    }
    delete thumbnailStorage;
    thumbnailStorage = nullptr;
}

void VellumbraV2::initialise()
{
    ui.setupUi(this);
    setVisible(false);
    lastDirectory = QDir::homePath();
    statusBar()->addPermanentWidget(&statusLabel, 0);

    createPins();
    restoreWindowSettings();
    if (!thumbnailStorage->load()) {
        showCriticalBox(this, translate("Startup error"), translate("Can't create or load thumbnails file"));
        failedAtStartup = true;
        return;
    }
    QCoreApplication::processEvents();
    readUserParameters();
    setWorkspaceDefaults();
    setJpgQuality(settings.value(QStringLiteral("GeneralSettings/JPGQuality"), defaultJpgQuality()).toInt());
    setPngCompression(
        settings.value(QStringLiteral("GeneralSettings/PNGCompression"), defaultPngCompression()).toInt());
    ui.lcdNumber_AntighostingP2->display(ui.horizontalSlider_AntighostingP2->value());
    // The quality names arrive with the interface texts.
    for (int i = 0; i < 3; ++i)
        ui.comboBox_Quality->addItem(QString());
    ui.comboBox_Quality->setCurrentIndex(0);
    if (pluginMode)
        ui.frame_Home->hide();
    ui.listWidget_RecentFiles->hide();
    ui.listWidget_RecentFilesThumbnails->setItemDelegate(
        new RecentFileCaptionDelegate(ui.listWidget_RecentFilesThumbnails));
    ui.stackedWidget_ModeIcon->hide();
    for (const EditingSlider& row : editingSliders())
        (ui.*row.lcd)->display((ui.*row.slider)->value());
    setProcessDefaults();
    registerUndoControls();
    prepareFolders();
    horizonLine = new ResizableLine(ui.label_VideoPreview);
    cropFrame = new ResizableFrame(ui.label_VideoPreview);
    installEventFilters();
    connectWidgets();

    frameTimer.setSingleShot(true);
    frameTimer.setInterval(kFrameTimerMs);
    connect(&frameTimer, SIGNAL(timeout()), this, SLOT(TimerTimeoutShowFrameIndex()));
    previewUpdateTimer.setSingleShot(true);
    previewUpdateTimer.setInterval(0);
    connect(&previewUpdateTimer, &QTimer::timeout, this, &VellumbraV2::updateWindow);
    oKeyTimer->setSingleShot(true);
    oKeyTimer->setInterval(kOKeyTimerMs);
    connect(oKeyTimer, SIGNAL(timeout()), this, SLOT(TimerTimeoutReleaseOKey()));
    QCoreApplication::processEvents();

    sendFirstRunEvent();
    fitStackToCurrentPage(ui.stackedWidget_SelectingEditingOptions);
    fitStackToCurrentPage(ui.stackedWidget_TM);
    fitStackToCurrentPage(ui.stackedWidget_CentralWidgetBottom);
    ui.checkBox_FastPreview->hide();
    ui.stackedWidget_TM->setCurrentIndex(ui.comboBox_TM->currentIndex());
    ui.tabWidget_Presets->tabBar()->setCursor(Qt::PointingHandCursor);
    ui.tabWidget_Presets->setCurrentIndex(0);
    removeUnusedFormItems();
    loadChosenLanguage();
    if (!pluginMode)
        updateRecentFilesMenu();
    updateMode();
    updateWindow();
    needResizeHistogramDock();
}

void VellumbraV2::createPins()
{
    for (int i = 0; i < kPinCount; ++i) {
        QLabel* pin = new QLabel(ui.Panel_LectureTop2);
        pin->setMinimumSize(10, 20);
        pin->setMaximumSize(10, 20);
        pin->setPixmap(QPixmap::fromImage(tintedPin(i)));
        pin->setScaledContents(true);
        pin->hide();
        pin->move(10, 10);
        pin->setProperty(QStringLiteral("Pin%1").arg(i + 1).toLatin1().constData(), true);
        pins[i] = pin;
    }
}

void VellumbraV2::restoreWindowSettings()
{
    settings.beginGroup(QStringLiteral("MainWindow"));
    resize(settings.value(QStringLiteral("width"), width()).toInt(),
           settings.value(QStringLiteral("height"), height()).toInt());
    histogramShown = settings.value(QStringLiteral("histogramDockWidgetIsShown"), true).toBool();
    const QVariant dockPosition = settings.value(QStringLiteral("histogramDockWidgetPos"));
    histogramDockRestored = dockPosition.isValid();
    if (histogramDockRestored)
        ui.dockWidget_Histogram->move(dockPosition.toPoint());
    settings.endGroup();
}

void VellumbraV2::readUserParameters()
{
    settings.beginGroup(QStringLiteral("UserParameters"));
    if (settings.value(QStringLiteral("savingFilterIndexForHDRImage"), -1).toInt() == -1)
        settings.setValue(QStringLiteral("savingFilterIndexForHDRImage"), 1);
    if (settings.value(QStringLiteral("savingFilterIndexForTMImage"), -1).toInt() == -1)
        settings.setValue(QStringLiteral("savingFilterIndexForTMImage"), 0);
    ui.checkBox_FastPreview->setChecked(settings.value(QStringLiteral("fastPreviewChecked"), false).toBool());
    highlightOverExposed = settings.value(QStringLiteral("highlightOverExposed"), false).toBool();
    highlightUnderExposed = settings.value(QStringLiteral("highlightUnderExposed"), false).toBool();
    ui.actionHighlight_over_exposed_pixels->setChecked(highlightOverExposed);
    ui.actionHighlight_under_exposed_pixels->setChecked(highlightUnderExposed);
    settings.setValue(QStringLiteral("ShowUpdates"), true);
    settings.endGroup();

    overExposedLimit = settings.value(QStringLiteral("GeneralSettings/OverExposedLimit"), 98).toInt();
    underExposedLimit = settings.value(QStringLiteral("GeneralSettings/UnderExposedLimit"), 2).toInt();
}

void VellumbraV2::setProcessDefaults()
{
    engineDefaults = engineDefaultsFrom(ui);
    setToneMappingWorkerCount(std::max(1, QThread::idealThreadCount() - 1));
    presetDefaults = presetDefaultsFrom(ui);
}

void VellumbraV2::setWorkspaceDefaults()
{
    workspaceDefaults.autoAntighosting = ui.checkBox_AutoAntighostingP2->isChecked();
    workspaceDefaults.antighostingPower = ui.horizontalSlider_AntighostingP2->value();
    workspaceDefaults.align = ui.checkBox_Align->isChecked();
    workspaceDefaults.qualityIndex = 0;
    workspaceDefaults.framesBefore = ui.spinBox_ImageStackingBefore->value();
    workspaceDefaults.framesAfter = ui.spinBox_ImageStackingAfter->value();
}

void VellumbraV2::registerUndoControls()
{
    UndoRedoManager::addUndoControl(ui.actionUndo);
    UndoRedoManager::addRedoControl(ui.actionRedo);
}

void VellumbraV2::prepareFolders()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const QString application = QCoreApplication::applicationDirPath();
    QDir().mkpath(data);
    setLogDirectory(localPath(data + QStringLiteral("/")));
    setApplicationDirectory(localPath(application + QStringLiteral("/")));
    setDefaultPresetsDir(localPath(application + QStringLiteral("/Presets/")));
    QDir().mkpath(data + QStringLiteral("/Presets"));
    setUserPresetsDir(localPath(data + QStringLiteral("/Presets/")));
    QDir().mkpath(data + QStringLiteral("/Lang"));
    LanguageEngine::setApplicationFolder(localPath(application + QStringLiteral("/Lang/")));
    LanguageEngine::setUserFolder(localPath(data + QStringLiteral("/Lang/")));
}

void VellumbraV2::installEventFilters()
{
    std::vector<QObject*> watched = {ui.label_ForegroundMidPlayingBar, ui.label_CursorPlayingBar};
    watched.insert(watched.end(), std::begin(pins), std::end(pins));
    watched.insert(watched.end(), {ui.label_TrimStartPlayingBar, ui.label_TrimEndPlayingBar,
                                   ui.frame_CursorSelectorFlag, ui.label_CursorSelectorFlag, ui.label_VideoPreview,
                                   ui.frame_BeforeAfterLogo});
    for (const EditingSlider& row : editingSliders())
        watched.push_back(ui.*row.slider);
    watched.insert(watched.end(),
                   {ui.horizontalSlider_VideoSpeed, ui.horizontalSlider_VideoBrightness,
                    ui.horizontalSlider_VideoSpeed_Pro, ui.horizontalSlider_VideoBrightness_Pro,
                    ui.horizontalSlider_Rotation, ui.scrollAreaWidgetContents_BottomPresets,
                    ui.scrollArea_UserPresets_Contents, ui.label_Step1, ui.label_Step2, ui.label_Step3,
                    ui.label_Step4, ui.dockWidget_Histogram});
    ui.label_VideoPreview->setAttribute(Qt::WA_Hover);
    ui.frame_BeforeAfterLogo->setAttribute(Qt::WA_Hover);
    for (QObject* object : watched)
        object->installEventFilter(this);
}

void VellumbraV2::connectWidgets()
{
    const Connection connections[] = {
        {ui.actionOpen, SIGNAL(triggered()), SLOT(MenuActionOpenClicked())},
        {ui.actionOpen_photo_with_burst_mode, SIGNAL(triggered()), SLOT(MenuActionOpenPhotosClicked())},
        {ui.actionOpen_photo_for_tone_mapping, SIGNAL(triggered()), SLOT(MenuActionOpenPhotoToTMClicked())},
        {ui.actionClose, SIGNAL(triggered()), SLOT(MenuActionCloseClicked())},
        {ui.actionUndo, SIGNAL(triggered()), SLOT(MenuActionUndoClicked())},
        {ui.actionRedo, SIGNAL(triggered()), SLOT(MenuActionRedoClicked())},
        {ui.actionSettingsMenu, SIGNAL(triggered()), SLOT(showGeneralSettings())},
        {ui.actionHide_Show_histogram_panel, SIGNAL(triggered()), SLOT(MenuActionShowHistogramClicked())},
        {ui.actionHighlight_over_exposed_pixels, SIGNAL(triggered()), SLOT(MenuActionHighlightOverExposedClicked())},
        {ui.actionHighlight_under_exposed_pixels, SIGNAL(triggered()),
         SLOT(MenuActionHighlightUnderExposedClicked())},
        {ui.actionPlay_Pause, SIGNAL(triggered()), SLOT(playPauseVideo())},
        {ui.pushButton_PlayPause, SIGNAL(clicked()), SLOT(playPauseVideo())},
        {ui.actionPrevious_frame, SIGNAL(triggered()), SLOT(showPreviousFrame())},
        {ui.pushButton_Previous, SIGNAL(clicked()), SLOT(showPreviousFrame())},
        {ui.actionNext_frame, SIGNAL(triggered()), SLOT(showNextFrame())},
        {ui.pushButton_Next, SIGNAL(clicked()), SLOT(showNextFrame())},
        {ui.actionSave_the_current_image, SIGNAL(triggered()), SLOT(saveCurrentFrame())},
        {ui.pushButton_saveSelectedImage, SIGNAL(clicked()), SLOT(saveCurrentFrame())},
        {ui.actionFAQ, SIGNAL(triggered()), SLOT(openFAQWebPage())},
        {ui.actionTutorial, SIGNAL(triggered()), SLOT(openTutoWebPage())},
        {ui.actionAbout, SIGNAL(triggered()), SLOT(about())},
        {ui.actionShow_log, SIGNAL(triggered()), SLOT(showLog())},
        {ui.actionGuide, SIGNAL(triggered()), SLOT(showGuide())},
        {ui.actionCheck_updates, SIGNAL(triggered()), SLOT(checkUpdates())},
        {ui.pushButton_ComputingCancel, SIGNAL(clicked()), SLOT(PushButtonComputingCancelClicked())},
        {ui.listWidget_RecentFilesThumbnails, SIGNAL(itemClicked(QListWidgetItem*)),
         SLOT(ListItemRecentFilesThumbnailsClicked(QListWidgetItem*))},
        {ui.pushButton_OpenVideo, SIGNAL(clicked()), SLOT(MenuActionOpenClicked())},
        {ui.pushButton_FindSharpestImage, SIGNAL(clicked()), SLOT(PushButtonFindSharpestImageClicked())},
        {ui.pushButton_SelectImageNext, SIGNAL(clicked()), SLOT(PushButtonSelectImageNextClicked())},
        {ui.pushButton_ToBegin, SIGNAL(clicked()), SLOT(showBeginFrame())},
        {ui.pushButton_ToEnd, SIGNAL(clicked()), SLOT(showEndFrame())},
        {ui.pushButton_GrabFrame, SIGNAL(clicked()), SLOT(grabCurrentFrame())},
        {ui.stackedWidget_SelectingEditingOptions, SIGNAL(currentChanged(int)),
         SLOT(stackedWidgetSelectEditingOptionsPageChanged(int))},
        {ui.horizontalSlider_VideoBrightness, SIGNAL(valueChanged(int)),
         SLOT(horizontalSlider_VideoBrightnessMoved(int))},
        {ui.horizontalSlider_VideoSpeed, SIGNAL(valueChanged(int)), SLOT(horizontalSlider_VideoSpeedMoved(int))},
        {ui.horizontalSlider_VideoBrightness_Pro, SIGNAL(valueChanged(int)),
         SLOT(horizontalSlider_VideoBrightness_ProMoved(int))},
        {ui.horizontalSlider_VideoSpeed_Pro, SIGNAL(valueChanged(int)),
         SLOT(horizontalSlider_VideoSpeed_ProMoved(int))},
        {ui.checkBox_AutoAntighostingP2, SIGNAL(toggled(bool)), SLOT(checkBox_AutoAP2Toggled(bool))},
        {ui.horizontalSlider_AntighostingP2, SIGNAL(valueChanged(int)), SLOT(horizontalSlider_AP2Moved(int))},
        {ui.checkBox_Align, SIGNAL(toggled(bool)), SLOT(checkBox_AlignToggled(bool))},
        {ui.comboBox_Quality, SIGNAL(currentIndexChanged(int)), SLOT(comboBox_QualityChanged(int))},
        {ui.spinBox_ImageStackingBefore, SIGNAL(valueChanged(int)), SLOT(spinBox_NbImagesBeforeChanged(int))},
        {ui.spinBox_ImageStackingAfter, SIGNAL(valueChanged(int)), SLOT(spinBox_NbImagesAfterChanged(int))},
        {ui.pushButton_ImageStacking_Before, SIGNAL(clicked()), SLOT(PushButtonImageStacking_BeforeClicked())},
        {ui.pushButton_ImageStacking_After, SIGNAL(clicked()), SLOT(PushButtonImageStacking_AfterClicked())},
        {ui.pushButton_DefineParamsNext, SIGNAL(clicked()), SLOT(PushButtonDefineParamsNextClicked())},
        {ui.radioButton_LongExposure, SIGNAL(clicked()), SLOT(updateAP1ModeValue())},
        {ui.radioButton_MediumAntighosting, SIGNAL(clicked()), SLOT(updateAP1ModeValue())},
        {ui.radioButton_HighAntighosting, SIGNAL(clicked()), SLOT(updateAP1ModeValue())},
        {ui.horizontalSlider_Rotation, SIGNAL(valueChanged(int)), SLOT(horizontalSlider_RotationMoved(int))},
        {ui.horizontalSlider_Rotation_2, SIGNAL(valueChanged(int)), SLOT(horizontalSlider_Rotation_2Moved(int))},
        {ui.groupBox_TMOptions, SIGNAL(toggled(bool)), SLOT(checkBox_ApplyTMOptionsToggled(bool))},
        {ui.comboBox_TM, SIGNAL(currentIndexChanged(int)), SLOT(comboBox_TMChanged(int))},
        {ui.groupBox_Sharpening, SIGNAL(toggled(bool)), SLOT(checkBox_ApplySharpeningToggled(bool))},
        {ui.pushButton_UserPresetsNew, SIGNAL(clicked()), SLOT(newUserPreset())},
        {ui.pushButton_UserPresetsModify, SIGNAL(clicked()), SLOT(modifyUserPreset())},
        {ui.pushButton_UserPresetsRemove, SIGNAL(clicked()), SLOT(removeUserPreset())},
        {ui.pushButton_ProEditingExport, SIGNAL(clicked()), SLOT(PushButtonProEditingExportClicked())},
        {ui.pushButton_Horizon, SIGNAL(clicked()), SLOT(PushButtonHorizonToolClicked())},
        {ui.pushButton_Horizon_2, SIGNAL(clicked()), SLOT(PushButtonHorizonToolClicked())},
        {ui.pushButton_Crop, SIGNAL(clicked()), SLOT(PushButtonCropToolClicked())},
        {ui.pushButton_Crop_2, SIGNAL(clicked()), SLOT(PushButtonCropToolClicked())},
        {ui.pushButton_ApplyTool, SIGNAL(clicked()), SLOT(PushButtonApplyToolsClicked())},
        {ui.pushButton_CancelTool, SIGNAL(clicked()), SLOT(PushButtonCancelToolsClicked())},
        {ui.stackedWidget_TM, SIGNAL(currentChanged(int)), SLOT(stackedWidgetTMPageChanged(int))},
        {ui.stackedWidget_CentralWidgetBottom, SIGNAL(currentChanged(int)),
         SLOT(stackedWidgetCentralBottomPageChanged(int))},
    };
    for (const Connection& c : connections)
        connect(c.sender, c.signal, this, c.slot);
    connect(ui.horizontalSlider_Rotation_2, SIGNAL(valueChanged(int)), ui.lcdNumber_Rotation_2, SLOT(display(int)));
    for (const EditingSlider& row : editingSliders()) {
        connect(ui.*row.slider, SIGNAL(valueChanged(int)), this, row.slot);
        connect(ui.*row.slider, &QAbstractSlider::sliderReleased, this, &VellumbraV2::editingSliderReleased);
    }

    ui.label_VideoPreview->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui.label_VideoPreview, SIGNAL(customContextMenuRequested(QPoint)), this,
            SLOT(customMenuRequested(QPoint)));
}

void VellumbraV2::sendFirstRunEvent()
{
    const QString key = QStringLiteral("UserParameters/isFirstRunVersion");
    if (!settings.value(key, true).toBool())
        return;
    const QString action = QStringLiteral("NewInstalWinSt");
    sendAnalyticsEvent(QStringLiteral("NewInstal"), action, action + QStringLiteral("_v") + AppIdentity::kVersion,
                       QStringLiteral("1"));
    settings.setValue(key, false);
}

void VellumbraV2::removeUnusedFormItems()
{
    ui.frame_LoadingIcone->hide();
    ui.frame_TM4_Gamma->hide();
    ui.frame_TM3_Gamma->hide();
    ui.frame_TMSharpeningThreshold->hide();
    ui.frame_SelectedImageTop->hide();
    ui.label_zoomIn->hide();
    ui.label_zoomOut->hide();
    ui.checkBox_UseThisMode->hide();
    ui.comboBox_WhatAfterExport->removeItem(3);
    ui.menuPanels->removeAction(ui.actionShow_tone_curve);
    ui.menuPanels->removeAction(ui.actionShow_EXIF);
    ui.menuHelp->removeAction(ui.actionQuick_guide);
    ui.menuHelp->removeAction(ui.actionShow_log);
    ui.checkBox_AutoAntighostingP2->hide();
}

void VellumbraV2::applyHandOffLayout()
{
    ui.frame_TopMenu3->hide();
    ui.frame_TopMenu4->hide();
    for (QAction* action : {ui.actionOpen, ui.actionOpen_photo_for_tone_mapping, ui.actionOpen_photo_with_burst_mode,
                            ui.actionClose})
        ui.menuFile->removeAction(action);
    ui.menuRecent_videos->menuAction()->setVisible(false);
}

void VellumbraV2::stackedWidgetCentralBottomPageChanged(int)
{
    fitStackToCurrentPage(ui.stackedWidget_CentralWidgetBottom);
}

void VellumbraV2::stackedWidgetSelectEditingOptionsPageChanged(int)
{
    fitStackToCurrentPage(ui.stackedWidget_SelectingEditingOptions);
}

void VellumbraV2::stackedWidgetTMPageChanged(int)
{
    fitStackToCurrentPage(ui.stackedWidget_TM);
}

void VellumbraV2::fitStackToCurrentPage(QStackedWidget* stack)
{
    for (int i = 0; i < stack->count(); ++i) {
        const QSizePolicy::Policy policy = i == stack->currentIndex() ? QSizePolicy::Maximum : QSizePolicy::Ignored;
        stack->widget(i)->setSizePolicy(policy, policy);
    }
}
