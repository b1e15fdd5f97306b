// What every operator must render well, through the pipeline as the editing step
// and the export use it, with the engine's default settings.
#include "EngineDefaults.h"
#include "PictureFrame.h"
#include "RenderPipeline.h"
#include "ToneMapperFactory.h"

#include "HdrTestImages.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

namespace {

struct OperatorCase {
    const char* name;
    int index;
};

void PrintTo(const OperatorCase& c, std::ostream* os)
{
    *os << c.name;
}

class EveryOperator : public ::testing::TestWithParam<OperatorCase> {
protected:
    void SetUp() override { saved = engineDefaults; }
    void TearDown() override { engineDefaults = saved; }

    cv::Mat render(const cv::Mat& image, const std::function<void(RenderPipeline&)>& settings = {},
                   SourceKind kind = SourceKind::Unknown) const
    {
        engineDefaults.TMalgo = GetParam().index;
        RenderPipeline pipeline;
        if (settings)
            settings(pipeline);
        pipeline.setSourceImage(image, true, kind);
        return pipeline.renderFull();
    }

    EngineDefaults saved;
};

cv::Vec3f at(const cv::Mat& image, int row, int column)
{
    return image.at<cv::Vec3f>(row, column);
}

// A lit, gently varying picture: a grey-green field with soft light and shade.
cv::Mat photoLikeScene(cv::Size size)
{
    cv::Mat scene(size, CV_32FC3);
    cv::RNG(11).fill(scene, cv::RNG::UNIFORM, 0.15, 0.75);
    cv::GaussianBlur(scene, scene, cv::Size(0, 0), 6.0);
    cv::rectangle(scene, cv::Rect(size.width / 5, size.height / 4, size.width / 4, size.height / 3),
                  cv::Scalar(0.8, 0.75, 0.7), cv::FILLED);
    return scene;
}

// Luminance as the operators weigh it.
float luminance(const cv::Vec3f& bgr)
{
    return (20.0f * bgr[2] + 40.0f * bgr[1] + bgr[0]) / 61.0f;
}

}  // namespace

TEST_P(EveryOperator, DarkSaturatedPatchesKeepTheirHue)
{
    // 8-bit dark colours a dim video holds in its shadows (one channel alone in a night
    // sky's blue), the darkest near black,
    // with a grey line through each that sharpening must not tint; as stored, and in
    // linear light as a stacked light image holds them. There, the near-black one is
    // within the sample noise an operator's strong lift turns neutral: it may lose its
    // colour, never take another.
    const struct {
        const char* name;
        cv::Vec3f bgr;
        int strongest;
        bool noiseWhenLinear;
        // Of the strongest channel over each other one: a colour of one channel stays pure.
        float ratio;
    } patches[] = {
        {"maroon", cv::Vec3f(12, 8, 40) / 255.0f, 2, false, 1.25f},
        {"dark green", cv::Vec3f(6, 30, 10) / 255.0f, 1, false, 1.25f},
        {"navy", cv::Vec3f(44, 12, 8) / 255.0f, 0, false, 1.25f},
        {"pure navy", cv::Vec3f(32, 0, 0) / 255.0f, 0, false, 3.0f},
        {"pure dark red", cv::Vec3f(0, 0, 32) / 255.0f, 2, false, 3.0f},
        {"pure dark green", cv::Vec3f(0, 32, 0) / 255.0f, 1, false, 3.0f},
        {"near-black red", cv::Vec3f(3, 2, 10) / 255.0f, 2, true, 1.0f},
    };
    for (const float gamma : {1.0f, 2.2f}) {
        const char* encoding = gamma == 1.0f ? "as stored" : "in linear light";
        cv::Mat image(72, 40 * int(std::size(patches)), CV_32FC3, cv::Scalar(0.45, 0.47, 0.5));
        for (int i = 0; i < int(std::size(patches)); ++i) {
            const cv::Rect patch(40 * i + 6, 16, 28, 40);
            image(patch).setTo(cv::Scalar(patches[i].bgr[0], patches[i].bgr[1], patches[i].bgr[2]));
            const float grey = luminance(patches[i].bgr);
            image(cv::Rect(patch.x + 14, patch.y + 6, 1, 28)).setTo(cv::Scalar::all(grey));
        }
        cv::pow(image, gamma, image);
        const cv::Mat out = render(image);
        const cv::Mat unsharpened = render(image, [](RenderPipeline& p) { p.setApplySharpening(false, false); });
        const cv::Mat sharpened = render(image, [](RenderPipeline& p) {
            p.setSharpeningAmount(1.0f, false);
            p.setSharpeningRadius(5, false);
        });
        auto saturation = [](const cv::Vec3f& p) {
            const float high = std::max({p[0], p[1], p[2]});
            return high > 0.0f ? (high - std::min({p[0], p[1], p[2]})) / high : 0.0f;
        };
        for (int i = 0; i < int(std::size(patches)); ++i) {
            const cv::Vec3f inside = at(out, 36, 40 * i + 10);
            const int strongest = patches[i].strongest;
            const float margin = patches[i].noiseWhenLinear && gamma == 1.0f ? 1.25f : patches[i].ratio;
            for (int k = 0; k < 3; ++k)
                if (k != strongest) {
                    EXPECT_GE(inside[strongest], margin * inside[k])
                        << patches[i].name << " " << encoding << ": channel " << k;
                }
            // Sharpening lightens or darkens the line against the patch, never tints it.
            EXPECT_LE(saturation(at(sharpened, 36, 40 * i + 20)), saturation(at(unsharpened, 36, 40 * i + 20)) + 0.02f)
                << patches[i].name << " " << encoding << ": the grey line took a colour";
        }
    }
}

