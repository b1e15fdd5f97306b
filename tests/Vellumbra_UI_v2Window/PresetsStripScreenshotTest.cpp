#include "ImageIO.h"
#include "PresetImage.h"
#include "PresetStore.h"
#include "SharpestImageSelection.h"
#include "TestMedia.h"
#include "WindowSession.h"
#include "WindowTest.h"
#include "Workspace.h"

#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

// The editing step of a real photograph with the factory presets rendered as live
// tiles; a panorama cut from it keeps tiles of the photo's height and letterboxed.
class PresetsStrip : public ::testing::TestWithParam<const char*> {
};

TEST_P(PresetsStrip, FactoryTilesPreviewTheSelectedPhoto)
{
    if (!windowtest::hasRealDisplay())
        GTEST_SKIP() << "no X display; test.sh runs these on its Xvfb";
    const QString photo = testmedia::mediaFile("mate-backgrounds/usr/share/backgrounds/mate/nature/GreenMeadow.jpg");
    cv::Mat image;
    if (photo.isEmpty() || readImage(image, photo.toStdString(), false).empty())
        GTEST_SKIP() << "the real photograph is not in the test media";
    const bool panorama = QByteArray(GetParam()) == "Panorama";
    if (panorama)
        cv::resize(image.rowRange(image.rows / 2 - image.rows / 40, image.rows / 2 + image.rows / 40), image,
                   cv::Size(30000, 200), 0, 0, cv::INTER_LINEAR);
    else
        cv::resize(image, image, cv::Size(960, 960 * image.rows / image.cols), 0, 0, cv::INTER_AREA);

    windowtest::WindowSession session;
    session.window().setGeometry(windowtest::screenGeometry());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&session.window()));
    Workspace* open = session.adoptPhoto(photo);
    open->aspectRatio = static_cast<float>(image.cols) / static_cast<float>(image.rows);
    SharpestImageSelection* tile =
        open->addImageTile(image, session.find<QWidget>("scrollAreaWidgetContents_ProEditingSelection"));
    tile->pipeline().setSourceImage(tile->image(), true);
    if (!defaultPresetsLoaded)
        loadDefaultPresets();
    session.window().buildDefaultPresetTiles(defaultPresets);
    int previews = 0;
    for (PresetImage* presetTile : open->factoryPresetTiles)
        QObject::connect(presetTile, &PresetImage::previewFinished, [&previews] { ++previews; });
    open->state = StateEditing;
    session.window().onClickSelectImage(tile);
    const int expected = static_cast<int>(open->factoryPresetTiles.size());
    EXPECT_TRUE(QTest::qWaitFor([&] { return previews >= expected; }, 60000)) << previews << " of " << expected;
    const QWidget* strip = session.find<QWidget>("scrollAreaWidgetContents_BottomPresets");
    for (const PresetImage* presetTile : open->factoryPresetTiles)
        EXPECT_LE(presetTile->width(), strip->width() / 4);
    EXPECT_FALSE(windowtest::saveScreenshot(QString("PresetsStrip") + (panorama ? "Panorama" : "")).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Pictures, PresetsStrip, ::testing::Values("Photo", "Panorama"));
