#include "EccAlignment.h"

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

// Every per-iteration image of the textbook formulation (warped input and
// gradients, warped mask, zero-mean images, Jacobian, error) enters the update only
// through sums over the template grid, so one fused pass samples the input and its
// gradients once per pixel and accumulates those sums directly.

namespace {

constexpr int kStripeRows = 16;

// Sums of one pass; "masked" ones run over the template pixels whose nearest
// input pixel exists, the others over the whole template. The input is held
// less a constant (inputOffset) so the float sums keep their precision.
struct EccSums {
    double count = 0, sumI = 0, sumII = 0, sumT = 0, sumTT = 0, sumTI = 0;
    double sumGx = 0, sumGy = 0, sumGxT = 0, sumGyT = 0;                             // masked
    double hxx = 0, hxy = 0, hyy = 0, gxI = 0, gyI = 0, allGx = 0, allGy = 0;  // everywhere

    void add(const EccSums& o)
    {
        count += o.count; sumI += o.sumI; sumII += o.sumII; sumT += o.sumT; sumTT += o.sumTT; sumTI += o.sumTI;
        sumGx += o.sumGx; sumGy += o.sumGy; sumGxT += o.sumGxT; sumGyT += o.sumGyT;
        hxx += o.hxx; hxy += o.hxy; hyy += o.hyy; gxI += o.gxI; gyI += o.gyI; allGx += o.allGx; allGy += o.allGy;
    }
};

struct Affine {
    double m00, m01, m02, m10, m11, m12;
    bool translationOnly() const { return m00 == 1 && m01 == 0 && m10 == 0 && m11 == 1; }
};

// Smoothed float copy of an 8-bit or float single-channel image.
cv::Mat prepared(const cv::Mat& image)
{
    cv::Mat result;
    image.convertTo(result, CV_32F, 1, 0);
    cv::GaussianBlur(result, result, cv::Size(5, 5), 0, 0);
    return result;
}

inline int reflect101(int i, int size)
{
    if (size == 1)
        return 0;
    return i < 0 ? -i : i >= size ? 2 * size - 2 - i : i;
}

// Input less offset, its x and y derivatives (kernel -0.5, 0, 0.5, reflected
// border) and a spare lane per pixel, so one bilinear tap fetches all three.
cv::Mat packedInputAndGradients(const cv::Mat& input, float offset)
{
    cv::Mat packed(input.size(), CV_32FC4);
    cv::parallel_for_(cv::Range(0, input.rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            const float* row = input.ptr<float>(y);
            const float* up = input.ptr<float>(reflect101(y - 1, input.rows));
            const float* down = input.ptr<float>(reflect101(y + 1, input.rows));
            float* out = packed.ptr<float>(y);
            for (int x = 0; x < input.cols; ++x, out += 4) {
                out[0] = row[x] - offset;
                out[1] = 0.5f * (row[reflect101(x + 1, input.cols)] - row[reflect101(x - 1, input.cols)]);
                out[2] = 0.5f * (down[x] - up[x]);
                out[3] = 0.0f;
            }
        }
    });
    return packed;
}

// Template less its mean: the coefficient ignores the offset, and a uniform
// template becomes exactly zero, so its degenerate iteration is recognised exactly.
cv::Mat centred(const cv::Mat& image)
{
    double sum = 0;
    for (int y = 0; y < image.rows; ++y) {
        const float* row = image.ptr<float>(y);
        for (int x = 0; x < image.cols; ++x)
            sum += row[x];
    }
    cv::Mat result;
    cv::subtract(image, cv::Scalar(sum / (double(image.rows) * image.cols)), result);
    return result;
}

// Bilinear tap of the packed input; beyond the image the raw input is 0.
inline cv::v_float32x4 tap(const cv::Mat& packed, int x, int y, const cv::v_float32x4& outside)
{
    if (x < 0 || y < 0 || x >= packed.cols || y >= packed.rows)
        return outside;
    return cv::v_load(packed.ptr<float>(y) + 4 * x);
}

