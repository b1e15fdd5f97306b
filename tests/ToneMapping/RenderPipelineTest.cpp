#include "EngineDefaults.h"
#include "PixelOps.h"
#include "RenderPipeline.h"
#include "ToneMapperFactory.h"

#include "HdrTestImages.h"
#include "ImageCompare.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>

namespace {

using testmedia::identical;

cv::Mat lightImage(int rows, int cols)
{
    cv::Mat image(rows, cols, CV_32FC3);
    cv::RNG(2024).fill(image, cv::RNG::UNIFORM, 0.f, 1.1f);
    cv::GaussianBlur(image, image, cv::Size(5, 5), 0);
    return image;
}

// A test operator: halves its input, or cancels itself on request like a real
// operator that sees its cancel flag.
class FakeOperator : public ToneMappingBase {
public:
    static inline bool cancelNextApply = false;
    static inline int applyCount = 0;

    cv::Mat& apply(cv::Mat& out, const cv::Mat& in, const float params[3]) override
    {
        ++applyCount;
        if (cancelNextApply) {
            cancelNextApply = false;
            cancel = true;
            out = cv::Mat();
            return out;
        }
        out = in * (0.5f + 0.1f * params[0]);
        return out;
    }
};

std::unique_ptr<ToneMappingBase> makeFake(int index)
{
    if (index == 0)
        return std::make_unique<FakeOperator>();
    return nullptr;
}

// Fresh engine defaults, sizes and operators for each test.
class RenderPipelineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedDefaults = engineDefaults;
        savedBox = previewBox();
        savedThumbnail = thumbnailSize();
        engineDefaults = EngineDefaults();
        engineDefaults.TMalgo = SlidersTMIndex;
        setPreviewBox(cv::Size(48, 36));
        FakeOperator::cancelNextApply = false;
        FakeOperator::applyCount = 0;
    }
    void TearDown() override
    {
        setToneMapperMakerHook(nullptr);
        engineDefaults = savedDefaults;
        setPreviewBox(savedBox);
        setThumbnailSize(savedThumbnail);
    }

    EngineDefaults savedDefaults;
    cv::Size savedBox;
    cv::Size savedThumbnail;
    const cv::Mat source = lightImage(45, 60);
};

using Change = std::function<void(RenderPipeline&, bool render)>;

struct StageCase {
    const char* name;
    int stage;
    Change change;
    // Tone mapping on or off changes the interactive preview size: all stages redone.
    bool resizesPreview = false;
};

class RenderPipelineCache : public RenderPipelineTest, public ::testing::WithParamInterface<StageCase> {};

const cv::Mat& stageImage(const RenderPipeline& p, int stage)
{
    switch (stage) {
    case 0: return p.rotated();
    case 1: return p.cropped();
    case 2: return p.toneMapped();
    default: return p.sharpened();
    }
}

}  // namespace

TEST_P(RenderPipelineCache, RenderFromTheChangedStageEqualsAFreshRender)
{
    const StageCase& c = GetParam();
    RenderPipeline cached;
    cached.setSourceImage(source, true);
    cached.renderPreview(0, true);
    std::vector<const uchar*> before;
    for (int s = 0; s < 4; ++s)
        before.push_back(stageImage(cached, s).data);

    c.change(cached, true);

    RenderPipeline fresh;
    c.change(fresh, false);
    fresh.setSourceImage(source, true);
    fresh.renderPreview(0, true);

    ASSERT_FALSE(cached.output().empty());
    EXPECT_TRUE(identical(cached.output(), fresh.output())) << c.name;
    for (int s = 0; s < c.stage && s < 4 && !c.resizesPreview; ++s)
        EXPECT_EQ(stageImage(cached, s).data, before[s]) << c.name << ": stage " << s << " was recomputed";
    if (c.stage < 4) {
        EXPECT_NE(stageImage(cached, c.stage).data, before[c.stage]) << c.name << ": stage not recomputed";
    }
}

