#include "LC_Model.h"

#include "HdrTestImages.h"
#include "TestMedia.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <thread>
#include <tuple>

namespace {

// The surround walked position by position, wedge by wedge, with a marker image.
class ReferenceSurround {
public:
    ReferenceSurround(const cv::Mat& luminance, const cv::Mat& edges, int spread, int edgeSpread)
        : luminance_(luminance), edges_(edges), spread_(spread), edgeSpread_(edgeSpread), radius_(3 * spread + 1),
          markers_(luminance.size(), CV_64F, cv::Scalar(-1))
    {
    }

    float at(int row, int col)
    {
        n_ = static_cast<double>(row) * luminance_.cols + col;
        weightSum_ = 0.0;
        luminanceSum_ = 0.0;
        const int r = radius_;
        const int wedges[4][5] = {{0, 1, 1, 0, 0}, {0, -1, 1, 0, 0}, {-1, 0, 0, -1, 1}, {1, 0, 0, -1, 1}};
        for (const auto& w : wedges)
            for (int t = w[4]; t <= r; ++t) {
                spread_now_ = spread_;
                visit(row, col, w[0] * t, w[1] * t, w[0], w[1]);
                if (t == r)
                    continue;
                for (int j = 1; t + j <= r; ++j)
                    visit(row, col, w[0] * (t + j) + w[2] * j, w[1] * (t + j) + w[3] * j, w[0], w[1]);
                spread_now_ = spread_;
                for (int j = 1; t + j <= r; ++j)
                    visit(row, col, w[0] * (t + j) - w[2] * j, w[1] * (t + j) - w[3] * j, w[0], w[1]);
            }
        return static_cast<float>(luminanceSum_ / weightSum_);
    }

private:
    void visit(int row, int col, int dr, int dc, int axisR, int axisC)
    {
        const int r = row + dr;
        const int c = col + dc;
        if (r < 0 || r >= luminance_.rows || c < 0 || c >= luminance_.cols)
            return;
        if (edges_.at<float>(r, c) > 0.0f || markers_.at<double>(r, c) == n_) {
            spread_now_ = edgeSpread_;
            const bool border = r == 0 || c == 0 || r == luminance_.rows - 1 || c == luminance_.cols - 1;
            if (!border)
                markers_.at<double>(r + axisR, c + axisC) = n_;
        }
        const double d2 = static_cast<double>(dr) * dr + static_cast<double>(dc) * dc;
        const double weight = std::exp(-d2 / (4.0 * spread_now_ * spread_now_));
        weightSum_ += weight;
        luminanceSum_ += weight * luminance_.at<float>(r, c);
    }

    cv::Mat luminance_;
    cv::Mat edges_;
    int spread_;
    int edgeSpread_;
    int radius_;
    cv::Mat markers_;
    double n_ = 0.0;
    int spread_now_ = 0;
    double weightSum_ = 0.0;
    double luminanceSum_ = 0.0;
};

cv::Mat smoothLuminance(cv::Size size, int seed)
{
    cv::Mat luminance(size, CV_32F);
    cv::RNG rng(seed);
    rng.fill(luminance, cv::RNG::UNIFORM, 0.05, 1.0);
    cv::GaussianBlur(luminance, luminance, cv::Size(0, 0), 3.0);
    return luminance;
}

void expectNear(const cv::Mat& actual, const cv::Mat& expected, double tolerance)
{
    ASSERT_EQ(actual.size(), expected.size());
    double worst = 0.0;
    cv::Point where;
    cv::minMaxLoc(cv::abs(actual - expected), nullptr, &worst, nullptr, &where);
    EXPECT_LE(worst, tolerance) << "at " << where;
}

const std::atomic<bool> kNoCancel{false};

}  // namespace

