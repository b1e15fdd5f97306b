#include "vellumbraV2.h"

#include "Preset.h"

// Slots and steps whose behaviour is still to come; each group moves into the source
// file of its concern.

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