INSTANTIATE_TEST_SUITE_P(
    EachStage, RenderPipelineCache,
    ::testing::Values(
        StageCase{"rotation", 0, [](RenderPipeline& p, bool r) { p.setRotation(0.3f, r); }},
        StageCase{"crop", 1, [](RenderPipeline& p, bool r) { p.setCrop(cv::Rect(10, 8, 30, 20), r); }},
        StageCase{"applyTM", 2, [](RenderPipeline& p, bool r) { p.setApplyTM(false, r); }, true},
        StageCase{"operatorParameter", 2, [](RenderPipeline& p, bool r) { p.setTM3Alpha(0.5f, r); }},
        StageCase{"operator", 2, [](RenderPipeline& p, bool r) { p.setTMAlgo(7, r); }},
        StageCase{"strength", 3, [](RenderPipeline& p, bool r) { p.setStrength(0.8f, r); }},
        StageCase{"sharpeningRadius", 3, [](RenderPipeline& p, bool r) { p.setSharpeningRadius(5, r); }},
        StageCase{"sharpeningAmount", 3, [](RenderPipeline& p, bool r) { p.setSharpeningAmount(0.6f, r); }},
        StageCase{"sharpeningOff", 3, [](RenderPipeline& p, bool r) { p.setApplySharpening(false, r); }},
        StageCase{"exposure", 4, [](RenderPipeline& p, bool r) { p.setExposure(0.7f, r); }},
        // Below 0 the sharpening's white follows the exposure.
        StageCase{"exposureLowered", 3, [](RenderPipeline& p, bool r) { p.setExposure(-0.7f, r); }},
        StageCase{"contrast", 4, [](RenderPipeline& p, bool r) { p.setContrast(1.4f, r); }},
        StageCase{"hue", 4, [](RenderPipeline& p, bool r) { p.setHue(0.2f, r); }},
        StageCase{"saturation", 4, [](RenderPipeline& p, bool r) { p.setSaturation(1.6f, r); }},
        StageCase{"vibrance", 4, [](RenderPipeline& p, bool r) { p.setVibrance(0.5f, r); }},
        StageCase{"whites", 4, [](RenderPipeline& p, bool r) { p.setWhites(0.5f, r); }},
        StageCase{"blacks", 4, [](RenderPipeline& p, bool r) { p.setBlacks(-0.3f, r); }},
        StageCase{"highlights", 4, [](RenderPipeline& p, bool r) { p.setHighlights(-0.4f, r); }},
        StageCase{"shadows", 4, [](RenderPipeline& p, bool r) { p.setShadows(0.6f, r); }},
        StageCase{"blackClip", 4, [](RenderPipeline& p, bool r) { p.setBlackClip(0.2f, r); }},
        StageCase{"whiteClip", 4, [](RenderPipeline& p, bool r) { p.setWhiteClip(0.3f, r); }}),
    [](const ::testing::TestParamInfo<StageCase>& info) { return std::string(info.param.name); });

// A rotated preview of a large source is drawn from a reduction of it that is kept
// while only the angle changes, and made again for a new source of the same size.
TEST_F(RenderPipelineTest, RotationDragOfALargeSourceRendersAsAFreshPipeline)
{
    setPreviewBox(cv::Size(60, 40));
    const cv::Mat first = lightImage(400, 600);
    const cv::Mat second = lightImage(400, 600) * 0.5f + 0.2f;
    auto fresh = [](const cv::Mat& image, float rotation) {
        RenderPipeline p;
        p.setRotation(rotation, false);
        p.setSourceImage(image, true);
        p.renderPreview(0, true);
        return p.output().clone();
    };
    RenderPipeline dragged;
    dragged.setSourceImage(first, true);
    dragged.renderPreview(0, true);
    for (float rotation : {0.1f, 0.2f, -0.15f})
        dragged.setRotation(rotation, true);
    EXPECT_TRUE(identical(dragged.output(), fresh(first, -0.15f)));

    dragged.setSourceImage(second, true);
    dragged.renderPreview(0, true);
    EXPECT_TRUE(identical(dragged.output(), fresh(second, -0.15f)));
}

TEST_F(RenderPipelineTest, EqualValuesRenderNothing)
{
    RenderPipeline p;
    p.setSourceImage(source, true);
    p.setCrop(cv::Rect(2, 2, 20, 20), false);
    p.renderPreview(0, true);
    const uchar* output = p.output().data;
    p.setCrop(cv::Rect(2, 2, 20, 20), true);
    p.setContrast(p.contrast(), true);
    p.setRotation(p.rotation(), true);
    p.setTMAlgo(p.TMalgo(), true);
    p.setWhites(p.curve().whites(), true);
    p.setShadows(p.curve().shadows(), true);
    p.setSharpeningRadius(p.sharpeningRadius(), true);
    EXPECT_EQ(p.output().data, output);
}

TEST_F(RenderPipelineTest, CancelledToneMappingIsRedoneByALaterColourChange)
{
    setToneMapperMakerHook(&makeFake);
    engineDefaults.TMalgo = 0;
    RenderPipeline p;
    p.setSourceImage(source, true);
    p.renderPreview(0, false);
    const cv::Mat before = p.output().clone();

    FakeOperator::cancelNextApply = true;
    p.setTM1Alpha(2.f, true);
    EXPECT_TRUE(p.toneMapper()->cancel.load());
    EXPECT_TRUE(identical(p.output(), before)) << "a cancelled render keeps the last finished preview";

    p.setContrast(1.3f, true);  // starts at the colour stage, must redo tone mapping
    RenderPipeline fresh;
    fresh.setTM1Alpha(2.f, false);
    fresh.setContrast(1.3f, false);
    fresh.setSourceImage(source, true);
    fresh.renderPreview(0, true);
    EXPECT_TRUE(identical(p.output(), fresh.output()));
}

namespace {

// A setting stored without a render, then another one rendered.
struct QuietThenRendered {
    const char* name;
    Change quiet;
    Change rendered;
};

void PrintTo(const QuietThenRendered& c, std::ostream* os)
{
    *os << c.name;
}

class SettingsStoredWithoutARender : public RenderPipelineTest,
                                     public ::testing::WithParamInterface<QuietThenRendered> {};

void applyPreset(RenderPipeline& p, bool)
{
    p.applySettings(true, SlidersTMIndex, 0.f, 0.f, 0.f, 0.02f, 0.03f, 0.7f, 0.3f, 1.2f, -0.4f, 0.3f, 0.2f, -0.2f,
                    0.05f, 1.3f, 0.2f, true, 0.5f, 5, 0.f);
}

}  // namespace

