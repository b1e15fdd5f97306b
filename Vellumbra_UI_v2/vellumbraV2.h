#pragma once
#include "EditingSliderTable.h"
#include "FileExtensions.h"
#include "SharpnessCandidates.h"
#include "UpdateCheck.h"
#include "WorkflowStateTable.h"
#include "WorkspaceKeeper.h"
#include "ui_vellumbraV2.h"

#include <QIcon>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QTranslator>

#include <opencv2/core.hpp>

#include <string>
#include <vector>

class ImagesSequence;
class PresetImage;
class QHoverEvent;
class QLayout;
class QListWidgetItem;
class QMouseEvent;
class QSlider;
class QStackedWidget;
class QThread;
class QWheelEvent;
class RenderPipeline;
class ResizableFrame;
class ResizableLine;
class SharpestImageSelection;
class StackingComputingWorkerThread;
class ThumbnailStorage;
class Workspace;
struct Preset;
struct PresetSettings;
struct StartRequest;

// The application's one main window: the form, the settings, the open workspace and
// every slot behind the form's widgets. Its slots live in one source file per
// workflow concern.
class VellumbraV2 : public QMainWindow
{
    Q_OBJECT

public:
    explicit VellumbraV2(QWidget* parent = nullptr);
    // The plug-in hand-off window: saved results are reported into resultFile.
    VellumbraV2(QString resultFile, QString secondPath, QWidget* parent = nullptr);
    ~VellumbraV2() override;

    // True when start-up could not prepare the window (the user was told why); the
    // window is then never shown and the program should end with exit code 1.
    bool startupFailed() const { return failedAtStartup; }

    // Opening media. Each is true when media were opened or the user kept the open
    // workspace, false when nothing was opened; report shows the error messages.
    bool openFile(const QString& path);
    bool openFilesFromCommandLine(const QStringList& paths);
    // What the command line asks to open; a start that can open nothing says why.
    void openStartRequest(const StartRequest& request);
    bool openVideo(const QString& path, bool report);
    bool openPhoto(const QString& path, bool report);
    bool openPhotoBurst(const QStringList& paths, bool report);

    bool eventFilter(QObject* object, QEvent* event) override;

    // Each page but the current one is ignored by the layout, so the stack takes
    // the size of the page it shows.
    static void fitStackToCurrentPage(QStackedWidget* stack);
    // Deletes every widget and nested layout the layout holds.
    static void clearLayout(QLayout* layout);

    // The open media, or null.
    Workspace* currentWorkspace() const { return workspaceIndex == -1 ? nullptr : workspace; }
    // Makes newly opened media the window's and shows it; the caller closed the previous one.
    void adoptWorkspace(Workspace* opened);
    // A press on step 1 to 4 of the step bar.
    void changeStep(int step);
    // Ties the frames before and after the chosen frame to the playback range:
    // apply writes the range from the spin boxes, else the spin boxes follow the range.
    void updateStackingRange(bool apply);

    // Marks the preset tiles whose presets equal what the panel shows.
    void highlightMatchingPresets();
    // The preset rows of a new editing step: one live tile per preset.
    void buildDefaultPresetTiles(std::vector<Preset*> presets);
    void buildUserPresetTiles(std::vector<Preset*> presets);
    // Both rows, from the preset files read once.
    void buildPresetRows();
    // Editing: sets the panel's widgets to a parameter record without recording or
    // rendering each change; the tone mapping is then recomputed when asked. The
    // undo history is emptied.
    void applyEditingParameters(const PresetSettings& record, bool recompute);
    // Crops the selected images (full-size pixels of the rotated picture); also
    // the setter of crop undo records.
    void setCropRect(const cv::Rect& rect);
    // Renders the selected image again from the start stage on the tone-mapping
    // worker, the panels locked and the loading icon shown until it is done.
    void recomputeToneMapping(int startStage);

signals:
    // Emitted at the end of every update check, whatever its outcome.
    void updateCheckFinished();

public slots:
    // Opening media and recent files.
    void MenuActionOpenClicked();
    void MenuActionOpenPhotosClicked();
    void MenuActionOpenPhotoToTMClicked();
    void ListItemRecentFilesThumbnailsClicked(QListWidgetItem* item);
    void MenuActionRecentClicked();
    void playPauseVideo();

    // Workflow states.
    bool MenuActionCloseClicked();
    void PushButtonSelectImageNextClicked();

    // Undo and redo.
    void MenuActionUndoClicked();
    void MenuActionRedoClicked();

