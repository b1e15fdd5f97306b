#include "vellumbraV2.h"

#include "CommandLine.h"
#include "ImagesSequence.h"
#include "LanguageEngine.h"
#include "Log.h"
#include "MediaFiles.h"
#include "MessageBoxes.h"
#include "PresetStore.h"
#include "SharpestImageSelection.h"
#include "SourceKind.h"
#include "ThumbnailStorage.h"
#include "Workspace.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace {

// The wait cursor of an opener, taken down on every way out and before any message.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { restore(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

    void restore()
    {
        if (shown)
            QApplication::restoreOverrideCursor();
        shown = false;
    }

private:
    bool shown = true;
};

// Photos that could not be read: the workspace goes and, when asked, the user is told
// which file it was.
bool keepReadImages(Workspace* opened, const QString& unreadFile, WaitCursor& waiting, QWidget* parent, bool report)
{
    if (opened->valid)
        return true;
    waiting.restore();
    delete opened;
    if (report)
        showCriticalBox(parent, translate("ErrorOpenOneImage"),
                        translate("ExplErrorOpenOneImage") + QLatin1Char('\n') + unreadFile);
    return false;
}

QString folderOf(const QString& path)
{
    return QFileInfo(path).absolutePath();
}

QString recentKey(QString path)
{
    return path.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

const char* const kTitlePrefix = "Vellumbra  -  ";

// Tells why a path cannot be opened whatever its suffix; false when it names a file.
// A folder is not media: it takes the title the road gives to files that are not.
bool reportPathTrouble(QWidget* parent, const QString& path, const char* notMediaTitleKey)
{
    const PathTrouble trouble = pathTroubleOf(path);
    if (trouble == PathTrouble::None)
        return false;
    const bool notMedia = trouble == PathTrouble::Folder || trouble == PathTrouble::NotRegularFile;
    const char* title = notMedia ? notMediaTitleKey : "ErrOpenMedia";
    showCriticalBox(parent, translate(title), translate(pathTroubleTextKey(trouble)).replace("%1", path));
    return true;
}

// A file the road cannot take by its suffix: named by its suffix, or as having none.
QString unknownSuffixText(const QString& path, const char* textKey)
{
    const QString suffix = lowerSuffix(path);
    if (suffix.isEmpty())
        return translate("ExplNoExtension").replace("%1", path);
    return translate(textKey).replace("%1", suffix);
}

}  // namespace

void VellumbraV2::MenuActionOpenClicked()
{
    const QString path =
        QFileDialog::getOpenFileName(this, translate("OpenAVideo"), lastDirectory, videoFileFilter);
    if (!path.isEmpty())
        openFile(path);
}

void VellumbraV2::MenuActionOpenPhotoToTMClicked()
{
    const QString path = QFileDialog::getOpenFileName(this, translate("OpenImage"), lastDirectory, photoFileFilter);
    if (!path.isEmpty())
        openFile(path);
}

void VellumbraV2::MenuActionOpenPhotosClicked()
{
    QFileDialog dialog(this, QString(), lastDirectory, photoFileFilter);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setWindowIcon(messageIcon);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QStringList paths = dialog.selectedFiles();
    if (!paths.isEmpty())
        openPhotoBurst(paths, true);
}

bool VellumbraV2::openFile(const QString& path)
{
    if (currentWorkspace() && !MenuActionCloseClicked())
        return true;
    if (reportPathTrouble(this, path, "ErrorFile"))
        return false;
    lastDirectory = folderOf(path);
    switch (mediaKindOf(path)) {
    case MediaKind::Photo:
        return openPhoto(path, true);
    case MediaKind::Video:
        return openVideo(path, true);
    case MediaKind::Other:
        break;
    }
    if (openVideo(path, false) || openPhoto(path, false))
        return true;
    showCriticalBox(this, translate("ErrorFile"), unknownSuffixText(path, "ExplErrorFile"));
    return false;
}

bool VellumbraV2::openVideo(const QString& path, bool report)
{
    WaitCursor waiting;
    auto* opened = new Workspace(path, true);
    if (!opened->valid) {
        waiting.restore();
        delete opened;
        if (report) {
            const bool knownSuffix = mediaKindOf(path) == MediaKind::Video;
            const QString text = knownSuffix
                                     ? translate("ExplanationErrorVideo").replace("%1", path)
                                     : translate("ExplanationErrorExtensionVideo").replace("%1", lowerSuffix(path));
            showCriticalBox(this, translate("ErrorVideo"), text);
        }
        return false;
    }
    takeOpenedMedia(opened, path);
    showFrameNumber(-1);
    updateWindow();
    adoptStackingChoices(opened);
    showMediaIdentity(*opened);
    updateMode();
    return true;
}