TEST_P(EveryOperator, ShadowsOfARampRiseAboveBlackAtEveryContrast)
{
    // Columns from black to a third of white; rows alike.
    cv::Mat ramp(24, 256, CV_32FC3);
    for (int c = 0; c < ramp.cols; ++c)
        ramp.col(c).setTo(cv::Scalar::all(c / 768.0));
    // From the slider's centre to its maximum, with the operators' own finishing contrasts between.
    for (const float contrast : {1.0f, 1.2f, 1.3333334f, 1.6666667f}) {
        const cv::Mat out = render(ramp, [contrast](RenderPipeline& p) { p.setContrast(contrast, false); });
        cv::Mat row;
        cv::cvtColor(out.row(12), row, cv::COLOR_BGR2GRAY);
        // An 8-bit step of the input, a few steps up: lifted above black.
        EXPECT_GT(row.at<float>(0, 12), 0.5f / 255.0f) << "contrast " << contrast;
        for (int c = 8; c < row.cols; c += 8)
            EXPECT_GT(row.at<float>(0, c), row.at<float>(0, c - 8)) << "contrast " << contrast << ", column " << c;
    }
}

TEST_P(EveryOperator, BlackBorderChangesNothingInside)
{
    const cv::Mat picture = photoLikeScene(cv::Size(120, 80));
    const cv::Mat plain = render(picture);
    // A letterbox, and a frame on every side, black and the near-black of decoded
    // video (16 of 255) as stored and in linear light.
    const struct {
        cv::Vec4i sides;
        double level;
    } borders[] = {{{14, 14, 0, 0}, 0.0},
                   {{9, 5, 17, 3}, 0.0},
                   {{14, 14, 0, 0}, 16.0 / 255.0},
                   {{0, 0, 15, 15}, std::pow(16.0 / 255.0, 2.2)}};
    for (const auto& border : borders) {
        const cv::Vec4i& b = border.sides;
        cv::Mat framed;
        cv::copyMakeBorder(picture, framed, b[0], b[1], b[2], b[3], cv::BORDER_CONSTANT, cv::Scalar::all(border.level));
        const cv::Mat out = render(framed)(cv::Rect(b[2], b[0], picture.cols, picture.rows));
        // Sharpening reaches a pixel or two across the picture's edge.
        const cv::Rect inside(3, 3, picture.cols - 6, picture.rows - 6);
        EXPECT_LE(cv::norm(out(inside), plain(inside), cv::NORM_INF), 1.0 / 255.0) << b << " at " << border.level;
    }
    // A rotated picture: its canvas's black corners change nothing inside it. Soft,
    // so that the rotation's resampling makes no new extremes of its own.
    {
        const float angle = 0.1f;
        const PictureFrame frame(picture.size(), angle, cv::Rect(-1, -1, -1, -1));
        cv::Mat soft;
        cv::GaussianBlur(picture, soft, cv::Size(0, 0), 2.0);
        const cv::Mat plainSoft = render(soft);
        const cv::Mat rotated = render(soft, [angle](RenderPipeline& p) { p.setRotation(angle, false); });
        cv::Mat inside;
        cv::extractChannel(frame.rotated(cv::Mat(picture.size(), CV_32FC3, cv::Scalar::all(1.0))), inside, 0);
        inside = inside > 0.999f;
        cv::erode(inside, inside, cv::Mat(), cv::Point(-1, -1), 4);
        cv::Mat difference;
        cv::absdiff(rotated, frame.rotated(plainSoft), difference);
        // The render is resampled where the picture was: half a level more.
        EXPECT_LE(cv::mean(cv::mean(difference, inside))[0], 1.5 / 255.0) << "rotated";
    }
    // A letterbox whose first picture row is only partly covered, as a resampled video's:
    // inside, the picture renders as it does without that row.
    const cv::Mat withoutFirstRow = picture.rowRange(1, picture.rows);
    const cv::Mat plainBelow = render(withoutFirstRow);
    for (const double cover : {0.5, 0.05}) {
        cv::Mat framed;
        cv::copyMakeBorder(picture, framed, 14, 14, 0, 0, cv::BORDER_CONSTANT, cv::Scalar::all(0));
        framed.row(14) *= cover;
        const cv::Mat out = render(framed)(cv::Rect(0, 15, picture.cols, withoutFirstRow.rows));
        const cv::Rect inside(3, 3, picture.cols - 6, withoutFirstRow.rows - 6);
        EXPECT_LE(cv::norm(out(inside), plainBelow(inside), cv::NORM_INF), 1.0 / 255.0) << "edge covered " << cover;
        // The edge row is drawn dimmed as it came, neither black nor as bright as the row inside.
        const cv::Mat rendered = render(framed);
        const double edgeShare = cv::mean(rendered.row(14))[1] / cv::mean(rendered.row(15))[1];
        EXPECT_GT(edgeShare, cover / 3.0) << "edge covered " << cover;
        EXPECT_LT(edgeShare, cover * 1.2) << "edge covered " << cover;
    }
}

