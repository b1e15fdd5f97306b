#include "BilateralFilter.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <limits>
#include <tuple>

namespace {

cv::Mat noisyScene(cv::Size size, int seed)
{
    cv::Mat image(size, CV_32F);
    cv::RNG(seed).fill(image, cv::RNG::UNIFORM, -1.0, 3.0);
    cv::GaussianBlur(image, image, cv::Size(0, 0), 2.0);
    cv::rectangle(image, cv::Rect(size.width / 3, size.height / 4, size.width / 3, size.height / 2), 5.0, cv::FILLED);
    return image;
}

}  // namespace

class BilateralFilterConstant : public ::testing::TestWithParam<std::tuple<int, cv::Size>> {};

TEST_P(BilateralFilterConstant, StaysConstantAtEveryDepthAndSize)
{
    const int type = std::get<0>(GetParam());
    const cv::Size size = std::get<1>(GetParam());
    const cv::Mat image(size, type, cv::Scalar(type == CV_32F ? 0.625 : 200.0));
    cv::Mat filtered;
    cv_extend::bilateralFilter(image, filtered, 0.35f, 0.02f * std::min(size.width, size.height));
    ASSERT_EQ(filtered.size(), size);
    ASSERT_EQ(filtered.type(), type);
    EXPECT_EQ(cv::norm(filtered, image, cv::NORM_INF), 0.0);
}

INSTANTIATE_TEST_SUITE_P(DepthsAndSizes, BilateralFilterConstant,
                         ::testing::Values(std::make_tuple(CV_32F, cv::Size(37, 23)),
                                           std::make_tuple(CV_8U, cv::Size(64, 48)),
                                           std::make_tuple(CV_16U, cv::Size(1, 1)),
                                           std::make_tuple(CV_32F, cv::Size(1030, 1024)),
                                           std::make_tuple(CV_32F, cv::Size(500, 3))));

TEST(BilateralFilter, MultiChannelInputRaisesTheAssertionAndWritesNothing)
{
    const cv::Mat colour(8, 8, CV_32FC3, cv::Scalar::all(1.0));
    cv::Mat untouched(2, 2, CV_8U, cv::Scalar(7));
    try {
        cv_extend::bilateralFilter(colour, untouched, 0.35f, 1.0f);
        FAIL() << "no exception";
    } catch (const cv::Exception& error) {
        EXPECT_EQ(error.code, cv::Error::StsAssert);
        EXPECT_EQ(error.err, "src.channels() == 1");
        EXPECT_EQ(error.func, "cv_extend::bilateralFilter");
    }
    EXPECT_EQ(untouched.size(), cv::Size(2, 2));
    EXPECT_EQ(untouched.at<uchar>(0, 0), 7);
}

class BilateralFilterSlabs : public ::testing::TestWithParam<int> {};

TEST_P(BilateralFilterSlabs, GiveTheSameResultAsTheWholeGrid)
{
    const cv::Mat image = noisyScene(cv::Size(181, 133), 7);
    const float sigmaSpace = 0.02f * 133;
    cv::Mat whole(image.size(), CV_32F);
    cv_extend::bilateralFilterGrid(image, whole, 0.35f, sigmaSpace, 1 << 20);
    cv::Mat slabbed(image.size(), CV_32F);
    cv_extend::bilateralFilterGrid(image, slabbed, 0.35f, sigmaSpace, GetParam());
    EXPECT_EQ(cv::norm(slabbed, whole, cv::NORM_INF), 0.0);
}

INSTANTIATE_TEST_SUITE_P(SlabRows, BilateralFilterSlabs, ::testing::Values(0, 1, 2, 5, 16));

TEST(BilateralFilter, PlanesFilteredTogetherMatchEachFilteredAlone)
{
    const float sigmaSpace = 0.02f * 133;
    cv::Mat planes[3] = {noisyScene(cv::Size(181, 133), 11), noisyScene(cv::Size(181, 133), 12) * 4.0f,
                         cv::Mat(133, 181, CV_32F, cv::Scalar(0.5))};
    cv::Mat together[3];
    for (cv::Mat& plane : together)
        plane.create(planes[0].size(), CV_32F);
    cv_extend::bilateralFilterPlanes(planes, together, 3, 0.35f, sigmaSpace);
    for (int i = 0; i < 3; ++i) {
        cv::Mat alone(planes[i].size(), CV_32F);
        cv_extend::bilateralFilterGrid(planes[i], alone, 0.35f, sigmaSpace);
        EXPECT_EQ(cv::norm(together[i], alone, cv::NORM_INF), 0.0) << i;
    }
}

TEST(BilateralFilter, SmoothsFlatAreasAndKeepsTheStep)
{
    cv::Mat image(120, 160, CV_32F);
    cv::RNG(3).fill(image, cv::RNG::NORMAL, 0.0, 0.05);
    image(cv::Rect(80, 0, 80, 120)) += 2.0;
    cv::Mat filtered;
    cv_extend::bilateralFilter(image, filtered, 0.35f, 4.0f);

    cv::Scalar meanBefore, stdBefore, meanAfter, stdAfter;
    cv::meanStdDev(image(cv::Rect(10, 10, 50, 100)), meanBefore, stdBefore);
    cv::meanStdDev(filtered(cv::Rect(10, 10, 50, 100)), meanAfter, stdAfter);
    EXPECT_LT(stdAfter[0], stdBefore[0] / 2);
    EXPECT_NEAR(cv::mean(filtered(cv::Rect(0, 0, 70, 120)))[0], 0.0, 0.05);
    EXPECT_NEAR(cv::mean(filtered(cv::Rect(90, 0, 70, 120)))[0], 2.0, 0.05);
}

