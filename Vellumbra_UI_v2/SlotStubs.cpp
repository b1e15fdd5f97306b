#include "vellumbraV2.h"

#include "Preset.h"

#include <QThread>

// Slots and steps whose behaviour is still to come; each group moves into the source
// file of its concern.

// Opening media and recent files.
void VellumbraV2::openFile(const QString&) {}
void VellumbraV2::openFilesFromCommandLine(const QStringList&) {}
void VellumbraV2::updateRecentFilesMenu() {}
void VellumbraV2::MenuActionOpenClicked() {}
void VellumbraV2::MenuActionOpenPhotosClicked() {}
void VellumbraV2::MenuActionOpenPhotoToTMClicked() {}
void VellumbraV2::ListItemRecentFilesThumbnailsClicked(QListWidgetItem*) {}
void VellumbraV2::playPauseVideo() {}

void VellumbraV2::stopPlayback()
{
    if (videoPaused)
        return;
    playPauseVideo();
    // The playback loop notices the pause on its next frame.
    QThread::msleep(100);
}

// Frame display and timeline.
void VellumbraV2::showCurrentImageAgain() {}
void VellumbraV2::showPreviousFrame() {}
void VellumbraV2::showNextFrame() {}
void VellumbraV2::showBeginFrame() {}
void VellumbraV2::showEndFrame() {}
void VellumbraV2::grabCurrentFrame() {}
void VellumbraV2::horizontalSlider_VideoBrightnessMoved(int) {}
void VellumbraV2::horizontalSlider_VideoSpeedMoved(int) {}
void VellumbraV2::horizontalSlider_VideoBrightness_ProMoved(int) {}
void VellumbraV2::horizontalSlider_VideoSpeed_ProMoved(int) {}
void VellumbraV2::spinBox_NbImagesBeforeChanged(int) {}
void VellumbraV2::spinBox_NbImagesAfterChanged(int) {}
void VellumbraV2::PushButtonImageStacking_BeforeClicked() {}
void VellumbraV2::PushButtonImageStacking_AfterClicked() {}
void VellumbraV2::TimerTimeoutShowFrameIndex() {}
void VellumbraV2::showFrameIndex(int) {}
void VellumbraV2::moveProSharpestPin(QWidget*, int) {}
bool VellumbraV2::showImage(const cv::Mat&) { return false; }
void VellumbraV2::showFrameNumber(int) {}

// Editing parameters and tools.
void VellumbraV2::MenuActionHighlightOverExposedClicked() {}
void VellumbraV2::MenuActionHighlightUnderExposedClicked() {}
void VellumbraV2::checkBox_AutoAP2Toggled(bool) {}
void VellumbraV2::horizontalSlider_AP2Moved(int) {}
void VellumbraV2::checkBox_AlignToggled(bool) {}
void VellumbraV2::comboBox_QualityChanged(int) {}
void VellumbraV2::updateAP1ModeValue() {}
void VellumbraV2::horizontalSlider_RotationMoved(int) {}
void VellumbraV2::horizontalSlider_Rotation_2Moved(int) {}
void VellumbraV2::checkBox_ApplyTMOptionsToggled(bool) {}
void VellumbraV2::comboBox_TMChanged(int) {}
void VellumbraV2::checkBox_ApplySharpeningToggled(bool) {}
void VellumbraV2::horizontalSlider_TM1AlphaMoved(int) {}
void VellumbraV2::horizontalSlider_TM1BetaMoved(int) {}
void VellumbraV2::horizontalSlider_TM2AlphaMoved(int) {}
void VellumbraV2::horizontalSlider_TM3AlphaMoved(int) {}
void VellumbraV2::horizontalSlider_TM3BetaMoved(int) {}
void VellumbraV2::horizontalSlider_TM3GammaMoved(int) {}
void VellumbraV2::horizontalSlider_TM4AlphaMoved(int) {}
void VellumbraV2::horizontalSlider_TM4BetaMoved(int) {}
void VellumbraV2::horizontalSlider_TM4GammaMoved(int) {}
void VellumbraV2::horizontalSlider_TMBlackClipMoved(int) {}
void VellumbraV2::horizontalSlider_TMWhiteClipMoved(int) {}
void VellumbraV2::horizontalSlider_TMStrengthMoved(int) {}
void VellumbraV2::horizontalSlider_TMExpositionMoved(int) {}
void VellumbraV2::horizontalSlider_TMContrastMoved(int) {}
void VellumbraV2::horizontalSlider_TMHueMoved(int) {}
void VellumbraV2::horizontalSlider_TMSaturationMoved(int) {}
void VellumbraV2::horizontalSlider_TMVibranceMoved(int) {}
void VellumbraV2::horizontalSlider_TMWhitesMoved(int) {}
void VellumbraV2::horizontalSlider_TMBlacksMoved(int) {}
void VellumbraV2::horizontalSlider_TMHighlightsMoved(int) {}
void VellumbraV2::horizontalSlider_TMShadowsMoved(int) {}
void VellumbraV2::horizontalSlider_TMSharpeningAmountMoved(int) {}
void VellumbraV2::horizontalSlider_TMSharpeningRadiusMoved(int) {}
void VellumbraV2::horizontalSlider_TMSharpeningThresholdMoved(int) {}
void VellumbraV2::PushButtonHorizonToolClicked() {}
void VellumbraV2::PushButtonCropToolClicked() {}
void VellumbraV2::PushButtonApplyToolsClicked() {}
void VellumbraV2::PushButtonCancelToolsClicked() {}
void VellumbraV2::onClickSelectImage(SharpestImageSelection*) {}
void VellumbraV2::onClickPresetImage(PresetImage*) {}
void VellumbraV2::setLoadingIconeAt(int) {}
void VellumbraV2::highlightMatchingPresets() {}

// Window events.
void VellumbraV2::needResize() {}
bool VellumbraV2::eventFilter(QObject* object, QEvent* event) { return QMainWindow::eventFilter(object, event); }
void VellumbraV2::mouseReleaseEvent(QMouseEvent* event) { QMainWindow::mouseReleaseEvent(event); }
void VellumbraV2::mouseMoveEvent(QMouseEvent* event) { QMainWindow::mouseMoveEvent(event); }
void VellumbraV2::keyPressEvent(QKeyEvent* event) { QMainWindow::keyPressEvent(event); }
void VellumbraV2::keyReleaseEvent(QKeyEvent* event) { QMainWindow::keyReleaseEvent(event); }
void VellumbraV2::resizeEvent(QResizeEvent* event) { QMainWindow::resizeEvent(event); }
void VellumbraV2::closeEvent(QCloseEvent* event) { QMainWindow::closeEvent(event); }
void VellumbraV2::dragEnterEvent(QDragEnterEvent* event) { QMainWindow::dragEnterEvent(event); }
void VellumbraV2::dropEvent(QDropEvent* event) { QMainWindow::dropEvent(event); }
void VellumbraV2::needResizeHistogramDock() {}
void VellumbraV2::MenuActionShowHistogramClicked() {}
void VellumbraV2::closeHistogramDock() {}
void VellumbraV2::customMenuRequested(QPoint) {}
void VellumbraV2::TimerTimeoutReleaseOKey() {}