TEST(LCModel, SurroundWithoutEdgesIsTheGaussianMeanWithTheCentreCountedTwice)
{
    const cv::Mat luminance = smoothLuminance(cv::Size(130, 110), 3);
    const cv::Mat noEdges = cv::Mat::zeros(luminance.size(), CV_32F);
    const cv::Mat surround = lc_model::adaptiveSurround(luminance, noEdges, 16, 5, kNoCancel);

    cv::Mat expected(luminance.size(), CV_32F);
    for (int row = 0; row < luminance.rows; ++row)
        for (int col = 0; col < luminance.cols; ++col) {
            double sum = luminance.at<float>(row, col);
            double weights = 1.0;
            for (int dr = -49; dr <= 49; ++dr)
                for (int dc = -49; dc <= 49; ++dc) {
                    const int r = row + dr;
                    const int c = col + dc;
                    if (r < 0 || c < 0 || r >= luminance.rows || c >= luminance.cols)
                        continue;
                    const double weight = std::exp(-(dr * dr + dc * dc) / 1024.0);
                    sum += weight * luminance.at<float>(r, c);
                    weights += weight;
                }
            expected.at<float>(row, col) = static_cast<float>(sum / weights);
        }
    expectNear(surround, expected, 1e-5);
}

// Edge layouts that exercise marks along lines, diagonals, the image border and the centre.
class LCModelSurroundEdges : public ::testing::TestWithParam<std::tuple<const char*, cv::Size>> {};

TEST_P(LCModelSurroundEdges, MatchesThePositionByPositionWalk)
{
    const cv::Size size = std::get<1>(GetParam());
    const cv::Mat luminance = smoothLuminance(size, 11);
    cv::Mat edges = cv::Mat::zeros(size, CV_32F);
    const std::string layout = std::get<0>(GetParam());
    if (layout == "random") {
        cv::RNG rng(5);
        for (int i = 0; i < size.area() / 40; ++i)
            edges.at<float>(rng.uniform(0, size.height), rng.uniform(0, size.width)) = 1.0f;
    } else if (layout == "lines") {
        cv::line(edges, cv::Point(0, size.height / 3), cv::Point(size.width - 1, size.height / 2), 1.0);
        cv::line(edges, cv::Point(size.width / 2, 0), cv::Point(size.width / 3, size.height - 1), 1.0);
        cv::rectangle(edges, cv::Rect(0, 0, size.width, size.height), 1.0);
    } else if (layout == "sparse") {
        // Far apart, so that windows along a row or column lose every edge and find one again.
        for (const cv::Point& at : {cv::Point(60, 62), cv::Point(61, 62), cv::Point(175, 70), cv::Point(230, 58)})
            edges.at<float>(at) = 1.0f;
    } else {
        cv::circle(edges, cv::Point(size.width / 2, size.height / 2), size.height / 4, 1.0);
        edges.row(0).setTo(1.0);
        edges.col(size.width - 1).setTo(1.0);
    }

    const cv::Mat surround = lc_model::adaptiveSurround(luminance, edges, 16, 5, kNoCancel);
    ReferenceSurround reference(luminance, edges, 16, 5);
    cv::Mat expected(size, CV_32F);
    for (int row = 0; row < size.height; ++row)
        for (int col = 0; col < size.width; ++col)
            expected.at<float>(row, col) = reference.at(row, col);
    expectNear(surround, expected, 2e-5);
}

INSTANTIATE_TEST_SUITE_P(Layouts, LCModelSurroundEdges,
                         ::testing::Values(std::make_tuple("random", cv::Size(150, 120)),
                                           std::make_tuple("lines", cv::Size(140, 128)),
                                           std::make_tuple("circle", cv::Size(120, 140)),
                                           std::make_tuple("sparse", cv::Size(290, 124)),
                                           std::make_tuple("random", cv::Size(9, 5))));

TEST(LCModel, ThreadedSurroundEqualsSerial)
{
    const cv::Mat luminance = smoothLuminance(cv::Size(200, 150), 21);
    cv::Mat edges;
    cv::threshold(luminance, edges, 0.55, 1.0, cv::THRESH_BINARY);
    const cv::Mat threaded = lc_model::adaptiveSurround(luminance, edges, 16, 5, kNoCancel);
    const int threads = cv::getNumThreads();
    cv::setNumThreads(1);
    const cv::Mat serial = lc_model::adaptiveSurround(luminance, edges, 16, 5, kNoCancel);
    cv::setNumThreads(threads);
    EXPECT_EQ(cv::norm(threaded, serial, cv::NORM_INF), 0.0);
}

