#include "ColourMatrices.h"
#include "FftBlur.h"

#include "Threads.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cerrno>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace {

// Near-neutral colours, so that their LMS values are positive too.
cv::Mat positiveColours(cv::Size size, int seed)
{
    cv::Mat image(size, CV_32FC3);
    cv::RNG(seed).fill(image, cv::RNG::UNIFORM, 50.0, 100.0);
    return image;
}

double relativeError(const cv::Mat& actual, const cv::Mat& expected)
{
    return cv::norm(actual, expected, cv::NORM_INF) / cv::norm(expected, cv::NORM_INF);
}

int failingCreate(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)
{
    return EAGAIN;
}

using Transform = std::function<cv::Mat(const cv::Mat&, unsigned)>;

}  // namespace

class ColourMatrixRoundTrip : public ::testing::TestWithParam<std::tuple<const char*, Transform>> {};

TEST_P(ColourMatrixRoundTrip, InverseModeUndoesTheForwardMode)
{
    const Transform transform = std::get<1>(GetParam());
    const cv::Mat image = positiveColours(cv::Size(17, 11), 1);
    const cv::Mat forward = transform(image, 2);
    EXPECT_GT(cv::norm(forward, image, cv::NORM_INF), 1e-3);
    EXPECT_LT(relativeError(transform(forward, 0), image), 1e-5);
}

INSTANTIATE_TEST_SUITE_P(
    Transforms, ColourMatrixRoundTrip,
    ::testing::Values(std::make_tuple("cat02", Transform(&cat02Transform)),
                      std::make_tuple("hpe", Transform(&hpeTransform)),
                      std::make_tuple("outputWhite", Transform(&outputWhiteTransform)),
                      // XYZ -> LMS -> IPT and back, the exponents 0.43 and 1/0.43 cancelling.
                      std::make_tuple("ipt", Transform([](const cv::Mat& image, unsigned mode) {
                                          return mode == 2 ? lmsIptTransform(xyzLmsTransform(image, 2), 2)
                                                           : xyzLmsTransform(lmsIptTransform(image, 0), 0);
                                      }))),
    [](const auto& info) { return std::string(std::get<0>(info.param)); });

TEST(ColourMatrices, LinearRgbAndXyzMatricesAreInversesToTheirPrecision)
{
    const cv::Mat rgb = positiveColours(cv::Size(9, 7), 2);
    cv::Mat luminance;
    cv::transform(rgb, luminance, cv::Matx13f(0.212656f, 0.715158f, 0.0721856f));
    double largestY = 0.0;
    cv::minMaxLoc(luminance, nullptr, &largestY);
    // Scaled to its own largest Y, the forward transform is the plain matrix.
    const cv::Mat xyz = linearRgbToXyz(rgb, static_cast<float>(largestY));
    EXPECT_LT(relativeError(xyzToLinearRgb(xyz), rgb), 1e-3);
}

TEST(ColourMatrices, BrightestPixelMapsToMaxYAndSmallValuesAreFloored)
{
    cv::Mat rgb = positiveColours(cv::Size(8, 6), 3);
    rgb.at<cv::Vec3f>(2, 3) = cv::Vec3f(500.0f, 800.0f, 300.0f);
    rgb.at<cv::Vec3f>(0, 0) = cv::Vec3f(-1.0f, 0.0f, 0.0f);
    const cv::Mat xyz = linearRgbToXyz(rgb, 20000.0f);
    EXPECT_NEAR(xyz.at<cv::Vec3f>(2, 3)[1], 20000.0f, 0.01f);
    double smallest = 0.0;
    cv::minMaxLoc(xyz.reshape(1), &smallest);
    EXPECT_FLOAT_EQ(static_cast<float>(smallest), 1e-8f);
    EXPECT_FLOAT_EQ(xyz.at<cv::Vec3f>(0, 0)[0], 1e-8f);
}

TEST(ColourMatrices, AllBlackInputIsFlooredWithoutDividingByZero)
{
    const cv::Mat xyz = linearRgbToXyz(cv::Mat::zeros(4, 5, CV_32FC3), 20000.0f);
    EXPECT_TRUE(cv::checkRange(xyz));
    EXPECT_EQ(cv::norm(xyz, cv::Mat(4, 5, CV_32FC3, cv::Scalar::all(1e-8f)), cv::NORM_INF), 0.0);
}

TEST(ColourMatrices, ModeOneTransformsOnlyTheFirstPixelAndUnknownModesGiveZeros)
{
    const cv::Mat image = positiveColours(cv::Size(3, 2), 4);
    const cv::Mat first = cat02Transform(image, 1);
    EXPECT_EQ(cv::norm(first.at<cv::Vec3f>(0, 0) - cat02Transform(image, 2).at<cv::Vec3f>(0, 0)), 0.0);
    EXPECT_EQ(cv::countNonZero(first.reshape(1)), 3);
    EXPECT_EQ(cv::countNonZero(hpeTransform(image, 1).reshape(1)), 0);
    EXPECT_EQ(cv::countNonZero(lmsIptTransform(image, 7).reshape(1)), 0);
}