    // Frame display and timeline.
    void showPreviousFrame();
    void showNextFrame();
    void showBeginFrame();
    void showEndFrame();
    void grabCurrentFrame();
    void horizontalSlider_VideoBrightnessMoved(int value);
    void horizontalSlider_VideoSpeedMoved(int value);
    void horizontalSlider_VideoBrightness_ProMoved(int value);
    void horizontalSlider_VideoSpeed_ProMoved(int value);
    void spinBox_NbImagesBeforeChanged(int value);
    void spinBox_NbImagesAfterChanged(int value);
    void PushButtonImageStacking_BeforeClicked();
    void PushButtonImageStacking_AfterClicked();
    void TimerTimeoutShowFrameIndex();
    void showFrameIndex(int index);
    void CursorDClicked(int frame);
    void moveProSharpestPin(QWidget* pin, int frameIndex);
    void removeSharpestImageSelection(SharpestImageSelection* tile);

    // Sharpest-frame search.
    void PushButtonFindSharpestImageClicked();

    // Stacking run.
    void PushButtonDefineParamsNextClicked();
    // The progress page's cancel button; a stacking run asks whether to keep what is done.
    void PushButtonComputingCancelClicked();
    // ask false cancels a stacking run without the question (the close path).
    void PushButtonComputingCancelClicked(bool ask);
    void HDRprocessCanceled();
    void HDRprocessWellFinished(int count);

    // Editing parameters and tools.
    void MenuActionHighlightOverExposedClicked();
    void MenuActionHighlightUnderExposedClicked();
    void checkBox_AutoAP2Toggled(bool on);
    void horizontalSlider_AP2Moved(int value);
    void checkBox_AlignToggled(bool on);
    void comboBox_QualityChanged(int index);
    void updateAP1ModeValue();
    void horizontalSlider_RotationMoved(int value);
    void horizontalSlider_Rotation_2Moved(int value);
    void horizontalSlider_TM1AlphaMoved(int value);
    void horizontalSlider_TM1BetaMoved(int value);
    void horizontalSlider_TM2AlphaMoved(int value);
    void horizontalSlider_TM4AlphaMoved(int value);
    void horizontalSlider_TM4BetaMoved(int value);
    void horizontalSlider_TM4GammaMoved(int value);
    void horizontalSlider_TM3AlphaMoved(int value);
    void horizontalSlider_TM3BetaMoved(int value);
    void horizontalSlider_TM3GammaMoved(int value);
    void horizontalSlider_TMStrengthMoved(int value);
    void horizontalSlider_TMExpositionMoved(int value);
    void horizontalSlider_TMContrastMoved(int value);
    void horizontalSlider_TMHighlightsMoved(int value);
    void horizontalSlider_TMShadowsMoved(int value);
    void horizontalSlider_TMWhitesMoved(int value);
    void horizontalSlider_TMBlacksMoved(int value);
    void horizontalSlider_TMHueMoved(int value);
    void horizontalSlider_TMSaturationMoved(int value);
    void horizontalSlider_TMVibranceMoved(int value);
    void horizontalSlider_TMBlackClipMoved(int value);
    void horizontalSlider_TMWhiteClipMoved(int value);
    void horizontalSlider_TMSharpeningAmountMoved(int value);
    void horizontalSlider_TMSharpeningRadiusMoved(int value);
    void horizontalSlider_TMSharpeningThresholdMoved(int value);
    void checkBox_ApplyTMOptionsToggled(bool on);
    void comboBox_TMChanged(int index);
    void checkBox_ApplySharpeningToggled(bool on);
    void PushButtonHorizonToolClicked();
    void PushButtonCropToolClicked();
    void PushButtonApplyToolsClicked();
    void PushButtonCancelToolsClicked();
    void onClickSelectImage(SharpestImageSelection* tile);
    void onClickPresetImage(PresetImage* tile);
    // Loading icon at a percentage; 100 and more hides it.
    void setLoadingIconeAt(int percent);

    // Presets.
    void newUserPreset();
    void modifyUserPreset();
    void removeUserPreset();

    // Export and saving.
    bool PushButtonProEditingExportClicked();
    // Exports the tile, or every result when tile is null; false when it was
    // abandoned or cancelled, or when a file could not be written.
    bool PushButtonEditingExportClicked(SharpestImageSelection* tile);
    void saveCurrentFrame();
    // Saves the light image of the stacking run that just ended; the written
    // file's path, empty when nothing was written.
    virtual QString saveHDRimage();

    // Window events.
    void MenuActionShowHistogramClicked();
    void closeHistogramDock();
    void customMenuRequested(QPoint position);
    void TimerTimeoutReleaseOKey();

