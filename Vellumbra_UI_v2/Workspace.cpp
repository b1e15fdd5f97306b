#include "Workspace.h"

#include "ImageIO.h"
#include "ImagesSequence.h"
#include "Preset.h"
#include "PresetImage.h"
#include "RenderPipeline.h"
#include "Repolish.h"
#include "StackingRange.h"
#include "SharpestImageSelection.h"
#include "StackingContext.h"

#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QVariant>
#include <QWidget>

#include <algorithm>

WorkspaceDefaults workspaceDefaults;

namespace {

void setSelectedLook(QWidget* widget, bool selected)
{
    widget->setProperty("isSelected", selected);
    repolish(widget);
}

}  // namespace

Workspace::Workspace()
    : antighostingMode(workspaceDefaults.antighostingMode),
      autoAntighosting(workspaceDefaults.autoAntighosting),
      antighostingPower(workspaceDefaults.antighostingPower),
      align(workspaceDefaults.align),
      qualityIndex(workspaceDefaults.qualityIndex),
      framesBefore(workspaceDefaults.framesBefore),
      framesAfter(workspaceDefaults.framesAfter),
      videoSpeed(workspaceDefaults.videoSpeed),
      videoBrightness(workspaceDefaults.videoBrightness)
{
}

Workspace::Workspace(const QString& path, bool isVideo) : Workspace()
{
    isSequence = isVideo;
    if (isVideo) {
        frameSource = std::make_unique<ImagesSequence>(path);
        valid = frameSource->opened;
        state = StateBrowse;
        if (valid)
            frameSource->getFrame(image, frameSource->getCurrentIndex(), false);
    } else {
        readImage(image, QFile::encodeName(path).toStdString(), false);
        valid = image.rows > 0 && image.cols > 0;
        state = StateEditing;
    }
    setSize(image);
    mediaPath = path;
    mediaFolder = QFileInfo(path).dir();
}

Workspace::Workspace(const QStringList& paths) : Workspace()
{
    isSequence = true;
    frameSource = std::make_unique<ImagesSequence>(paths);
    valid = frameSource->opened;
    state = StateBrowse;
    mediaPath = paths.value(0);
    burstPaths = paths;
    mediaFolder = QFileInfo(mediaPath).dir();
    cv::Mat first;
    if (valid)
        frameSource->getFrame(first, frameSource->getCurrentIndex(), false);
    setSize(first);
}

Workspace::~Workspace()
{
    // Preset previews and candidate searches run on threads of their own that read
    // the tiles' images and the frame source: they are stopped and joined first.
    for (const auto* presetTiles : {&factoryPresetTiles, &userPresetTiles})
        for (PresetImage* presetTile : *presetTiles)
            presetTile->stopPreview();
    for (SharpestImageSelection* tile : tiles)
        delete tile;
    tiles.clear();
    selection.clear();
    setStackingContext(nullptr);
    frameSource.reset();
}

void Workspace::setSize(const cv::Mat& frame)
{
    width = frame.cols;
    height = frame.rows;
    aspectRatio = height > 0 ? static_cast<float>(width) / static_cast<float>(height) : 0.0f;
}

SharpestImageSelection* Workspace::addImageTile(const cv::Mat& tileImage, QWidget* parent, SourceKind kind)
{
    auto* tile = new SharpestImageSelection(tileImage, parent, kind);
    tiles.insert(tiles.begin(), tile);
    return tile;
}

SharpestImageSelection* Workspace::addCurrentFrameTile(QWidget* parent)
{
    if (!frameSource)
        return nullptr;
    auto* tile = new SharpestImageSelection(frameSource.get(), parent);
    tiles.push_back(tile);
    return tile;
}

void Workspace::removeTile(SharpestImageSelection* tile)
{
    tiles.erase(std::remove(tiles.begin(), tiles.end(), tile), tiles.end());
    selection.erase(std::remove(selection.begin(), selection.end(), tile), selection.end());
    tilesWithSettings.erase(tile);
    if (selectedTile == tile) {
        selectedTile = selection.empty() ? nullptr : selection.front();
        renderPipeline = selectedTile ? &selectedTile->pipeline() : nullptr;
    }
    delete tile;
}

void Workspace::selectTile(SharpestImageSelection* tile)
{
    if (!tile)
        return;
    if (std::find(selection.begin(), selection.end(), tile) == selection.end()) {
        for (SharpestImageSelection* previous : selection)
            setSelectedLook(previous, false);
        selection.assign(1, tile);
        setSelectedLook(tile, true);
    }
    selectedTile = selection.front();
    renderPipeline = &selectedTile->pipeline();
}

void Workspace::previewSelectionInPresets()
{
    if (!selectedTile)
        return;
    for (const auto* presetTiles : {&factoryPresetTiles, &userPresetTiles})
        for (PresetImage* presetTile : *presetTiles)
            presetTile->setSource(&selectedTile->image(), selectedTile->sourceKind());
}

