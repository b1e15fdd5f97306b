#include "ExportRun.h"
#include "RenderPipeline.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

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