TEST_P(EveryOperator, AnHdrRendersAlikeAtAnyScale)
{
    cv::Mat hdr = hdrtest::realHdrImage(cv::Size(192, 96));
    if (hdr.empty())
        hdr = hdrtest::syntheticHdrImage(96, 192);
    double largest = 0.0;
    cv::minMaxLoc(hdr.reshape(1), nullptr, &largest);
    const cv::Mat unscaled = render(hdr);
    cv::Mat grey;
    cv::cvtColor(unscaled, grey, cv::COLOR_BGR2GRAY);
    EXPECT_LT(cv::countNonZero(grey < 1.0f / 255.0f), int(grey.total() / 20)) << "black pixels";
    // Scaled so that its brightest value is 1, as some files store it, and far up.
    for (const double scale : {1.0 / largest, 100.0}) {
        cv::Mat scaled;
        hdr.convertTo(scaled, CV_32F, scale);
        const cv::Mat out = render(scaled);
        cv::Mat difference;
        cv::absdiff(out, unscaled, difference);
        EXPECT_LE(cv::mean(cv::mean(difference))[0], 2.0 / 255.0) << "scale " << scale;
    }
}

TEST_P(EveryOperator, BrightnessFollowsThePeakWithoutAJump)
{
    // A room with a lamp, exposed so that the lamp's peak sweeps across the point where
    // a picture counts as scene-referred; 5 % steps of exposure.
    cv::Mat room(128, 192, CV_32FC3);
    cv::RNG(11).fill(room, cv::RNG::UNIFORM, 0.05, 0.5);
    cv::GaussianBlur(room, room, cv::Size(0, 0), 6.0);
    cv::circle(room, cv::Point(150, 30), 8, cv::Scalar::all(1.0), cv::FILLED);
    double previous = -1.0;
    for (double peak = 1.8; peak < 2.45; peak += 0.1) {
        cv::Mat grey;
        cv::cvtColor(render(room * peak), grey, cv::COLOR_BGR2GRAY);
        const double mean = cv::mean(grey)[0];
        if (previous >= 0.0) {
            EXPECT_LE(std::abs(mean - previous), 10.0 / 255.0) << "peak " << peak;
        }
        previous = mean;
    }
}

