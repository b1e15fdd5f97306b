#include "vellumbraV2.h"

#include "ExposureMarks.h"
#include "ImagesSequence.h"
#include "LanguageEngine.h"
#include "MatToQImage.h"
#include "MessageBoxes.h"
#include "PixelOps.h"
#include "Workspace.h"

#include <QPixmap>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>

namespace {

constexpr int kHistogramSampleWidth = 480;

// Bilinear sampling reads two pixels a side: reduced further, it skips pixels and fine
// texture turns to moiré, so the pixel area is taken (the unedited photo, a still frame).
// A playing video keeps the quicker filter to keep pace; the rendered preview is
// already about the view's size.
int fittingInterpolation(const cv::Size& from, const cv::Size& to, bool playing)
{
    const bool farReduced = from.width > 2 * to.width || from.height > 2 * to.height;
    return farReduced && !playing ? cv::INTER_AREA : cv::INTER_LINEAR;
}

}  // namespace

bool VellumbraV2::showImage(const cv::Mat& image)
{
    Workspace* open = currentWorkspace();
    cv::Mat source = image;
    if (source.empty() && open)
        source = open->currentImage();
    if (source.empty() && showUnreadablePhoto())
        return false;
    // Fitting to the view first keeps the marks and the display copy at view size.
    // The marks paint into `shown`, which never shares the caller's pixels.
    const cv::Mat eightBit = source.depth() == CV_8U ? source : convertBitDepth(source, 8);
    // A preview's size is rounded from its box: one within a pixel of the view is shown
    // at its own size, which a resampling by a pixel would blur.
    const bool nearViewSize =
        std::abs(eightBit.cols - viewSize.width) <= 1 && std::abs(eightBit.rows - viewSize.height) <= 1;
    cv::Mat shown;
    if (!eightBit.empty() && viewSize.width > 0 && viewSize.height > 0 && !nearViewSize)
        cv::resize(eightBit, shown, viewSize, 0, 0, fittingInterpolation(eightBit.size(), viewSize, !videoPaused));
    else
        shown = eightBit.clone();
    const int state = open ? open->state : 0;
    if (state == StateBrowse || state == StateDefineParameters || state == StateEditing)
        markExposure(shown, overExposedLimit, underExposedLimit, highlightOverExposed, highlightUnderExposed);

    const std::unique_ptr<QImage> picture(matToQImage(shown));
    if (!picture || picture->isNull()) {
        showCriticalBox(this, translate("Error"), translate("ErrorShowImage"));
        return false;
    }
    const QSize frame = ui.frame_VideoPreview2->size();
    const QRect placed((frame.width() - picture->width()) / 2, (frame.height() - picture->height()) / 2,
                       picture->width(), picture->height());
    // Moved, the display image becomes the pixmap without a copy.
    ui.label_VideoPreview->setPixmap(QPixmap::fromImage(std::move(*picture)));
    ui.label_VideoPreview->setGeometry(placed);
    ui.frame_LoadingIcone->setGeometry(placed);
    if (ui.dockWidget_Histogram->isVisible())
        refreshHistogram(shown);
    lastShown = {source, viewSize, frame, state, ui.dockWidget_Histogram->isVisible()};
    return true;
}

// A burst's photo that cannot be read is named in place of its picture: the one
// shown before it would pass for it.
bool VellumbraV2::showUnreadablePhoto()
{
    ImagesSequence* frames = usableFrameSource();
    if (!frames || !frames->isPhotoList)
        return false;
    ui.label_VideoPreview->setText(translate("ExplErrorOpenOneImage") + QLatin1Char('\n') + frames->infoLabel(-1));
    ui.label_VideoPreview->setGeometry(QRect(QPoint(0, 0), ui.frame_VideoPreview2->size()));
    // Nor does the histogram of the photo shown before it stay.
    workspace->histogramImage.release();
    ui.label_Histogram->clear();
    lastShown = {};
    return true;
}

bool VellumbraV2::showsAlready(const cv::Mat& image) const
{
    const Workspace* open = currentWorkspace();
    return !image.empty() && image.data == lastShown.source.data && image.size == lastShown.source.size &&
           image.type() == lastShown.source.type() && viewSize == lastShown.view &&
           ui.frame_VideoPreview2->size() == lastShown.frame && open && open->state == lastShown.state &&
           ui.dockWidget_Histogram->isVisible() == lastShown.histogram;
}

void VellumbraV2::refreshHistogram(const cv::Mat& shown)
{
    Workspace* open = currentWorkspace();
    if (!open || shown.empty())
        return;
    // The dock draws 256 bins a few hundred pixels wide: a sample of the shown pixels
    // (nearest, so no value is blended) gives the same curve for a tenth of the work.
    const double scale = std::min(1.0, static_cast<double>(kHistogramSampleWidth) / shown.cols);
    cv::Mat sample;
    cv::resize(shown, sample, cv::Size(), scale, scale, cv::INTER_NEAREST);
    open->histogramImage = computeHistogramImage(sample, 0);
    needResizeHistogramDock();
}
