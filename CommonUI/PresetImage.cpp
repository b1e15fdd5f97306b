#include "PresetImage.h"
#include "ui_PresetImage.h"

#include "EngineDefaults.h"
#include "LabelImage.h"
#include "LanguageEngine.h"
#include "Log.h"
#include "PixelOps.h"
#include "Preset.h"
#include "RenderPipeline.h"

#include <QEvent>
#include <QLayout>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {

// The smallest copy of image that still covers the thumbnail size: a tile never
// holds a full-size float copy of a large light image.
cv::Mat reducedForThumbnail(const cv::Mat& image)
{
    const cv::Size target = thumbnailSize();
    const double scale = std::max(static_cast<double>(target.width) / image.cols,
                                  static_cast<double>(target.height) / image.rows);
    if (scale >= 1.0)
        return image;
    const cv::Size size(std::max(1, static_cast<int>(std::ceil(image.cols * scale))),
                        std::max(1, static_cast<int>(std::ceil(image.rows * scale))));
    cv::Mat reduced;
    cv::resize(image, reduced, size, 0.0, 0.0, cv::INTER_AREA);
    return reduced;
}

}  // namespace

PresetImage::PresetImage(std::unique_ptr<RenderPipeline> pipelineIn, const QString& name, QWidget* parent,
                         QObject* receiver, const char* previewFinishedSlot, const char* setPercentSlot)
    : QFrame(parent),
      pipeline(std::move(pipelineIn)),
      name_(name),
      worker(pipeline.get(), PresetImageWorkerThread::ScaledRender)
{
    ui = std::make_unique<Ui::ImageReferencedClass>();
    ui->setupUi(this);
    if (parent && parent->layout())
        parent->layout()->addWidget(this);
    if (receiver && previewFinishedSlot)
        connect(this, SIGNAL(previewFinished()), receiver, previewFinishedSlot);
    if (receiver && setPercentSlot)
        connect(this, SIGNAL(setPercent(int)), receiver, setPercentSlot);
    ui->label_ImageReferencedText->installEventFilter(this);
    ui->label_ImageReferenced->installEventFilter(this);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Maximum);
    ui->label_ImageReferenced->setScaledContents(true);
    ui->label_ImageReferencedText->setText(translate(name.toStdString()));
    setProperty("isSelected", false);
    connect(&worker, &PresetImageWorkerThread::processWellFinished, this, &PresetImage::thumbnailProcessed,
            Qt::QueuedConnection);
}

PresetImage::PresetImage(std::unique_ptr<RenderPipeline> pipelineIn, const Preset* presetRecord, QWidget* parent,
                         QObject* receiver, const char* previewFinishedSlot, const char* setPercentSlot)
    : PresetImage(std::move(pipelineIn), presetRecord ? QString::fromUtf8(presetRecord->name) : QString(), parent,
                  receiver, previewFinishedSlot, setPercentSlot)
{
    record = presetRecord;
}

PresetImage::~PresetImage()
{
    stopPreview();
}

void PresetImage::stopPreview()
{
    worker.cancelAndWait();
}

void PresetImage::setSource(const cv::Mat* image)
{
    if (image == source)
        return;
    source = image;
    worker.cancelAndWait();
    ++ticket;
    if (!image || image->empty()) {
        logError("PresetImage::setSource", "No image to preview for the preset '" + name_.toStdString() + "'.");
        return;
    }
    pipeline->setSourceImage(reducedForThumbnail(*image), true);
    worker.setTicket(ticket);
    worker.start(QThread::InheritPriority);
}

void PresetImage::thumbnailProcessed(cv::Mat result, int resultTicket)
{
    if (resultTicket != ticket || result.empty())
        return;
    if (!showImageInLabel(ui->label_ImageReferenced, convertBitDepth(result, 8), QSize()))
        return;
    ui->label_ImageReferenced->setMaximumHeight(result.rows);
    ui->label_ImageReferenced->setMaximumWidth(result.cols);
    emit previewFinished();
}

bool PresetImage::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress &&
        (watched == ui->label_ImageReferenced || watched == ui->label_ImageReferencedText)) {
        const QWidget* widget = qobject_cast<const QWidget*>(watched);
        if (!widget || widget->isEnabled())
            emit onClick(this);
    }
    return QFrame::eventFilter(watched, event);
}