// Any pixel, any affine map: bilinear samples with a zero border, nearest-neighbour mask.
void accumulatePixel(const cv::Mat& packed, float templateValue, int x, int y, const Affine& map,
                     const cv::v_float32x4& outside, EccSums& s)
{
    const int lastX = packed.cols - 1, lastY = packed.rows - 1;
    const double sx = map.m00 * x + map.m01 * y + map.m02;
    const double sy = map.m10 * x + map.m11 * y + map.m12;
    const double fx = std::floor(sx), fy = std::floor(sy);
    const float ax = float(sx - fx), ay = float(sy - fy);
    cv::v_float32x4 value = outside;
    if (fx >= -1 && fy >= -1 && fx <= lastX && fy <= lastY) {
        const int ix = int(fx), iy = int(fy);
        value = cv::v_setall_f32((1.f - ax) * (1.f - ay)) * tap(packed, ix, iy, outside) +
                cv::v_setall_f32(ax * (1.f - ay)) * tap(packed, ix + 1, iy, outside) +
                cv::v_setall_f32((1.f - ax) * ay) * tap(packed, ix, iy + 1, outside) +
                cv::v_setall_f32(ax * ay) * tap(packed, ix + 1, iy + 1, outside);
    }
    const double nx = std::floor(sx + 0.5), ny = std::floor(sy + 0.5);
    const bool inMask = nx >= 0 && ny >= 0 && nx <= lastX && ny <= lastY;
    float lanes[4];
    cv::v_store(lanes, value);
    const double i = lanes[0], gx = lanes[1], gy = lanes[2];
    s.hxx += gx * gx;
    s.hxy += gx * gy;
    s.hyy += gy * gy;
    s.gxI += gx * i;
    s.gyI += gy * i;
    s.allGx += gx;
    s.allGy += gy;
    if (inMask) {
        const double t = templateValue;
        s.count += 1;
        s.sumI += i;
        s.sumII += i * i;
        s.sumT += t;
        s.sumTT += t * t;
        s.sumTI += t * i;
        s.sumGx += gx;
        s.sumGy += gy;
        s.sumGxT += gx * t;
        s.sumGyT += gy * t;
    }
}

// Pure translation, pixels [begin, end) of template row y whose four taps all lie
// inside the input: constant weights, no bounds tests, vector sums.
void accumulateInterior(const cv::Mat& packed, const float* templateRow, int y, int begin, int end, int shiftX,
                        int shiftY, float ax, float ay, EccSums& s)
{
    using namespace cv;
    const v_float32x4 w00 = v_setall_f32((1.f - ax) * (1.f - ay)), w01 = v_setall_f32(ax * (1.f - ay));
    const v_float32x4 w10 = v_setall_f32((1.f - ax) * ay), w11 = v_setall_f32(ax * ay);
    const float* p0 = packed.ptr<float>(y + shiftY) + 4 * (begin + shiftX);
    const float* p1 = packed.ptr<float>(y + shiftY + 1) + 4 * (begin + shiftX);
    v_float32x4 sumV = v_setzero_f32(), sumVV = v_setzero_f32(), sumVT = v_setzero_f32();
    v_float32x4 crossNext = v_setzero_f32(), crossSecond = v_setzero_f32();
    float sumT = 0, sumTT = 0;
    for (int x = begin; x < end; ++x, p0 += 4, p1 += 4) {
        const v_float32x4 v = w00 * v_load(p0) + w01 * v_load(p0 + 4) + w10 * v_load(p1) + w11 * v_load(p1 + 4);
        const float t = templateRow[x];
        sumV += v;
        sumVV += v * v;
        sumVT += v * v_setall_f32(t);
        crossNext += v * v_rotate_right<1>(v);    // i gx, gx gy
        crossSecond += v * v_rotate_right<2>(v);  // i gy
        sumT += t;
        sumTT += t * t;
    }
    float v[4], vv[4], vt[4], c1[4], c2[4];
    v_store(v, sumV);
    v_store(vv, sumVV);
    v_store(vt, sumVT);
    v_store(c1, crossNext);
    v_store(c2, crossSecond);
    s.count += end - begin;
    s.sumI += v[0];
    s.sumII += vv[0];
    s.sumT += sumT;
    s.sumTT += sumTT;
    s.sumTI += vt[0];
    s.sumGx += v[1];
    s.sumGy += v[2];
    s.sumGxT += vt[1];
    s.sumGyT += vt[2];
    s.hxx += vv[1];
    s.hxy += c1[1];
    s.hyy += vv[2];
    s.gxI += c1[0];
    s.gyI += c2[0];
    s.allGx += v[1];
    s.allGy += v[2];
}

// Template row y, pixels [from, to): those whose four taps lie inside the input,
// [begin, end), in the vector pass, the others one by one.
void accumulateSpan(const cv::Mat& packed, const float* templateRow, int y, int from, int to, int begin, int end,
                    int shiftX, int shiftY, float ax, float ay, const Affine& map, const cv::v_float32x4& outside,
                    EccSums& s)
{
    begin = std::clamp(begin, from, to);
    end = std::clamp(end, begin, to);
    for (int x = from; x < begin; ++x)
        accumulatePixel(packed, templateRow[x], x, y, map, outside, s);
    if (end > begin)
        accumulateInterior(packed, templateRow, y, begin, end, shiftX, shiftY, ax, ay, s);
    for (int x = end; x < to; ++x)
        accumulatePixel(packed, templateRow[x], x, y, map, outside, s);
}

