#include "EccAlignment.h"

#include "StackingTestImages.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <functional>

namespace {

// Steps of the textbook iteration below. dst (rows of src1, twice its columns,
// float) = [src1 | src2].
void image_jacobian_translation_ECC(const cv::Mat& src1, const cv::Mat& src2, cv::Mat& dst)
{
    CV_Assert(src1.size() == src2.size());
    CV_Assert(src1.rows == dst.rows);
    CV_Assert(dst.cols == (src1.cols * 2));
    CV_Assert(dst.type() == CV_32FC1);
    const int w = src1.cols;
    src1.copyTo(dst.colRange(0, w));
    src2.copyTo(dst.colRange(w, 2 * w));
}

// With src1 and src2 of equal width: dst (square) = the Gram matrix of their column
// blocks. With src2 narrower: dst(i) = dot(src2, column block i of src1).
void project_onto_jacobian_ECC(const cv::Mat& src1, const cv::Mat& src2, cv::Mat& dst)
{
    CV_Assert(src1.rows == src2.rows);
    CV_Assert((src1.cols % src2.cols) == 0);
    if (src1.cols == src2.cols) {
        CV_Assert(dst.cols == dst.rows);
        const int w = src2.cols / dst.cols;
        for (int i = 0; i < dst.rows; ++i) {
            const cv::Mat blockI = src1.colRange(i * w, (i + 1) * w);
            const double norm = cv::norm(blockI);
            dst.at<float>(i, i) = float(norm * norm);
            for (int j = i + 1; j < dst.cols; ++j) {
                dst.at<float>(i, j) = float(blockI.dot(src2.colRange(j * w, (j + 1) * w)));
                dst.at<float>(j, i) = dst.at<float>(i, j);
            }
        }
    } else {
        const int w = src2.cols;
        float* out = dst.ptr<float>(0);
        for (int i = 0; i < dst.rows; ++i)
            out[i] = float(src2.dot(src1.colRange(i * w, (i + 1) * w)));
    }
}

const cv::TermCriteria kStackingCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 70, 1e-6);

// A grey real photograph, reduced so the tests stay quick.
cv::Mat greyPhoto()
{
    const cv::Mat colour = stackingtest::gardenPhoto(cv::Size(640, 400));
    if (colour.empty())
        return cv::Mat();
    cv::Mat grey;
    cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
    return grey;
}

// Content moved right by dx and down by dy, with sensor-like noise.
cv::Mat shiftedWithNoise(const cv::Mat& image, double dx, double dy, double noiseSigma)
{
    cv::Mat moved, noise(image.size(), CV_32F);
    const cv::Mat shift = (cv::Mat_<double>(2, 3) << 1, 0, dx, 0, 1, dy);
    cv::Mat asFloat;
    image.convertTo(asFloat, CV_32F);
    cv::warpAffine(asFloat, moved, shift, image.size(), cv::INTER_CUBIC, cv::BORDER_REFLECT_101);
    cv::RNG rng(1234);
    rng.fill(noise, cv::RNG::NORMAL, 0, noiseSigma);
    cv::Mat result;
    cv::Mat(moved + noise).convertTo(result, CV_8U);
    return result;
}

cv::Mat identityWarp()
{
    return cv::Mat::eye(2, 3, CV_32F);
}

