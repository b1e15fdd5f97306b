#include "BlackFrame.h"

#include "TestMedia.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
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
// edge, or a subject on a dark backdrop all round, is the picture's own. Bars through a
// real encoder and decoder ring beside the picture; a smooth dark sky and road are no
// bars, though each crosses every threshold in a whole row.
enum class Inside { Grey, GreyEllipse, Photo, PhotoUnderSkyOverRoad };

struct BandCase {
    const char* name;
    cv::Scalar level;  // BGR 8-bit levels, with a share of noise either way, linear or not
    double noise;
    bool linear;
    cv::Vec4i sides;  // top, bottom, left, right
    Inside inside;
    bool frame;
    // Through H.264 at CRF 28 (4:2:0) and back, as a decoded 8-bit frame.
    bool decoded = false;
    cv::Size size = cv::Size(60, 50);
};

const BandCase kBandCases[] = {
    {"video black", cv::Scalar::all(16), 0.0, false, {10, 10, 0, 0}, Inside::Grey, true},
    {"video black in linear light", cv::Scalar::all(16), 0.0, true, {10, 10, 0, 0}, Inside::Grey, true},
    {"night sky", cv::Scalar(15.3, 7.65, 5.1), 0.0, false, {10, 10, 0, 0}, Inside::Grey, false},
    {"letterbox black", cv::Scalar::all(0), 0.0, false, {8, 8, 0, 0}, Inside::Grey, true},
    {"letterbox 16+-1 linear", cv::Scalar::all(16), 1.0 / 16, true, {8, 8, 0, 0}, Inside::Grey, true},
    {"letterbox 16+-2 linear", cv::Scalar::all(16), 2.0 / 16, true, {8, 8, 0, 0}, Inside::Photo, true},
    {"pillarbox black", cv::Scalar::all(0), 0.0, false, {0, 0, 9, 9}, Inside::Grey, true},
    {"pillarbox 16+-1 linear", cv::Scalar::all(16), 1.0 / 16, true, {0, 0, 9, 9}, Inside::Grey, true},
    {"all round black", cv::Scalar::all(0), 0.0, false, {6, 4, 5, 7}, Inside::Grey, true},
    {"all round 16+-1 linear", cv::Scalar::all(16), 1.0 / 16, true, {6, 4, 5, 7}, Inside::Grey, true},
    {"neutral sky", cv::Scalar::all(15), 0.0, false, {15, 0, 0, 0}, Inside::Grey, false},
    {"neutral sky 3%", cv::Scalar::all(15), 0.03, true, {15, 0, 0, 0}, Inside::Grey, false},
    {"blue-grey sky", cv::Scalar(17, 15, 14), 0.0, false, {15, 0, 0, 0}, Inside::Grey, false},
    {"blue-grey sky 3%", cv::Scalar(17, 15, 14), 0.03, false, {15, 0, 0, 0}, Inside::Grey, false},
    {"warm-grey sky", cv::Scalar(13, 15, 16), 0.0, false, {15, 0, 0, 0}, Inside::Grey, false},
    {"warm-grey sky 3%", cv::Scalar(13, 15, 16), 0.03, false, {15, 0, 0, 0}, Inside::Grey, false},
    {"studio backdrop", cv::Scalar::all(20), 0.03, false, {5, 5, 15, 15}, Inside::GreyEllipse, false},
    {"sky and road", cv::Scalar::all(0), 0.0, false, {0, 0, 0, 0}, Inside::PhotoUnderSkyOverRoad, false},
    {"decoded letterbox black", cv::Scalar::all(0), 0.0, false, {22, 22, 0, 0}, Inside::Photo, true, true, {192, 112}},
    {"decoded letterbox 16", cv::Scalar::all(16), 0.0, false, {22, 22, 0, 0}, Inside::Photo, true, true, {192, 112}},
};

// A real photo at `size`, float; empty without the test media.
cv::Mat photo(cv::Size size)
{
    const QString file = testmedia::mediaFile("mate-backgrounds/usr/share/backgrounds/mate/nature/Dune.jpg");
    cv::Mat image = file.isEmpty() ? cv::Mat() : cv::imread(file.toStdString(), cv::IMREAD_REDUCED_COLOR_4);
    if (image.empty())
        return image;
    cv::resize(image, image, size, 0.0, 0.0, cv::INTER_AREA);
    image.convertTo(image, CV_32F, 1.0 / 255.0);
    return image;
}

