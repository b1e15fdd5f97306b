#include "ColourPass.h"
#include "Spline.h"
#include "Threads.h"
#include "WorkerCount.h"

#include "ImageCompare.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

// Exposure terms of the render pipeline at 0 EV.
constexpr float kGain = 1.f;
constexpr float kKnee = 0.0025f;
constexpr float kCurvature = kGain / (4.f * kKnee);

cv::Mat pass(const cv::Mat& in, float hue = 0.f, float saturation = 1.f, float vibrance = 0.f, float contrast = 1.f,
             const Spline& curve = Spline(0.f, 0.f, 0.f, 0.f))
{
    cv::Mat out;
    parallelComputeLightImage(curve, out, in, {hue, saturation, vibrance, {0.f, kKnee, kGain, kCurvature}, contrast});
    return out;
}

cv::Mat randomImage(int rows, int cols)
{
    cv::Mat image(rows, cols, CV_32FC3);
    cv::RNG rng(1234);
    rng.fill(image, cv::RNG::UNIFORM, 0.f, 1.2f);
    return image;
}

using testmedia::identical;

class ThreadCountScope {
public:
    explicit ThreadCountScope(int count) : saved(toneMappingWorkerCount()) { setToneMappingWorkerCount(count); }
    ~ThreadCountScope() { setToneMappingWorkerCount(saved); }

private:
    int saved;
};

int failingCreate(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) { return 11; }

}  // namespace

TEST(ColourPass, NeutralSettingsLeaveMidGreyUnchanged)
{
    const cv::Mat out = pass(cv::Mat(2, 3, CV_32FC3, cv::Scalar::all(0.5)));
    ASSERT_EQ(out.type(), CV_32FC3);
    for (int y = 0; y < out.rows; ++y)
        for (int x = 0; x < out.cols; ++x)
            for (int c = 0; c < 3; ++c)
                EXPECT_FLOAT_EQ(out.at<cv::Vec3f>(y, x)[c], 0.5f);
}

TEST(ColourPass, HalfATurnOfHueTurnsRedIntoCyan)
{
    const cv::Mat out = pass(cv::Mat(1, 1, CV_32FC3, cv::Scalar(0, 0, 1)), 0.5f);
    const cv::Vec3f px = out.at<cv::Vec3f>(0, 0);
    EXPECT_GT(px[0], 0.99f);  // blue
    EXPECT_GT(px[1], 0.99f);  // green
    EXPECT_LT(px[2], 0.01f);  // red
}

TEST(ColourPass, AWholeTurnOfHueMatchesNoShift)
{
    // Without a shift the pass takes a shorter road; both must give the same picture.
    const cv::Mat image = randomImage(4, 37) - cv::Scalar::all(0.1);
    for (const float saturation : {0.f, 0.6f, 1.f, 1.7f})
        for (const float vibrance : {-0.3f, 0.f, 0.42f}) {
            const cv::Mat turned = pass(image, 1.f, saturation, vibrance, 1.3333334f);
            const cv::Mat unshifted = pass(image, 0.f, saturation, vibrance, 1.3333334f);
            EXPECT_LT(cv::norm(turned, unshifted, cv::NORM_INF), 1e-5)
                << "saturation " << saturation << ", vibrance " << vibrance;
        }
}

TEST(ColourPass, IdentityCurveLeavesBrightPixelsExact)
{
    EXPECT_TRUE(Spline(0.f, 0.f, 0.f, 0.f).isIdentity());
    EXPECT_FALSE(Spline(0.2f, -0.4f, 0.3f, 0.1f).isIdentity());
    Spline bent(0.f, 0.f, 0.f, 0.f);
    bent.addPoint(0.5f, 0.6f);
    EXPECT_FALSE(bent.isIdentity());
    // Its table stops one step short of 1, where it would darken the highlights.
    for (const float value : {0.999f, 0.9995f, 1.f}) {
        const cv::Mat out = pass(cv::Mat(1, 5, CV_32FC3, cv::Scalar::all(value)));
        for (int x = 0; x < out.cols; ++x)
            EXPECT_EQ(out.at<cv::Vec3f>(0, x), cv::Vec3f::all(value)) << "value " << value;
    }
}

