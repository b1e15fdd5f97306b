#include "LogMapping.h"

#include "ColourPass.h"
#include "DisplayScale.h"
#include "HdrTestImages.h"
#include "Spline.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

cv::Mat logMap(const cv::Mat& in, float bias, LogMapping* op = nullptr)
{
    LogMapping local;
    LogMapping& mapper = op ? *op : local;
    const float params[3] = {bias, -1.0f, -1.0f};
    cv::Mat out;
    mapper.apply(out, in, params);
    return out;
}

// Drago's mapping of a luminance brought to the display range.
struct DragoMapping {
    DragoMapping(double maxLuminance, float bias)
        : lmax(maxLuminance), p(std::log(bias) / -0.693147), k(1.0 / std::log10(maxLuminance + 1.0))
    {
    }
    double operator()(double y) const { return k * std::log(y + 1.0) / std::log(2.0 + 8.0 * std::pow(y / lmax, p)); }

    double lmax;
    double p;
    double k;
};

// The steps after the stretch: the gamma curve, then the fixed colour finish.
cv::Mat gammaAndFinish(const cv::Mat& stretched)
{
    cv::Mat encoded(stretched.size(), CV_32FC3);
    for (int r = 0; r < stretched.rows; ++r)
        for (int c = 0; c < stretched.cols; ++c)
            for (int ch = 0; ch < 3; ++ch) {
                const double v = stretched.at<cv::Vec3f>(r, c)[ch];
                encoded.at<cv::Vec3f>(r, c)[ch] =
                    float(v <= 0.011999996 ? v * 6.7500014 : 1.099 * std::pow(v, 0.40909088) - 0.099);
            }
    ColourPassParameters finish;
    finish.vibrance = 0.42f;
    finish.exposure = exposureToe(-0.2f);
    finish.contrast = 1.3333334f;
    const Spline identity(0.0f, 0.0f, 0.0f, 0.0f);
    cv::Mat finished;
    parallelComputeLightImage(identity, finished, encoded, finish);
    return finished;
}

// A grey ramp keeps the white point's chromaticity, so each pixel comes back from Yxy
// as its mapped luminance: the expected values follow from the formula alone.
class LogMappingOfGreyRamp : public ::testing::TestWithParam<float> {};

TEST_P(LogMappingOfGreyRamp, FollowsTheDragoFormula)
{
    const float bias = GetParam();
    cv::Mat ramp(1, 64, CV_32FC3);
    for (int c = 0; c < ramp.cols; ++c) {
        const float v = 0.01f * std::pow(1.25f, float(c));
        ramp.at<cv::Vec3f>(0, c) = cv::Vec3f(v, v, v);
    }
    // The ramp reaches far above white: it is brought to the display range first.
    const double scale = displayScale(ramp);
    const DragoMapping drago(float(ramp.at<cv::Vec3f>(0, 63)[0] * scale), bias);
    std::vector<double> mapped;
    for (int c = 0; c < ramp.cols; ++c)
        mapped.push_back(drago(float(ramp.at<cv::Vec3f>(0, c)[0] * scale)));
    EXPECT_NEAR(mapped.back(), 1.0, 1e-6) << "the brightest pixel maps to 1 for any bias";
    // At low biases the curve overshoots 1 below the brightest pixel: stretched by the
    // extremes, then gamma-encoded and given the fixed colour finish.
    const double low = *std::min_element(mapped.begin(), mapped.end());
    const double high = *std::max_element(mapped.begin(), mapped.end());
    cv::Mat stretched(ramp.size(), CV_32FC3);
    for (int c = 0; c < ramp.cols; ++c)
        stretched.at<cv::Vec3f>(0, c) = cv::Vec3f::all(float((mapped[c] - low) / (high - low)));
    const cv::Mat expected = gammaAndFinish(stretched);
    const cv::Mat out = logMap(ramp, bias);
    for (int c = 0; c < ramp.cols; ++c)
        for (int ch = 0; ch < 3; ++ch)
            EXPECT_NEAR(out.at<cv::Vec3f>(0, c)[ch], expected.at<cv::Vec3f>(0, c)[ch], 1e-5) << "column " << c;
}

// Coloured pixels, a black one and one with luminance but no chromaticity (X + Y + Z
// below 0) come out as the mapped Yxy converted back.
TEST(LogMapping, ColoursComeBackAsTheirMappedYxy)
{
    cv::Mat scene = hdrtest::syntheticHdrImage(24, 40);
    scene.at<cv::Vec3f>(3, 4) = cv::Vec3f(-1.0f, 0.5f, -1.0f);
    scene.at<cv::Vec3f>(6, 7) = cv::Vec3f(0, 0, 0);
    const float bias = 0.85f;
    const double scale = displayScale(scene);
    cv::Mat yxy;
    float high, low;
    bgrToYxy(scene, yxy, high, low);
    const DragoMapping drago(high * scale, bias);
    for (auto it = yxy.begin<cv::Vec3f>(); it != yxy.end<cv::Vec3f>(); ++it)
        (*it)[0] = float(drago(float((*it)[0] * scale)));
    const cv::Mat expected = gammaAndFinish(yxyToBgr(yxy));
    EXPECT_LT(cv::norm(logMap(scene, bias), expected, cv::NORM_INF), 1e-4);
}

