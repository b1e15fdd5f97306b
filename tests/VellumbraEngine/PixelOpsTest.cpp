#include "PixelOps.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <limits>

namespace {

struct ConversionCase {
    int sourceType;
    double sourceValue;
    int targetBits;
    double expected;
};

void PrintTo(const ConversionCase& c, std::ostream* out)
{
    *out << "type " << c.sourceType << " value " << c.sourceValue << " to " << c.targetBits << " bits";
}

class ConvertBitDepthTable : public ::testing::TestWithParam<ConversionCase> {};

double singleValue(const cv::Mat& image)
{
    cv::Mat asDouble;
    image.convertTo(asDouble, CV_64F);
    return asDouble.at<double>(0, 0);
}

}  // namespace

TEST_P(ConvertBitDepthTable, ScalesTruncatesAndClamps)
{
    const ConversionCase c = GetParam();
    cv::Mat source(1, 1, c.sourceType);
    source.setTo(cv::Scalar::all(c.sourceValue));
    const cv::Mat result = convertBitDepth(source, c.targetBits);
    const int expectedDepth = c.targetBits == 16 ? CV_16U : c.targetBits == 32 ? CV_32F : CV_8U;
    ASSERT_EQ(result.depth(), expectedDepth);
    EXPECT_NEAR(singleValue(result), c.expected, 1e-7);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConvertBitDepthTable,
    ::testing::Values(ConversionCase{CV_8U, 255, 16, 65535}, ConversionCase{CV_8U, 1, 16, 257},
                      ConversionCase{CV_8U, 255, 32, 1.0}, ConversionCase{CV_8U, 51, 32, 0.2},
                      ConversionCase{CV_16U, 65535, 8, 255}, ConversionCase{CV_16U, 256, 8, 0},
                      ConversionCase{CV_16U, 65535, 32, 1.0}, ConversionCase{CV_16U, 65535, 0, 255},
                      ConversionCase{CV_32F, 1.5, 16, 65535}, ConversionCase{CV_32F, 1.5, 8, 255},
                      ConversionCase{CV_32F, 0.5, 16, 32767}, ConversionCase{CV_32F, 0.5, 8, 127},
                      // Negative and NaN samples clamp to 0 instead of wrapping.
                      ConversionCase{CV_32F, -0.5, 8, 0}, ConversionCase{CV_32F, -3.0, 16, 0},
                      ConversionCase{CV_32F, std::numeric_limits<float>::quiet_NaN(), 8, 0},
                      ConversionCase{CV_32F, std::numeric_limits<float>::quiet_NaN(), 16, 0},
                      ConversionCase{CV_32F, std::numeric_limits<float>::infinity(), 16, 65535}));

TEST(ConvertBitDepth, SameDepthGivesDeepCopyAndKeepsShape)
{
    cv::Mat source(3, 5, CV_16UC3, cv::Scalar(1, 2, 3));
    cv::Mat copy = convertBitDepth(source, 16);
    copy.setTo(cv::Scalar::all(9));
    EXPECT_EQ(source.at<cv::Vec3w>(0, 0), cv::Vec3w(1, 2, 3));

    const cv::Mat converted = convertBitDepth(source, 32);
    EXPECT_EQ(converted.size(), source.size());
    EXPECT_EQ(converted.channels(), 3);
}

TEST(ConvertBitDepth, UnsupportedAndEmptySourcesGiveEmptyImages)
{
    EXPECT_TRUE(convertBitDepth(cv::Mat(2, 2, CV_64FC1, cv::Scalar(0.5)), 8).empty());
    EXPECT_TRUE(convertBitDepth(cv::Mat(), 16).empty());
}

TEST(ConvertBitDepth, ReadsViewsIntoLargerImagesRowByRow)
{
    cv::Mat big(10, 10, CV_8UC1);
    for (int y = 0; y < big.rows; ++y)
        big.row(y).setTo(y);
    const cv::Mat view = big(cv::Rect(2, 3, 4, 5));
    const cv::Mat converted = convertBitDepth(view, 16);
    for (int y = 0; y < converted.rows; ++y)
        EXPECT_EQ(converted.at<ushort>(y, 0), (y + 3) * 257);
}

