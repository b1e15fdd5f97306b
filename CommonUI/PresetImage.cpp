#include "PresetImage.h"
#include "ui_PresetImage.h"

#include "LanguageEngine.h"
#include "Log.h"
#include "MatToQImage.h"
#include "PixelOps.h"
#include "Preset.h"
#include "PresetPreviewSize.h"
#include "RenderPipeline.h"

#include <QEvent>
#include <QImage>
#include <QLayout>
#include <QPainter>
#include <QPixmap>

namespace {

// The preview fitted into box with its aspect kept, centred on a transparent ground;
// the label stretches what it shows to its own size.
QPixmap letterboxed(const QImage& preview, const QSize& box)
{
    if (preview.size() == box)
        return QPixmap::fromImage(preview);
    // At least a pixel across, however thin the picture.
    const QSize fittedSize = preview.size().scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    const QImage fitted = preview.scaled(fittedSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QPixmap framed(box);
    framed.fill(Qt::transparent);
    QPainter painter(&framed);
    painter.drawImage((box.width() - fitted.width()) / 2, (box.height() - fitted.height()) / 2, fitted);
    return framed;
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

bool PresetImage::hasPreview() const
{
    return !ui->label_ImageReferenced->pixmap(Qt::ReturnByValue).isNull();
}

void PresetImage::setSource(const cv::Mat* image, SourceKind kind)
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
    worker.setSource(*image, kind);
    worker.setTicket(ticket);
    worker.start(QThread::InheritPriority);
}

void PresetImage::thumbnailProcessed(cv::Mat result, int resultTicket)
{
    if (resultTicket != ticket || result.empty())
        return;
    const std::unique_ptr<QImage> preview(matToQImage(convertBitDepth(result, 8)));
    if (!preview)
        return;
    const cv::Size box = presetTileBox(result.size());
    ui->label_ImageReferenced->setPixmap(letterboxed(*preview, QSize(box.width, box.height)));
    ui->label_ImageReferenced->setMaximumHeight(box.height);
    ui->label_ImageReferenced->setMaximumWidth(box.width);
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
