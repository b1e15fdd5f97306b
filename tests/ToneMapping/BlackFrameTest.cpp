#include "BlackFrame.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <cctype>
#include <string>

namespace {

std::string rowName(std::string name)
{
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

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
    // Without a frame on that side the dark line is the picture's own, as is black on one side only.
    {"own dark edge", {0, 10, 40, 30}, {0, 10, 1, 30}, 0.3, {0, 10, 60, 30}},
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
                         [](const ::testing::TestParamInfo<FrameCase>& info) { return rowName(info.param.name); });

// Flat near-black bars, noisy as decoded video's, around a grey picture: a pair on
// opposite edges or a border all round is a frame; a dark sky or backdrop touching one
// edge, or a subject on a dark backdrop all round, is the picture's own.
struct BandCase {
    const char* name;
    cv::Scalar level;  // BGR 8-bit levels, with a share of noise either way, linear or not
    double noise;
    bool linear;
    cv::Vec4i sides;  // top, bottom, left, right
    bool round;       // an ellipse inside
    bool frame;
};

const BandCase kBandCases[] = {
    {"video black", cv::Scalar::all(16), 0.0, false, {10, 10, 0, 0}, false, true},
    {"video black in linear light", cv::Scalar::all(16), 0.0, true, {10, 10, 0, 0}, false, true},
    {"night sky", cv::Scalar(15.3, 7.65, 5.1), 0.0, false, {10, 10, 0, 0}, false, false},
    {"letterbox black", cv::Scalar::all(0), 0.0, false, {8, 8, 0, 0}, false, true},
    {"letterbox 16+-1 linear", cv::Scalar::all(16), 1.0 / 16, true, {8, 8, 0, 0}, false, true},
    {"pillarbox black", cv::Scalar::all(0), 0.0, false, {0, 0, 9, 9}, false, true},
    {"pillarbox 16+-1 linear", cv::Scalar::all(16), 1.0 / 16, true, {0, 0, 9, 9}, false, true},
    {"all round black", cv::Scalar::all(0), 0.0, false, {6, 4, 5, 7}, false, true},
    {"all round 16+-1 linear", cv::Scalar::all(16), 1.0 / 16, true, {6, 4, 5, 7}, false, true},
    {"neutral sky", cv::Scalar::all(15), 0.0, false, {15, 0, 0, 0}, false, false},
    {"neutral sky 3%", cv::Scalar::all(15), 0.03, true, {15, 0, 0, 0}, false, false},
    {"blue-grey sky", cv::Scalar(17, 15, 14), 0.0, false, {15, 0, 0, 0}, false, false},
    {"blue-grey sky 3%", cv::Scalar(17, 15, 14), 0.03, false, {15, 0, 0, 0}, false, false},
    {"warm-grey sky", cv::Scalar(13, 15, 16), 0.0, false, {15, 0, 0, 0}, false, false},
    {"warm-grey sky 3%", cv::Scalar(13, 15, 16), 0.03, false, {15, 0, 0, 0}, false, false},
    {"studio backdrop", cv::Scalar::all(20), 0.03, false, {5, 5, 15, 15}, true, false},
};

class BlackFrameBands : public ::testing::TestWithParam<BandCase> {};

TEST_P(BlackFrameBands, AFrameIsBarsInPairsOrAllRound)
{
    const BandCase& b = GetParam();
    cv::Mat image(50, 60, CV_32FC3);
    cv::RNG(7).fill(image, cv::RNG::UNIFORM, cv::Scalar::all(1.0 - b.noise), cv::Scalar::all(1.0 + b.noise));
    cv::multiply(image, b.level / 255.0, image);
    if (b.linear)
        cv::pow(image, 2.2, image);
    const cv::Rect inside(b.sides[2], b.sides[0], 60 - b.sides[2] - b.sides[3], 50 - b.sides[0] - b.sides[1]);
    if (b.round)
        cv::ellipse(image, (inside.tl() + inside.br()) / 2, inside.size() / 2, 0.0, 0.0, 360.0, cv::Scalar::all(0.5),
                    cv::FILLED);
    else
        image(inside).setTo(cv::Scalar::all(0.5));
    const BlackFrame frame(image);
    EXPECT_EQ(frame.picture(), b.frame ? inside : cv::Rect(0, 0, 60, 50));
    EXPECT_LE(cv::norm(frame.framed(image(frame.picture())), image, cv::NORM_INF), 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Bands, BlackFrameBands, ::testing::ValuesIn(kBandCases),
                         [](const ::testing::TestParamInfo<BandCase>& info) { return rowName(info.param.name); });

TEST(BlackFrame, ABlackImageIsSeenWhole)
{
    const cv::Mat black = cv::Mat::zeros(8, 12, CV_32FC3);
    const BlackFrame frame(black);
    EXPECT_EQ(frame.picture(), cv::Rect(0, 0, 12, 8));
    EXPECT_EQ(frame.framed(black).size(), black.size());
}

}  // namespace