TEST(BilateralFilter, EightBitInputIsFilteredInFloatAndRoundedBack)
{
    cv::Mat image(60, 90, CV_8U);
    cv::RNG(4).fill(image, cv::RNG::UNIFORM, 0, 256);
    cv::Mat filtered;
    cv_extend::bilateralFilter(image, filtered, 20.0f, 2.0f);
    cv::Mat image32;
    image.convertTo(image32, CV_32F);
    cv::Mat expected32(image.size(), CV_32F);
    cv_extend::bilateralFilterGrid(image32, expected32, 20.0f, 2.0f);
    cv::Mat expected;
    expected32.convertTo(expected, CV_8U);
    EXPECT_EQ(filtered.type(), CV_8U);
    EXPECT_EQ(cv::norm(filtered, expected, cv::NORM_INF), 0.0);
}

TEST(BilateralFilter, NonFinitePixelsPassThroughAndDoNotWidenTheGrid)
{
    const cv::Mat clean = noisyScene(cv::Size(70, 50), 9);
    cv::Mat dirty = clean.clone();
    dirty.at<float>(5, 5) = std::numeric_limits<float>::quiet_NaN();
    dirty.at<float>(20, 30) = std::numeric_limits<float>::infinity();
    dirty.at<float>(40, 60) = -std::numeric_limits<float>::infinity();
    cv::Mat filtered(dirty.size(), CV_32F);
    cv_extend::bilateralFilterGrid(dirty, filtered, 0.35f, 1.0f);
    EXPECT_TRUE(std::isnan(filtered.at<float>(5, 5)));
    EXPECT_EQ(filtered.at<float>(20, 30), std::numeric_limits<float>::infinity());
    EXPECT_EQ(filtered.at<float>(40, 60), -std::numeric_limits<float>::infinity());

    // Away from the bad pixels the result is that of the clean image.
    cv::Mat reference(clean.size(), CV_32F);
    cv_extend::bilateralFilterGrid(clean, reference, 0.35f, 1.0f);
    const cv::Rect away(0, 32, 18, 18);
    EXPECT_LT(cv::norm(filtered(away), reference(away), cv::NORM_INF), 1e-5);

    cv::Mat allNan(4, 4, CV_32F, cv::Scalar(std::numeric_limits<float>::quiet_NaN()));
    cv::Mat out(allNan.size(), CV_32F);
    cv_extend::bilateralFilterGrid(allNan, out, 0.35f, 1.0f);
    EXPECT_TRUE(std::isnan(out.at<float>(3, 3)));
}

TEST(BilateralFilter, EmptyInputGivesEmptyOutput)
{
    cv::Mat out;
    cv_extend::bilateralFilter(cv::Mat(), out, 0.35f, 1.0f);
    EXPECT_TRUE(out.empty());
}

namespace {

// Fine texture a few pixels across on a smooth ramp, with a step: a detail layer
// that depends on how far the smoothing reaches.
cv::Mat texturedScene(cv::Size size)
{
    cv::Mat texture(size, CV_32F);
    cv::RNG(11).fill(texture, cv::RNG::UNIFORM, -0.3, 0.3);
    cv::GaussianBlur(texture, texture, cv::Size(0, 0), 1.5);
    cv::Mat ramp(size, CV_32F);
    for (int y = 0; y < size.height; ++y)
        ramp.row(y).setTo(2.0 * y / size.height);
    cv::Mat image = texture + ramp;
    image(cv::Rect(size.width / 2, 0, size.width / 2, size.height)) += 1.5;
    return image;
}

cv::Mat detailOf(const cv::Mat& image, float spatialScale, int slabRows = 0)
{
    cv::Mat base(image.size(), CV_32F);
    cv_extend::bilateralFilterGrid(image, base, 0.35f, 0.02f * std::min(image.rows, image.cols), slabRows,
                                   spatialScale);
    return image - base;
}

}  // namespace

TEST(BilateralFilter, ReducedImageAtItsScaleKeepsTheFullSizeDetail)
{
    const cv::Mat full = texturedScene(cv::Size(640, 480));
    const double scale = 0.6;
    cv::Mat reduced, reducedDetail;
    cv::resize(full, reduced, cv::Size(), scale, scale, cv::INTER_AREA);
    cv::resize(detailOf(full, 1.0f), reducedDetail, reduced.size(), 0.0, 0.0, cv::INTER_AREA);

    const cv::Mat atItsScale = detailOf(reduced, float(scale));
    const double error = cv::norm(atItsScale, reducedDetail, cv::NORM_L2);
    EXPECT_LT(error, 0.6 * cv::norm(detailOf(reduced, 1.0f), reducedDetail, cv::NORM_L2));
    // A grid whose cells are a fraction of a pixel apart is the same in slabs.
    EXPECT_EQ(cv::norm(detailOf(reduced, float(scale), 3), atItsScale, cv::NORM_INF), 0.0);
}