TEST(ColourPass, ThreadCountDoesNotChangeTheResult)
{
    const cv::Mat in = randomImage(5, 33);
    const Spline curve(0.2f, -0.4f, 0.3f, 0.1f);
    cv::Mat reference;
    {
        ThreadCountScope scope(1);
        reference = pass(in, 0.1f, 1.3f, 0.4f, 1.2f, curve);
    }
    for (int threads : {2, 7, in.rows + 4}) {
        ThreadCountScope scope(threads);
        EXPECT_TRUE(identical(pass(in, 0.1f, 1.3f, 0.4f, 1.2f, curve), reference)) << threads << " threads";
    }
    ThreadCountScope scope(4);
    setThreadCreateHook(&failingCreate);
    const cv::Mat inline_ = pass(in, 0.1f, 1.3f, 0.4f, 1.2f, curve);
    setThreadCreateHook(nullptr);
    EXPECT_TRUE(identical(inline_, reference)) << "rows of threads that could not start";
}

TEST(ColourPass, PixelsDrivenToBlackGiveZeroNotNaN)
{
    // Contrast c above 1 is a line in sqrt(y) that crosses 0 at y = (0.8 (c - 1) / c)^2,
    // 0.16 for c = 2: the toe below keeps that value dark but above black.
    cv::Mat in(1, 64, CV_32FC3);
    for (int x = 0; x < in.cols; ++x)
        in.at<cv::Vec3f>(0, x) = cv::Vec3f::all(x == 0 ? 0.16f : x / 63.f);
    const cv::Mat out = pass(in, 0.f, 1.f, 0.f, 2.f);
    for (int x = 0; x < out.cols; ++x)
        for (int c = 0; c < 3; ++c)
            ASSERT_TRUE(std::isfinite(out.at<cv::Vec3f>(0, x)[c])) << "pixel " << x;
    EXPECT_GT(out.at<cv::Vec3f>(0, 0)[1], 0.f);
    EXPECT_LT(out.at<cv::Vec3f>(0, 0)[1], 0.16f);

    // Every channel at or below the toe: luminance 0 without any contrast.
    const cv::Mat negative = pass(cv::Mat(1, 1, CV_32FC3, cv::Scalar(-0.5, -0.2, -0.1)));
    EXPECT_EQ(negative.at<cv::Vec3f>(0, 0), cv::Vec3f(0.f, 0.f, 0.f));
}

TEST(ColourPass, BlackIsLiftedByTheToe)
{
    const cv::Mat out = pass(cv::Mat(1, 1, CV_32FC3, cv::Scalar::all(0)));
    // gain * kneeWidth / 4 through an identity curve.
    EXPECT_NEAR(out.at<cv::Vec3f>(0, 0)[0], kGain * kKnee / 4.f, 1e-5f);
}

TEST(ColourPass, SingleChannelInputGivesGreyColour)
{
    cv::Mat grey(3, 4, CV_32FC1);
    cv::RNG(7).fill(grey, cv::RNG::UNIFORM, 0.f, 1.f);
    cv::Mat colour;
    cv::merge(std::vector<cv::Mat>{grey, grey, grey}, colour);
    const cv::Mat fromGrey = pass(grey, 0.3f, 1.5f, 0.2f, 1.3f);
    ASSERT_EQ(fromGrey.type(), CV_32FC3);
    EXPECT_TRUE(identical(fromGrey, pass(colour, 0.3f, 1.5f, 0.2f, 1.3f)));
}

TEST(ColourPass, EightBitInputIsReadAsFullScale)
{
    const cv::Mat eightBit(2, 2, CV_8UC3, cv::Scalar::all(255));
    const cv::Mat out = pass(eightBit);
    EXPECT_TRUE(identical(out, pass(cv::Mat(2, 2, CV_32FC3, cv::Scalar::all(1.0)))));
}