INSTANTIATE_TEST_SUITE_P(Biases, LogMappingOfGreyRamp, ::testing::Values(0.5f, 0.85f, 1.0f));

TEST(LogMapping, YxyRoundTripIsNormalisedToZeroAndOne)
{
    cv::Mat input = hdrtest::realHdrImage(cv::Size(64, 32));
    if (input.empty())
        input = hdrtest::syntheticHdrImage(32, 64);
    cv::Mat yxy;
    float high = 0.0f, low = 0.0f;
    bgrToYxy(input, yxy, high, low);
    cv::Mat luminance;
    cv::extractChannel(yxy, luminance, 0);
    double yLow, yHigh;
    cv::minMaxLoc(luminance, &yLow, &yHigh);
    EXPECT_FLOAT_EQ(high, float(yHigh));
    EXPECT_FLOAT_EQ(low, float(yLow));

    const cv::Mat back = yxyToBgr(yxy);
    double bLow, bHigh;
    cv::minMaxLoc(back.reshape(1), &bLow, &bHigh);
    EXPECT_NEAR(bLow, 0.0, 1e-6);
    EXPECT_NEAR(bHigh, 1.0, 1e-6);
    // Up to the stretch, the round trip gives the input back.
    double iLow, iHigh;
    cv::minMaxLoc(input.reshape(1), &iLow, &iHigh);
    const cv::Mat expected = (input - iLow) / (iHigh - iLow);
    EXPECT_LT(cv::norm(back, expected, cv::NORM_INF), 1e-4);
}

TEST(LogMapping, ExtremesOfLuminanceCoverEveryRow)
{
    // Small, without whole blocks to reduce, and with rows left over after the blocks.
    for (const cv::Size size : {cv::Size(40, 30), cv::Size(300, 200), cv::Size(1000, 778)}) {
        cv::Mat image(size, CV_32FC3);
        cv::randu(image, 0.2, 1.0);
        image.at<cv::Vec3f>(0, 0) = cv::Vec3f::all(0.01f);
        image.at<cv::Vec3f>(size.height - 1, size.width - 1) = cv::Vec3f::all(40.0f);
        cv::Mat yxy;
        float high, low;
        bgrToYxy(image, yxy, high, low);
        LogMapping op;
        logMap(image, 0.85f, &op);
        const float scale = float(displayScale(image));
        // Y alone is summed apart from the library's conversion: the same up to rounding.
        EXPECT_FLOAT_EQ(op.maxLuminance, high * scale) << size;
        EXPECT_FLOAT_EQ(op.minLuminance, low * scale) << size;
    }
}

TEST(LogMapping, DimInputUsesTheSmallestMaximum)
{
    const cv::Mat dim(4, 4, CV_32FC3, cv::Scalar(1e-8, 1e-8, 1e-8));
    cv::Mat yxy;
    float high = 0.0f, low = 0.0f;
    bgrToYxy(dim, yxy, high, low);
    EXPECT_FLOAT_EQ(high, 1e-6f);
    EXPECT_NEAR(low, 1e-8f, 1e-12f);
}

TEST(LogMapping, BlackNegativeAndFlatInputsStayFinite)
{
    cv::Mat scene = hdrtest::syntheticHdrImage(16, 16);
    scene.at<cv::Vec3f>(2, 3) = cv::Vec3f(0, 0, 0);
    scene.at<cv::Vec3f>(5, 5) = cv::Vec3f(-0.5f, -0.2f, -0.1f);
    cv::Mat yxy;
    float high = 0.0f, low = 0.0f;
    bgrToYxy(scene, yxy, high, low);
    // No chromaticity: the white point's, which maps back to equal channels.
    const cv::Vec3f black = yxy.at<cv::Vec3f>(2, 3);
    EXPECT_EQ(black[0], 0.0f);
    cv::Mat white(1, 1, CV_32FC3, cv::Scalar(1, 1, 1)), whiteXyz;
    cv::cvtColor(white, whiteXyz, cv::COLOR_BGR2XYZ);
    const cv::Vec3f w = whiteXyz.at<cv::Vec3f>(0, 0);
    EXPECT_NEAR(black[1], w[0] / (w[0] + w[1] + w[2]), 1e-6);
    EXPECT_NEAR(black[2], w[1] / (w[0] + w[1] + w[2]), 1e-6);
    EXPECT_EQ(yxy.at<cv::Vec3f>(5, 5)[0], 0.0f) << "negative Y is clamped";
    EXPECT_EQ(low, 0.0f);

    const cv::Mat cases[] = {scene, cv::Mat::zeros(8, 8, CV_32FC3), cv::Mat(8, 8, CV_32FC3, cv::Scalar(0.4, 0.4, 0.4))};
    for (const cv::Mat& input : cases) {
        const cv::Mat out = logMap(input, 0.85f);
        ASSERT_EQ(out.size(), input.size());
        EXPECT_TRUE(cv::checkRange(out, true, nullptr, 0.0, 1.0 + 1e-6));
    }
    double darkest, brightest;
    cv::minMaxLoc(logMap(cv::Mat::zeros(8, 8, CV_32FC3), 0.85f).reshape(1), &darkest, &brightest);
    EXPECT_EQ(darkest, brightest) << "black stays one uniform level (the colour finish's toe)";
    EXPECT_LT(brightest, 0.1);
}

