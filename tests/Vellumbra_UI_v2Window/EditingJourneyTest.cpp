#include "PresetStore.h"
#include "RenderPipeline.h"
#include "ResizableFrame.h"
#include "ResizableLine.h"
#include "SharpestImageSelection.h"
#include "TestMedia.h"
#include "WindowSession.h"
#include "WindowTest.h"
#include "WorkflowStateTable.h"
#include "Workspace.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

using windowtest::WindowSession;

namespace {

// A real high-dynamic-range picture from the test media, as linear float light.
cv::Mat realLightImage()
{
    qputenv("OPENCV_IO_ENABLE_OPENEXR", "1");
    const QString path = testmedia::mediaFile("blender-data/usr/share/blender/datafiles/studiolights/world/forest.exr");
    if (path.isEmpty())
        return cv::Mat();
    cv::Mat light = cv::imread(path.toStdString(), cv::IMREAD_UNCHANGED);
    if (light.empty())
        return light;
    if (light.channels() == 4)
        cv::cvtColor(light, light, cv::COLOR_BGRA2BGR);
    light.convertTo(light, CV_32FC3);
    return cv::max(light, 0.0f);
}

class EditingJourney : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!windowtest::hasRealDisplay())
            GTEST_SKIP() << "no X display; test.sh runs these on its Xvfb";
        light = realLightImage();
        if (light.empty())
            GTEST_SKIP() << "the HDR picture of the test media is missing";
        session = windowtest::fullScreenSession();
    }

    void TearDown() override
    {
        if (session)
            session->discardMedia();
    }

    void photograph(const char* step)
    {
        windowtest::photograph(QString("Editing%1").arg(step));
    }

    QSlider* slider(const char* name) { return session->find<QSlider>(name); }

    // A drag with the left button from a point of the overlay, by an offset.
    static void dragFrom(QWidget* overlay, const QPoint& from, const QPoint& by)
    {
        QMouseEvent hover(QEvent::MouseMove, from, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(overlay, &hover);
        QTest::mousePress(overlay, Qt::LeftButton, Qt::NoModifier, from);
        QMouseEvent drag(QEvent::MouseMove, from + by, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(overlay, &drag);
        QTest::mouseRelease(overlay, Qt::LeftButton, Qt::NoModifier, from + by);
    }

    std::unique_ptr<WindowSession> session;
    cv::Mat light;
};

}  // namespace

TEST_F(EditingJourney, EditsARealLightImageStepByStep)
{
    const QString folder = session->environment().filesFolder();
    QDir().mkpath(folder);
    const QString photo = folder + "/forest.png";
    cv::Mat shown;
    cv::pow(cv::min(light, 1.0f), 1.0 / 2.2, shown);
    shown.convertTo(shown, CV_8UC3, 255.0);
    ASSERT_TRUE(cv::imwrite(photo.toStdString(), shown));
    Workspace* open = session->adoptPhoto(photo);
    SharpestImageSelection* tile =
        open->addImageTile(light, session->find<QWidget>("scrollAreaWidgetContents_ProEditingSelection"));
    tile->pipeline().setSourceImage(light, false);
    // The preset rows as the editing step begins, then the image selected.
    if (!defaultPresetsLoaded)
        loadDefaultPresets();
    session->window().buildDefaultPresetTiles(defaultPresets);
    session->window().onClickSelectImage(tile);
    ASSERT_FALSE(open->currentImage().empty());
    photograph("1Selected");

    slider("horizontalSlider_TMExposition")->setValue(35);
    slider("horizontalSlider_TMContrast")->setValue(30);
    slider("horizontalSlider_TMSaturation")->setValue(25);
    slider("horizontalSlider_TMShadows")->setValue(40);
    photograph("2Adjusted");

    // The loading icon over the picture while the second operator renders.
    bool iconPhotographed = false;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (iconPhotographed || !session->find<QWidget>("frame_LoadingIcone")->isVisible())
            return;
        iconPhotographed = true;
        photograph("3Recomputing");
    });
    watch.start();
    session->find<QComboBox>("comboBox_TM")->setCurrentIndex(2);
    watch.stop();
    EXPECT_EQ(open->renderPipeline->TMalgo(), 2);
    photograph("4SecondOperator");

    // The tools are on the editing page, beside the rotation: reached by clicks.
    QWidget* panel = session->find<QWidget>("frame_MainOptions");
    auto* cropButton = session->find<QPushButton>("pushButton_Crop_2");
    auto* horizonButton = session->find<QPushButton>("pushButton_Horizon_2");
    ASSERT_TRUE(cropButton->isVisible());
    ASSERT_TRUE(horizonButton->isVisible());
    QTest::mouseClick(cropButton, Qt::LeftButton);
    EXPECT_EQ(open->state, StateTool);
    EXPECT_EQ(open->tool, ToolCrop);
    // While a tool is out the panels rest and Apply and Cancel stand under the picture.
    EXPECT_FALSE(panel->isEnabled());
    EXPECT_TRUE(session->find<QWidget>("pushButton_ApplyTool")->isVisible());
    QLabel* picture = session->find<QLabel>("label_VideoPreview");
    auto* frame = picture->findChild<ResizableFrame*>();
    ASSERT_NE(frame, nullptr);
    ASSERT_TRUE(frame->isVisible());
    EXPECT_EQ(frame->geometry(),
              QRect(picture->width() / 4, picture->height() / 4, picture->width() / 2, picture->height() / 2));
    // Its bottom-right corner dragged further out by an eighth of the picture.
    dragFrom(frame, QPoint(frame->width() - 2, frame->height() - 2), QPoint(picture->width() / 8, picture->height() / 8));
    const QRect drawn = frame->geometry();
    EXPECT_GT(drawn.width(), picture->width() * 5 / 8 - 4);
    EXPECT_GT(drawn.height(), picture->height() * 5 / 8 - 4);
    photograph("5CropTool");
    const double scale = static_cast<double>(open->renderPipeline->fullWidth()) / picture->width();
    QTest::mouseClick(session->find<QPushButton>("pushButton_ApplyTool"), Qt::LeftButton);
    EXPECT_EQ(open->state, StateEditing);
    EXPECT_TRUE(panel->isEnabled());
    // The picture is cut to the drawn frame, in full-size pixels.
    const cv::Rect crop = open->renderPipeline->crop();
    EXPECT_NEAR(crop.x, drawn.x() * scale, scale + 1);
    EXPECT_NEAR(crop.y, drawn.y() * scale, scale + 1);
    EXPECT_NEAR(crop.width, drawn.width() * scale, 2 * scale + 1);
    EXPECT_NEAR(crop.height, drawn.height() * scale, 2 * scale + 1);
    photograph("6Cropped");

    QTest::mouseClick(horizonButton, Qt::LeftButton);
    EXPECT_EQ(open->state, StateTool);
    EXPECT_EQ(open->tool, ToolHorizon);
    EXPECT_TRUE(picture->findChild<ResizableLine*>()->isVisible());
    photograph("7HorizonTool");
    QTest::mouseClick(session->find<QPushButton>("pushButton_CancelTool"), Qt::LeftButton);
    EXPECT_EQ(open->state, StateEditing);
    EXPECT_EQ(open->renderPipeline->crop(), crop);
    EXPECT_EQ(session->find<QSlider>("horizontalSlider_Rotation_2")->value(), 0);
}