// Gradients from a neutral near-black at the top and bottom edges over the top and
// bottom quarters, without noise.
void darkenSkyAndRoad(cv::Mat& image)
{
    const int band = image.rows / 4;
    for (int r = 0; r < band; ++r) {
        image.row(r).setTo(cv::Scalar(6, 5, 5) / 255.0 + cv::Scalar(34, 24, 18) / 255.0 * r / band);
        image.row(image.rows - 1 - r).setTo(cv::Scalar::all(5.0 + 30.0 * r / band) / 255.0);
    }
}

// The 8-bit frame encoded with ffmpeg's libx264 and decoded back, float; empty when
// ffmpeg fails.
cv::Mat throughH264(const cv::Mat& image)
{
    const QTemporaryDir folder;
    const QString frame = folder.filePath("frame.png");
    const QString video = folder.filePath("frame.mp4");
    const QString decoded = folder.filePath("decoded.png");
    cv::Mat eightBit;
    image.convertTo(eightBit, CV_8U, 255.0);
    cv::imwrite(frame.toStdString(), eightBit);
    const QStringList quiet{"-v", "error", "-y", "-i"};
    if (QProcess::execute("ffmpeg", quiet + QStringList{frame, "-c:v", "libx264", "-crf", "28", "-pix_fmt",
                                                        "yuv420p", video}) != 0 ||
        QProcess::execute("ffmpeg", quiet + QStringList{video, decoded}) != 0)
        return cv::Mat();
    cv::Mat result = cv::imread(decoded.toStdString());
    result.convertTo(result, CV_32F, 1.0 / 255.0);
    return result;
}

class BlackFrameBands : public ::testing::TestWithParam<BandCase> {};

TEST_P(BlackFrameBands, AFrameIsBarsInPairsOrAllRound)
{
    const BandCase& b = GetParam();
    if (b.decoded && QStandardPaths::findExecutable("ffmpeg").isEmpty())
        GTEST_SKIP() << "needs ffmpeg";
    const cv::Size size = b.size;
    cv::Mat image(size, CV_32FC3);
    cv::RNG(7).fill(image, cv::RNG::UNIFORM, cv::Scalar::all(1.0 - b.noise), cv::Scalar::all(1.0 + b.noise));
    cv::multiply(image, b.level / 255.0, image);
    const cv::Rect inside(b.sides[2], b.sides[0], size.width - b.sides[2] - b.sides[3],
                          size.height - b.sides[0] - b.sides[1]);
    switch (b.inside) {
    case Inside::Grey: image(inside).setTo(cv::Scalar::all(0.5)); break;
    case Inside::GreyEllipse:
        cv::ellipse(image, (inside.tl() + inside.br()) / 2, inside.size() / 2, 0.0, 0.0, 360.0, cv::Scalar::all(0.5),
                    cv::FILLED);
        break;
    case Inside::Photo:
    case Inside::PhotoUnderSkyOverRoad: {
        const cv::Mat picture = photo(inside.size());
        if (picture.empty())
            GTEST_SKIP() << "needs the test media";
        picture.copyTo(image(inside));
        if (b.inside == Inside::PhotoUnderSkyOverRoad)
            darkenSkyAndRoad(image);
        break;
    }
    }
    if (b.decoded)
        image = throughH264(image);
    ASSERT_FALSE(image.empty());
    if (b.linear)
        cv::pow(image, 2.2, image);
    const BlackFrame frame(image, b.linear);
    const cv::Rect found = frame.picture();
    EXPECT_EQ(found, b.frame ? inside : cv::Rect(cv::Point(), size));
    // The bars as they came, but for the ringing line beside a decoded picture, drawn
    // back from it dimmed as a partly covered line.
    cv::Mat asTheyCame(size, CV_8U, cv::Scalar(255));
    if (b.decoded && found.y > 0 && found.br().y < size.height) {
        asTheyCame.row(found.y - 1).setTo(0);
        asTheyCame.row(found.br().y).setTo(0);
    }
    EXPECT_LE(cv::norm(frame.framed(image(found)), image, cv::NORM_INF, asTheyCame), 1e-6);
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