void accumulateRow(const cv::Mat& packed, const float* templateRow, const uchar* maskRow, int y, int width,
                   const Affine& map, const cv::v_float32x4& outside, EccSums& s)
{
    int begin = 0, end = 0;
    int shiftX = 0, shiftY = 0;
    float ax = 0, ay = 0;
    if (map.translationOnly()) {
        const double fx = std::floor(map.m02), fy = std::floor(map.m12);
        if (std::fabs(fx) < packed.cols + width && std::fabs(fy) < packed.rows + double(y) + 1) {
            shiftX = int(fx);
            shiftY = int(fy);
            ax = float(map.m02 - fx);
            ay = float(map.m12 - fy);
            if (y + shiftY >= 0 && y + shiftY <= packed.rows - 2) {
                begin = std::clamp(-shiftX, 0, width);
                end = std::clamp(packed.cols - 1 - shiftX, begin, width);
            }
        }
    }
    if (!maskRow) {
        accumulateSpan(packed, templateRow, y, 0, width, begin, end, shiftX, shiftY, ax, ay, map, outside, s);
        return;
    }
    for (int from = 0; from < width;) {
        while (from < width && !maskRow[from])
            ++from;
        int to = from;
        while (to < width && maskRow[to])
            ++to;
        if (to > from)
            accumulateSpan(packed, templateRow, y, from, to, begin, end, shiftX, shiftY, ax, ay, map, outside, s);
        from = to;
    }
}

EccSums accumulate(const cv::Mat& packed, const cv::Mat& templateCentred, const cv::Mat& mask, const Affine& map,
                   float inputOffset)
{
    const cv::v_float32x4 outside(-inputOffset, 0.f, 0.f, 0.f);
    const int stripes = (templateCentred.rows + kStripeRows - 1) / kStripeRows;
    std::vector<EccSums> partial(stripes);
    cv::parallel_for_(cv::Range(0, stripes), [&](const cv::Range& range) {
        for (int stripe = range.start; stripe < range.end; ++stripe) {
            const int end = std::min(templateCentred.rows, (stripe + 1) * kStripeRows);
            for (int y = stripe * kStripeRows; y < end; ++y)
                accumulateRow(packed, templateCentred.ptr<float>(y), mask.empty() ? nullptr : mask.ptr<uchar>(y), y,
                              templateCentred.cols, map, outside, partial[stripe]);
        }
    });
    // Fixed stripes summed in order: the result does not depend on the thread count.
    EccSums total;
    for (const EccSums& s : partial)
        total.add(s);
    return total;
}

// Inverse of the symmetric 2x2 matrix held in float, as LU inversion gives it;
// zeros when singular.
void invertHessian(const EccSums& s, double inverse[3])
{
    const double a = float(s.hxx), b = float(s.hxy), d = float(s.hyy);
    const double determinant = a * d - b * b;
    if (determinant == 0) {
        inverse[0] = inverse[1] = inverse[2] = 0;
        return;
    }
    inverse[0] = d / determinant;
    inverse[1] = -b / determinant;
    inverse[2] = a / determinant;
}

// The argument checks raise the library's assertion error under the routine's public name.
void check(bool condition, const char* text)
{
    if (!condition)
        cv::error(cv::Error::StsAssert, text, "findTransform", __FILE__, __LINE__);
}

}  // namespace

double findTransform(cv::InputArray templateImage, cv::InputArray inputImage, cv::InputOutputArray warpMatrix,
                     int /*motionType*/, const cv::TermCriteria& criteria)
{
    return estimateTranslation(templateImage, inputImage, warpMatrix, criteria).correlation;
}