bool Workspace::presetPreviewsShown() const
{
    auto shown = [](const PresetImage* tile) { return tile->hasPreview(); };
    return std::all_of(factoryPresetTiles.begin(), factoryPresetTiles.end(), shown) &&
           std::all_of(userPresetTiles.begin(), userPresetTiles.end(), shown);
}

void Workspace::applyPresetToSelection(PresetImage* presetTile)
{
    if (!presetTile || !presetTile->preset())
        return;
    for (SharpestImageSelection* tile : selection) {
        tile->preset() = *presetTile->preset();
        if (renderPipeline)
            tile->pipeline().copySettings(*renderPipeline);
    }
    renderPipeline = selectedTile ? &selectedTile->pipeline() : nullptr;
}

void Workspace::numberTiles()
{
    int number = 1;
    for (SharpestImageSelection* tile : tiles)
        tile->enterEditionMode(QString("%1").arg(number++, 2, 10, QChar('0')));
}

void Workspace::markPresetTile(const std::vector<PresetImage*>& presetTiles, int index, bool selected)
{
    if (index >= 0 && index < static_cast<int>(presetTiles.size()))
        setSelectedLook(presetTiles[index], selected);
}

QString Workspace::currentFileName() const
{
    return frameSource ? frameSource->currentFileName() : mediaPath;
}

QString Workspace::resultBaseName() const
{
    return QFileInfo(currentFileName()).completeBaseName();
}

void Workspace::setStackingContext(StackingContext* context)
{
    QMutexLocker locker(&stackingContextMutex);
    if (context != stackingContext_)
        delete stackingContext_;
    stackingContext_ = context;
}

void Workspace::holdCurrentImage()
{
    heldImage = currentImage();
    imageHeld = true;
}

void Workspace::releaseCurrentImage()
{
    imageHeld = false;
    heldImage.release();
}

cv::Mat Workspace::currentImage() const
{
    return sharedCurrentImage().clone();
}

cv::Mat Workspace::sharedCurrentImage() const
{
    if (imageHeld)
        return heldImage;
    const cv::Mat black = cv::Mat::zeros(height, width, CV_8UC3);
    switch (state) {
    case StateBrowse:
    case StateSharpestSearch:
    case StateDefineParameters:
    case StateStacking: {
        if (!frameSource)
            return black;
        cv::Mat shown;
        frameSource->getDisplayImageAt(shown, -1, false, false);
        return shown;
    }
    case StateEditing:
    case StateExport:
        return renderPipeline && !renderPipeline->output().empty() ? renderPipeline->output() : black;
    case StateTool: {
        if (!renderPipeline)
            return black;
        const cv::Mat& loaded =
            renderPipeline->previewSource().empty() ? renderPipeline->source() : renderPipeline->previewSource();
        if (loaded.empty())
            return black;
        if (tool == ToolCrop)
            return renderPipeline->rotated();
        if (tool == ToolHorizon)
            return loaded;
        return black;
    }
    default:
        return black;
    }
}

void Workspace::chooseCurrentFrame()
{
    if (!frameSource || !frameSource->opened)
        return;
    currentFrame = frameSource->getCurrentIndex();
    state = StateDefineParameters;
}

void Workspace::playStackingRange(int shownFrame)
{
    if (!frameSource)
        return;
    const stackingrange::Range range =
        stackingrange::playbackRange(currentFrame, frameSource->frameCount, shownFrame, framesBefore, framesAfter);
    frameSource->firstIndex = range.first;
    frameSource->lastIndex = range.last;
}

void Workspace::playWholeSequence()
{
    if (!frameSource)
        return;
    frameSource->firstIndex = 0;
    frameSource->lastIndex = frameSource->frameCount - 1;
}

void Workspace::setVideoBrightness(int value)
{
    if (!frameSource || !frameSource->opened)
        return;
    videoBrightness = value;
    frameSource->setBrightness(value);
}

void Workspace::setVideoSpeed(int value)
{
    if (!frameSource || !frameSource->opened)
        return;
    videoSpeed = value;
    frameSource->setSpeed(value);
}

template <typename Value>
void Workspace::fanOut(void (RenderPipeline::*setter)(Value, bool), Value value, bool render)
{
    for (SharpestImageSelection* tile : selection)
        (tile->pipeline().*setter)(value, render);
}

template <typename Value, typename Field>
void Workspace::fanOut(void (RenderPipeline::*setter)(Value, bool), Value value, bool render,
                       Field PresetSettings::*remembered, Field widget)
{
    for (SharpestImageSelection* tile : selection) {
        (tile->pipeline().*setter)(value, render);
        tile->preset().*remembered = widget;
    }
}

void Workspace::setApplyTM(bool on, bool render)
{
    fanOut(&RenderPipeline::setApplyTM, on, render, &PresetSettings::applyTM, on);
}

void Workspace::setTMAlgo(int index, bool render)
{
    fanOut(&RenderPipeline::setTMAlgo, index, render, &PresetSettings::TMalgo, index);
}