// The textbook formulation, image by image, with the library's warps: the fused
// routine must follow it.
double textbookEcc(const cv::Mat& templateImage, const cv::Mat& inputImage, cv::Mat& map, int iterations,
                   double tolerance)
{
    cv::Mat templateFloat, inputFloat, gradientX, gradientY;
    templateImage.convertTo(templateFloat, CV_32F);
    inputImage.convertTo(inputFloat, CV_32F);
    cv::GaussianBlur(templateFloat, templateFloat, cv::Size(5, 5), 0, 0);
    cv::GaussianBlur(inputFloat, inputFloat, cv::Size(5, 5), 0, 0);
    const cv::Mat kernel = (cv::Mat_<float>(1, 3) << -0.5f, 0.0f, 0.5f);
    cv::filter2D(inputFloat, gradientX, CV_32F, kernel);
    cv::filter2D(inputFloat, gradientY, CV_32F, kernel.t());
    const cv::Mat inputMask = cv::Mat::ones(inputImage.size(), CV_8U);
    const cv::Size size = templateImage.size();
    cv::Mat jacobian(size.height, size.width * 2, CV_32F), hessian(2, 2, CV_32F), imageProjection(2, 1, CV_32F),
        templateProjection(2, 1, CV_32F), errorProjection(2, 1, CV_32F);
    double rho = -1, lastRho = -tolerance;
    for (int i = 1; i <= iterations && std::fabs(rho - lastRho) >= tolerance; ++i) {
        const int flags = cv::INTER_LINEAR + cv::WARP_INVERSE_MAP;
        cv::Mat warped, warpedX, warpedY, warpedMask;
        cv::warpAffine(inputFloat, warped, map, size, flags);
        cv::warpAffine(gradientX, warpedX, map, size, flags);
        cv::warpAffine(gradientY, warpedY, map, size, flags);
        cv::warpAffine(inputMask, warpedMask, map, size, cv::INTER_NEAREST + cv::WARP_INVERSE_MAP);
        cv::Scalar imageMean, imageDeviation, templateMean, templateDeviation;
        cv::meanStdDev(warped, imageMean, imageDeviation, warpedMask);
        cv::meanStdDev(templateFloat, templateMean, templateDeviation, warpedMask);
        cv::subtract(warped, imageMean, warped, warpedMask);
        cv::Mat templateZeroMean = cv::Mat::zeros(size, CV_32F);
        cv::subtract(templateFloat, templateMean, templateZeroMean, warpedMask);
        const double n = cv::countNonZero(warpedMask);
        const double templateNorm = std::sqrt(n * templateDeviation[0] * templateDeviation[0]);
        const double imageNorm = std::sqrt(n * imageDeviation[0] * imageDeviation[0]);
        image_jacobian_translation_ECC(warpedX, warpedY, jacobian);
        project_onto_jacobian_ECC(jacobian, jacobian, hessian);
        const cv::Mat hessianInverse = hessian.inv();
        const double correlation = templateZeroMean.dot(warped);
        lastRho = rho;
        rho = correlation / (imageNorm * templateNorm);
        project_onto_jacobian_ECC(jacobian, warped, imageProjection);
        project_onto_jacobian_ECC(jacobian, templateZeroMean, templateProjection);
        const cv::Mat imageProjectionHessian = hessianInverse * imageProjection;
        const double numerator = imageNorm * imageNorm - imageProjection.dot(imageProjectionHessian);
        const double denominator = correlation - templateProjection.dot(imageProjectionHessian);
        if (denominator <= 0)
            return -1;
        const cv::Mat error = (numerator / denominator) * templateZeroMean - warped;
        project_onto_jacobian_ECC(jacobian, error, errorProjection);
        update_warping_matrix_ECC(map, hessianInverse * errorProjection);
    }
    return rho;
}

std::string assertionText(const std::function<void()>& call)
{
    try {
        call();
    } catch (const cv::Exception& error) {
        EXPECT_EQ(error.code, cv::Error::StsAssert);
        return error.err;
    }
    return "no exception";
}

}  // namespace

TEST(EccAlignment, IdenticalImagesKeepTheIdentity)
{
    cv::Mat image = greyPhoto();
    if (image.empty())
        GTEST_SKIP() << "test photograph not available";
    cv::Mat warp = identityWarp();
    const double rho = findTransform(image, image, warp, 0, kStackingCriteria);
    EXPECT_NEAR(rho, 1.0, 1e-5);
    EXPECT_NEAR(warp.at<float>(0, 2), 0.0f, 1e-3);
    EXPECT_NEAR(warp.at<float>(1, 2), 0.0f, 1e-3);
}

struct EccShiftCase {
    double dx, dy;
};

class EccShift : public ::testing::TestWithParam<EccShiftCase> {};

TEST_P(EccShift, RecoversTheShiftOfANoisyRealPhotograph)
{
    const cv::Mat image = greyPhoto();
    if (image.empty())
        GTEST_SKIP() << "test photograph not available";
    const EccShiftCase shift = GetParam();
    const cv::Mat input = shiftedWithNoise(image, shift.dx, shift.dy, 3.0);
    cv::Mat warp = identityWarp();
    const double rho = findTransform(image, input, warp, 0, kStackingCriteria);
    EXPECT_GT(rho, 0.9);
    EXPECT_NEAR(warp.at<float>(0, 2), shift.dx, 0.05);
    EXPECT_NEAR(warp.at<float>(1, 2), shift.dy, 0.05);
    EXPECT_FLOAT_EQ(warp.at<float>(0, 0), 1.0f);
    EXPECT_FLOAT_EQ(warp.at<float>(1, 0), 0.0f);

    // Same answer as the image-by-image formulation, whose warps round positions to 1/32 px.
    cv::Mat textbookWarp = identityWarp();
    const double textbookRho = textbookEcc(image, input, textbookWarp, 70, 1e-6);
    EXPECT_NEAR(rho, textbookRho, 1e-3);
    EXPECT_NEAR(warp.at<float>(0, 2), textbookWarp.at<float>(0, 2), 0.03);
    EXPECT_NEAR(warp.at<float>(1, 2), textbookWarp.at<float>(1, 2), 0.03);
}

