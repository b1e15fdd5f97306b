#pragma once
#include "Preset.h"
#include "RenderPipeline.h"
#include "SharpnessCandidates.h"

#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QString>
#include <opencv2/core.hpp>

#include <memory>
#include <vector>

class ImagesSequence;
class SharpestImageSearcherWorkerThread;

namespace Ui {
class SharpestimageSelectionClass;
}

// A candidate tile: one image the user picked. For a video frame it searches the
// sharper frames around it and lets the user step through them ("-", "+"); in
// edition mode it stands for one image being edited and exported, with an
// editable title. It holds the image's editing settings and render pipeline.
class SharpestImageSelection : public QFrame {
    Q_OBJECT

public:
    enum Mode { SelectionMode = 0, EditionMode = 1 };

    // A tile for the source's current frame; starts the sharpest-frame search.
    // The source must outlive the tile.
    SharpestImageSelection(ImagesSequence* source, QWidget* parent);
    // A tile for a still image, kept at its own depth; no search. kind: what the
    // image is, as whoever made it knows (the render pipeline's source kind).
    SharpestImageSelection(const cv::Mat& image, QWidget* parent, SourceKind kind = SourceKind::Unknown);
    // Stops a search still running and waits for it.
    ~SharpestImageSelection() override;

    void enterEditionMode(const QString& name);
    // The title under the image and in its line edit; the exported file's name.
    void setTitle(const QString& title);
    void leaveEditionMode();
    // Shows the candidate at the current position.
    void showCandidate();

    int tileNumber() const { return tileNumber_; }
    const cv::Mat& image() const { return image_; }
    SourceKind sourceKind() const { return sourceKind_; }
    int frameIndex() const { return frameIndex_; }
    int candidateCount() const { return static_cast<int>(frames.size()); }
    int position() const { return position_; }
    int mode() const { return mode_; }
    const QString& title() const { return title_; }
    // The tinted pin the main window places over its timeline; null for a still image.
    QLabel* pinLabel() const { return pinLabel_; }
    Preset& preset() { return preset_; }
    RenderPipeline& pipeline() { return pipeline_; }

signals:
    void removeImage(SharpestImageSelection* tile);
    void selecting(int frameIndex);
    void onClick(SharpestImageSelection* tile);
    void onExport(SharpestImageSelection* tile);

public slots:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void processWellFinished(SharpnessCandidates candidates);
    void PushButtonPlusClicked();
    void PushButtonMinusClicked();
    void PushButtonCloseClicked();
    void customMenuRequested(QPoint point);
    void emitExport();

private:
    explicit SharpestImageSelection(QWidget* parent);
    // Maximum width of a tile in parent: its width less its layout's right margin.
    int widthInParent(QWidget* parent) const;
    void showImage();
    void finishSetUp(QWidget* parent);
    void step(int offset);

    std::unique_ptr<Ui::SharpestimageSelectionClass> ui;
    const int tileNumber_;
    ImagesSequence* source = nullptr;
    cv::Mat image_;
    SourceKind sourceKind_ = SourceKind::Unknown;
    int frameIndex_ = -1;
    // Sharpness in percent of the sharpest and frame index of each candidate, in
    // ascending score order; empty until the search has reported.
    std::vector<int> percents;
    std::vector<int> frames;
    int position_ = 0;
    int mode_ = SelectionMode;
    QString percentText;
    // Unparented; the main window may re-parent it, so it is watched.
    QPointer<QLabel> pinLabel_;
    QString title_;
    Preset preset_;
    RenderPipeline pipeline_;
    std::unique_ptr<SharpestImageSearcherWorkerThread> search;
};
