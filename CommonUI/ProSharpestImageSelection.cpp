#include "ProSharpestImageSelection.h"
#include "ui_ProSharpestImageSelection.h"

#include "LabelImage.h"
#include "TileColours.h"

#include <QEvent>
#include <QLabel>
#include <QLayout>
#include <QPixmap>

#include <algorithm>
#include <utility>

std::vector<ProSharpestImageSelection*> ProSharpestImageSelection::allTiles;

namespace {

int nextTileNumber = 0;

}  // namespace

ProSharpestImageSelection::ProSharpestImageSelection(QWidget* parent, QWidget* pinParent, const cv::Mat& image,
                                                     int frameIndex, const QString& text)
    : QFrame(parent), frameIndex_(frameIndex), tileNumber_(nextTileNumber++)
{
    ui = std::make_unique<Ui::ImageRightReferencedClass>();
    ui->setupUi(this);
    setProperty("isSelected", false);
    ui->label_ImageRightReferencedText->setText(text);

    pinLabel_ = new QLabel(pinParent);
    pinLabel_->setPixmap(QPixmap::fromImage(tintedPin(tileNumber_)));
    pinLabel_->setScaledContents(true);
    pinLabel_->setProperty("Pin", true);
    pinLabel_->hide();
    pinLabel_->move(10, 10);

    setAttribute(Qt::WA_Hover);
    installEventFilter(this);

    if (parent) {
        const int margin = parent->layout() ? parent->layout()->contentsMargins().right() : 0;
        setMaximumWidth(std::max(1, parent->width() - margin));
    }
    const int thumbnailWidth = maximumWidth() / 2;
    ui->label_ImageRightReferenced->setMaximumWidth(thumbnailWidth);
    if (image.cols > 0 && image.rows > 0)
        ui->label_ImageRightReferenced->setMaximumHeight(
            static_cast<int>(thumbnailWidth / (static_cast<float>(image.cols) / static_cast<float>(image.rows))));
    showImageInLabel(ui->label_ImageRightReferenced, image,
                     QSize(thumbnailWidth, ui->label_ImageRightReferenced->maximumHeight()));

    if (parent && parent->layout())
        parent->layout()->addWidget(this);
    allTiles.push_back(this);
}

ProSharpestImageSelection::~ProSharpestImageSelection()
{
    allTiles.erase(std::remove(allTiles.begin(), allTiles.end(), this), allTiles.end());
    delete pinLabel_.data();
}

void ProSharpestImageSelection::deleteAll()
{
    // Each destructor leaves the list: delete from a copy.
    const std::vector<ProSharpestImageSelection*> tilesToDelete = std::exchange(allTiles, {});
    for (ProSharpestImageSelection* tile : tilesToDelete)
        delete tile;
}

void ProSharpestImageSelection::FrameClicked(int)
{
    for (ProSharpestImageSelection* tile : allTiles)
        tile->setStyleSheet(QStringLiteral("background-color:#141414; color:white"));
    setStyleSheet(QStringLiteral("background-color: rgb(50, 50, 50)"));
}

bool ProSharpestImageSelection::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == this) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
            emit onClick(frameIndex_);
            break;
        case QEvent::HoverEnter:
            if (pinLabel_) {
                pinLabel_->show();
                emit movePin(pinLabel_, frameIndex_);
            }
            break;
        case QEvent::HoverLeave:
            if (pinLabel_)
                pinLabel_->hide();
            break;
        default:
            break;
        }
    }
    return QFrame::eventFilter(watched, event);
}
