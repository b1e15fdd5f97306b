#include "vellumbraV2.h"

#include "ExistingFileQuestion.h"
#include "ExportFormats.h"
#include "HandOffFile.h"
#include "ImageIO.h"
#include "ImagesSequence.h"
#include "LanguageEngine.h"
#include "Log.h"
#include "MessageBoxes.h"
#include "SourceKindMark.h"
#include "StackingContext.h"
#include "StartupValues.h"
#include "WorkflowStateTable.h"
#include "Workspace.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>

namespace {

const QString kHDRFormatKey = QStringLiteral("UserParameters/savingFilterIndexForHDRImage");

// The wait cursor for as long as it lives, unless put back earlier.
class WaitCursor {
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { restore(); }
    void restore()
    {
        if (shown)
            QGuiApplication::restoreOverrideCursor();
        shown = false;
    }

private:
    bool shown = true;
};

}  // namespace

void VellumbraV2::saveCurrentFrame()
{
    Workspace* open = currentWorkspace();
    if (!open || !open->isSequence || !open->frameSource || !open->frameSource->opened)
        return;
    cv::Mat frame;
    open->frameSource->getFrame(frame, open->frameSource->getCurrentIndex(), false);
    if (frame.empty()) {
        showCriticalBox(this, translate("Error"), translate("ErrorSaveImages"));
        return;
    }
    QString name;
    const QString fileName = askUnusedSaveName(
        open->mediaFolder.absolutePath() + QStringLiteral("/") + buildResultName(name, false), QString());
    if (fileName.isEmpty())
        return;
    WaitCursor cursor;
    const int format = exportformats::formatOfFileName(fileName);
    if (format < 0) {
        cursor.restore();
        showCriticalBox(this, translate("Error"), translate("ErrorExtension."));
        return;
    }
    const int depth = askDepth(format);
    if (depth < 0)
        return;
    bool metadataLost = false;
    const bool written = saveImageWithDepth(fileName.toLocal8Bit().toStdString(), frame, depth,
                                            open->currentFileName().toLocal8Bit().toStdString(), &metadataLost);
    cursor.restore();
    if (!written) {
        showCriticalBox(this, translate("Error"), translate("ErrorWritingImages").arg(fileName));
        return;
    }
    if (metadataLost)
        showWarningBox(this, translate("Error"), translate("ExplMetadataNotCopied").arg(fileName));
    if (pluginMode)
        offerToPlugin(fileName);
}

QString VellumbraV2::saveHDRimage()
{
    Workspace* open = currentWorkspace();
    if (!open || open->state != StateStacking)
        return QString();
    const StackingContext* context = open->stackingContext();
    const cv::Mat lightImage = context ? context->lightImage.clone() : cv::Mat();
    const SourceKind kind = context ? stackedSourceKind(context->frameDepth) : SourceKind::Unknown;
    if (lightImage.empty()) {
        showCriticalBox(this, translate("Error"), translate("ExplImagesUnavailable"));
        return QString();
    }
    const int stored = exportformats::checkedFormat(settings.value(kHDRFormatKey, 1).toInt(), 1);
    QString name;
    const QString fileName =
        askUnusedSaveName(lastDirectory + QStringLiteral("/") + buildResultName(name, true),
                          exportformats::formatFilter(QString::fromStdString(exportFormatNames[stored]), stored));
    if (fileName.isEmpty())
        return QString();
    WaitCursor cursor;
    QCoreApplication::processEvents();
    const QFileInfo file(fileName);
    lastDirectory = file.absolutePath();
    const int format = exportformats::formatOfFileName(fileName);
    if (format < 0) {
        cursor.restore();
        showCriticalBox(this, translate("Error"), translate("ErrorExtension"));
        return QString();
    }
    settings.setValue(kHDRFormatKey, format);
    const int depth = askDepth(format);
    if (depth < 0)
        return QString();
    bool metadataLost = false;
    const std::string path = fileName.toLocal8Bit().toStdString();
    if (!saveImageWithDepth(path, lightImage, depth, open->currentFileName().toLocal8Bit().toStdString(),
                            &metadataLost)) {
        cursor.restore();
        showCriticalBox(this, translate("Error"), translate("ErrorWritingImages").arg(fileName));
        return QString();
    }
    // Reopened without it, a light image stacked from video would read as a scene-referred HDR.
    markSourceKind(path, kind);
    if (metadataLost) {
        cursor.restore();
        showWarningBox(this, translate("Error"), translate("ExplMetadataNotCopied").arg(fileName));
    }
    open->savedResultName = file.completeBaseName();
    open->savedResultDepth = depth;
    return file.absoluteFilePath();
}

QString VellumbraV2::askUnusedSaveName(const QString& startPath, const QString& selectedFilter)
{
    // The dialog's own overwrite check is off: the export's question is asked instead.
    const QString chosen = askSaveName(startPath, selectedFilter);
    return chosen.isEmpty() ? chosen : replaceOrRename(this, chosen);
}

void VellumbraV2::offerToPlugin(const QString& path)
{
    if (askYesNo(this, translate("ImportToLRTitle"), translate("ImportToLR")) == QMessageBox::Yes)
        handOff(path);
}

bool VellumbraV2::handOff(const QString& path)
{
    if (!handOffCarries(path)) {
        logError("VellumbraV2::handOff", "A line break in the saved path cannot be handed off: " + path.toStdString());
        showCriticalBox(this, translate("Error"), translate("ErrorHandOffPath").arg(path));
        return false;
    }
    if (appendHandOffLine(resultFilePath, path))
        return true;
    logError("VellumbraV2::handOff", "The hand-off file cannot be written: " + resultFilePath.toStdString());
    showCriticalBox(this, translate("Error"), translate("ErrorHandOff").arg(resultFilePath));
    return false;
}