INSTANTIATE_TEST_SUITE_P(Shifts, EccShift,
                         ::testing::Values(EccShiftCase{3, -2}, EccShiftCase{1.5, 0.25}, EccShiftCase{-4.75, 2.5},
                                           EccShiftCase{0, 0}));

TEST(EccAlignment, FloatImagesAndDifferentSizesAreAligned)
{
    const cv::Mat image = greyPhoto();
    if (image.empty())
        GTEST_SKIP() << "test photograph not available";
    cv::Mat input = shiftedWithNoise(image, 2, 1, 1.0), templateFloat, inputFloat;
    image(cv::Rect(40, 30, 500, 300)).convertTo(templateFloat, CV_32F, 1.0 / 255);
    input.convertTo(inputFloat, CV_32F, 1.0 / 255);
    cv::Mat warp = identityWarp();
    findTransform(templateFloat, inputFloat, warp, 0, kStackingCriteria);
    // Template pixel (x, y) is input pixel (x + 40 + 2, y + 30 + 1).
    EXPECT_NEAR(warp.at<float>(0, 2), 42.0, 0.05);
    EXPECT_NEAR(warp.at<float>(1, 2), 31.0, 0.05);
}

TEST(EccAlignment, UniformTemplateGivesMinusOneAndLeavesTheWarp)
{
    const cv::Mat flat(120, 160, CV_8U, cv::Scalar(77));
    cv::Mat input(120, 160, CV_8U);
    cv::randu(input, 0, 255);
    cv::Mat warp = identityWarp();
    warp.at<float>(0, 2) = 0.5f;
    const cv::Mat before = warp.clone();
    EXPECT_EQ(findTransform(flat, input, warp, 0, kStackingCriteria), -1.0);
    EXPECT_EQ(cv::norm(warp, before, cv::NORM_INF), 0.0);
}

TEST(EccAlignment, UnhandledTypesAreRefusedQuietly)
{
    const cv::Mat image8(50, 60, CV_8U, cv::Scalar(1)), image16(50, 60, CV_16U, cv::Scalar(1)),
        imageFloat(50, 60, CV_32F, cv::Scalar(1));
    const cv::Mat warp64 = cv::Mat::eye(2, 3, CV_64F);
    struct Case {
        cv::Mat templateImage, input, warp;
    } cases[] = {{image16, image16, identityWarp()},
                 {image8, imageFloat, identityWarp()},
                 {image8, image8, warp64.clone()},
                 {image8, image8, cv::Mat()}};
    for (Case& c : cases) {
        const cv::Mat before = c.warp.clone();
        EXPECT_EQ(findTransform(c.templateImage, c.input, c.warp, 0, kStackingCriteria), -1.0);
        if (!before.empty()) {
            EXPECT_EQ(cv::norm(c.warp, before, cv::NORM_INF), 0.0);
        }
    }
}

TEST(EccAlignment, MalformedArgumentsRaiseTheirCheck)
{
    const cv::Mat image(50, 60, CV_8U, cv::Scalar(1));
    cv::Mat warp = identityWarp(), wide = cv::Mat::zeros(2, 4, CV_32F), square = cv::Mat::eye(3, 3, CV_32F);
    const cv::TermCriteria none(0, 10, 1e-6);
    EXPECT_EQ(assertionText([&] { findTransform(cv::Mat(), image, warp, 0, kStackingCriteria); }), "!src.empty()");
    EXPECT_EQ(assertionText([&] { findTransform(image, cv::Mat(), warp, 0, kStackingCriteria); }), "!dst.empty()");
    EXPECT_EQ(assertionText([&] { findTransform(image, image, wide, 0, kStackingCriteria); }), "map.cols == 3");
    EXPECT_EQ(assertionText([&] { findTransform(image, image, warp, 0, none); }),
              "criteria.type & cv::TermCriteria::COUNT || criteria.type & cv::TermCriteria::EPS");
    // A 3x3 matrix passes the entry checks and fails in the first iteration.
    EXPECT_NE(assertionText([&] { findTransform(image, image, square, 0, kStackingCriteria); }), "no exception");
}