TEST(ColourMatrices, IptDropsTheSignOfLms)
{
    cv::Mat lms(1, 2, CV_32FC3);
    lms.at<cv::Vec3f>(0, 0) = cv::Vec3f(0.5f, -2.0f, 3.0f);
    lms.at<cv::Vec3f>(0, 1) = cv::Vec3f(-0.5f, 2.0f, -3.0f);
    const cv::Mat ipt = lmsIptTransform(lms, 2);
    EXPECT_EQ(cv::norm(ipt.at<cv::Vec3f>(0, 0) - ipt.at<cv::Vec3f>(0, 1)), 0.0);
}

TEST(FftBlur, ConstantPlaneBlursToConstantTimesKernelSumOverN)
{
    const cv::Mat plane(16, 24, CV_32F, cv::Scalar(3.0f));
    cv::Mat kernel(plane.size(), CV_32F);
    cv::RNG(5).fill(kernel, cv::RNG::UNIFORM, 0.0, 1.0);
    cv::Mat out;
    fftBlur(plane, kernel, out);
    const double expected = 3.0 * cv::sum(kernel)[0] / static_cast<double>(plane.total());
    double low = 0.0;
    double high = 0.0;
    cv::minMaxLoc(out, &low, &high);
    EXPECT_NEAR(low, expected, 1e-4);
    EXPECT_NEAR(high, expected, 1e-4);
}

TEST(FftBlur, ThreadsThatCannotStartAreRunInline)
{
    const cv::Mat image = positiveColours(cv::Size(130, 90), 6);
    const cv::Mat threaded = adaptationBlur(image, 2);
    setThreadCreateHook(&failingCreate);
    const cv::Mat inline_ = adaptationBlur(image, 2);
    setThreadCreateHook(nullptr);
    EXPECT_EQ(cv::norm(threaded, inline_, cv::NORM_INF), 0.0);
}

class AdaptationBlurSize : public ::testing::TestWithParam<std::tuple<cv::Size, cv::Size>> {};

TEST_P(AdaptationBlurSize, IsAMultipleOfTheDecimationFactor)
{
    const cv::Mat image(std::get<0>(GetParam()), CV_32FC3, cv::Scalar(10.0, 20.0, 30.0));
    const cv::Mat blurred = adaptationBlur(image, 3);
    EXPECT_EQ(blurred.size(), std::get<1>(GetParam()));
    EXPECT_TRUE(cv::checkRange(blurred));
    // A constant image stays flat (up to the transform's rounding).
    cv::Mat y;
    cv::extractChannel(blurred, y, 1);
    double low = 0.0;
    double high = 0.0;
    cv::minMaxLoc(y, &low, &high);
    EXPECT_LE(high - low, 1e-3 * high);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, AdaptationBlurSize,
    ::testing::Values(std::make_tuple(cv::Size(1100, 1023), cv::Size(1096, 1016)),   // factor 8
                      std::make_tuple(cv::Size(1030, 1024), cv::Size(1024, 1024)),   // factor 16
                      std::make_tuple(cv::Size(2070, 2056), cv::Size(2048, 2048)),   // factor 32
                      std::make_tuple(cv::Size(5, 3), cv::Size(3, 3)),               // side below the factor
                      std::make_tuple(cv::Size(1, 1), cv::Size(1, 1))));

TEST(AdaptationBlur, ZeroDivisorIsTreatedAsOne)
{
    const cv::Mat image = positiveColours(cv::Size(40, 30), 8);
    EXPECT_EQ(cv::norm(adaptationBlur(image, 0), adaptationBlur(image, 1), cv::NORM_INF), 0.0);
}

TEST(AdaptationBlur, BothWhitesFromOneCallAreTheSingleBlursPaddedToTheImage)
{
    const cv::Mat image = positiveColours(cv::Size(203, 133), 9);  // sides not multiples of 8
    cv::Mat lit(image.size(), CV_8U, cv::Scalar(255));
    lit.rowRange(0, 20).setTo(0);
    const std::vector<cv::Mat> whites = adaptationBlurs(image, {2, 3}, lit);
    ASSERT_EQ(whites.size(), 2u);
    const int ks[2] = {2, 3};
    for (int i = 0; i < 2; ++i) {
        const cv::Mat single = adaptationBlur(image, ks[i], lit);
        const int dr = image.rows - single.rows;
        const int dc = image.cols - single.cols;
        cv::Mat padded;
        cv::copyMakeBorder(single, padded, dr / 2, dr - dr / 2, dc / 2, dc - dc / 2, cv::BORDER_REPLICATE);
        EXPECT_EQ(cv::norm(whites[i], padded, cv::NORM_INF), 0.0) << "k = " << ks[i];
    }
}