TEST_P(SettingsStoredWithoutARender, AreRenderedByTheNextRenderFromALaterStage)
{
    const QuietThenRendered& c = GetParam();
    RenderPipeline p;
    p.setTMAlgo(LogMappingIndex, false);
    p.setSourceImage(source, true);
    p.renderPreview(0, true);
    c.quiet(p, false);
    c.rendered(p, true);

    RenderPipeline fresh;
    fresh.setTMAlgo(LogMappingIndex, false);
    c.quiet(fresh, false);
    c.rendered(fresh, false);
    fresh.setSourceImage(source, true);
    fresh.renderPreview(0, true);
    EXPECT_TRUE(identical(p.output(), fresh.output())) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    EarlierStages, SettingsStoredWithoutARender,
    ::testing::Values(
        QuietThenRendered{"operatorParameter", [](RenderPipeline& p, bool r) { p.setTM2Alpha(0.55f, r); },
                          [](RenderPipeline& p, bool r) { p.setSaturation(1.4f, r); }},
        QuietThenRendered{"rotation", [](RenderPipeline& p, bool r) { p.setRotation(0.2f, r); },
                          [](RenderPipeline& p, bool r) { p.setExposure(0.3f, r); }},
        QuietThenRendered{"crop", [](RenderPipeline& p, bool r) { p.setCrop(cv::Rect(6, 4, 30, 22), r); },
                          [](RenderPipeline& p, bool r) { p.setSharpeningAmount(0.5f, r); }},
        QuietThenRendered{"strength", [](RenderPipeline& p, bool r) { p.setStrength(0.9f, r); },
                          [](RenderPipeline& p, bool r) { p.setHue(0.1f, r); }},
        QuietThenRendered{"preset", &applyPreset, [](RenderPipeline& p, bool r) { p.setVibrance(0.3f, r); }},
        // A tall crop rendered, then a taller box: the whole picture fits it at the same
        // size, its crop at a larger one.
        QuietThenRendered{"previewBoxAfterACrop",
                          [](RenderPipeline& p, bool) {
                              p.setCrop(cv::Rect(20, 0, 15, 45), true);
                              setPreviewBox(cv::Size(48, 40));
                          },
                          [](RenderPipeline& p, bool r) { p.setTM2Alpha(0.55f, r); }}),
    [](const ::testing::TestParamInfo<QuietThenRendered>& info) { return std::string(info.param.name); });

TEST_F(RenderPipelineTest, ApplySettingsMakesTheCurveFromItsValuesWhateverCameBefore)
{
    const std::function<void(RenderPipeline&)> histories[] = {
        [](RenderPipeline&) {},
        [](RenderPipeline& p) {
            p.setHighlights(-0.8f, false);
            p.setBlacks(-0.6f, false);
            p.setShadows(-0.7f, false);
        },
        [](RenderPipeline& p) {
            p.setShadows(0.9f, false);
            p.setWhites(-0.5f, false);
            p.setHighlights(0.6f, false);
        },
    };
    const Spline expected(0.3f, -0.4f, -0.6f, 0.5f);
    for (const auto& history : histories) {
        RenderPipeline p;
        history(p);
        p.applySettings(true, SlidersTMIndex, 0.f, 0.f, 0.f, 0.f, 0.f, 0.5f, 0.f, 1.f, -0.4f, -0.6f, 0.3f, 0.5f, 0.f,
                        1.f, 0.f, true, 0.1f, 3, 0.f);
        ASSERT_EQ(p.curve().points().size(), expected.points().size());
        for (size_t i = 0; i < expected.points().size(); ++i) {
            EXPECT_EQ(p.curve().points()[i].x, expected.points()[i].x) << "point " << i;
            EXPECT_EQ(p.curve().points()[i].y, expected.points()[i].y) << "point " << i;
        }
    }
}

TEST_F(RenderPipelineTest, CancelledFullRenderReturnsTheLastPreview)
{
    setToneMapperMakerHook(&makeFake);
    engineDefaults.TMalgo = 0;
    RenderPipeline p;
    p.setSourceImage(source, true);
    p.renderPreview(0, false);
    const cv::Mat preview = p.output().clone();
    FakeOperator::cancelNextApply = true;
    EXPECT_TRUE(identical(p.renderFull(), preview));
}

TEST_F(RenderPipelineTest, WithoutAnOperatorToneMappingIsSkipped)
{
    RenderPipeline noOperator;
    noOperator.setTMAlgo(5, false);
    EXPECT_EQ(noOperator.toneMapper(), nullptr);
    EXPECT_EQ(noOperator.TMalgo(), 5);
    noOperator.setSourceImage(source, true);
    noOperator.renderPreview(0, false);

    RenderPipeline off;
    off.setApplyTM(false, false);
    off.setSourceImage(source, true);
    off.renderPreview(0, false);
    EXPECT_TRUE(identical(noOperator.output(), off.output()));
    EXPECT_TRUE(identical(noOperator.renderFull(), off.renderFull()));
}