bool VellumbraV2::openPhoto(const QString& path, bool report)
{
    if (currentWorkspace() && !MenuActionCloseClicked())
        return true;
    WaitCursor waiting;
    if (mediaKindOf(path) != MediaKind::Photo) {
        waiting.restore();
        if (report)
            showCriticalBox(this, translate("ErrorOpenOneImage"),
                            translate("ExplanationErrorVideo").replace("%1", lowerSuffix(path)));
        return false;
    }
    auto* opened = new Workspace(path, false);
    if (!keepReadImages(opened, path, waiting, this, report))
        return false;
    takeOpenedMedia(opened, path);
    updateWindow();
    showMediaIdentity(*opened);
    updateMode();

    // A float photo from an HDR file is scene-referred unless it carries the kind it was saved with.
    SharpestImageSelection* tile =
        opened->addImageTile(opened->image, ui.scrollAreaWidgetContents_ProEditingSelection,
                             sourceKindOfFile(path.toLocal8Bit().toStdString(), opened->image.depth()));
    // A photo's default result name is its own base name.
    tile->enterEditionMode(opened->savedResultName.isEmpty() ? opened->resultBaseName() : opened->savedResultName);
    buildPresetRows();
    // The preset tiles may run the event loop: the media may be gone already.
    if (currentWorkspace() == opened)
        onClickSelectImage(opened->tiles.front());
    return true;
}

bool VellumbraV2::openPhotoBurst(const QStringList& paths, bool report)
{
    if (currentWorkspace() && !MenuActionCloseClicked())
        return true;
    if (paths.isEmpty())
        return false;
    lastDirectory = folderOf(paths.first());
    WaitCursor waiting;
    for (const QString& path : paths) {
        if (pathTroubleOf(path) != PathTrouble::None) {
            waiting.restore();
            reportPathTrouble(this, path, "ErrorImage");
            return false;
        }
        if (mediaKindOf(path) != MediaKind::Photo) {
            waiting.restore();
            showCriticalBox(this, translate("ErrorImage"), unknownSuffixText(path, "ExplanationErrorImage"));
            return false;
        }
    }
    if (paths.size() == 1) {
        waiting.restore();
        showInformationBox(this, translate("SelectionBurstImages"), translate("ExplanationSelectionBurstImages"));
        return openFile(paths.first());
    }
    auto* opened = new Workspace(paths);
    // A burst opens from its first photo in case-sensitive order.
    if (!keepReadImages(opened, *std::min_element(paths.begin(), paths.end()), waiting, this, report))
        return false;
    workspace = opened;
    workspaceIndex = 0;
    updateWindow();
    showFrameNumber(-1);
    showMediaIdentity(*opened);
    updateMode();
    return true;
}

bool VellumbraV2::openFilesFromCommandLine(const QStringList& paths)
{
    if (currentWorkspace() && !MenuActionCloseClicked())
        return true;
    if (paths.isEmpty())
        return false;
    lastDirectory = folderOf(paths.first());
    return openPhotoBurst(paths, true);
}

void VellumbraV2::openStartRequest(const StartRequest& request)
{
    if (!request.problem.isEmpty())
        logError("VellumbraV2::openStartRequest", "Command line: " + request.problem.toStdString());
    if (request.problemKey)
        showCriticalBox(this, translate("CommandLineTitle"), translate(request.problemKey));
    else if (request.asBurst && !request.files.isEmpty())
        openFilesFromCommandLine(request.files);
    else if (!request.files.isEmpty())
        openFile(request.files.first());
}

void VellumbraV2::takeOpenedMedia(Workspace* opened, const QString& path)
{
    lastDirectory = folderOf(path);
    workspace = opened;
    workspaceIndex = 0;
    if (pluginMode)
        return;
    const QString key = recentKey(path);
    if (thumbnailStorage->get(key))
        thumbnailStorage->touch(key);
    else
        thumbnailStorage->add(key, opened->image);
    updateRecentFilesMenu();
}

