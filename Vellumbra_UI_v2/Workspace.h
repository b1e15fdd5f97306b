#pragma once
#include "DisplayScale.h"
#include "UndoRedoManager.h"
#include "WorkflowStateTable.h"

#include <QDir>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <opencv2/core.hpp>

#include <memory>
#include <set>
#include <vector>

class ImagesSequence;
class PresetImage;
class QWidget;
class RenderPipeline;
class SharpestImageSelection;
class StackingContext;
struct PresetSettings;

// The stacking options every new workspace starts with. The main window fills
// the record from its parameter widgets once, when it is built.
struct WorkspaceDefaults {
    int antighostingMode = 80;
    bool autoAntighosting = true;
    int antighostingPower = 30;
    bool align = false;
    int qualityIndex = 0;
    int framesBefore = 2;
    int framesAfter = 2;
    int videoSpeed = 0;
    int videoBrightness = 0;
};

extern WorkspaceDefaults workspaceDefaults;

// The one open media and everything built on it: workflow state, frame source,
// chosen frame and stacking options, the last stacking run, the candidate tiles
// and their render pipelines, the selection, the preset tiles of this media and
// the undo history. Interface thread only, but for the stacking context's lock.
class Workspace {
public:
    // A video (isVideo) or one photo.
    Workspace(const QString& path, bool isVideo);
    // A burst of photos; the frame source plays them sorted.
    explicit Workspace(const QStringList& paths);
    // Stops every preview and search thread before what they read goes.
    ~Workspace();

    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    // A still-image tile, put first.
    SharpestImageSelection* addImageTile(const cv::Mat& image, QWidget* parent, SourceKind kind = SourceKind::Unknown);
    // A tile on the frame source's current frame, put last; null without a frame source.
    SharpestImageSelection* addCurrentFrameTile(QWidget* parent);
    // Deletes the tile; a selected tile leaves the selection first.
    void removeTile(SharpestImageSelection* tile);
    // Makes the tile the only selected one.
    void selectTile(SharpestImageSelection* tile);
    // The preset tiles preview the selected tile's image (a new one only starts renders).
    void previewSelectionInPresets();
    // Every preset tile shows a preview.
    bool presetPreviewsShown() const;
    // The preset's record goes into every selected tile's record.
    void applyPresetToSelection(PresetImage* presetTile);
    // Titles the tiles "01", "02", ... in list order.
    void numberTiles();
    // A tile holds settings of its own once it took its first preset; a rebuilt
    // preset row must leave such a tile's edits alone.
    bool hasSettings(const SharpestImageSelection* tile) const { return tilesWithSettings.count(tile) > 0; }
    void markHasSettings(const SharpestImageSelection* tile) { tilesWithSettings.insert(tile); }

    void clearFactoryPresetTiles() { factoryPresetTiles.clear(); }
    void clearUserPresetTiles() { userPresetTiles.clear(); }
    void markFactoryPresetTile(int index) { markPresetTile(factoryPresetTiles, index, true); }
    void unmarkFactoryPresetTile(int index) { markPresetTile(factoryPresetTiles, index, false); }
    void markUserPresetTile(int index) { markPresetTile(userPresetTiles, index, true); }
    void unmarkUserPresetTile(int index) { markPresetTile(userPresetTiles, index, false); }

    // The file of the frame on show (a burst's current photo), else the media path.
    QString currentFileName() const;
    // currentFileName without its directory and last suffix.
    QString resultBaseName() const;

    StackingContext* stackingContext() const { return stackingContext_; }
    // Deletes the held context and keeps the new one (may be null).
    void setStackingContext(StackingContext* context);

    // The image to show for the workflow state; black at the media's size when
    // there is none.
    cv::Mat currentImage() const;
    // The same without a copy: it shares the pixels, to be read only.
    cv::Mat sharedCurrentImage() const;
    // While a worker renders the selected pipeline its stages are being rewritten:
    // currentImage keeps returning the image of when the render began.
    void holdCurrentImage();
    void releaseCurrentImage();
    // The frame source's current frame becomes the chosen one, and the state
    // the stacking parameters'.
    void chooseCurrentFrame();
    // The frame source plays the frames a stacking run takes around the chosen
    // frame (framesBefore, framesAfter), never leaving out the frame on show.
    void playStackingRange(int shownFrame);
    void playWholeSequence();
    void setVideoBrightness(int value);
    void setVideoSpeed(int value);