TEST_F(RenderPipelineTest, FullRenderEqualsThePreviewOfASourceWithinTheBox)
{
    setPreviewBox(cv::Size(200, 200));
    for (bool applyTM : {true, false}) {
        RenderPipeline p;
        p.setApplyTM(applyTM, false);
        p.setSharpeningAmount(0.8f, false);
        p.setExposure(0.3f, false);
        p.setHue(0.1f, false);
        p.setBlackClip(0.1f, false);
        p.setWhiteClip(0.05f, false);
        p.setShadows(0.4f, false);
        p.setSourceImage(source, true);
        p.renderPreview(0, false);
        const cv::Mat preview = p.output().clone();
        ASSERT_EQ(preview.size(), source.size());
        const cv::Mat full = p.renderFull();
        EXPECT_TRUE(identical(full, preview)) << "applyTM " << applyTM;
        EXPECT_EQ(p.output().data, full.data);
    }
}

TEST_F(RenderPipelineTest, OperatorChangeRestartsAtToneMappingAtTheLatest)
{
    RenderPipeline p;
    p.setSourceImage(source, true);
    p.renderPreview(0, false);
    const uchar* toneMapped = p.toneMapped().data;
    const uchar* cropped = p.cropped().data;
    p.setTMAlgo(9, false);
    p.renderPreview(4, false);
    EXPECT_NE(p.toneMapped().data, toneMapped);
    EXPECT_EQ(p.cropped().data, cropped);
}

TEST_F(RenderPipelineTest, RotationSetsTheFullSize)
{
    RenderPipeline p;
    p.setSourceImage(source, true);
    p.renderPreview(0, false);
    EXPECT_EQ(cv::Size(p.fullWidth(), p.fullHeight()), source.size());
    p.setRotation(static_cast<float>(M_PI / 2), true);
    EXPECT_EQ(cv::Size(p.fullWidth(), p.fullHeight()), cv::Size(source.rows, source.cols));
}

TEST_F(RenderPipelineTest, InvalidCropsAreIgnored)
{
    for (const cv::Rect& crop : {cv::Rect(0, 0, 0, 10), cv::Rect(-1, 5, 10, 10), cv::Rect(5, -2, 10, 10),
                                 cv::Rect(5, 5, 10, 0), cv::Rect(500, 500, 10, 10)}) {
        RenderPipeline p;
        p.setCrop(crop, false);
        p.setSourceImage(source, true);
        p.renderPreview(0, false);
        EXPECT_EQ(p.cropped().size(), p.rotated().size()) << crop;
        EXPECT_FALSE(p.output().empty());
    }
}

TEST_F(RenderPipelineTest, ScaledRenderScalesTheCrop)
{
    cv::Mat image(100, 200, CV_32FC3, cv::Scalar::all(0.05));
    image(cv::Rect(100, 50, 100, 50)).setTo(cv::Scalar::all(0.8));
    setThumbnailSize(cv::Size(50, 25));
    RenderPipeline p;
    p.setApplyTM(false, false);
    p.setApplySharpening(false, false);
    p.setSourceImage(image, true);
    p.setCrop(cv::Rect(100, 50, 100, 50), false);
    const cv::Mat thumbnail = p.renderScaled();
    ASSERT_EQ(thumbnail.size(), cv::Size(25, 13));  // rows 12.5 to 25, both edges rounded
    EXPECT_GT(cv::mean(thumbnail)[0], 0.6);

    setThumbnailSize(cv::Size(0, 0));
    EXPECT_EQ(p.renderScaled().size(), cv::Size(1, 1));
}

TEST_F(RenderPipelineTest, AwkwardSourcesAndSizesRenderSafely)
{
    const cv::Mat grey(30, 40, CV_8UC1, cv::Scalar(128));
    const cv::Mat bgra(30, 40, CV_16UC4, cv::Scalar::all(30000));
    for (const cv::Mat& image : {grey, bgra}) {
        RenderPipeline p;
        p.setSourceImage(image, true);
        EXPECT_EQ(p.source().type(), CV_32FC3);
        p.renderPreview(0, true);
        EXPECT_EQ(p.output().type(), CV_32FC3);
        EXPECT_EQ(p.renderFull().size(), image.size());
    }

    RenderPipeline p;
    p.renderPreview(0, false);  // no source yet
    p.setSourceImage(source, true);
    p.setSourceImage(cv::Mat(), false);  // ignored: source kept
    EXPECT_EQ(p.source().size(), source.size());
    const int zero[2] = {0, 0};
    RenderPipeline::setPreviewSize(zero);
    p.renderPreview(0, false);
    EXPECT_EQ(p.output().size(), cv::Size(1, 1));

    for (auto [given, kept] : {std::pair{4, 5}, {0, 1}, {-3, 1}, {7, 7}}) {
        p.setSharpeningRadius(given, true);
        EXPECT_EQ(p.sharpeningRadius(), kept);
    }
}

