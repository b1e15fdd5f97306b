#include "LabelImage.h"

#include "MatToQImage.h"

#include <QImage>
#include <QLabel>
#include <QPixmap>

#include <memory>

bool showImageInLabel(QLabel* label, const cv::Mat& image, const QSize& bound)
{
    const std::unique_ptr<QImage> display(matToQImage(image));
    if (!display)
        return false;
    const bool larger = display->width() > bound.width() || display->height() > bound.height();
    if (!bound.isEmpty() && larger)
        label->setPixmap(QPixmap::fromImage(display->scaled(bound, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    else
        label->setPixmap(QPixmap::fromImage(*display));
    return true;
}