EccOutcome estimateTranslation(cv::InputArray templateImage, cv::InputArray inputImage,
                               cv::InputOutputArray warpMatrix, const cv::TermCriteria& criteria,
                               cv::InputArray templateMask)
{
    const cv::Mat src = templateImage.getMat();
    const cv::Mat dst = inputImage.getMat();
    const cv::Mat mask = templateMask.getMat();
    cv::Mat map = warpMatrix.getMat();
    check(!src.empty(), "!src.empty()");
    check(!dst.empty(), "!dst.empty()");
    if (src.type() != dst.type() || (src.type() != CV_8UC1 && src.type() != CV_32FC1) || map.type() != CV_32FC1)
        return {};
    check(map.cols == 3, "map.cols == 3");
    check(map.rows == 2 || map.rows == 3, "map.rows == 2 || map.rows == 3");
    check(criteria.type & cv::TermCriteria::COUNT || criteria.type & cv::TermCriteria::EPS,
          "criteria.type & cv::TermCriteria::COUNT || criteria.type & cv::TermCriteria::EPS");
    check(mask.empty() || (mask.type() == CV_8UC1 && mask.size() == src.size()),
          "mask.empty() || (mask.type() == CV_8UC1 && mask.size() == src.size())");
    const int iterations = (criteria.type & cv::TermCriteria::COUNT) ? criteria.maxCount : 200;
    const double tolerance = (criteria.type & cv::TermCriteria::EPS) ? criteria.epsilon : -1;

    const cv::Mat templateCentred = centred(prepared(src));
    const float inputOffset = float(cv::mean(dst)[0]);
    const cv::Mat packed = packedInputAndGradients(prepared(dst), inputOffset);

    double rho = -1;
    double lastRho = -tolerance;
    for (int i = 1; i <= iterations && std::fabs(rho - lastRho) >= tolerance; ++i) {
        // The affine warp of the textbook formulation takes two rows only.
        check(map.rows == 2, "map.rows == 2");
        const Affine affine{map.at<float>(0, 0), map.at<float>(0, 1), map.at<float>(0, 2),
                            map.at<float>(1, 0), map.at<float>(1, 1), map.at<float>(1, 2)};
        const EccSums s = accumulate(packed, templateCentred, mask, affine, inputOffset);

        const double n = s.count;
        const double imageMean = n > 0 ? s.sumI / n : 0, templateMean = n > 0 ? s.sumT / n : 0;
        const double imageVariance = n > 0 ? std::max(s.sumII / n - imageMean * imageMean, 0.0) : 0;
        const double templateVariance = n > 0 ? std::max(s.sumTT / n - templateMean * templateMean, 0.0) : 0;
        const double templateNorm = std::sqrt(n * templateVariance);
        const double imageNorm = std::sqrt(n * imageVariance);

        double inverse[3];
        invertHessian(s, inverse);
        const double correlation = s.sumTI - n * templateMean * imageMean;
        lastRho = rho;
        rho = correlation / (imageNorm * templateNorm);

        // Projections onto the Jacobian: the zero-mean input keeps its raw value
        // (offset added back) outside the mask, the zero-mean template is 0 there.
        const double imageProjection[2] = {s.gxI + inputOffset * (s.allGx - s.sumGx) - imageMean * s.sumGx,
                                           s.gyI + inputOffset * (s.allGy - s.sumGy) - imageMean * s.sumGy};
        const double templateProjection[2] = {s.sumGxT - templateMean * s.sumGx, s.sumGyT - templateMean * s.sumGy};
        const double hessianImage[2] = {inverse[0] * imageProjection[0] + inverse[1] * imageProjection[1],
                                        inverse[1] * imageProjection[0] + inverse[2] * imageProjection[1]};
        const double lambdaNumerator = imageNorm * imageNorm - (imageProjection[0] * hessianImage[0] +
                                                                imageProjection[1] * hessianImage[1]);
        const double lambdaDenominator = correlation - (templateProjection[0] * hessianImage[0] +
                                                        templateProjection[1] * hessianImage[1]);
        if (lambdaDenominator <= 0.0)
            return {};
        const double lambda = lambdaNumerator / lambdaDenominator;
        const double errorProjection[2] = {lambda * templateProjection[0] - imageProjection[0],
                                           lambda * templateProjection[1] - imageProjection[1]};
        cv::Mat update = (cv::Mat_<float>(2, 1) << float(inverse[0] * errorProjection[0] + inverse[1] * errorProjection[1]),
                          float(inverse[1] * errorProjection[0] + inverse[2] * errorProjection[1]));
        update_warping_matrix_ECC(map, update);
    }
    return {rho, std::isfinite(rho) && std::fabs(rho - lastRho) < tolerance};
}

void update_warping_matrix_ECC(cv::Mat& map_matrix, const cv::Mat& update)
{
    CV_Assert(map_matrix.type() == CV_32FC1);
    CV_Assert(update.type() == CV_32FC1);
    CV_Assert(map_matrix.rows == 2 && update.rows == 2);
    CV_Assert(update.cols == 1);
    CV_Assert(map_matrix.isContinuous());
    CV_Assert(update.isContinuous());
    float* mapPointer = map_matrix.ptr<float>(0);
    const float* updatePointer = update.ptr<float>(0);
    mapPointer[2] += updatePointer[0];
    mapPointer[5] += updatePointer[1];
}