TEST(ColourPass, UnsupportedInputGivesEmptyOutput)
{
    cv::Mat out(2, 2, CV_32FC3);
    parallelComputeLightImage(Spline(0, 0, 0, 0), out, cv::Mat(2, 2, CV_32FC2, cv::Scalar::all(0.5)),
                              {0, 1, 0, {0, kKnee, kGain, kCurvature}, 1});
    EXPECT_TRUE(out.empty());
    parallelComputeLightImage(Spline(0, 0, 0, 0), out, cv::Mat(2, 2, CV_64FC3, cv::Scalar::all(0.5)),
                              {0, 1, 0, {0, kKnee, kGain, kCurvature}, 1});
    EXPECT_TRUE(out.empty()) << "unsupported depth";
}

TEST(ColourPass, HueSectorsOutsideTheTurnAreClamped)
{
    float r0, g0, b0, r1, g1, b1;
    hsvSectorToRgb(0.f, 0.6f, 0.8f, r0, g0, b0);
    hsvSectorToRgb(12.f, 0.6f, 0.8f, r1, g1, b1);  // one turn removed leaves 6: the last sector's end
    EXPECT_FLOAT_EQ(r0, r1);
    EXPECT_FLOAT_EQ(g0, g1);
    EXPECT_FLOAT_EQ(b0, b1);
    hsvSectorToRgb(-20.f, 0.6f, 0.8f, r1, g1, b1);
    EXPECT_TRUE(std::isfinite(r1) && std::isfinite(g1) && std::isfinite(b1));
}

TEST(ColourPass, VectorAndScalarElementsAgree)
{
    // 7 pixels: 21 elements leave a scalar tail for any vector width up to 16.
    for (float contrast : {0.7f, 1.f, 1.6f}) {
        for (float value : {-0.01f, 0.f, 0.001f, 0.0025f, 0.003f, 0.16f, 0.5f, 0.9f, 1.5f, NAN}) {
            const cv::Mat out = pass(cv::Mat(1, 7, CV_32FC3, cv::Scalar::all(value)), 0.f, 1.f, 0.f, contrast);
            for (int x = 1; x < out.cols; ++x)
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(out.at<cv::Vec3f>(0, x)[c], out.at<cv::Vec3f>(0, 0)[c])
                        << "value " << value << ", contrast " << contrast << ", pixel " << x;
        }
    }
}

TEST(ColourPass, VectorAndScalarHueAndCurveStepsAgree)
{
    // B, G, R: every sector, ties between channels, signed zeros, negatives and
    // values that are not finite.
    const cv::Vec3f colours[] = {{0.1f, 0.5f, 0.9f}, {0.1f, 0.9f, 0.5f}, {0.5f, 0.9f, 0.1f}, {0.9f, 0.5f, 0.1f},
                                 {0.9f, 0.1f, 0.5f}, {0.5f, 0.1f, 0.9f}, {0.3f, 0.7f, 0.7f}, {0.7f, 0.7f, 0.3f},
                                 {0.f, -0.f, 0.2f},  {-0.f, 0.f, -0.f},  {-0.2f, 0.4f, 1.3f}, {-0.5f, -0.2f, -0.1f},
                                 {NAN, 0.4f, 0.2f},  {0.2f, NAN, 0.6f},  {INFINITY, 0.5f, 0.f}, {3e38f, -3e38f, 0.f}};
    const struct {
        float hue, saturation, vibrance, contrast;
    } settings[] = {{0.f, 1.f, 0.f, 1.f},    {0.37f, 1.4f, 0.f, 1.6f}, {-0.8f, 0.6f, 0.42f, 0.7f},
                    {1.5f, 0.f, -0.3f, 1.f}, {NAN, 1.f, 0.f, 1.3f}};
    const Spline curves[] = {Spline(0.f, 0.f, 0.f, 0.f), Spline(0.2f, -0.4f, 0.3f, 0.1f)};
    for (const Spline& curve : curves)
        for (const auto& setting : settings)
            for (const cv::Vec3f& colour : colours) {
                // 71 pixels: a scalar tail behind the vectors of any width up to 16, the curve's chunks included.
                const cv::Mat out = pass(cv::Mat(1, 71, CV_32FC3, cv::Scalar(colour[0], colour[1], colour[2])),
                                         setting.hue, setting.saturation, setting.vibrance, setting.contrast, curve);
                for (int x = 1; x < out.cols; ++x)
                    ASSERT_EQ(std::memcmp(out.ptr<cv::Vec3f>(0, x), out.ptr<cv::Vec3f>(0, 0), sizeof(cv::Vec3f)), 0)
                        << "colour " << colour << ", hue " << setting.hue << ", pixel " << x;
            }
}