TEST(LCModel, UniformGreyComesOutBlack)
{
    LC_Model op;
    const cv::Mat grey(40, 60, CV_32FC3, cv::Scalar(0.4, 0.4, 0.4));
    cv::Mat out;
    const float params[3] = {0.1f, 7.0f, 0.5f};
    op.apply(out, grey, params);
    ASSERT_EQ(out.size(), grey.size());
    EXPECT_EQ(cv::countNonZero(out.reshape(1)), 0);
    EXPECT_EQ(op.progress, 100);
}

TEST(LCModel, ScaleImageOfAFlatImageIsZeroAndOtherwiseSpansTheRange)
{
    const cv::Mat flat(3, 3, CV_32F, cv::Scalar(2.5f));
    EXPECT_EQ(cv::countNonZero(lc_model::scaleImage(flat, 0.0f, 1.0f)), 0);
    const cv::Mat ramp = (cv::Mat_<float>(1, 3) << 2.0f, 4.0f, 6.0f);
    const cv::Mat scaled = lc_model::scaleImage(ramp, 0.0f, 1.0f);
    EXPECT_FLOAT_EQ(scaled.at<float>(0), 0.0f);
    EXPECT_FLOAT_EQ(scaled.at<float>(1), 0.5f);
    EXPECT_FLOAT_EQ(scaled.at<float>(2), 1.0f);
}

// What a photographer sees of the stretch's clip is the black end of the histogram:
// it stands no taller than the bar of an average level, so it reads as one more tone
// and not as a wall of crushed shadows. With the default settings, the low-key look's
// and the second and third sliders' ends, on a generated scene, a real HDR and a real
// photo (when the media are there); no step reports an empty range. Past a centre of 2
// the sigmoid's factor, rescaled, no longer changes: the picture goes on as at 2.
TEST(LCModel, StretchClipsNextToNoneOfALitPicture)
{
    constexpr int kHistogramLevels = 256;
    cv::Mat photo = cv::imread(
        testmedia::mediaFile("mate-backgrounds/usr/share/backgrounds/mate/nature/Storm.jpg").toStdString());
    if (!photo.empty())
        cv::resize(photo, photo, cv::Size(400, 267), 0, 0, cv::INTER_AREA);
    const cv::Mat pictures[] = {hdrtest::syntheticHdrImage(300, 400), hdrtest::realHdrImage(cv::Size(400, 200)),
                                photo};
    const float settings[][3] = {{0.1f, 7.0f, 0.5f}, {7.0f, 6.0f, 0.5f}, {0.1f, 0.1f, 0.5f},
                                 {0.1f, 7.0f, 2.0f}, {0.1f, 7.0f, 4.0f},  {0.1f, 7.0f, 10.0f}};
    for (const cv::Mat& picture : pictures) {
        if (picture.empty())
            continue;
        cv::Mat atTwo;
        for (const auto& params : settings) {
            LC_Model op;
            cv::Mat out;
            ::testing::internal::CaptureStdout();
            op.apply(out, picture, params);
            EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << params[1] << ", " << params[2];
            cv::Mat channels[3];
            cv::split(out, channels);
            const cv::Mat largest = cv::max(channels[0], cv::max(channels[1], channels[2]));
            EXPECT_LE(cv::countNonZero(largest < 0.5f / 255.0f), int(out.total() / kHistogramLevels))
                << picture.size() << " " << params[0] << ", " << params[1] << ", " << params[2];
            if (params[2] == 2.0f) {
                atTwo = out;
            } else if (params[2] > 2.0f) {
                EXPECT_LE(cv::norm(out, atTwo, cv::NORM_INF), 1.0 / 255.0) << params[2];
            }
        }
    }
}

TEST(LCModel, CompressLuminanceBringsTheInputToTheDisplayRangeFirst)
{
    cv::Mat image(30, 40, CV_32FC3);
    cv::RNG(17).fill(image, cv::RNG::UNIFORM, -0.1, 0.4);
    cv::Mat chroma;
    cv::Mat expectedChroma;
    const cv::Mat luminance = lc_model::compressLuminance(image, 2.5f, chroma);
    const cv::Mat expected = lc_model::compressLuminance(cv::Mat(image * 2.5f), 1.0f, expectedChroma);
    expectNear(luminance, expected, 1e-6);
    EXPECT_LE(cv::norm(chroma, expectedChroma, cv::NORM_INF), 1e-5);
}

