#include "ColourRatios.h"
#include "ToneMapperFactory.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <string>

namespace {

// A dark patch (a dog's nose, say) on a lit background; inside it black pixels ringed
// by near-black ones holding an 8-bit step or three of one or two channels only, in
// linear light as a light image holds them, where a video's blacks are clipped.
const cv::Rect kDarkPatch(16, 12, 32, 24);
const cv::Rect kBlob(27, 19, 10, 10);

cv::Mat darkNoseImage()
{
    cv::Mat image(48, 64, CV_32FC3, cv::Scalar(0.18, 0.30, 0.42));
    image(kDarkPatch).setTo(cv::Scalar(0.010, 0.030, 0.045));
    auto steps = [](int n) { return std::pow(n / 255.0f, 2.2f); };
    const cv::Vec3f ring[] = {{0, 0, steps(1)}, {0, steps(1), 0}, {steps(1), 0, 0}, {0, steps(2), steps(2)}, {0, 0, steps(3)}};
    for (int r = kBlob.y; r < kBlob.br().y; ++r)
        for (int c = kBlob.x; c < kBlob.br().x; ++c)
            image.at<cv::Vec3f>(r, c) = ring[(r + c) % 5];
    image(cv::Rect(kBlob.x + 2, kBlob.y + 2, kBlob.width - 4, kBlob.height - 4)).setTo(cv::Scalar::all(0));
    return image;
}

struct NearBlackCase {
    const char* name;
    int index;
    std::array<float, 3> params;
};

class NearBlackPixels : public ::testing::TestWithParam<NearBlackCase> {};

}  // namespace

TEST_P(NearBlackPixels, ComeOutNeutralWhileBlackStaysBlack)
{
    const NearBlackCase& c = GetParam();
    const cv::Mat image = darkNoseImage();
    cv::Mat out;
    makeToneMapper(c.index)->apply(out, image, c.params.data());
    ASSERT_EQ(out.type(), CV_32FC3);
    ASSERT_TRUE(cv::checkRange(out));

    int litBlack = 0;
    int coloured = 0;
    for (int r = kBlob.y; r < kBlob.br().y; ++r)
        for (int col = kBlob.x; col < kBlob.br().x; ++col) {
            const cv::Vec3f p = out.at<cv::Vec3f>(r, col);
            const float high = std::max({p[0], p[1], p[2]});
            const float low = std::min({p[0], p[1], p[2]});
            litBlack += image.at<cv::Vec3f>(r, col) == cv::Vec3f::all(0) && high > 0.0f;
            coloured += high - low > 0.2f * high;
        }
    EXPECT_EQ(litBlack, 0) << c.name << ": black pixels shown lit";
    EXPECT_EQ(coloured, 0) << c.name << ": pixels with a colour the input did not show";
}

INSTANTIATE_TEST_SUITE_P(
    ColourRestoringOperators, NearBlackPixels,
    ::testing::Values(NearBlackCase{"LaplacianNatural", LaplacianIndex, {0.5f, -0.5f, -1.0f}},
                      NearBlackCase{"LaplacianDefault", LaplacianIndex, {1.0f, 0.0f, -1.0f}},
                      NearBlackCase{"LCModel", LC_ModelIndex, {8.0f, 8.0f, 1.0f}}),
    [](const ::testing::TestParamInfo<NearBlackCase>& info) { return std::string(info.param.name); });

namespace {

// 8-bit BGR values decoded to linear light, as a light image holds them.
cv::Vec3f linearLight(float b, float g, float r)
{
    return {std::pow(b / 255.0f, 2.2f), std::pow(g / 255.0f, 2.2f), std::pow(r / 255.0f, 2.2f)};
}

float luminanceOf(const cv::Vec3f& bgr)
{
    return (20.0f * bgr[2] + 40.0f * bgr[1] + bgr[0]) / 61.0f;
}

struct LiftCase {
    const char* name;
    cv::Vec3f bgr;
    float lift;      // the new luminance over the pixel's own
    bool keepsColour;
};

}  // namespace

// A dark colour keeps its hue when it is shown as it is or lifted a little; the
// noise of a few sample steps keeps its colour unlifted too, and turns neutral only
// when a strong lift would make it glare. Black stays black at any lift.
TEST(ColourRatios, LiftedColoursTurnNeutralOnlyWhereTheirSampleNoiseWouldShow)
{
    const ColourRatios ratios(1.0);
    const LiftCase cases[] = {
        {"maroon", linearLight(12, 8, 40), 1.0f, true},
        {"maroon lifted tenfold", linearLight(12, 8, 40), 10.0f, true},
        {"shadow noise", linearLight(1, 3, 9), 1.0f, true},
        {"shadow noise lifted to mid-grey", linearLight(1, 3, 9), 300.0f, false},
    };
    for (const LiftCase& c : cases) {
        const float l = luminanceOf(c.bgr);
        cv::Vec3f out;
        ratios.restoreLifted(c.bgr.val, l, c.lift * l, out.val);
        const float high = std::max({out[0], out[1], out[2]});
        const float low = std::min({out[0], out[1], out[2]});
        if (c.keepsColour) {
            EXPECT_GT(out[2], 1.25f * std::max(out[0], out[1])) << c.name;
        } else {
            EXPECT_LT(high - low, 0.2f * high) << c.name;
        }
    }
    for (const float lift : {1.0f, 300.0f}) {
        cv::Vec3f out;
        ratios.restoreLifted(cv::Vec3f::all(0).val, 0.0f, lift, out.val);
        EXPECT_EQ(out, cv::Vec3f::all(0)) << "black at lift " << lift;
    }
}
