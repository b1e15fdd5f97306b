#include "vellumbraV2.h"

#include "EventPolling.h"
#include "ExistingFileQuestion.h"
#include "ExportFormats.h"
#include "ExportRun.h"
#include "ImagesSequence.h"
#include "LanguageEngine.h"
#include "MessageBoxes.h"
#include "RenderPipeline.h"
#include "ResultName.h"
#include "SaveForm.h"
#include "SharpestImageSelection.h"
#include "StartupValues.h"
#include "WorkflowStateTable.h"
#include "Workspace.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QMessageBox>

#include <cstring>
#include <memory>

namespace {

const QString kTMFormatKey = QStringLiteral("UserParameters/savingFilterIndexForTMImage");

// One line a written file, each begun by a line break: its name, followed by its
// result's title when the name is not the title's own.
QString writtenFilesList(const QStringList& files, const QHash<QString, QString>& resultOfFile)
{
    QString lines;
    for (const QString& file : files) {
        const QFileInfo written(file);
        const QString title = resultOfFile.value(file);
        lines += QLatin1Char('\n') + (written.completeBaseName() == safeFileTitle(title)
                                          ? written.fileName()
                                          : QStringLiteral("%1 (\u201c%2\u201d)").arg(written.fileName(), title));
    }
    return lines;
}

}  // namespace

bool VellumbraV2::PushButtonProEditingExportClicked()
{
    Workspace* open = currentWorkspace();
    return open && PushButtonEditingExportClicked(open->selectedTile);
}

bool VellumbraV2::PushButtonEditingExportClicked(SharpestImageSelection* tile)
{
    Workspace* open = currentWorkspace();
    if (!open)
        return false;
    const std::vector<SharpestImageSelection*> chosen = tile ? std::vector<SharpestImageSelection*>{tile} : open->tiles;
    if (chosen.empty()) {
        showWarningBox(this, translate("PleaseChooseFrameTitle"), translate("PleaseChooseFrame"));
        return false;
    }
    open->undoRedoManager.clear();
    const int storedFormat = exportformats::checkedFormat(settings.value(kTMFormatKey, 0).toInt(), 0);
    QString extension;
    int depth = 8;
    const bool chose = chosen.size() > 1 ? chooseExportFolder(storedFormat, extension, depth)
                                         : chooseExportFile(*chosen.front(), storedFormat, extension, depth);
    if (!chose)
        return false;
    const bool succeeded = exportTiles(chosen, extension, depth);
    finishExport(succeeded);
    return succeeded;
}

bool VellumbraV2::chooseExportFolder(int storedFormat, QString& extension, int& depth)
{
    QFileDialog folderDialog(this, QString(), lastDirectory);
    folderDialog.setFileMode(QFileDialog::Directory);
    folderDialog.setOption(QFileDialog::ShowDirsOnly);
    folderDialog.setWindowIcon(windowIcon());
    if (folderDialog.exec() != QDialog::Accepted)
        return false;
    // The folder the user picked, not the one the dialog shows around it.
    const QStringList picked = folderDialog.selectedFiles();
    lastDirectory = picked.isEmpty() ? folderDialog.directory().absolutePath() : QDir(picked.front()).absolutePath();

    SaveForm options(this, true);
    options.fillOutputExtensions(exportFormatNames, exportExtensions, exportformats::depthRows,
                                 exportformats::kFormatCount, storedFormat);
    if (options.exec() != QDialog::Accepted)
        return false;
    const int format = exportformats::checkedFormat(options.selectedType(), storedFormat);
    extension = QStringLiteral(".") + QString::fromLatin1(exportExtensions[format]);
    depth = options.selectedDepth().section(QLatin1Char(' '), 0, 0).toInt();
    return depth > 0;
}

