#include "ImageIO.h"
#include "PresetStore.h"
#include "PresetTileSettings.h"
#include "RenderPipeline.h"
#include "TestMedia.h"

#include <QCoreApplication>
#include <QDir>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

// Every factory preset is a look of its own on a real HDR photograph: no two give
// nearly the same picture, and none loses the picture to black or white.
TEST(FactoryPresets, EachGivesADistinctUsablePicture)
{
    const QString photo =
        testmedia::mediaFile("blender-data/usr/share/blender/datafiles/studiolights/world/courtyard.exr");
    cv::Mat light;
    if (photo.isEmpty() || readImage(light, photo.toStdString(), false).empty())
        GTEST_SKIP() << "the real HDR photograph is not in the test media";
    cv::resize(light, light, cv::Size(480, 240), 0, 0, cv::INTER_AREA);
    const std::vector<Preset*> presets =
        readPresetFile((QCoreApplication::applicationDirPath() + "/Presets/default.xml").toStdString(), true);
    ASSERT_GE(presets.size(), 6u);

    std::vector<cv::Mat> pictures;
    for (const Preset* preset : presets) {
        auto pipeline = pipelineFor(*preset);
        pipeline->setSourceImage(light, true);
        cv::Mat picture;
        pipeline->renderFull().convertTo(picture, CV_8U, 255.0);
        ASSERT_EQ(picture.size(), light.size()) << preset->name;
        const double mean = cv::mean(picture.reshape(1))[0];
        EXPECT_GT(mean, 25.0) << preset->name;
        EXPECT_LT(mean, 230.0) << preset->name;
        pictures.push_back(picture);
    }
    for (size_t a = 0; a < pictures.size(); ++a)
        for (size_t b = a + 1; b < pictures.size(); ++b)
            EXPECT_GT(cv::norm(pictures[a], pictures[b], cv::NORM_L1) / pictures[a].total(), 6.0)
                << presets[a]->name << " and " << presets[b]->name << " look alike";

    // A contact sheet for whoever reviews the looks.
    cv::Mat sheet;
    cv::vconcat(pictures, sheet);
    const QString folder = QCoreApplication::applicationDirPath() + "/../artefacts";
    QDir().mkpath(folder);
    writeImage((folder + "/FactoryPresets.png").toStdString(), sheet, "", "");
}