    // Help, about and updates.
    void about();
    void checkUpdates();
    void openFAQWebPage();
    void openTutoWebPage();
    void showGuide();
    void showLog();
    void showGeneralSettings();

    // Page changes: each stack takes the size of the page it shows.
    void stackedWidgetCentralBottomPageChanged(int index);
    void stackedWidgetSelectEditingOptionsPageChanged(int index);
    void stackedWidgetTMPageChanged(int index);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void initialise();
    void createPins();
    void restoreWindowSettings();
    void readUserParameters();
    void setProcessDefaults();
    void prepareFolders();
    void installEventFilters();
    void connectWidgets();
    void removeUnusedFormItems();
    void sendFirstRunEvent();
    void applyHandOffLayout();

    void setWorkspaceDefaults();
    void registerUndoControls();

    // Workflow states and window events.
    void updateMode();
    void updateWindow();
    void closeWorkspace();
    void leaveTool();
    void needResize();
    // Playback: a playing video is stopped.
    void stopPlayback();
    // Shows the workspace's current image again, when one is open.
    void showCurrentImageAgain();
    void needResizeHistogramDock();
    // Shows the histogram, placed first when it shows for the first time: clear of the
    // menus, the panels and the picture where the screen leaves room.
    void showHistogramDock();
    void placeHistogramDock();
    // The histogram lies over the menu bar or a side panel.
    bool histogramCoversControls() const;
    // Opening media.
    void updateRecentFilesMenu();
    void openRecentFile(const QString& path);
    // The window's part of opening a video or a photo: the media and the recent files.
    void takeOpenedMedia(Workspace* opened, const QString& path);
    // Copies the stacking choices of the form into the new video's workspace.
    void adoptStackingChoices(Workspace* opened);
    // The media's name in the window title, its size (and a video's rate) in the status bar.
    void showMediaIdentity(const Workspace& opened);
    void setPlayButtonPlaying(bool playing);

    // Frame display and timeline.
    // Puts the image on the central picture (fitted to the view, exposure marks,
    // histogram); false with a message when it cannot be shown.
    bool showImage(const cv::Mat& image);
    // Names the burst's current photo, which cannot be read, in the picture's place;
    // false when the media is no burst.
    bool showUnreadablePhoto();
    // The frame labels and the timeline for the frame, -1 for the current one.
    void showFrameNumber(int frame);
    // A workspace over an opened frame source, else null.
    ImagesSequence* usableFrameSource() const;
    bool canNavigate() const;
    void refreshHistogram(const cv::Mat& shown);
    void layoutTimeline();
    void placeTimelineCursor(int frame);
    void placeTrimMarkers();
    // A frames-before or frames-after count changed: recorded, kept, and played.
    void stackingCountChanged(QSpinBox* box, int Workspace::*count, int value);
    void placeChosenFrameFlag();
    void refreshTimeline();
    void changeVideoBrightness(QSlider* slider, int value);
    void changeVideoSpeed(QSlider* slider, int value);

    // Window events.
    // Shows the unedited stage of the selected image (hover on the logo, O key).
    void showUneditedImage();
    void setBeforeAfterHover(bool on);
    bool wheelOnPresetStrip(QObject* object, QWheelEvent* event);
    bool pressOnWatched(QObject* object, QMouseEvent* event);
    bool doubleClickOnWatched(QObject* object, QMouseEvent* event);
    void showHoverReadout(QHoverEvent* event);

    // Stacking run.
    void runStackingWorker(StackingComputingWorkerThread* worker, int count);
    // The stop question of a running stacking: 0 keep, 1 back to the parameters, 2 go on.
    int askStopComputing();
    void handOffResult(Workspace* open);
    // After a run that made nothing: why, and for a burst's unreadable chosen photo,
    // a run around the nearest readable one.
    void reportNothingStacked(Workspace* open);
    void openResultForEditing(Workspace* open, const cv::Mat& result);

    // Sharpest-frame search: the displayed frame's tile and one per sharper frame.
    void listSharperFrames(ImagesSequence* frames, const SharpnessCandidates& candidates);

    // A tile of the preset at the end of the row; the workspace's list gets it.
    PresetImage* addPresetTile(Preset* preset, QWidget* row, std::vector<PresetImage*>& tiles);