    // Each hands the engine value to the pipeline of every selected tile and
    // remembers the widget position in the tile's record.
    void setApplyTM(bool on, bool render);
    void setTMAlgo(int index, bool render);
    void setApplySharpening(bool on, bool render);
    void setRotation(float radians, bool render);
    void setCrop(int x, int y, int width, int height, bool render);
    void setTM1Alpha(float value, int widget, bool render);
    void setTM1Beta(float value, int widget, bool render);
    void setTM2Alpha(float value, int widget, bool render);
    void setTM3Alpha(float value, int widget, bool render);
    void setTM3Beta(float value, int widget, bool render);
    void setTM3Gamma(float value, int widget, bool render);
    void setTM4Alpha(float value, int widget, bool render);
    void setTM4Beta(float value, int widget, bool render);
    void setTM4Gamma(float value, int widget, bool render);
    void setStrength(float value, int widget, bool render);
    void setExposure(float value, int widget, bool render);
    void setContrast(float value, int widget, bool render);
    void setHue(float value, int widget, bool render);
    void setSaturation(float value, int widget, bool render);
    void setVibrance(float value, int widget, bool render);
    void setWhites(float value, int widget, bool render);
    void setBlacks(float value, int widget, bool render);
    void setHighlights(float value, int widget, bool render);
    void setShadows(float value, int widget, bool render);
    void setBlackClip(float value, int widget, bool render);
    void setWhiteClip(float value, int widget, bool render);
    void setSharpeningAmount(float value, int widget, bool render);
    void setSharpeningRadius(int value, int widget, bool render);
    void setSharpeningThreshold(float value, int widget, bool render);

    int state = StateBrowse;  // a WorkflowState
    int tool = ToolNone;      // an EditingTool, in the tool state
    UndoRedoManager undoRedoManager;
    cv::Mat image;
    int width = 0;
    int height = 0;
    float aspectRatio = 0.0f;
    bool valid = false;
    bool isSequence = false;
    QString savedResultName;
    int savedResultDepth = 8;
    cv::Mat histogramImage;
    std::unique_ptr<ImagesSequence> frameSource;
    QDir mediaFolder;
    QString mediaPath;
    // A burst's photos in the order they were given; empty for a video or a photo.
    QStringList burstPaths;
    int currentFrame = -1;
    int antighostingMode;
    bool autoAntighosting;
    int antighostingPower;
    bool align;
    int qualityIndex;
    int framesBefore;
    int framesAfter;
    int stackedFrameCount = 0;
    int videoSpeed;
    int videoBrightness;
    // Owned, in display order.
    std::vector<SharpestImageSelection*> tiles;
    // Not owned; selectTile keeps one tile in it.
    std::vector<SharpestImageSelection*> selection;
    SharpestImageSelection* selectedTile = nullptr;
    // Not owned: their layouts own them.
    std::vector<PresetImage*> factoryPresetTiles;
    std::vector<PresetImage*> userPresetTiles;
    // The pipeline of selectedTile.
    RenderPipeline* renderPipeline = nullptr;

private:
    Workspace();
    void setSize(const cv::Mat& frame);
    static void markPresetTile(const std::vector<PresetImage*>& presetTiles, int index, bool selected);
    template <typename Value>
    void fanOut(void (RenderPipeline::*setter)(Value, bool), Value value, bool render);
    template <typename Value, typename Field>
    void fanOut(void (RenderPipeline::*setter)(Value, bool), Value value, bool render,
                Field PresetSettings::*remembered, Field widget);

    StackingContext* stackingContext_ = nullptr;
    std::set<const SharpestImageSelection*> tilesWithSettings;
    cv::Mat heldImage;
    bool imageHeld = false;
    QMutex stackingContextMutex;
};
