#include "GeneratedMedia.h"
#include "ImagesSequence.h"
#include "PresetStore.h"
#include "RealWindowJourney.h"
#include "RenderPipeline.h"
#include "SharpestImageSelection.h"
#include "WorkflowStateTable.h"
#include "Workspace.h"

#include <QAction>
#include <QCryptographicHash>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStyleOptionGroupBox>
#include <QTest>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <functional>
#include <string>

namespace {

class EditingToggles;
using Step = std::function<void(EditingToggles&)>;
// Texts, so that a failure shows what differs.
using State = std::function<std::string(EditingToggles&)>;

// One everyday control: the user's change, then undo and redo from the Edit menu.
// What the user sees (the picture, or on a clip the frames a run takes and their
// markers) and the control's own state must follow each step.
struct Toggle {
    const char* name;
    bool onAClip;  // a clip at the stacking parameters, else a picture being edited
    Step prepare;  // the state the change starts from (optional)
    Step change;
    State control;
};

void PrintTo(const Toggle& toggle, std::ostream* out)
{
    *out << toggle.name;
}

class EditingToggles : public windowtest::RealWindowJourney<::testing::TestWithParam<Toggle>> {
public:
    template <typename Widget>
    Widget* find(const char* name)
    {
        return session->find<Widget>(name);
    }

    // A click on the check box in the group box's title.
    void clickTitleCheck(const char* name)
    {
        auto* box = find<QGroupBox>(name);
        QStyleOptionGroupBox option;
        option.initFrom(box);
        option.subControls = QStyle::SC_GroupBoxCheckBox | QStyle::SC_GroupBoxLabel;
        option.features = QStyleOptionFrame::None;
        option.text = box->title();
        option.state |= box->isChecked() ? QStyle::State_On : QStyle::State_Off;
        const QRect check = box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxCheckBox, box);
        QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, check.center());
    }

    Workspace* open = nullptr;

protected:
    void TearDown() override
    {
        if (session)
            session->discardMedia();
    }

    void openPicture()
    {
        const QString folder = session->environment().filesFolder();
        QDir().mkpath(folder);
        const QString photo = folder + "/scene.png";
        const cv::Mat scene = generatedmedia::scene(cv::Size(960, 640), 5);
        ASSERT_TRUE(cv::imwrite(photo.toStdString(), scene));
        // A light image brighter than white on its right third, as a stacking run leaves one.
        cv::Mat light;
        scene.convertTo(light, CV_32FC3, 1.0 / 255.0);
        light.colRange(640, 960) *= 4.0;
        open = session->adoptPhoto(photo);
        SharpestImageSelection* tile =
            open->addImageTile(light, find<QWidget>("scrollAreaWidgetContents_ProEditingSelection"));
        tile->pipeline().setSourceImage(light, false);
        if (!defaultPresetsLoaded)
            loadDefaultPresets();
        session->window().buildDefaultPresetTiles(defaultPresets);
        session->window().onClickSelectImage(tile);
        ASSERT_EQ(open->state, StateEditing);
    }

    void openClip()
    {
        const auto clip = generatedmedia::writeClip(session->environment().filesFolder(), 24, 12, cv::Size(640, 360));
        open = session->adoptVideo(clip.path, 12);
        ASSERT_TRUE(open && open->valid);
        ASSERT_TRUE(QTest::qWaitFor([&] { return open->frameSource->getCurrentIndex() == 12; }, 10000));
        QTest::mouseClick(find<QPushButton>("pushButton_SelectImageNext"), Qt::LeftButton);
        ASSERT_EQ(open->state, StateDefineParameters);
    }

    // What the user sees of the change.
    std::string look()
    {
        if (GetParam().onAClip) {
            return QString("frames %1-%2, markers at %3 and %4")
                .arg(open->frameSource->firstIndex.load())
                .arg(open->frameSource->lastIndex.load())
                .arg(find<QLabel>("label_TrimStartPlayingBar")->x())
                .arg(find<QLabel>("label_TrimEndPlayingBar")->x())
                .toStdString();
        }
        QCoreApplication::processEvents();
        const QImage shown = find<QLabel>("label_VideoPreview")->grab().toImage();
        return QString("picture %1x%2 %3")
            .arg(shown.width())
            .arg(shown.height())
            .arg(QString(QCryptographicHash::hash(
                QByteArray::fromRawData(reinterpret_cast<const char*>(shown.constBits()), shown.sizeInBytes()),
                QCryptographicHash::Md5).toHex()))
            .toStdString();
    }

    void photograph(const char* step)
    {
        // The preset tiles render their pictures anew after a change; the screenshot waits for them.
        if (!GetParam().onAClip) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return open->presetPreviewsShown(); }, 60000));
        }
        windowtest::photograph(QString("EditingToggles_%1_%2").arg(GetParam().name, step));
    }
};