void Workspace::setApplySharpening(bool on, bool render)
{
    fanOut(&RenderPipeline::setApplySharpening, on, render, &PresetSettings::applySharpening, on);
}

void Workspace::setRotation(float radians, bool render)
{
    fanOut(&RenderPipeline::setRotation, radians, render);
}

void Workspace::setCrop(int x, int y, int cropWidth, int cropHeight, bool render)
{
    for (SharpestImageSelection* tile : selection)
        tile->pipeline().setCrop(cv::Rect(x, y, cropWidth, cropHeight), render);
}

void Workspace::setTM1Alpha(float value, int widget, bool render)
{
    fanOut(&RenderPipeline::setTM1Alpha, value, render, &PresetSettings::alpha, widget);
}

void Workspace::setTM1Beta(float value, int widget, bool render)
{
    fanOut(&RenderPipeline::setTM1Beta, value, render, &PresetSettings::beta, widget);
}

void Workspace::setTM2Alpha(float value, int widget, bool render)
{
    fanOut(&RenderPipeline::setTM2Alpha, value, render, &PresetSettings::alpha, widget);
}

void Workspace::setTM3Alpha(float value, int widget, bool render)
{
    fanOut(&RenderPipeline::setTM3Alpha, value, render, &PresetSettings::alpha, widget);
}

void Workspace::setTM3Beta(float value, int widget, bool render)
{
    fanOut(&RenderPipeline::setTM3Beta, value, render, &PresetSettings::beta, widget);
}

void Workspace::setTM3Gamma(float value, int widget, bool render)
{
    fanOut(&RenderPipeline::setTM3Gamma, value, render, &PresetSettings::gamma, widget);
}

void Workspace::setTM4Alpha(float value, int widget, bool render)
{
    fanOut(&RenderPipeline::setTM4Alpha, value, render, &PresetSettings::alpha, widget);
}

void Workspace::setTM4Beta(float value, int widget, bool render)
{
    fanOut(&RenderPipeline::setTM4Beta, value, render, &PresetSettings::beta, widget);
}

void Workspace::setTM4Gamma(float value, int widget, bool render)
{
    fanOut(&RenderPipeline::setTM4Gamma, value, render, &PresetSettings::gamma, widget);
}

void Workspace::setStrength(float value, int widget, bool render)
{
    fanOut(&RenderPipeline::setStrength, value, render, &PresetSettings::strength, widget);
}

void Workspace::setExposure(float value, int widget, bool render)
{
    fanOut(&RenderPipeline::setExposure, value, render, &PresetSettings::exposure, widget);
}

void Workspace::setContrast(float value, int widget, bool render)
{
    fanOut(&RenderPipeline::setContrast, value, render, &PresetSettings::contrast, widget);
}

void Workspace::setHue(float value, int widget, bool render)
{
    fanOut(&RenderPipeline::setHue, value, render, &PresetSettings::hue, widget);
}

void Workspace::setSaturation(float value, int widget, bool render)
{
    fanOut(&RenderPipeline::setSaturation, value, render, &PresetSettings::saturation, widget);
}

void Workspace::setVibrance(float value, int widget, bool render)
{
    fanOut(&RenderPipeline::setVibrance, value, render, &PresetSettings::vibrance, widget);
}

void Workspace::setWhites(float value, int widget, bool render)
{
    fanOut(&RenderPipeline::setWhites, value, render, &PresetSettings::whites, widget);
}

void Workspace::setBlacks(float value, int widget, bool render)
{
    fanOut(&RenderPipeline::setBlacks, value, render, &PresetSettings::blacks, widget);
}

void Workspace::setHighlights(float value, int widget, bool render)
{
    fanOut(&RenderPipeline::setHighlights, value, render, &PresetSettings::highlights, widget);
}

void Workspace::setShadows(float value, int widget, bool render)
{
    fanOut(&RenderPipeline::setShadows, value, render, &PresetSettings::shadows, widget);
}

void Workspace::setBlackClip(float value, int widget, bool render)
{
    fanOut(&RenderPipeline::setBlackClip, value, render, &PresetSettings::blackClip, widget);
}

void Workspace::setWhiteClip(float value, int widget, bool render)
{
    fanOut(&RenderPipeline::setWhiteClip, value, render, &PresetSettings::whiteClip, widget);
}

void Workspace::setSharpeningAmount(float value, int widget, bool render)
{
    fanOut(&RenderPipeline::setSharpeningAmount, value, render, &PresetSettings::sharpeningAmount, widget);
}

void Workspace::setSharpeningThreshold(float value, int widget, bool render)
{
    fanOut(&RenderPipeline::setSharpeningThreshold, value, render, &PresetSettings::sharpeningThreshold, widget);
}

void Workspace::setSharpeningRadius(int value, int widget, bool render)
{
    fanOut(&RenderPipeline::setSharpeningRadius, value, render, &PresetSettings::sharpeningRadius, widget);
}