TEST_F(RenderPipelineTest, RotationKeepsAnHdrsHighlights)
{
    cv::Mat hdr = lightImage(45, 60) * 40.0;
    hdr(cv::Rect(20, 15, 10, 8)).setTo(cv::Scalar::all(400.0));
    for (const float rotation : {0.f, 0.2f}) {
        RenderPipeline p;
        p.setApplyTM(false, false);
        p.setRotation(rotation, false);
        p.setSourceImage(hdr, true);
        p.renderPreview(0, false);
        double largest = 0.0;
        cv::minMaxLoc(p.rotated().reshape(1), nullptr, &largest);
        EXPECT_GT(largest, 300.0) << "rotation " << rotation;
    }
}

TEST_F(RenderPipelineTest, ALoweredExposureSharpensTheBrightDetailItBringsIntoView)
{
    // Two stops down, an edge between 2 and 3 shows as one between 0.5 and 0.75 does at
    // the start: it is sharpened alike.
    cv::Mat edge(36, 48, CV_32FC3, cv::Scalar::all(2.0));
    edge.colRange(24, 48).setTo(cv::Scalar::all(3.0));
    cv::Mat renders[2];
    for (const int stopsDown : {0, 2}) {
        RenderPipeline p;
        p.setApplyTM(false, false);
        p.setExposure(-float(stopsDown), false);
        p.setSourceImage(edge / std::pow(4.0, 1 - stopsDown / 2), true, SourceKind::DisplayReferred);
        renders[stopsDown / 2] = p.renderFull();
    }
    EXPECT_LE(cv::norm(renders[0], renders[1], cv::NORM_INF), 0.5 / 255.0);
}

TEST_F(RenderPipelineTest, ClipBlackWhite)
{
    const cv::Mat reference = (cv::Mat_<cv::Vec3f>(1, 4) << cv::Vec3f(0.2f, 0.2f, 0.2f), cv::Vec3f(0.1f, 0.1f, 0.1f),
                               cv::Vec3f(0.95f, 0.9f, 0.92f), cv::Vec3f(0.5f, 0.5f, 0.5f));
    const cv::Mat colour(1, 4, CV_32FC3, cv::Scalar(0.3, 0.4, 0.6));

    EXPECT_TRUE(identical(RenderPipeline::clipBlackWhite(reference, 0.f, 0.f, colour), colour));

    const cv::Mat clipped = RenderPipeline::clipBlackWhite(reference, 0.2f, 0.1f, colour);
    EXPECT_EQ(clipped.at<cv::Vec3f>(0, 0), colour.at<cv::Vec3f>(0, 0)) << "mean equal to the black clip stays";
    EXPECT_EQ(clipped.at<cv::Vec3f>(0, 1), cv::Vec3f(0, 0, 0));
    EXPECT_EQ(clipped.at<cv::Vec3f>(0, 2), cv::Vec3f(1, 1, 1));
    EXPECT_EQ(clipped.at<cv::Vec3f>(0, 3), colour.at<cv::Vec3f>(0, 3));

    cv::Mat reference8, reference16;
    reference.convertTo(reference8, CV_8U, 255.0);
    reference.convertTo(reference16, CV_16U, 65535.0);
    const cv::Mat clipped8 = RenderPipeline::clipBlackWhite(reference8, 0.15f, 0.1f, colour);
    ASSERT_EQ(clipped8.type(), CV_8UC3);
    EXPECT_EQ(clipped8.at<cv::Vec3b>(0, 1), cv::Vec3b(0, 0, 0));
    EXPECT_EQ(clipped8.at<cv::Vec3b>(0, 2), cv::Vec3b(255, 255, 255));
    EXPECT_EQ(clipped8.at<cv::Vec3b>(0, 3), cv::Vec3b(76, 102, 153));
    const cv::Mat clipped16 = RenderPipeline::clipBlackWhite(reference16, 0.15f, 0.1f, colour);
    EXPECT_EQ(clipped16.at<cv::Vec3w>(0, 2), cv::Vec3w(65535, 65535, 65535));

    EXPECT_TRUE(RenderPipeline::clipBlackWhite(cv::Mat(1, 4, CV_64FC3), 0.f, 0.f, colour).empty());
    EXPECT_TRUE(identical(RenderPipeline::clipBlackWhite(cv::Mat(2, 4, CV_32FC3), 0.5f, 0.f, colour), colour))
        << "mismatched sizes leave the colour unclipped";
}

TEST_F(RenderPipelineTest, SetToneMapperKeepsTheOperatorOfTheSameIndex)
{
    RenderPipeline p;
    ToneMappingBase* op = p.toneMapper();
    ASSERT_NE(op, nullptr);
    p.setToneMapper(SlidersTMIndex);
    EXPECT_EQ(p.toneMapper(), op);
    RenderPipeline other;
    p.copySettings(other);
    EXPECT_NE(p.toneMapper(), nullptr);
}

