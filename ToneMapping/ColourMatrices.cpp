#include "ColourMatrices.h"

#include "RowBands.h"

#include <algorithm>

namespace {

// Stored column by column.
const float kLinearRgbToXyz[9] = {0.412424f, 0.212656f, 0.0193324f, 0.357579f, 0.715158f,
                                  0.119193f, 0.180464f, 0.0721856f, 0.950444f};
const float kCat02[9] = {0.7328f, 0.4296f, -0.1624f, -0.7036f, 1.6974f, 0.0061f, 0.003f, 0.0136f, 0.9834f};
const float kHpe[9] = {0.38971f, 0.68898f, -0.07868f, -0.22981f, 1.1834f, 0.04641f, 0.0f, 0.0f, 1.0f};
const float kXyzLms[9] = {0.4002f, 0.7077f, -0.0807f, -0.228f, 1.15f, 0.0612f, 0.0f, 0.0f, 0.9184f};
const float kLmsIpt[9] = {0.4f, 0.4f, 0.2f, 4.455f, -4.851f, 0.396f, 0.8056f, 0.3572f, -1.1628f};
// Stored column by column.
const float kXyzToLinearRgb[9] = {3.2407f, -0.9693f, 0.0556f, -1.5373f, 1.876f, -0.204f, -0.4986f, 0.0416f, 1.0571f};
const float kOutputWhite[9] = {0.8562f, 0.3372f, -0.1934f, -0.836f, 1.8327f, 0.0033f, 0.0357f, -0.0469f, 1.0112f};

constexpr float kIptExponent = 0.43f;
constexpr float kInverseIptExponent = 2.3255813f;

cv::Mat rowMajor(const float* values)
{
    return cv::Mat(3, 3, CV_32F, const_cast<float*>(values)).clone();
}

cv::Mat columnMajor(const float* values)
{
    return rowMajor(values).t();
}

cv::Mat inverse(const cv::Mat& matrix)
{
    cv::Mat result;
    cv::invert(matrix, result, cv::DECOMP_LU);
    return result;
}

void transformAll(const cv::Mat& image, cv::Mat& result, const cv::Mat& matrix)
{
    forEachRowBand(image.rows, [&](const cv::Range& rows) {
        cv::Mat band = result.rowRange(rows);
        cv::transform(image.rowRange(rows), band, matrix);
    });
}

cv::Mat applyMatrix(const cv::Mat& image, const cv::Mat& matrix, unsigned mode)
{
    if (mode != 0 && mode != 2) {
        cv::Mat result = cv::Mat::zeros(image.size(), CV_32FC3);
        if (mode == 1 && !image.empty()) {
            cv::Mat first = result(cv::Rect(0, 0, 1, 1));
            cv::transform(image(cv::Rect(0, 0, 1, 1)), first, matrix);
        }
        return result;
    }
    // Every pixel is written, so no zeroing first.
    cv::Mat result(image.size(), CV_32FC3);
    transformAll(image, result, mode == 2 ? matrix : inverse(matrix));
    return result;
}

// |element|^exponent.
cv::Mat absPower(const cv::Mat& image, float exponent)
{
    cv::Mat result(image.size(), image.type());
    forEachRowBand(image.rows, [&](const cv::Range& rows) {
        cv::Mat band = result.rowRange(rows);
        cv::pow(cv::abs(image.rowRange(rows)), exponent, band);
    });
    return result;
}

}  // namespace

cv::Mat linearRgbToXyz(const cv::Mat& image, float maxY, double brightestY)
{
    cv::Mat xyz = applyMatrix(image, columnMajor(kLinearRgbToXyz), 2);
    const double largestY = std::max(brightestY, xyz.empty() ? 0.0 : largestInBands(xyz, 1));
    const double scale = largestY > 0.0 ? maxY / largestY : 1.0;
    forEachRowBand(xyz.rows, [&](const cv::Range& rows) {
        cv::Mat band = xyz.rowRange(rows);
        band.convertTo(band, CV_32F, scale);
        cv::max(band, 1e-8, band);
    });
    return xyz;
}

double largestLinearY(const cv::Mat& image)
{
    return image.empty() ? 0.0 : std::max(0.0, largestInBands(applyMatrix(image, columnMajor(kLinearRgbToXyz), 2), 1));
}

cv::Mat cat02Transform(const cv::Mat& image, unsigned mode)
{
    return applyMatrix(image, rowMajor(kCat02), mode);
}

cv::Mat hpeTransform(const cv::Mat& image, unsigned mode)
{
    return mode == 1 ? cv::Mat::zeros(image.size(), CV_32FC3) : applyMatrix(image, rowMajor(kHpe), mode);
}

cv::Mat xyzLmsTransform(const cv::Mat& image, unsigned mode)
{
    if (mode == 0)
        return applyMatrix(absPower(image, kInverseIptExponent), rowMajor(kXyzLms), 0);
    return mode == 2 ? applyMatrix(image, rowMajor(kXyzLms), 2) : cv::Mat::zeros(image.size(), CV_32FC3);
}

cv::Mat lmsIptTransform(const cv::Mat& image, unsigned mode)
{
    if (mode == 2)
        return applyMatrix(absPower(image, kIptExponent), rowMajor(kLmsIpt), 2);
    return mode == 0 ? applyMatrix(image, rowMajor(kLmsIpt), 0) : cv::Mat::zeros(image.size(), CV_32FC3);
}

cv::Mat xyzToLinearRgb(const cv::Mat& image)
{
    return applyMatrix(image, columnMajor(kXyzToLinearRgb), 2);
}

cv::Mat outputWhiteTransform(const cv::Mat& image, unsigned mode)
{
    return applyMatrix(image, rowMajor(kOutputWhite), mode);
}
