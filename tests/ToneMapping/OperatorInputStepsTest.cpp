#include "EngineDefaults.h"
#include "RenderPipeline.h"
#include "ToneMapperFactory.h"

#include "HdrTestImages.h"
#include "ImageCompare.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

using testmedia::identical;
using Params = std::array<float, 3>;

// One parameter change of one operator: the first and the second parameter set.
struct ParameterChange {
    const char* name;
    int index;
    Params first;
    Params second;
};

cv::Mat applied(ToneMappingBase& op, const cv::Mat& in, const Params& params)
{
    cv::Mat out;
    op.apply(out, in, params.data());
    return out;
}

// What a fresh operator, which has kept nothing, gives.
cv::Mat freshResult(int index, const cv::Mat& in, const Params& params)
{
    return applied(*makeToneMapper(index), in, params);
}

class OperatorInputSteps : public ::testing::TestWithParam<ParameterChange> {};

}  // namespace

TEST_P(OperatorInputSteps, KeptStepsGiveTheSameBitsAsAFreshOperator)
{
    const ParameterChange& c = GetParam();
    const cv::Mat image = hdrtest::syntheticHdr(cv::Size(96, 64), 3);
    const cv::Mat other = hdrtest::syntheticHdr(cv::Size(96, 64), 4);
    const std::unique_ptr<ToneMappingBase> op = makeToneMapper(c.index);
    op->keepInputSteps = true;

    ASSERT_TRUE(identical(applied(*op, image, c.first), freshResult(c.index, image, c.first)));
    EXPECT_TRUE(identical(applied(*op, image, c.second), freshResult(c.index, image, c.second)))
        << c.name << ": parameter changed, same input";
    EXPECT_TRUE(identical(applied(*op, other, c.second), freshResult(c.index, other, c.second)))
        << c.name << ": another input";

    // A cancelled run keeps nothing half made.
    op->cancel = true;
    applied(*op, image, c.first);
    op->cancel = false;
    EXPECT_TRUE(identical(applied(*op, image, c.first), freshResult(c.index, image, c.first)))
        << c.name << ": after a cancelled run";

    op->keepInputSteps = false;
    EXPECT_TRUE(identical(applied(*op, image, c.second), freshResult(c.index, image, c.second)))
        << c.name << ": nothing kept";
}

INSTANTIATE_TEST_SUITE_P(
    EachOperator, OperatorInputSteps,
    ::testing::Values(ParameterChange{"LaplacianAlpha", LaplacianIndex, {1.f, 0.f, -1.f}, {0.7f, 0.f, -1.f}},
                      ParameterChange{"LaplacianBeta", LaplacianIndex, {0.7f, 0.f, -1.f}, {0.7f, 0.4f, -1.f}},
                      ParameterChange{"LogMappingBias", LogMappingIndex, {0.85f, -1.f, -1.f}, {0.7f, -1.f, -1.f}},
                      ParameterChange{"LCModelFloor", LC_ModelIndex, {0.1f, 7.f, 0.5f}, {0.3f, 7.f, 0.5f}},
                      ParameterChange{"LCModelSlope", LC_ModelIndex, {0.1f, 7.f, 0.5f}, {0.1f, 12.f, 0.5f}},
                      ParameterChange{"LCModelCentre", LC_ModelIndex, {0.1f, 7.f, 0.5f}, {0.1f, 7.f, 1.5f}},
                      ParameterChange{"LayerExponent", LayerProcessingIndex, {0.7f, 1.f, 20000.f}, {0.5f, 1.f, 20000.f}},
                      ParameterChange{"LayerGamma", LayerProcessingIndex, {0.7f, 1.f, 20000.f}, {0.7f, 1.4f, 20000.f}},
                      ParameterChange{"LayerLuminance", LayerProcessingIndex, {0.7f, 1.f, 20000.f},
                                      {0.7f, 1.f, 5000.f}},
                      ParameterChange{"SlidersOnly", SlidersTMIndex, {-1.f, -1.f, -1.f}, {0.f, 0.f, 0.f}}),
    [](const ::testing::TestParamInfo<ParameterChange>& info) { return std::string(info.param.name); });

TEST(OperatorInputSteps, DraggedPreviewEqualsTheFreshPreview)
{
    const EngineDefaults saved = engineDefaults;
    const cv::Size savedBox = previewBox();
    setPreviewBox(cv::Size(120, 80));
    const cv::Mat image = hdrtest::syntheticHdr(cv::Size(180, 120), 5);
    for (int index : {LC_ModelIndex, LayerProcessingIndex}) {
        engineDefaults = EngineDefaults();
        engineDefaults.TMalgo = index;
        RenderPipeline dragged;
        dragged.setSourceImage(image, true);
        dragged.renderPreview(0, true);
        for (float value : {0.3f, 0.4f, 0.5f}) {
            dragged.setTM4Alpha(value, true);
            dragged.setTM3Alpha(value + 0.2f, true);
        }
        RenderPipeline fresh;
        fresh.setTM4Alpha(0.5f, false);
        fresh.setTM3Alpha(0.7f, false);
        fresh.setSourceImage(image, true);
        fresh.renderPreview(0, true);
        EXPECT_TRUE(identical(dragged.output(), fresh.output())) << "operator " << index;
    }
    engineDefaults = saved;
    setPreviewBox(savedBox);
}