TEST(HistogramImage, UniformImageGivesOneFullColumn)
{
    const cv::Mat picture = computeHistogramImage(cv::Mat(20, 30, CV_8UC3, cv::Scalar::all(40)), 0);
    ASSERT_EQ(picture.size(), cv::Size(256, 100));
    ASSERT_EQ(picture.type(), CV_8UC3);
    cv::Mat grey;
    cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
    EXPECT_EQ(cv::countNonZero(grey.col(40)), 100);
    EXPECT_EQ(cv::countNonZero(grey), 100);
    EXPECT_EQ(picture.at<cv::Vec3b>(0, 40), cv::Vec3b(255, 255, 255));
}

TEST(HistogramImage, ChannelSelectsBarColourAndSamples)
{
    const cv::Mat image(8, 8, CV_16UC3, cv::Scalar(0, 257 * 100, 257 * 200));
    const cv::Mat red = computeHistogramImage(image, 3);
    EXPECT_EQ(red.at<cv::Vec3b>(99, 200), cv::Vec3b(0, 0, 255));
    EXPECT_EQ(red.at<cv::Vec3b>(99, 100), cv::Vec3b(0, 0, 0));
    const cv::Mat green = computeHistogramImage(image, 2);
    EXPECT_EQ(green.at<cv::Vec3b>(99, 100), cv::Vec3b(0, 255, 0));
    // A channel beyond the image's takes the last one.
    const cv::Mat beyond = computeHistogramImage(image, 7);
    EXPECT_EQ(beyond.at<cv::Vec3b>(99, 200), cv::Vec3b(0, 0, 255));
}

TEST(HistogramImage, FloatOutOfRangeFallsIntoEndBinsAndEmptyIsBlack)
{
    cv::Mat image(1, 2, CV_32FC1);
    image.at<float>(0, 0) = -2.f;
    image.at<float>(0, 1) = 7.f;
    const cv::Mat picture = computeHistogramImage(image, 1);
    EXPECT_NE(picture.at<cv::Vec3b>(99, 0), cv::Vec3b(0, 0, 0));
    EXPECT_NE(picture.at<cv::Vec3b>(99, 255), cv::Vec3b(0, 0, 0));
    const cv::Mat empty = computeHistogramImage(cv::Mat(0, 0, CV_8UC3), 0);
    EXPECT_EQ(cv::countNonZero(empty.reshape(1)), 0);
}

TEST(HistogramImage, LargeImageBarsDoNotOverflow)
{
    // 100 x 40000 x 3 pixels: count x 99 overflows 32 bits in the clip arithmetic.
    const cv::Mat image(4000, 6000, CV_8UC1, cv::Scalar(7));
    const cv::Mat picture = computeHistogramImage(image, 1);
    cv::Mat grey;
    cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
    EXPECT_EQ(cv::countNonZero(grey.col(7)), 100);
}

TEST(RotateImage, ZeroAngleReproducesTheSource)
{
    cv::Mat source(13, 17, CV_16UC3);
    cv::randu(source, 0, 65535);
    cv::Mat rotated;
    rotateImage(source, rotated, 0.0);
    ASSERT_EQ(rotated.size(), source.size());
    EXPECT_EQ(cv::norm(rotated, source, cv::NORM_INF), 0.0);
}

TEST(RotateImage, QuarterTurnMapsPixelsCounterClockwise)
{
    cv::Mat source(50, 100, CV_8UC1);
    cv::randu(source, 0, 255);
    cv::Mat rotated;
    rotateImage(source, rotated, CV_PI / 2);
    ASSERT_EQ(rotated.size(), cv::Size(50, 100));
    cv::Mat expected;
    cv::rotate(source, expected, cv::ROTATE_90_COUNTERCLOCKWISE);
    EXPECT_LE(cv::norm(rotated, expected, cv::NORM_INF), 1.0);
}