    // Export.
    QString& buildResultName(QString& out, bool full);
    // The folder and format of a several-tile export; false when backed out of.
    bool chooseExportFolder(int storedFormat, QString& extension, int& depth);
    // The file of a one-tile export; the tile takes the file's name. False when backed out of.
    bool chooseExportFile(SharpestImageSelection& tile, int storedFormat, QString& extension, int& depth);
    // Renders and writes each tile; false when cancelled, closed or a write failed.
    bool exportTiles(const std::vector<SharpestImageSelection*>& tiles, const QString& extension, int depth);
    void finishExport(bool succeeded);
    // The format's only depth, or the one the user picks; -1 when cancelled.
    int askDepth(int format);
    // A save dialog over every export format; the chosen name, empty when cancelled.
    QString askSaveName(const QString& startPath, const QString& selectedFilter);
    // The same for one file written at once: an existing file is replaced only when
    // the user says so, else the name becomes a free one beside it.
    QString askUnusedSaveName(const QString& startPath, const QString& selectedFilter);
    // The plug-in imports path when the user agrees.
    void offerToPlugin(const QString& path);
    // Appends path's line to the hand-off file; false when it could not, once the
    // failure is logged and shown.
    bool handOff(const QString& path);

    // Editing.
    // Every editing slider's move, by its row of the slider table.
    void editingSliderMoved(QSlider* Ui_VellumbraClass::*slider, int value);
    // The end of a drag of an editing slider: the full preview follows the quick ones.
    void editingSliderReleased();
    void rotationMoved(QSlider* slider, int degrees);
    // The crop (1) or horizon (2) tool over the picture.
    void enterTool(EditingTool tool);
    // Locks the panels that reach the pipeline a recompute renders, and undo and redo.
    void lockPanelsForRecompute(bool locked);
    // The pipeline of the selected image of the open media, or null.
    RenderPipeline* shownPipeline() const;

    // Interface texts.
    void loadChosenLanguage();
    void applyInterfaceTexts();

    // Update check: the answer arrives on the interface thread.
    void finishUpdateCheck(const QByteArray& body);
    void announceNewVersion(const ServerVersion& version);
    void openWebPage(const QString& englishPath, const QString& frenchPath);

    Ui_VellumbraClass ui;
    QIcon messageIcon;
    QLabel statusLabel;
    QSettings settings;
    ThumbnailStorage* thumbnailStorage = nullptr;
    Workspace* workspace = nullptr;
    int workspaceIndex = -1;
    // Closed workspaces still read by a running loop.
    WorkspaceKeeper workspaceKeeper;
    QString lastDirectory;
    ResizableLine* horizonLine = nullptr;
    ResizableFrame* cropFrame = nullptr;
    cv::Size viewSize{0, 0};
    // What showImage last put on screen and where: a resize that changes none of
    // it shows nothing again. The held pixels cannot be reused for another image.
    struct ShownPicture {
        cv::Mat source;
        cv::Size view;
        QSize frame;
        int state = -1;
        bool histogram = false;
    };
    ShownPicture lastShown;
    bool showsAlready(const cv::Mat& image) const;
    bool videoPaused = true;
    // A playback loop runs; a second press only resumes it.
    bool playbackLoopRunning = false;
    int markerDragKind = 0;
    bool markerDragging = false;
    bool searchCancelRequested = false;
    bool applyingParameters = false;
    // Tone-mapping recomputes under way; undo and redo wait until none runs.
    int toneMappingRecomputes = 0;
    bool highlightOverExposed = false;
    bool highlightUnderExposed = false;
    int overExposedLimit = 98;
    int underExposedLimit = 2;
    bool histogramShown = true;
    bool updateCheckDone = false;
    bool firstShowDone = false;
    // False until the histogram has shown; its position then is the user's.
    bool histogramDockPlaced = false;
    // The histogram's position comes from an earlier start.
    bool histogramDockRestored = false;
    int targetFrame = 0;
    QTimer frameTimer;
    // Preset previews finishing together update the window once.
    QTimer previewUpdateTimer;
    QTimer* oKeyTimer = nullptr;
    bool pluginMode = false;
    QString resultFilePath;
    QString secondPath;
    QLabel* pins[4] = {};
    // Frames of the placed pins (0 for a free pin) and how many are placed.
    int pinFrames[4] = {};
    int placedPins = 0;

    // Texts rebuilt with every text pass.
    QString qualityNames[3];
    std::string exportFormatNames[exportExtensionCount];
    QString photoFileFilter;
    QString videoFileFilter;
    QString exportFileFilter;

    // The toolkit's own texts (file dialogs, standard buttons) in the interface language.
    QTranslator toolkitTranslator;
    QPointer<QThread> updateRequest;
    bool failedAtStartup = false;
};
