#include "SharpestImageSelection.h"
#include "ui_SharpestImageSelection.h"

#include "DisplayScale.h"
#include "ImagesSequence.h"
#include "LabelImage.h"
#include "LanguageEngine.h"
#include "Log.h"
#include "SharpestImageSearcherWorkerThread.h"
#include "TileColours.h"

#include <QEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QSettings>

#include <algorithm>
#include <string>

namespace {

int nextTileNumber = 0;

int searchHalfWidth()
{
    const QSettings settings(QStringLiteral("Orvane"), QStringLiteral("Vellumbra 3"));
    return settings.value(QStringLiteral("GeneralSettings/NbSharpenImages"), 3).toInt();
}

}  // namespace

SharpestImageSelection::SharpestImageSelection(QWidget* parent) : QFrame(parent), tileNumber_(nextTileNumber++)
{
    ui = std::make_unique<Ui::SharpestimageSelectionClass>();
    ui->setupUi(this);
    ui->pushButton_Minus->setEnabled(false);
    ui->pushButton_Plus->setEnabled(false);
    ui->label_SharpestImageSelected->installEventFilter(this);
    ui->label_SharpestImageEditionText->installEventFilter(this);
    ui->lineEdit_Title->installEventFilter(this);
}

SharpestImageSelection::SharpestImageSelection(ImagesSequence* sourceIn, QWidget* parent)
    : SharpestImageSelection(parent)
{
    source = sourceIn;
    if (source) {
        frameIndex_ = source->getCurrentIndex();
        source->getFrame(image_, frameIndex_, false);
    }
    if (image_.empty())
        logError("SharpestImageSelection", "The frame " + std::to_string(frameIndex_) + " could not be read.");
    percentText = translate("GenericSharpText");
    pinLabel_ = new QLabel();
    pinLabel_->setPixmap(QPixmap::fromImage(tintedPin(tileNumber_)));
    pinLabel_->setScaledContents(true);
    pinLabel_->setProperty("Pin", true);
    ui->label_SharpestImageSelectionText->installEventFilter(this);
    connect(ui->pushButton_Plus, SIGNAL(clicked()), this, SLOT(PushButtonPlusClicked()));
    connect(ui->pushButton_Minus, SIGNAL(clicked()), this, SLOT(PushButtonMinusClicked()));
    connect(ui->pushButton_Close, SIGNAL(clicked()), this, SLOT(PushButtonCloseClicked()));
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, SIGNAL(customContextMenuRequested(QPoint)), this, SLOT(customMenuRequested(QPoint)));

    const int width = widthInParent(parent);
    setMaximumWidth(width);
    float aspectRatio = source ? source->aspectRatio : 0.0f;
    if (!(aspectRatio > 0.0f) && !image_.empty())
        aspectRatio = static_cast<float>(image_.cols) / static_cast<float>(image_.rows);
    if (aspectRatio > 0.0f)
        ui->label_SharpestImageSelected->setMaximumHeight(static_cast<int>(width / aspectRatio));
    finishSetUp(parent);

    search = std::make_unique<SharpestImageSearcherWorkerThread>(image_, frameIndex_, source, searchHalfWidth());
    connect(search.get(), &SharpestImageSearcherWorkerThread::processWellFinished, this,
            &SharpestImageSelection::processWellFinished, Qt::QueuedConnection);
    search->start(QThread::InheritPriority);
}

SharpestImageSelection::SharpestImageSelection(const cv::Mat& image, QWidget* parent, SourceKind kind)
    : SharpestImageSelection(parent)
{
    sourceKind_ = kind;
    // Its own copy at full depth: a stacked light image is edited from its float values.
    image_ = image.clone();
    const int width = widthInParent(parent);
    setMaximumWidth(width);
    if (image_.cols > 0)
        ui->label_SharpestImageSelected->setMaximumHeight(
            static_cast<int>(static_cast<double>(image_.rows) * width / image_.cols));
    finishSetUp(parent);
}

SharpestImageSelection::~SharpestImageSelection()
{
    search.reset();
    delete pinLabel_.data();
    if (QWidget* parent = parentWidget())
        if (QLayout* layout = parent->layout())
            layout->removeWidget(this);
}

int SharpestImageSelection::widthInParent(QWidget* parent) const
{
    if (!parent)
        return maximumWidth();
    const int margin = parent->layout() ? parent->layout()->contentsMargins().right() : 0;
    return std::max(1, parent->width() - margin);
}

void SharpestImageSelection::finishSetUp(QWidget* parent)
{
    showImage();
    if (parent && parent->layout())
        parent->layout()->addWidget(this);
    leaveEditionMode();
    const QColor colour = tileColour(tileNumber_);
    ui->label_SharpestImageSelected->setStyleSheet(
        QStringLiteral("border-color: rgb(%1, %2, %3)").arg(colour.red()).arg(colour.green()).arg(colour.blue()));
}