TEST_F(RenderPipelineTest, ApplySettingsStoresTheRowOfTheNewIndexOnly)
{
    RenderPipeline p;
    p.applySettings(true, 1, 0.9f, 123.f, 456.f, 0.01f, 0.02f, 0.6f, 0.4f, 1.1f, -0.3f, 0.2f, 0.1f, -0.1f, 0.05f,
                    1.2f, 0.3f, false, 0.4f, 4, 0.2f);
    EXPECT_EQ(p.TMalgo(), 1);
    EXPECT_FLOAT_EQ(p.params(1)[0], 0.9f);
    for (int index : {0, 2, 3, 4})
        for (int slot = 0; slot < 3; ++slot)
            EXPECT_EQ(p.params(index)[slot], engineDefaults.params[index][slot]);
    EXPECT_EQ(p.params(1)[1], engineDefaults.params[1][1]);
    EXPECT_FLOAT_EQ(p.exposure(), 0.4f);
    EXPECT_FLOAT_EQ(p.curve().highlights(), -0.3f);
    EXPECT_EQ(p.sharpeningRadius(), 5);
    EXPECT_FALSE(p.applySharpening());
}

TEST_F(RenderPipelineTest, CopySettingsTakesTheCurveOfTheOther)
{
    RenderPipeline from;
    from.setHighlights(-0.5f, false);
    from.setShadows(0.5f, false);
    from.setCrop(cv::Rect(1, 2, 3, 4), false);
    from.setExposure(-0.4f, false);
    RenderPipeline to;
    to.setBlacks(0.7f, false);
    to.setWhites(-0.6f, false);
    to.copySettings(from);

    const Spline expected(0.f, -0.5f, 0.5f, 0.f);
    ASSERT_EQ(to.curve().points().size(), expected.points().size());
    for (size_t i = 0; i < expected.points().size(); ++i) {
        EXPECT_FLOAT_EQ(to.curve().points()[i].x, expected.points()[i].x);
        EXPECT_FLOAT_EQ(to.curve().points()[i].y, expected.points()[i].y);
    }
    EXPECT_EQ(to.crop(), cv::Rect(1, 2, 3, 4));
    EXPECT_FLOAT_EQ(to.exposure(), -0.4f);
}

TEST_F(RenderPipelineTest, NewPipelinesTakeTheDefaultsOfTheirConstruction)
{
    engineDefaults.contrast = 1.7f;
    engineDefaults.sharpeningRadius = 2;
    RenderPipeline p;
    engineDefaults.contrast = 0.2f;
    EXPECT_FLOAT_EQ(p.contrast(), 1.7f);
    EXPECT_EQ(p.sharpeningRadius(), 3);
}

TEST_F(RenderPipelineTest, InteractiveTonemappedPreviewsUseASmallerBox)
{
    RenderPipeline p;
    p.setSourceImage(source, true);
    p.renderPreview(0, true);
    EXPECT_EQ(p.output().size(), cv::Size(32, 24));
    p.renderPreview(4, false);  // the full box again, though asked from the colour stage
    EXPECT_EQ(p.output().size(), cv::Size(48, 36));
}

namespace {

// One editing setter with the range its slider gives.
struct Edit {
    const char* name;
    void (RenderPipeline::*setter)(float, bool);
    float low;
    float high;
};

const Edit kEdits[] = {
    {"whites", &RenderPipeline::setWhites, -1.f, 1.f},
    {"blacks", &RenderPipeline::setBlacks, -1.f, 1.f},
    {"highlights", &RenderPipeline::setHighlights, -1.f, 1.f},
    {"shadows", &RenderPipeline::setShadows, -1.f, 1.f},
    {"exposure", &RenderPipeline::setExposure, -1.f, 1.f},
    {"contrast", &RenderPipeline::setContrast, 0.3333f, 1.6667f},
    {"hue", &RenderPipeline::setHue, -0.5f, 0.5f},
    {"saturation", &RenderPipeline::setSaturation, 0.f, 5.f},
    {"vibrance", &RenderPipeline::setVibrance, -0.5f, 7.f},
    {"strength", &RenderPipeline::setStrength, 0.f, 1.f},
    {"sharpening amount", &RenderPipeline::setSharpeningAmount, 0.f, 1.f},
    {"black clip", &RenderPipeline::setBlackClip, 0.f, 0.15f},
    {"white clip", &RenderPipeline::setWhiteClip, 0.f, 0.15f},
    {"log mapping bias", &RenderPipeline::setTM2Alpha, 0.5f, 1.f},
    {"rotation", &RenderPipeline::setRotation, -0.2f, 0.2f},
};

// Mostly the tone curve's four settings, whose order matters, among the others.
void randomEdits(RenderPipeline& p, cv::RNG& rng, int count)
{
    constexpr int kEditCount = sizeof kEdits / sizeof kEdits[0];
    for (int i = 0; i < count; ++i) {
        const int pick = rng.uniform(0, 2) == 0 ? rng.uniform(0, 4) : rng.uniform(0, kEditCount + 3);
        if (pick < kEditCount) {
            const Edit& edit = kEdits[pick];
            (p.*edit.setter)(rng.uniform(edit.low, edit.high), false);
        } else if (pick == kEditCount) {
            p.setTMAlgo(rng.uniform(0, 2) == 0 ? LogMappingIndex : SlidersTMIndex, false);
        } else if (pick == kEditCount + 1) {
            p.setSharpeningRadius(2 * rng.uniform(0, 4) + 1, false);
        } else {
            p.setCrop(cv::Rect(rng.uniform(0, 20), rng.uniform(0, 15), rng.uniform(10, 40), rng.uniform(8, 30)), false);
        }
    }
}

class CopySettingsAfterEdits : public RenderPipelineTest, public ::testing::WithParamInterface<int> {};

}  // namespace

