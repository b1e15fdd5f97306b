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