TEST(LCModel, CleanEdgeMapKeepsPixelsWithTwoOfAboveLeftRight)
{
    cv::Mat map = cv::Mat::zeros(5, 5, CV_32F);
    map.at<float>(1, 2) = 1.0f;  // above (2, 2)
    map.at<float>(2, 1) = 1.0f;  // left of (2, 2)
    const cv::Mat cleaned = lc_model::cleanEdgeMap(map);
    EXPECT_EQ(cleaned.at<float>(2, 2), 1.0f);
    EXPECT_EQ(cleaned.at<float>(1, 2), 0.0f);
    // The reflected border mirrors (2, 1) to the left of (2, 0) as well.
    EXPECT_EQ(cleaned.at<float>(2, 0), 1.0f);
    EXPECT_EQ(cv::countNonZero(cleaned), 2);
}

TEST(LCModel, BlackPixelsStayBlackAndOutputIsInUnitRange)
{
    LC_Model op;
    cv::Mat image(64, 96, CV_32FC3);
    cv::RNG(9).fill(image, cv::RNG::UNIFORM, 0.0, 3.0);
    image(cv::Rect(10, 10, 8, 8)).setTo(cv::Scalar::all(0));
    cv::Mat out;
    const float params[3] = {0.1f, 7.0f, 0.5f};
    op.apply(out, image, params);
    ASSERT_EQ(out.type(), CV_32FC3);
    EXPECT_EQ(cv::norm(out(cv::Rect(10, 10, 8, 8)), cv::NORM_INF), 0.0);
    EXPECT_TRUE(hdrtest::finiteInUnitRange(out));
}

TEST(LCModel, CancelDuringTheSurroundGivesAnEmptyImageWithProgressThirty)
{
    LC_Model op;
    op.cancel = true;  // found set by the surround's first row
    const cv::Mat surround = lc_model::adaptiveSurround(smoothLuminance(cv::Size(20, 20), 1),
                                                        cv::Mat::zeros(20, 20, CV_32F), 16, 5, op.cancel);
    EXPECT_TRUE(surround.empty());

    // Set as soon as the run reaches the surround.
    LC_Model running;
    cv::Mat out(5, 5, CV_32FC3);
    std::thread watcher([&] {
        while (running.progress < 30)
            std::this_thread::yield();
        running.cancel = true;
    });
    const cv::Mat big = hdrtest::syntheticHdr(cv::Size(1200, 900), 4);
    const float params[3] = {0.1f, 7.0f, 0.5f};
    running.apply(out, big, params);
    watcher.join();
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(running.progress, 30);
}

class LCModelInputs : public ::testing::TestWithParam<const char*> {};

TEST_P(LCModelInputs, GiveFiniteOutputInUnitRange)
{
    LC_Model op;
    const cv::Mat image = hdrtest::namedInput(GetParam());
    cv::Mat out;
    const float params[3] = {0.1f, 7.0f, 0.5f};
    op.apply(out, image, params);
    ASSERT_EQ(out.size(), image.size());
    EXPECT_TRUE(hdrtest::finiteInUnitRange(out));
}

INSTANTIATE_TEST_SUITE_P(Edges, LCModelInputs, ::testing::ValuesIn(hdrtest::kEdgeInputs), hdrtest::inputName);

TEST(LCModel, RealHdrImagesGiveFiniteOutputInUnitRange)
{
    const auto images = hdrtest::realHdrImages(640);
    if (images.empty())
        GTEST_SKIP() << "no HDR test media";
    for (const auto& image : images) {
        LC_Model op;
        cv::Mat out;
        const float params[3] = {0.1f, 7.0f, 0.5f};
        op.apply(out, image.second, params);
        EXPECT_TRUE(hdrtest::finiteInUnitRange(out)) << image.first;
    }
}