TEST_P(CopySettingsAfterEdits, CopyRendersBitIdenticallyToTheOriginal)
{
    cv::RNG rng(static_cast<uint64>(GetParam()));
    RenderPipeline original;
    randomEdits(original, rng, 40);
    RenderPipeline copy;
    randomEdits(copy, rng, 10);  // a history of its own, which the copy must not keep
    copy.copySettings(original);

    original.setSourceImage(source, true);
    copy.setSourceImage(source, true);
    original.renderPreview(0, false);
    copy.renderPreview(0, false);
    ASSERT_FALSE(original.output().empty());
    EXPECT_TRUE(identical(copy.output(), original.output())) << "preview";
    EXPECT_TRUE(identical(copy.renderFull(), original.renderFull())) << "full render";

    // The copy goes on reacting to the next setter as the original does.
    for (RenderPipeline* p : {&original, &copy}) {
        p->setBlacks(-0.35f, false);
        p->setHighlights(0.45f, true);
    }
    EXPECT_TRUE(identical(copy.output(), original.output())) << "after a further edit";
}

INSTANTIATE_TEST_SUITE_P(FixedSeeds, CopySettingsAfterEdits, ::testing::Range(1, 13));

namespace {

// A photo-like light image: smooth colour areas about 128 pixels across with a fine
// grain, which a reduction that skips pixels aliases.
cv::Mat grainyPhoto(cv::Size size, float grain)
{
    cv::RNG rng(77);
    cv::Mat coarse(size.height / 128 + 2, size.width / 128 + 2, CV_32FC3);
    rng.fill(coarse, cv::RNG::UNIFORM, 0.15f, 0.75f);
    cv::Mat image;
    cv::resize(coarse, image, size, 0.0, 0.0, cv::INTER_CUBIC);
    cv::Mat noise(size, CV_32FC3);
    rng.fill(noise, cv::RNG::UNIFORM, -grain, grain);
    return cv::max(image + noise, 0.f);
}

struct PreviewCase {
    const char* name;
    cv::Size box;
    float grain;
    Change change;
    // A light of one pixel, 400 times the picture's grey, which the preview's
    // reduction averages into a fraction of a pixel.
    bool sun = false;
    // A real HDR with a small sun (sunset.exr, scene-referred) at its own 1024 x 512
    // instead of the grainy photo. Its sun's glints on the water differ at any
    // reduction: the mean difference is bounded, to a level.
    bool sunHdr = false;
};

class PreviewAgainstExport : public RenderPipelineTest, public ::testing::WithParamInterface<PreviewCase> {};

}  // namespace

