#include "ExportRun.h"
#include "ImageIO.h"
#include "RenderPipeline.h"
#include "StartupValues.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <thread>

namespace {

cv::Mat picture(double value)
{
    cv::Mat image(60, 80, CV_32FC3);
    cv::randu(image, cv::Scalar::all(0.0), cv::Scalar::all(value));
    return image;
}

}  // namespace

// The window goes on changing, rendering and replacing the tiles' pipelines while
// they export: the results are those of the pipelines as the export found them.
TEST(ExportRun, RendersThePipelinesAsTheyWereWhenItStarted)
{
    cv::theRNG().state = 5;
    RenderPipeline first;
    first.setSourceImage(picture(1.0), true);
    first.setExposure(0.5f, false);
    RenderPipeline second;
    second.setSourceImage(picture(2.0), true);
    second.setApplyTM(false, false);
    const cv::Mat expected[] = {first.renderCopy()->renderFull(), second.renderCopy()->renderFull()};

    ExportRun run("", 8, {&first, &second});
    for (RenderPipeline* shown : {&first, &second}) {
        shown->setExposure(-3.0f, false);
        shown->setSourceImage(picture(0.1), true);
        shown->renderPreview(RenderPipeline::RotationStage, false);
    }
    for (int i = 0; i < 2; ++i) {
        while (!run.rendered(i))
            std::this_thread::yield();
        const ExportRun::Render render = run.takeRender(i);
        ASSERT_FALSE(render.failed);
        EXPECT_EQ(cv::norm(render.picture, expected[i], cv::NORM_INF), 0.0) << i;
    }
}

// A file the metadata tool could not tag is written, and named apart from those that failed.
TEST(ExportRun, FilesWrittenWithoutTheirMetadataAreNamed)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QFile tool(folder.filePath("exiftool"));
    ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
    tool.write("#!/bin/sh\nexit 3\n");
    tool.close();
    tool.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const std::string savedDirectory = applicationDirectory;
    setApplicationDirectory(folder.path().toStdString() + "/");
    const std::string source = folder.filePath("source.jpg").toStdString();
    ASSERT_TRUE(cv::imwrite(source, picture(255.0)));

    ExportRun run(source, 16, {});
    run.startWrite(folder.filePath("tagless.tif"), picture(1.0));
    run.startWrite(folder.filePath("no folder/lost.tif"), picture(1.0));
    while (run.writing())
        std::this_thread::yield();
    setApplicationDirectory(savedDirectory);
    EXPECT_EQ(run.withoutMetadata(), QStringList{folder.filePath("tagless.tif")});
    EXPECT_EQ(run.failed(), QStringList{folder.filePath("no folder/lost.tif")});
}