TEST(EccAlignment, IterationLimitsFollowTheCriteria)
{
    const cv::Mat image = greyPhoto();
    if (image.empty())
        GTEST_SKIP() << "test photograph not available";
    const cv::Mat input = shiftedWithNoise(image, 3, -2, 2.0);
    cv::Mat warp = identityWarp();
    EXPECT_EQ(findTransform(image, input, warp, 0, cv::TermCriteria(cv::TermCriteria::COUNT, 0, 0)), -1.0);
    EXPECT_EQ(cv::norm(warp, identityWarp(), cv::NORM_INF), 0.0);

    // One counted iteration moves like the first textbook iteration.
    cv::Mat once = identityWarp(), textbookOnce = identityWarp();
    const double rho = findTransform(image, input, once, 0, cv::TermCriteria(cv::TermCriteria::COUNT, 1, 0));
    const double textbookRho = textbookEcc(image, input, textbookOnce, 1, -1);
    EXPECT_NEAR(rho, textbookRho, 1e-4);
    EXPECT_NEAR(once.at<float>(0, 2), textbookOnce.at<float>(0, 2), 0.02);
    EXPECT_NEAR(once.at<float>(1, 2), textbookOnce.at<float>(1, 2), 0.02);

    cv::Mat epsOnly = identityWarp();
    findTransform(image, input, epsOnly, 0, cv::TermCriteria(cv::TermCriteria::EPS, 0, 1e-6));
    EXPECT_NEAR(epsOnly.at<float>(0, 2), 3.0, 0.05);
}

TEST(EccAlignment, HelpersCheckTheirArguments)
{
    const cv::Mat a(4, 5, CV_32F, cv::Scalar(1)), b(4, 5, CV_32F, cv::Scalar(2));
    cv::Mat jacobian(4, 10, CV_32F), badJacobian(4, 9, CV_32F);
    image_jacobian_translation_ECC(a, b, jacobian);
    EXPECT_EQ(jacobian.at<float>(3, 4), 1.0f);
    EXPECT_EQ(jacobian.at<float>(3, 5), 2.0f);
    EXPECT_EQ(assertionText([&] { image_jacobian_translation_ECC(a, b, badJacobian); }),
              "dst.cols == (src1.cols * 2)");

    cv::Mat hessian(2, 2, CV_32F), projection(2, 1, CV_32F);
    project_onto_jacobian_ECC(jacobian, jacobian, hessian);
    EXPECT_FLOAT_EQ(hessian.at<float>(0, 0), 20.0f);
    EXPECT_FLOAT_EQ(hessian.at<float>(0, 1), 40.0f);
    EXPECT_FLOAT_EQ(hessian.at<float>(1, 0), 40.0f);
    EXPECT_FLOAT_EQ(hessian.at<float>(1, 1), 80.0f);
    project_onto_jacobian_ECC(jacobian, b, projection);
    EXPECT_FLOAT_EQ(projection.at<float>(0), 40.0f);
    EXPECT_FLOAT_EQ(projection.at<float>(1), 80.0f);
    EXPECT_EQ(assertionText([&] { project_onto_jacobian_ECC(jacobian, cv::Mat(3, 5, CV_32F), projection); }),
              "src1.rows == src2.rows");

    cv::Mat warp = identityWarp();
    update_warping_matrix_ECC(warp, (cv::Mat_<float>(2, 1) << 0.5f, -1.0f));
    EXPECT_FLOAT_EQ(warp.at<float>(0, 2), 0.5f);
    EXPECT_FLOAT_EQ(warp.at<float>(1, 2), -1.0f);
    cv::Mat warp64 = cv::Mat::eye(2, 3, CV_64F);
    EXPECT_EQ(assertionText([&] { update_warping_matrix_ECC(warp64, cv::Mat::zeros(2, 1, CV_32F)); }),
              "map_matrix.type() == CV_32FC1");
    EXPECT_EQ(assertionText([&] { update_warping_matrix_ECC(warp, cv::Mat::zeros(2, 2, CV_32F)); }),
              "update.cols == 1");
}