TEST_P(PreviewAgainstExport, SlidersOnlyPreviewIsTheReducedExportWithinFourLevels)
{
    const PreviewCase& c = GetParam();
    setPreviewBox(c.box);
    RenderPipeline p;
    c.change(p, false);
    const cv::Rect sun(701, 61, 1, 1);
    cv::Mat source = c.sunHdr ? hdrtest::realHdrImage(cv::Size(1024, 512), "sunset.exr")
                              : grainyPhoto(cv::Size(1200, 800), c.grain);
    if (source.empty())
        GTEST_SKIP() << "needs the test media";
    if (c.sun)
        source(sun).setTo(cv::Scalar::all(200.0));
    p.setSourceImage(source, true, c.sunHdr ? SourceKind::SceneReferred : SourceKind::Unknown);
    p.renderPreview(0, false);
    const cv::Mat preview = p.output().clone();
    cv::Mat reducedExport;
    cv::resize(p.renderFull(), reducedExport, preview.size(), 0.0, 0.0, cv::INTER_AREA);

    // A rotated canvas has empty corners, whose edge is drawn at each size's own pixels;
    // the sun is a fraction of a preview pixel: both are left out, with their surroundings.
    cv::Mat inside(preview.size(), CV_8U, cv::Scalar(255));
    if (p.rotation() != 0.f || c.sun) {
        RenderPipeline frame;
        frame.copySettings(p);
        frame.setApplyTM(false, false);
        frame.setApplySharpening(false, false);
        cv::Mat flat(p.source().size(), CV_32FC3, cv::Scalar::all(0.5));
        flat(sun).setTo(cv::Scalar::all(c.sun ? 200.0 : 0.5));
        frame.setSourceImage(flat, true);
        frame.renderPreview(0, false);
        inside = frame.cropped() == 0.5f;
        cv::cvtColor(inside, inside, cv::COLOR_BGR2GRAY);
        inside = inside == 255;
        cv::erode(inside, inside, cv::Mat(), cv::Point(-1, -1), 2);
    }

    cv::Mat difference;
    cv::absdiff(preview, reducedExport, difference);
    cv::Mat masked(difference.size(), difference.type(), cv::Scalar::all(0));
    difference.copyTo(masked, inside);
    if (c.sunHdr) {
        EXPECT_LE(cv::mean(cv::mean(difference))[0] * 255.0, 1.0) << c.name;
        return;
    }
    double largest = 0.0;
    cv::minMaxLoc(masked.reshape(1), nullptr, &largest);
    EXPECT_LE(largest * 255.0, 4.0) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    SlidersOnly, PreviewAgainstExport,
    ::testing::Values(
        PreviewCase{"defaults", cv::Size(300, 200), 0.02f, [](RenderPipeline&, bool) {}},
        // At a reduction of 0.3 every edge of this crop lies 0.9 preview pixels past the
        // preview's grid: truncated, each edge would be almost a pixel off.
        PreviewCase{"crop", cv::Size(360, 240), 0.02f,
                    [](RenderPipeline& p, bool r) { p.setCrop(cv::Rect(63, 43, 900, 600), r); }},
        PreviewCase{"rotation", cv::Size(300, 200), 0.01f, [](RenderPipeline& p, bool r) { p.setRotation(0.13f, r); }},
        // At a reduction of 0.3 the preview's own rotated canvas would be a fraction of a
        // pixel off the full-size one's.
        PreviewCase{"rotationAtAFractionalReduction", cv::Size(360, 240), 0.01f,
                    [](RenderPipeline& p, bool r) { p.setRotation(-0.21f, r); }},
        PreviewCase{"rotationAndCrop", cv::Size(360, 240), 0.01f,
                    [](RenderPipeline& p, bool r) {
                        p.setRotation(0.09f, r);
                        p.setCrop(cv::Rect(131, 77, 850, 517), r);
                    }},
        PreviewCase{"combined", cv::Size(360, 240), 0.01f,
                    [](RenderPipeline& p, bool r) {
                        p.setRotation(-0.07f, r);
                        p.setCrop(cv::Rect(150, 120, 800, 450), r);
                        p.setSharpeningAmount(0.6f, r);
                        p.setSharpeningRadius(5, r);
                        p.setContrast(1.3f, r);
                        p.setSaturation(1.4f, r);
                        p.setExposure(0.4f, r);
                    }},
        // Crop windows of the turned picture that take in its empty corners and edges.
        PreviewCase{"topLeftQuarterRotated", cv::Size(360, 240), 0.01f,
                    [](RenderPipeline& p, bool r) {
                        p.setRotation(0.1f, r);
                        p.setCrop(cv::Rect(0, 0, 600, 400), r);
                    }},
        PreviewCase{"topBandRotated", cv::Size(360, 240), 0.01f,
                    [](RenderPipeline& p, bool r) {
                        p.setRotation(0.1f, r);
                        p.setCrop(cv::Rect(120, 0, 960, 160), r);
                    }},
        // Log mapping maps and stretches between the picture's extremes: a small sun and
        // the grain's darkest specks, which the preview's reduction averages away.
        PreviewCase{"logMapping", cv::Size(300, 200), 0.02f,
                    [](RenderPipeline& p, bool r) { p.setTMAlgo(LogMappingIndex, r); }},
        PreviewCase{"logMappingWithASun", cv::Size(300, 200), 0.02f,
                    [](RenderPipeline& p, bool r) { p.setTMAlgo(LogMappingIndex, r); }, true},
        PreviewCase{"logMappingTopBandRotated", cv::Size(360, 240), 0.02f,
                    [](RenderPipeline& p, bool r) {
                        p.setTMAlgo(LogMappingIndex, r);
                        p.setRotation(0.1f, r);
                        p.setCrop(cv::Rect(120, 0, 960, 160), r);
                    },
                    true},
        PreviewCase{"sharpening", cv::Size(300, 200), 0.02f,
                    [](RenderPipeline& p, bool r) {
                        p.setSharpeningAmount(0.8f, r);
                        p.setSharpeningRadius(7, r);
                    }},
        // The full-size kernel reaches a quarter of a preview pixel: a Gaussian of that
        // sigma sampled at the preview's pixels would hardly blur.
        PreviewCase{"sharpeningBelowAPreviewPixel", cv::Size(300, 200), 0.02f,
                    [](RenderPipeline& p, bool r) {
                        p.setSharpeningAmount(1.3f, r);
                        p.setSharpeningRadius(5, r);
                    }},
        // The preview's display scale is the full-size picture's: measured on the reduced
        // one, whose sun and darkest specks are averaged, it darkened the whole preview.
        PreviewCase{"smallSunHdr", cv::Size(600, 400), 0.0f, [](RenderPipeline&, bool) {}, false, true},
        // Layer processing scales its layers to the picture's brightest luminance: the
        // full-size sun's, not the reduced one's.
        PreviewCase{"smallSunHdrLayerProcessing", cv::Size(600, 400), 0.0f,
                    [](RenderPipeline& p, bool r) { p.setTMAlgo(LayerProcessingIndex, r); }, false, true}),
    [](const ::testing::TestParamInfo<PreviewCase>& info) { return std::string(info.param.name); });