bool VellumbraV2::chooseExportFile(SharpestImageSelection& tile, int storedFormat, QString& extension, int& depth)
{
    const QString storedFilter = exportformats::formatFilter(QString::fromStdString(exportFormatNames[storedFormat]),
                                                             storedFormat);
    const QString proposed = lastDirectory + QStringLiteral("/") + safeFileTitle(tile.title()) + QStringLiteral(".") +
                             QString::fromLatin1(exportExtensions[storedFormat]);
    const QString fileName = askSaveName(proposed, storedFilter);
    if (fileName.isEmpty())
        return false;
    const int format = exportformats::formatOfFileName(fileName);
    if (format < 0) {
        showCriticalBox(this, translate("Error"), translate("ErrorExtension"));
        return false;
    }
    settings.setValue(kTMFormatKey, format);
    depth = askDepth(format);
    if (depth < 0)
        return false;
    const QFileInfo file(fileName);
    lastDirectory = file.absolutePath();
    tile.setTitle(file.completeBaseName());
    extension = QStringLiteral(".") + file.suffix().toLower();
    return true;
}

bool VellumbraV2::exportTiles(const std::vector<SharpestImageSelection*>& chosen, const QString& extension, int depth)
{
    Workspace* open = currentWorkspace();
    // Closing the media from inside the loop leaves the workspace to the lease.
    WorkspaceKeeper::Lease lease(workspaceKeeper, open);
    const int count = static_cast<int>(chosen.size());
    const QString ofCount = count > 1 ? translate("n/N") : QString();
    ExistingFileQuestion question(this, count > 1);
    std::vector<RenderPipeline*> pipelines;
    for (SharpestImageSelection* tile : chosen)
        pipelines.push_back(&tile->pipeline());
    ExportRun run(open->currentFileName().toLocal8Bit().toStdString(), depth, pipelines);

    open->renderPipeline = pipelines.front();
    open->state = StateExport;
    updateWindow();

    bool completed = true;
    // The result each file holds, for the closing list.
    QHash<QString, QString> resultOfFile;
    for (int i = 0; i < count; ++i) {
        RenderPipeline& pipeline = *pipelines[static_cast<size_t>(i)];
        open->renderPipeline = &pipeline;
        // The result in hand is the one on show while it renders, is asked about and is saved.
        const bool previewShown = !pipeline.output().empty() && showImage(pipeline.output());
        const QString position = count > 1 ? ofCount.arg(i + 1).arg(count) : QString();
        ui.progressBar_Computing->setValue(0);
        // The first step of a full render, until the render names its own.
        const char* shownStep = "ApplyRotation";
        ui.progressBar_Computing->setFormat(translate(shownStep) + position);
        int shownProgress = 0;
        const RenderPipeline& rendering = run.rendering(i);
        waitUntil([&] { return run.rendered(i); },
                  [&] {
                      // The window's cancel reaches the tile's pipeline; the render works on a copy.
                      if (pipeline.toneMapper() && pipeline.toneMapper()->cancel)
                          run.cancelRenders();
                      const int progress =
                          rendering.toneMapper() ? rendering.toneMapper()->progress.load() : shownProgress;
                      const char* named = rendering.stepName();
                      const char* step = *named ? named : shownStep;
                      if (progress == shownProgress && std::strcmp(step, shownStep) == 0)
                          return;
                      shownProgress = progress;
                      shownStep = step;
                      ui.progressBar_Computing->setValue(progress);
                      ui.progressBar_Computing->setFormat(translate(step) + position);
                  });
        ui.progressBar_Computing->setValue(100);
        const ExportRun::Render render = run.takeRender(i);
        // A cancel that came after this result was rendered ahead still stops the export here.
        const bool cancelled = !render.failed && pipeline.toneMapper() && pipeline.toneMapper()->cancel;
        if (cancelled || lease.closed()) {
            completed = false;
            run.cancelRenders();
            break;
        }
        ui.progressBar_Computing->setFormat(translate("SavingImage") + position);
        QCoreApplication::processEvents();

        const QString title = chosen[static_cast<size_t>(i)]->title();
        const QString base = lastDirectory + QStringLiteral("/") + safeFileTitle(title);
        QString target = base + extension;
        if (render.picture.empty()) {
            run.recordFailure(target);
            continue;
        }
        if (!previewShown)
            showImage(render.picture);
        // A file this run wrote is never replaced nor asked about: the result takes the next free name.
        if (run.writesTo(target) ||
            (QFileInfo::exists(target) && !question.replace(target, count > 1 ? title : QString())))
            target = uniqueTarget(base, extension, [&](const QString& path) { return run.taken(path); });
        resultOfFile.insert(target, title);
        run.startWrite(target, render.picture);
    }
    waitUntil([&] { return !run.writing(); }, [] {});

    const QStringList failed = run.failed();
    if (!failed.isEmpty() && !lease.closed())
        showCriticalBox(this, translate("Error"), translate("ErrorWritingImages").arg(failed.join(QLatin1Char('\n'))));
    const QStringList bare = run.withoutMetadata();
    if (!bare.isEmpty() && !lease.closed())
        showWarningBox(this, translate("Error"), translate("ExplMetadataNotCopied").arg(bare.join(QLatin1Char('\n'))));
    const QStringList written = run.written();
    if (count > 1 && !written.isEmpty() && !lease.closed())
        showInformationBox(this, translate("ExportAll"),
                           translate("ExplImagesWritten").arg(lastDirectory, writtenFilesList(written, resultOfFile)));
    return completed && failed.isEmpty() && !lease.closed();
}