std::string onOff(bool on)
{
    return on ? "on" : "off";
}

Step startChecked(const char* box, bool on)
{
    return [=](EditingToggles& t) { t.find<QGroupBox>(box)->setChecked(on); };
}

Step clickTitle(const char* box)
{
    return [=](EditingToggles& t) { t.clickTitleCheck(box); };
}

// The group box's check and the setting the picture is rendered with.
State checkAndSetting(const char* box, bool (RenderPipeline::*setting)() const)
{
    return [=](EditingToggles& t) {
        return onOff(t.find<QGroupBox>(box)->isChecked()) + "/" + onOff((t.open->renderPipeline->*setting)());
    };
}

Step pressKey(const char* spinBox, Qt::Key key)
{
    return [=](EditingToggles& t) {
        auto* box = t.find<QSpinBox>(spinBox);
        box->setFocus();
        QTest::keyClick(box, key);
    };
}

// The spin box's value and the count the run will take.
State valueAndCount(const char* spinBox, int Workspace::*count)
{
    return [=](EditingToggles& t) {
        return std::to_string(t.find<QSpinBox>(spinBox)->value()) + "/" + std::to_string(t.open->*count);
    };
}

void cropTheMiddle(EditingToggles& t)
{
    QTest::mouseClick(t.find<QPushButton>("pushButton_Crop_2"), Qt::LeftButton);
    QTest::mouseClick(t.find<QPushButton>("pushButton_ApplyTool"), Qt::LeftButton);
}

std::string cropState(EditingToggles& t)
{
    const cv::Rect crop = t.open->renderPipeline->crop();
    return QString("%1,%2 %3x%4").arg(crop.x).arg(crop.y).arg(crop.width).arg(crop.height).toStdString();
}

const char* const kToneMapping = "groupBox_TMOptions";
const char* const kSharpening = "groupBox_Sharpening";

const Toggle kToggles[] = {
    {"ToneMappingOff", false, startChecked(kToneMapping, true), clickTitle(kToneMapping),
     checkAndSetting(kToneMapping, &RenderPipeline::applyTM)},
    {"ToneMappingOn", false, startChecked(kToneMapping, false), clickTitle(kToneMapping),
     checkAndSetting(kToneMapping, &RenderPipeline::applyTM)},
    {"SharpeningOff", false, startChecked(kSharpening, true), clickTitle(kSharpening),
     checkAndSetting(kSharpening, &RenderPipeline::applySharpening)},
    {"SharpeningOn", false, startChecked(kSharpening, false), clickTitle(kSharpening),
     checkAndSetting(kSharpening, &RenderPipeline::applySharpening)},
    {"Crop", false, nullptr, cropTheMiddle, cropState},
    {"FramesBeforeUp", true, nullptr, pressKey("spinBox_ImageStackingBefore", Qt::Key_Up),
     valueAndCount("spinBox_ImageStackingBefore", &Workspace::framesBefore)},
    {"FramesAfterDown", true, nullptr, pressKey("spinBox_ImageStackingAfter", Qt::Key_Down),
     valueAndCount("spinBox_ImageStackingAfter", &Workspace::framesAfter)},
};

}  // namespace

TEST_P(EditingToggles, ChangeThenUndoThenRedo)
{
    const Toggle& toggle = GetParam();
    toggle.onAClip ? openClip() : openPicture();
    if (HasFatalFailure())
        return;
    if (toggle.prepare)
        toggle.prepare(*this);
    open->undoRedoManager.clear();
    const std::string lookBefore = look();
    const std::string controlBefore = toggle.control(*this);

    toggle.change(*this);
    const std::string lookAfter = look();
    const std::string controlAfter = toggle.control(*this);
    photograph("1Changed");
    EXPECT_NE(lookAfter, lookBefore);
    EXPECT_NE(controlAfter, controlBefore);
    ASSERT_EQ(open->undoRedoManager.undoCount(), 1);

    find<QAction>("actionUndo")->trigger();
    photograph("2Undone");
    EXPECT_EQ(look(), lookBefore);
    EXPECT_EQ(toggle.control(*this), controlBefore);

    find<QAction>("actionRedo")->trigger();
    EXPECT_EQ(look(), lookAfter);
    EXPECT_EQ(toggle.control(*this), controlAfter);
}

INSTANTIATE_TEST_SUITE_P(Controls, EditingToggles, ::testing::ValuesIn(kToggles),
                         [](const auto& info) { return std::string(info.param.name); });
