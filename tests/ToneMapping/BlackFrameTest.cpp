#include "BlackFrame.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <string>

namespace {

// A 40 x 30 picture of 0.5 inside a black frame, one outer line of it scaled by a cover.
struct FrameCase {
    const char* name;
    cv::Rect picture;     // in the 60 x 50 image
    cv::Rect outerLine;   // scaled by `cover`
    double cover;
    cv::Rect expected;    // what the operators see
};

const FrameCase kFrameCases[] = {
    {"whole lines", {10, 10, 40, 30}, {10, 10, 40, 1}, 1.0, {10, 10, 40, 30}},
    {"top half covered", {10, 10, 40, 30}, {10, 10, 40, 1}, 0.5, {10, 11, 40, 29}},
    {"bottom barely covered", {10, 10, 40, 30}, {10, 39, 40, 1}, 0.05, {10, 10, 40, 29}},
    {"left half covered", {10, 10, 40, 30}, {10, 10, 1, 30}, 0.5, {11, 10, 39, 30}},
    {"right nearly whole", {10, 10, 40, 30}, {49, 10, 1, 30}, 0.9, {10, 10, 40, 30}},
    // Without a frame on that side the dark line is the picture's own.
    {"own dark edge", {0, 10, 40, 30}, {0, 10, 1, 30}, 0.3, {0, 10, 40, 30}},
    {"no frame", {0, 0, 60, 50}, {0, 0, 60, 1}, 0.3, {0, 0, 60, 50}},
};

class BlackFrameCases : public ::testing::TestWithParam<FrameCase> {};

TEST_P(BlackFrameCases, LeavesOutTheFrameAndPartlyCoveredLinesAndDrawsThemBack)
{
    const FrameCase& frameCase = GetParam();
    cv::Mat image = cv::Mat::zeros(50, 60, CV_32FC3);
    image(frameCase.picture).setTo(cv::Scalar::all(0.5));
    image(frameCase.outerLine) *= frameCase.cover;
    const BlackFrame frame(image);
    EXPECT_EQ(frame.picture(), frameCase.expected);
    // A render that doubles the picture: a cut line comes back dimmed as it came.
    const cv::Mat framed = frame.framed(image(frame.picture()) * 2.0);
    ASSERT_EQ(framed.size(), image.size());
    EXPECT_LE(cv::norm(framed, image * 2.0, cv::NORM_INF), 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Frames, BlackFrameCases, ::testing::ValuesIn(kFrameCases),
                         [](const ::testing::TestParamInfo<FrameCase>& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

// Flat bands at the top and bottom: video's neutral near-black is a frame, a night
// sky's flat dark blue is the picture's own.
TEST(BlackFrame, NeutralNearBlackBarsAreAFrameAndAFlatDarkSkyIsNot)
{
    const struct {
        const char* name;
        cv::Scalar band;
        bool frame;
    } bands[] = {{"video black", cv::Scalar::all(16.0 / 255.0), true},
                 {"video black in linear light", cv::Scalar::all(std::pow(16.0 / 255.0, 2.2)), true},
                 {"night sky", cv::Scalar(0.06, 0.03, 0.02), false}};
    for (const auto& b : bands) {
        cv::Mat image(50, 60, CV_32FC3, b.band);
        image(cv::Rect(0, 10, 60, 30)).setTo(cv::Scalar::all(0.5));
        const BlackFrame frame(image);
        EXPECT_EQ(frame.picture(), b.frame ? cv::Rect(0, 10, 60, 30) : cv::Rect(0, 0, 60, 50)) << b.name;
        EXPECT_LE(cv::norm(frame.framed(image(frame.picture())), image, cv::NORM_INF), 1e-6) << b.name;
    }
}

TEST(BlackFrame, ABlackImageIsSeenWhole)
{
    const cv::Mat black = cv::Mat::zeros(8, 12, CV_32FC3);
    const BlackFrame frame(black);
    EXPECT_EQ(frame.picture(), cv::Rect(0, 0, 12, 8));
    EXPECT_EQ(frame.framed(black).size(), black.size());
}

}  // namespace
