#pragma once
#include "MatMetaType.h"
#include "PresetImageWorkerThread.h"

#include <QFrame>
#include <QString>
#include <opencv2/core.hpp>

#include <memory>

class RenderPipeline;
struct Preset;

namespace Ui {
class ImageReferencedClass;
}

// A preset tile: a live preview of the current image rendered with the preset's
// settings, on a thread of its own, and the preset's name below it.
class PresetImage : public QFrame {
    Q_OBJECT

public:
    // pipeline: the tile's own, the preset's settings already applied. The tile
    // joins parent's layout; previewFinished() and setPercent(int) go to the
    // receiver's two slots (SLOT() signatures; either may be null).
    PresetImage(std::unique_ptr<RenderPipeline> pipeline, const QString& name, QWidget* parent, QObject* receiver,
                const char* previewFinishedSlot, const char* setPercentSlot);
    // A tile of a stored preset; record (not owned) outlives the tile and names it.
    PresetImage(std::unique_ptr<RenderPipeline> pipeline, const Preset* record, QWidget* parent, QObject* receiver,
                const char* previewFinishedSlot, const char* setPercentSlot);
    // Cancels a render still running and waits for it before the pipeline goes.
    ~PresetImage() override;

    // A new image to preview, told apart from the last one by its address. A
    // render in progress is cancelled; only the new image's preview is shown.
    void setSource(const cv::Mat* image, SourceKind kind = SourceKind::Unknown);

    const QString& name() const { return name_; }
    // The preset shown, or null for a tile made from a name only.
    const Preset* preset() const { return record; }
    // Cancels a render still running and waits for its thread to end.
    void stopPreview();
    // A preview is on show: the current source's, or the last one while the next renders.
    bool hasPreview() const;

signals:
    void onClick(PresetImage* tile);
    void previewFinished();
    void setPercent(int percent);

public slots:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void thumbnailProcessed(cv::Mat result, int ticket);

private:
    std::unique_ptr<Ui::ImageReferencedClass> ui;
    std::unique_ptr<RenderPipeline> pipeline;
    const cv::Mat* source = nullptr;
    QString name_;
    const Preset* record = nullptr;
    // Declared after the pipeline, so it is stopped before the pipeline goes.
    PresetImageWorkerThread worker;
    // Tag of the render whose preview may be shown.
    int ticket = 0;
};