TEST(RotateImage, EighthTurnHoldsWholePictureWithBlackCorners)
{
    const cv::Mat source(50, 100, CV_32FC3, cv::Scalar::all(0.5));
    cv::Mat rotated;
    rotateImage(source, rotated, CV_PI / 4);
    const int side = static_cast<int>((100 + 50) / std::sqrt(2.0));
    EXPECT_NEAR(rotated.cols, side, 2);
    EXPECT_NEAR(rotated.rows, side, 2);
    EXPECT_EQ(rotated.at<cv::Vec3f>(0, 0), cv::Vec3f(0, 0, 0));
    EXPECT_NEAR(rotated.at<cv::Vec3f>(rotated.rows / 2, rotated.cols / 2)[0], 0.5f, 1e-5);
    double minValue, maxValue;
    cv::minMaxLoc(rotated.reshape(1), &minValue, &maxValue);
    EXPECT_GE(minValue, 0.0);
    EXPECT_LE(maxValue, 1.0);
}

TEST(RotateImage, UnsupportedDepthLeavesOutputUntouched)
{
    cv::Mat output(2, 2, CV_8UC1, cv::Scalar(3));
    rotateImage(cv::Mat(4, 4, CV_64FC1), output, 0.3);
    EXPECT_EQ(output.at<uchar>(1, 1), 3);
}

TEST(CatmullRomWeight, InterpolatesAndVanishesOutsideTwo)
{
    EXPECT_FLOAT_EQ(catmullRomWeight(0.f), 1.f);
    EXPECT_FLOAT_EQ(catmullRomWeight(1.f), 0.f);
    EXPECT_FLOAT_EQ(catmullRomWeight(-2.f), 0.f);
    EXPECT_FLOAT_EQ(catmullRomWeight(0.5f) * 2 + catmullRomWeight(1.5f) * 2, 1.f);
}

TEST(CropImage, ClipsToTheSource)
{
    cv::Mat source(30, 40, CV_8UC3);
    cv::randu(source, 0, 255);
    struct Case {
        int x, y, width, height;
        cv::Rect expected;
    };
    const Case cases[] = {
        {-10, -10, 50, 50, cv::Rect(0, 0, 40, 30)},
        {30, 20, 50, 50, cv::Rect(30, 20, 10, 10)},
        {-5, 2, 10, 5, cv::Rect(0, 2, 10, 5)},  // moved to the edge, not shortened
        {1, 1, 3, 4, cv::Rect(1, 1, 3, 4)},
    };
    for (const Case& c : cases) {
        cv::Mat output;
        cropImage(c.x, c.y, c.width, c.height, source, output);
        ASSERT_EQ(output.size(), c.expected.size()) << c.x << "," << c.y;
        EXPECT_EQ(cv::norm(output, source(c.expected), cv::NORM_INF), 0.0);
    }
}

TEST(CropImage, RectangleOutsideOrEmptyGivesEmptyImage)
{
    const cv::Mat source(30, 40, CV_32FC1, cv::Scalar(1));
    const cv::Rect rectangles[] = {{40, 0, 5, 5}, {0, 30, 5, 5}, {100, 100, 5, 5}, {2, 2, 0, 5}, {2, 2, 5, -1}};
    for (const cv::Rect& r : rectangles) {
        cv::Mat output(1, 1, CV_32FC1);
        cropImage(r.x, r.y, r.width, r.height, source, output);
        EXPECT_TRUE(output.empty()) << r;
    }
}

TEST(LaplacianVariance, SharpScoresAboveBlurredAndFlatIsZero)
{
    cv::Mat sharp(200, 200, CV_8UC1);
    cv::randu(sharp, 0, 255);
    cv::Mat blurred;
    cv::GaussianBlur(sharp, blurred, cv::Size(9, 9), 3.0);
    EXPECT_GT(laplacianVariance(sharp), 10.f * laplacianVariance(blurred));
    EXPECT_EQ(laplacianVariance(cv::Mat(20, 20, CV_8UC3, cv::Scalar::all(90))), 0.f);
    EXPECT_EQ(laplacianVariance(cv::Mat()), 0.f);
}

TEST(LaplacianVariance, EveryDepthScoresTheSamePictureAlike)
{
    cv::Mat sharp8(64, 64, CV_8UC3);
    cv::randu(sharp8, 0, 255);
    const float score8 = laplacianVariance(sharp8);
    EXPECT_NEAR(laplacianVariance(convertBitDepth(sharp8, 16)) / (257.f * 257.f), score8, score8 * 1e-4);
    EXPECT_NEAR(laplacianVariance(convertBitDepth(sharp8, 32)) * (255.f * 255.f), score8, score8 * 1e-4);
}