namespace {

// Contrast from the slider's centre (1) to its maximum ((100 + 150) x 0.006666667),
// with the fixed contrasts of the operators between.
class ContrastRamp : public ::testing::TestWithParam<float> {};

// One row: value ramp from 0 to 0.4 of a colour whose channels (B, G, R) keep the
// given proportions.
cv::Mat ramp(const cv::Vec3f& proportions)
{
    cv::Mat row(1, 401, CV_32FC3);
    for (int x = 0; x < row.cols; ++x)
        row.at<cv::Vec3f>(0, x) = proportions * (x * 0.001f);
    return row;
}

// Rounding noise where two nearly equal terms cancel is far below one level of 16 bits.
constexpr float kRoundingNoise = 1e-6f;

}  // namespace

TEST_P(ContrastRamp, ShadowsStayMonotonicAndKeepTheirHue)
{
    const float contrast = GetParam();
    const struct {
        const char* name;
        cv::Vec3f proportions;  // B, G, R
        int strongest;
        int weakest;
    } colours[] = {
        {"grey", {1.f, 1.f, 1.f}, 0, 0},
        {"dark red", {0.05f, 0.1f, 1.f}, 2, 0},
        {"dark green", {0.1f, 1.f, 0.2f}, 1, 0},
        {"dark blue", {1.f, 0.f, 0.1f}, 0, 1},
        {"brown", {0.1f, 0.4f, 0.8f}, 2, 0},
    };
    for (const auto& colour : colours) {
        const cv::Mat out = pass(ramp(colour.proportions), 0.f, 1.f, 0.f, contrast);
        for (int x = 0; x < out.cols; ++x) {
            const cv::Vec3f px = out.at<cv::Vec3f>(0, x);
            ASSERT_GE(px[colour.strongest] + kRoundingNoise, px[colour.weakest])
                << colour.name << " changes hue at step " << x << ", contrast " << contrast;
            if (x == 0)
                continue;
            const cv::Vec3f previous = out.at<cv::Vec3f>(0, x - 1);
            for (int c = 0; c < 3; ++c)
                ASSERT_GE(px[c] + kRoundingNoise, previous[c])
                    << colour.name << " folds back at step " << x << ", channel " << c << ", contrast " << contrast;
        }
    }
    // The darkest grey is never lifted above the toe's own lift.
    const cv::Mat black = pass(cv::Mat(1, 1, CV_32FC3, cv::Scalar::all(0)), 0.f, 1.f, 0.f, contrast);
    EXPECT_LE(black.at<cv::Vec3f>(0, 0)[0], kGain * kKnee / 4.f + kRoundingNoise);
}

INSTANTIATE_TEST_SUITE_P(SliderRange, ContrastRamp,
                         ::testing::Values(1.f, 1.2f, 1.2333334f, 1.3333334f, 1.5f, 250 * 0.006666667f));

namespace {

class ScaledInput : public ::testing::TestWithParam<float> {};

}  // namespace

TEST_P(ScaledInput, FoldedIntoTheToeGivesThePassOfTheScaledImage)
{
    const float scale = GetParam();
    const cv::Mat image = randomImage(6, 40) * (1.f / scale);
    const Spline curve(0.f, -0.5f, 0.5f, 0.25f);
    for (const float exposure : {0.f, -0.15f, 0.6f}) {
        ColourPassParameters direct{0.05f, 1.2f, 0.3f, exposureToe(exposure), 1.3f};
        ColourPassParameters folded = direct;
        folded.exposure = toeOfScaledInput(direct.exposure, scale);
        cv::Mat expected, got, scaled;
        image.convertTo(scaled, CV_32F, scale);
        parallelComputeLightImage(curve, expected, scaled, direct);
        parallelComputeLightImage(curve, got, image, folded);
        EXPECT_LT(cv::norm(got, expected, cv::NORM_INF), 1e-4) << "exposure " << exposure;
    }
}

INSTANTIATE_TEST_SUITE_P(Scales, ScaledInput, ::testing::Values(1.f, 0.01f, 7.5f, 3000.f));
