#include "PresetStore.h"
#include "RenderPipeline.h"
#include "ResizableFrame.h"
#include "SharpestImageSelection.h"
#include "TestMedia.h"
#include "WindowSession.h"
#include "WindowTest.h"
#include "Workspace.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
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

    session->window().PushButtonCropToolClicked();
    QLabel* picture = session->find<QLabel>("label_VideoPreview");
    auto* frame = picture->findChild<ResizableFrame*>();
    ASSERT_NE(frame, nullptr);
    frame->setGeometry(picture->width() / 6, picture->height() / 5, picture->width() * 2 / 3, picture->height() / 2);
    photograph("5CropTool");
    session->window().PushButtonApplyToolsClicked();
    EXPECT_EQ(open->state, StateEditing);
    EXPECT_GT(open->renderPipeline->crop().width, 0);
    photograph("6Cropped");

    session->window().PushButtonHorizonToolClicked();
    photograph("7HorizonTool");
    session->window().PushButtonCancelToolsClicked();
    EXPECT_EQ(open->state, StateEditing);
}