void VellumbraV2::finishExport(bool succeeded)
{
    Workspace* open = currentWorkspace();
    if (open) {
        if (open->selectedTile)
            open->renderPipeline = &open->selectedTile->pipeline();
        const int after = ui.comboBox_WhatAfterExport->currentIndex();
        // A failed or cancelled export keeps the user with the results to try again.
        if (succeeded && after == 1) {
            open->state = StateBrowse;
        } else if (succeeded && after == 2) {
            closeWorkspace();
            close();
        } else {
            open->state = StateEditing;
        }
    }
    updateWindow();
}

int VellumbraV2::askDepth(int format)
{
    const std::vector<int> depths = exportformats::depthsOf(format);
    if (depths.size() == 1)
        return depths.front();
    int sorted[exportformats::kDepthSlots];
    std::copy(std::begin(exportformats::depthRows[format]), std::end(exportformats::depthRows[format]), sorted);
    quickSort(sorted, 0, exportformats::kDepthSlots - 1, [](int a, int b) { return a < b; });
    const int* firstFilled = std::find_if(std::begin(sorted), std::end(sorted), [](int depth) { return depth > 0; });
    const int filled = static_cast<int>(std::end(sorted) - firstFilled);

    SaveForm options(this, false);
    options.fillOutputDepths(firstFilled, filled, depths.front());
    QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    const bool accepted = options.exec() == QDialog::Accepted;
    QGuiApplication::restoreOverrideCursor();
    return accepted ? options.selectedDepth().section(QLatin1Char(' '), 0, 0).toInt() : -1;
}

QString VellumbraV2::askSaveName(const QString& startPath, const QString& selectedFilter)
{
    const QFileInfo proposed(startPath);
    QFileDialog dialog(this, translate("SaveAs"), proposed.absolutePath(), exportFileFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!selectedFilter.isEmpty())
        dialog.selectNameFilter(selectedFilter);
    dialog.selectFile(proposed.fileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return exportformats::withFilterExtension(dialog.selectedFiles().front(), dialog.selectedNameFilter());
}

QString& VellumbraV2::buildResultName(QString& out, bool full)
{
    Workspace* open = currentWorkspace();
    if (!open)
        return out = QString();
    if (!open->isSequence)
        return out = open->resultBaseName();
    if (!full) {
        const int frame = open->frameSource ? open->frameSource->getCurrentIndex() : 0;
        return out = open->resultBaseName() + QStringLiteral(" (") + QString::number(frame) + QStringLiteral(")");
    }
    return out = ownResultTitle(*open, stackedResultName(*open, qualityNames[qBound(0, open->qualityIndex, 2)]));
}