void VellumbraV2::adoptStackingChoices(Workspace* opened)
{
    const int quality = ui.comboBox_Quality->currentIndex();
    opened->undoRedoManager.add(ui.comboBox_Quality, &QComboBox::setCurrentIndex, opened->qualityIndex, quality,
                                "Undo on quality");
    opened->qualityIndex = quality;
    const int power = ui.horizontalSlider_AntighostingP2->value();
    opened->undoRedoManager.add<int, QAbstractSlider>(ui.horizontalSlider_AntighostingP2, &QAbstractSlider::setValue,
                                                      opened->antighostingPower, power, "Undo on texture paremeter");
    opened->antighostingPower = power;
    if (ui.radioButton_LongExposure->isChecked())
        opened->antighostingMode = 0;
    else if (ui.radioButton_MediumAntighosting->isChecked())
        opened->antighostingMode = 80;
    else if (ui.radioButton_HighAntighosting->isChecked())
        opened->antighostingMode = 100;
}

void VellumbraV2::showMediaIdentity(const Workspace& opened)
{
    const bool burst = !opened.burstPaths.isEmpty();
    const bool video = opened.isSequence && !burst;
    const char* const kind = video ? "Video" : burst ? "Images" : "Image";
    const QString path = burst ? opened.burstPaths.first() : opened.currentFileName();
    setWindowTitle(kTitlePrefix + mediaDisplayName(translate(kind), path));
    // Only a video has a rate of its own: a burst's frames are photos.
    const std::optional<double> fps =
        video && opened.frameSource ? std::optional<double>(opened.frameSource->fps) : std::nullopt;
    const QString text = mediaStatusText(opened.width, opened.height, fps);
    statusLabel.setText(text);
    if (video)
        statusLabel.setAccessibleName(text);
}

void VellumbraV2::updateRecentFilesMenu()
{
    ui.listWidget_RecentFilesThumbnails->clear();
    for (QAction* action : ui.menuRecent_videos->actions())
        delete action;
    ui.menuRecent_videos->clear();
    const QStringList recent = thumbnailStorage->order();
    for (const QString& path : recent) {
        QAction* action = ui.menuRecent_videos->addAction(path);
        action->setData(path);
        connect(action, SIGNAL(triggered()), this, SLOT(MenuActionRecentClicked()));
        if (pluginMode)
            continue;
        if (const QImage* thumbnail = thumbnailStorage->get(path))
            new QListWidgetItem(QIcon(QPixmap::fromImage(*thumbnail)), path, ui.listWidget_RecentFilesThumbnails);
    }
    ui.label_RecentFilesTitle->setVisible(!recent.isEmpty());
    ui.listWidget_RecentFilesThumbnails->setVisible(!recent.isEmpty());
    if (ui.listWidget_RecentFilesThumbnails->count() > 0)
        ui.listWidget_RecentFilesThumbnails->setFixedHeight(3 * ui.listWidget_RecentFilesThumbnails->sizeHintForRow(0));
    try {
        thumbnailStorage->save();
    } catch (const std::runtime_error&) {
        // The store has logged why; the list in memory stays usable.
    }
}

void VellumbraV2::MenuActionRecentClicked()
{
    if (auto* action = qobject_cast<QAction*>(sender()))
        openRecentFile(action->data().toString());
}

void VellumbraV2::ListItemRecentFilesThumbnailsClicked(QListWidgetItem* item)
{
    // Paths without a thumbnail have no row, so the row may not be the path's place
    // in the recent order: the item's own text names its file.
    if (!item || ui.listWidget_RecentFilesThumbnails->row(item) < 0)
        return;
    openRecentFile(item->text());
}

void VellumbraV2::openRecentFile(const QString& path)
{
    if (QFileInfo::exists(path)) {
        openFile(path);
        return;
    }
    showCriticalBox(this, translate("ErrOpenMedia"), translate("ExplMediaAbsent").replace("%1", path));
    thumbnailStorage->remove(path);
    updateRecentFilesMenu();
}

void VellumbraV2::dragEnterEvent(QDragEnterEvent* event)
{
    if (!pluginMode && event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void VellumbraV2::dropEvent(QDropEvent* event)
{
    if (pluginMode || !event->mimeData()->hasUrls())
        return;
    QStringList paths;
    // A link that is no local file keeps its address, so the message can name it.
    for (const QUrl& url : event->mimeData()->urls())
        paths << (url.isLocalFile() ? url.toLocalFile() : url.toDisplayString());
    if (paths.size() == 1)
        openFile(paths.first());
    else if (paths.size() > 1)
        openPhotoBurst(paths, true);
}