void SharpestImageSelection::showImage()
{
    const QLabel* label = ui->label_SharpestImageSelected;
    // Brought to the display range as its preview is: a scene-referred HDR's own values may all lie near black.
    const cv::Mat shown =
        image_.depth() == CV_32F ? scaledToDisplay(image_, displayScale(image_, sourceKind_)) : image_;
    showImageInLabel(ui->label_SharpestImageSelected, shown,
                     QSize(std::min(maximumWidth(), label->maximumWidth()), label->maximumHeight()));
}

void SharpestImageSelection::processWellFinished(SharpnessCandidates candidates)
{
    percents = sharpnessPercents(candidates);
    frames.clear();
    for (const auto& candidate : candidates)
        frames.push_back(candidate.second);
    position_ = 0;
    if (!percents.empty())
        ui->label_SharpestImageSelectionText->setText(percentText.arg(percents[0]));
    ui->pushButton_Plus->setEnabled(candidateCount() > 1);
}

void SharpestImageSelection::showCandidate()
{
    if (frames.empty())
        return;
    frameIndex_ = frames[static_cast<std::size_t>(position_)];
    cv::Mat frame;
    if (source)
        source->getFrame(frame, frameIndex_, false);
    if (frame.empty()) {
        logError("SharpestImageSelection::showCandidate",
                 "The frame " + std::to_string(frameIndex_) + " could not be read; the last image stays.");
    } else {
        image_ = frame;
        showImage();
    }
    ui->label_SharpestImageSelectionText->setText(percentText.arg(percents[static_cast<std::size_t>(position_)]));
    ui->pushButton_Plus->setEnabled(position_ < candidateCount() - 1);
    ui->pushButton_Minus->setEnabled(position_ >= 1);
}

void SharpestImageSelection::step(int offset)
{
    // Nothing to step through before the search has reported.
    if (frames.empty())
        return;
    position_ = std::clamp(position_ + offset, 0, candidateCount() - 1);
    showCandidate();
    emit selecting(frameIndex_);
}

void SharpestImageSelection::PushButtonPlusClicked()
{
    step(+1);
}

void SharpestImageSelection::PushButtonMinusClicked()
{
    step(-1);
}

void SharpestImageSelection::PushButtonCloseClicked()
{
    emit removeImage(this);
}

void SharpestImageSelection::customMenuRequested(QPoint point)
{
    if (mode_ != EditionMode)
        return;
    QMenu menu(this);
    connect(menu.addAction(translate("ExportThisImage")), SIGNAL(triggered()), this, SLOT(emitExport()));
    menu.exec(mapToGlobal(point));
}

void SharpestImageSelection::emitExport()
{
    emit onExport(this);
}

void SharpestImageSelection::enterEditionMode(const QString& name)
{
    if (title_.isEmpty())
        title_ = name;
    mode_ = EditionMode;
    ui->label_SharpestImageEditionText->setText(title_);
    ui->lineEdit_Title->setText(title_);
    ui->stackedWidget_SharpestImageSelectionBottom->setCurrentWidget(ui->page_EditionMode);
    ui->frame_Close->hide();
}

void SharpestImageSelection::setTitle(const QString& title)
{
    title_ = title;
    ui->label_SharpestImageEditionText->setText(title_);
    ui->lineEdit_Title->setText(title_);
}

void SharpestImageSelection::leaveEditionMode()
{
    setProperty("isSelected", false);
    mode_ = SelectionMode;
    ui->stackedWidget_SharpestImageSelectionBottom->setCurrentWidget(ui->page_SelectionMode);
    ui->frame_Close->show();
}

bool SharpestImageSelection::eventFilter(QObject* watched, QEvent* event)
{
    const QWidget* widget = qobject_cast<const QWidget*>(watched);
    if (widget && !widget->isEnabled())
        return QFrame::eventFilter(watched, event);
    if (event->type() == QEvent::MouseButtonPress) {
        if (watched == ui->label_SharpestImageSelected || watched == ui->label_SharpestImageSelectionText) {
            if (mode_ == SelectionMode)
                emit selecting(frameIndex_);
            else
                emit onClick(this);
        } else if (watched == ui->label_SharpestImageEditionText) {
            ui->stackedWidget_SharpestImageSelectionBottom->setCurrentWidget(ui->page_EditingTitle);
            ui->lineEdit_Title->setFocus();
        }
    } else if (event->type() == QEvent::FocusOut && watched == ui->lineEdit_Title) {
        title_ = ui->lineEdit_Title->text();
        ui->label_SharpestImageEditionText->setText(title_);
        ui->stackedWidget_SharpestImageSelectionBottom->setCurrentWidget(ui->page_EditionMode);
    }
    return QFrame::eventFilter(watched, event);
}