TEST(LogMapping, YxyFollowsItsFormulaToTheBitForOddValues)
{
    // Odd values among ordinary ones, in a row long enough for vectors and a tail.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const cv::Vec3f odd[] = {{0, 0, 0}, {-0.0f, 0, -0.0f}, {-0.5f, 0.2f, 0.1f}, {1, -2, 0.5f}, {nan, 0.3f, 0.2f}, {inf, 1, 1}, {1e-30f, 0, 0}};
    cv::Mat row(1, 37, CV_32FC3);
    cv::randu(row, 0.0, 4.0);
    for (int i = 0; i < 7; ++i)
        row.at<cv::Vec3f>(0, 5 * i + 1) = odd[i];
    cv::Mat yxy, xyz, white(1, 1, CV_32FC3, cv::Scalar::all(1.0)), whiteXyz;
    float high, low;
    bgrToYxy(row, yxy, high, low);
    cv::cvtColor(row, xyz, cv::COLOR_BGR2XYZ);
    cv::cvtColor(white, whiteXyz, cv::COLOR_BGR2XYZ);
    const cv::Vec3f w = whiteXyz.at<cv::Vec3f>(0, 0);
    for (int c = 0; c < row.cols; ++c) {
        const cv::Vec3f v = xyz.at<cv::Vec3f>(0, c);
        const float sum = v[0] + v[1] + v[2];
        const cv::Vec3f expected(std::max(0.0f, v[1]), sum > 0.0f ? v[0] / sum : w[0] / (w[0] + w[1] + w[2]),
                                 sum > 0.0f ? v[1] / sum : w[1] / (w[0] + w[1] + w[2]));
        EXPECT_EQ(std::memcmp(&expected, yxy.ptr<cv::Vec3f>(0, c), sizeof(cv::Vec3f)), 0) << "column " << c;
    }
}

TEST(LogMapping, CancelReturnsEmptyAndProgressEndsAtHundred)
{
    const cv::Mat input = hdrtest::syntheticHdrImage(20, 30);
    LogMapping op;
    op.cancel = true;
    EXPECT_TRUE(logMap(input, 0.85f, &op).empty());
    EXPECT_EQ(op.progress.load(), 0);
    op.cancel = false;
    const cv::Mat out = logMap(input, 0.85f, &op);
    EXPECT_EQ(out.size(), input.size());
    EXPECT_EQ(op.progress.load(), 100);
    EXPECT_EQ(out.data, op.result.data) << "the result is shared, not copied";
}

TEST(LogMapping, ResultsStillHeldAreNeverWrittenOver)
{
    const cv::Mat bright = hdrtest::syntheticHdrImage(20, 30);
    const cv::Mat dim = bright * 0.01;
    LogMapping op;
    const cv::Mat first = logMap(bright, 0.85f, &op);
    const cv::Mat firstCopy = first.clone();
    const cv::Mat second = logMap(dim, 0.6f, &op);
    const cv::Mat third = logMap(dim, 0.7f, &op);
    EXPECT_EQ(cv::norm(first, firstCopy, cv::NORM_INF), 0.0);
    EXPECT_NE(third.data, first.data);
    EXPECT_NE(third.data, second.data);
    // Once let go, an earlier result's pixels are all written again.
    logMap(bright, 0.85f, &op);
    logMap(bright, 0.85f, &op);
    EXPECT_EQ(cv::norm(logMap(dim, 0.7f, &op), third, cv::NORM_INF), 0.0);
}

TEST(LogMapping, EightAndSixteenBitInputsAreConverted)
{
    cv::Mat eight(6, 6, CV_8UC3);
    cv::randu(eight, 0, 255);
    cv::Mat sixteen;
    eight.convertTo(sixteen, CV_16U, 257.0);
    const cv::Mat a = logMap(eight, 0.85f);
    const cv::Mat b = logMap(sixteen, 0.85f);
    ASSERT_EQ(a.type(), CV_32FC3);
    EXPECT_LT(cv::norm(a, b, cv::NORM_INF), 1e-4);
}

}  // namespace