// A sky with a small sun, of unknown kind, from a peak of 0.5 to 100 and at two sizes:
// the picture never darkens as the exposure rises.
TEST_P(EveryOperator, ASunHdrNeverDarkensAsItsExposureRises)
{
    for (const cv::Size size : {cv::Size(64, 32), cv::Size(128, 64)}) {
        cv::Mat sky(size, CV_32FC3, cv::Scalar(0.6, 0.4, 0.3));
        sky.rowRange(size.height * 2 / 3, size.height).setTo(cv::Scalar(0.02, 0.05, 0.04));
        cv::circle(sky, cv::Point(size.width / 3, size.height / 4), 2, cv::Scalar::all(1.0), cv::FILLED);
        double previous = 0.0;
        for (double peak = 0.5; peak <= 100.0; peak *= 2.0) {
            cv::Mat grey;
            cv::cvtColor(render(sky * peak), grey, cv::COLOR_BGR2GRAY);
            const double mean = cv::mean(grey)[0];
            EXPECT_GE(mean, previous - 1.0 / 255.0) << size << ", peak " << peak;
            previous = mean;
        }
    }
}

// A dim 8-bit video frame with one lit face is display-referred: shown at scale 1,
// its face not lifted to white.
TEST_P(EveryOperator, ADimVideoFrameIsShownAtScaleOne)
{
    cv::Mat frame(64, 96, CV_8UC3);
    cv::RNG(5).fill(frame, cv::RNG::UNIFORM, 1, 2);
    cv::ellipse(frame, cv::Point(48, 30), cv::Size(8, 10), 0.0, 0.0, 360.0, cv::Scalar(150, 170, 215), cv::FILLED);
    const cv::Mat out = render(frame);
    cv::Mat atOne, difference;
    frame.convertTo(atOne, CV_32F, 1.0 / 255.0);
    cv::absdiff(out, render(atOne, {}, SourceKind::DisplayReferred), difference);
    EXPECT_LE(cv::mean(cv::mean(difference))[0], 3.0 / 255.0);
    EXPECT_LT(cv::mean(out(cv::Rect(44, 26, 8, 8)))[2], 250.0 / 255.0) << "face";
}

TEST_P(EveryOperator, GreyStaysGrey)
{
    cv::Mat greys(48, 128, CV_32FC3);
    for (int r = 0; r < greys.rows; ++r)
        for (int c = 0; c < greys.cols; ++c)
            greys.at<cv::Vec3f>(r, c) = cv::Vec3f::all(0.02f + 0.9f * c / greys.cols * (0.6f + 0.4f * r / greys.rows));
    const cv::Mat out = render(greys);
    cv::Mat channels[3];
    cv::split(out, channels);
    const cv::Mat spread = cv::max(channels[0], cv::max(channels[1], channels[2])) -
                           cv::min(channels[0], cv::min(channels[1], channels[2]));
    EXPECT_LE(cv::norm(spread, cv::NORM_INF), 1.0 / 255.0);
}

TEST_P(EveryOperator, PreviewIsTheReducedExportOnAverage)
{
    const cv::Size savedBox = previewBox();
    setPreviewBox(cv::Size(270, 180));
    engineDefaults.TMalgo = GetParam().index;
    RenderPipeline p;
    p.setRotation(0.11f, false);
    p.setCrop(cv::Rect(97, 71, 700, 430), false);
    p.setExposure(0.3f, false);
    p.setContrast(1.3f, false);
    p.setShadows(0.3f, false);
    p.setSourceImage(photoLikeScene(cv::Size(900, 600)), true);
    p.renderPreview(0, false);
    const cv::Mat preview = p.output().clone();
    cv::Mat reducedExport;
    cv::resize(p.renderFull(), reducedExport, preview.size(), 0.0, 0.0, cv::INTER_AREA);
    setPreviewBox(savedBox);
    cv::Mat difference;
    cv::absdiff(preview, reducedExport, difference);
    EXPECT_LE(cv::mean(cv::mean(difference))[0], 3.0 / 255.0);
}

INSTANTIATE_TEST_SUITE_P(Operators, EveryOperator,
                         ::testing::Values(OperatorCase{"Laplacian", LaplacianIndex},
                                           OperatorCase{"LogMapping", LogMappingIndex},
                                           OperatorCase{"LC_Model", LC_ModelIndex},
                                           OperatorCase{"SlidersTM", SlidersTMIndex},
                                           OperatorCase{"LayerProcessing", LayerProcessingIndex}),
                         [](const ::testing::TestParamInfo<OperatorCase>& info) { return std::string(info.param.name); });
