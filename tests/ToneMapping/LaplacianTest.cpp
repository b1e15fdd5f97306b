#include "Laplacian.h"

#include "ColourRatios.h"
#include "DisplayScale.h"
#include "HdrTestImages.h"
#include "TestMedia.h"
#include "Log.h"
#include "PixelOps.h"
#include "Pyramid.h"
#include "Threads.h"
#include "WorkerCount.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace {

// ---- A straightforward implementation of the operator, for small images only ----

struct RefWindow {
    int r0, r1, c0, c1;
    RefWindow child() const { return {(r0 + 1) / 2, r1 / 2, (c0 + 1) / 2, c1 / 2}; }
};

cv::Mat refFilter(const cv::Mat& image)
{
    cv::Mat out;
    cv::filter2D(image, out, CV_32F, pyramidKernel, cv::Point(-1, -1), 0, cv::BORDER_CONSTANT);
    return out;
}

cv::Mat refDown(const cv::Mat& input, const RefWindow& w)
{
    const cv::Mat filtered = refFilter(input);
    const RefWindow c = w.child();
    cv::Mat out(c.r1 - c.r0 + 1, c.c1 - c.c0 + 1, CV_32F);
    for (int i = 0; i < out.rows; ++i)
        for (int j = 0; j < out.cols; ++j)
            out.at<float>(i, j) = filtered.at<float>((w.r0 % 2) + 2 * i, (w.c0 % 2) + 2 * j);
    return out;
}

cv::Mat refUp(const cv::Mat& input, const RefWindow& w)
{
    cv::Mat z = cv::Mat::zeros(w.r1 - w.r0 + 1, w.c1 - w.c0 + 1, CV_32F);
    cv::Mat m = z.clone();
    for (int i = 0; i < input.rows; ++i)
        for (int j = 0; j < input.cols; ++j) {
            z.at<float>((w.r0 % 2) + 2 * i, (w.c0 % 2) + 2 * j) = input.at<float>(i, j);
            m.at<float>((w.r0 % 2) + 2 * i, (w.c0 % 2) + 2 * j) = 1.0f;
        }
    return refFilter(z) / refFilter(m);
}

int refLevels(int rows, int columns)
{
    int m = std::min(rows, columns), n = 1;
    while (m > 1) {
        ++n;
        m = (m + 1) / 2;
    }
    return n;
}

std::vector<cv::Mat> refGaussian(const cv::Mat& input, RefWindow w)
{
    std::vector<cv::Mat> pyramid{input};
    for (int l = 1; l < refLevels(input.rows, input.cols); ++l) {
        pyramid.push_back(refDown(pyramid.back(), w));
        w = w.child();
    }
    return pyramid;
}

std::vector<cv::Mat> refLaplacian(const cv::Mat& input, int levels, RefWindow w)
{
    std::vector<cv::Mat> pyramid;
    cv::Mat j = input;
    for (int l = 0; l < levels - 1; ++l) {
        const cv::Mat reduced = refDown(j, w);
        pyramid.push_back(j - refUp(reduced, w));
        j = reduced;
        w = w.child();
    }
    pyramid.push_back(j);
    return pyramid;
}

cv::Mat refReconstruct(const std::vector<cv::Mat>& pyramid, RefWindow w)
{
    std::vector<RefWindow> windows{w};
    for (size_t l = 1; l < pyramid.size(); ++l)
        windows.push_back(windows.back().child());
    cv::Mat r = pyramid.back();
    for (int l = int(pyramid.size()) - 2; l >= 0; --l)
        r = pyramid[l] + refUp(r, windows[l]);
    return r;
}

float refRemap(float i, float g0, float alpha, float beta, float s)
{
    const float d = std::fabs(i - g0);
    const float sign = i > g0 ? 1.0f : (i < g0 ? -1.0f : 0.0f);
    if (d > s)
        return g0 + sign * (beta * (d - s) + s);
    const float t = d / s;
    float f = std::pow(t, alpha);
    if (alpha < 1.0f) {
        const float u = std::min(std::max((t * s - 0.01f) / 0.01f, 0.0f), 1.0f);
        const float tau = u * u * (u - 2.0f) * (u - 2.0f);
        f = (f - t) * tau + t;
    }
    return g0 + sign * s * f;
}

cv::Mat refCore(const cv::Mat& input, float alpha, float beta)
{
    const float s = std::log(2.5f);
    const RefWindow whole{0, input.rows - 1, 0, input.cols - 1};
    const std::vector<cv::Mat> g = refGaussian(input, whole);
    std::vector<cv::Mat> l = refLaplacian(input, int(g.size()), whole);
    const int n = int(g.size());
    for (int lev = 0; lev < n - 1; ++lev) {
        const int hw = 3 * (1 << (lev + 1)) - 2;
        for (int y0 = 0; y0 < g[lev].rows; ++y0)
            for (int x0 = 0; x0 < g[lev].cols; ++x0) {
                const int yf = y0 << lev, xf = x0 << lev;
                const RefWindow w{std::max(0, yf - hw), std::min(input.rows - 1, yf + hw), std::max(0, xf - hw),
                                  std::min(input.cols - 1, xf + hw)};
                const float g0 = g[lev].at<float>(y0, x0);
                cv::Mat part = input(cv::Range(w.r0, w.r1 + 1), cv::Range(w.c0, w.c1 + 1)).clone();
                part.forEach<float>([&](float& v, const int*) { v = refRemap(v, g0, alpha, beta, s); });
                const std::vector<cv::Mat> sub = refLaplacian(part, lev + 2, w);
                l[lev].at<float>(y0, x0) = sub[lev].at<float>((yf - w.r0) >> lev, (xf - w.c0) >> lev);
            }
    }
    l[n - 1] = g[n - 1];
    return refReconstruct(l, whole);
}

float refPercentile(std::vector<float> v, float p)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    if (n == 1 || p == 0.0f)
        return v[0];
    size_t i = 0;
    while (i < n && p > 100.0 * (i + 0.5) / n)
        ++i;
    if (i == 0)
        return v[0];
    if (i == n)
        return v[n - 1];
    const double q0 = 100.0 * (i - 0.5) / n, q1 = 100.0 * (i + 0.5) / n;
    return float(v[i - 1] + (p - q0) / (q1 - q0) * (v[i] - v[i - 1]));
}

cv::Mat refToneMap(const cv::Mat& in, float alpha, float beta)
{
    cv::Mat lum(in.size(), CV_32F), ratios(in.size(), CV_32FC3);
    for (int r = 0; r < in.rows; ++r)
        for (int c = 0; c < in.cols; ++c) {
            const cv::Vec3f p = in.at<cv::Vec3f>(r, c);
            lum.at<float>(r, c) = std::max(0.0f, (20.0f * p[2] + 40.0f * p[1] + p[0]) / 61.0f);
        }
    // Colour ratios turning neutral and fading to black below the floor of the
    // largest channel.
    const double floor = ColourRatios::floor(displayScale(in));
    for (int r = 0; r < in.rows; ++r)
        for (int c = 0; c < in.cols; ++c) {
            const double l = lum.at<float>(r, c);
            const cv::Vec3f p = in.at<cv::Vec3f>(r, c);
            const double w = std::pow(std::max({0.0f, p[0], p[1], p[2]}) / floor, 8.0);
            for (int k = 0; k < 3; ++k)
                ratios.at<cv::Vec3f>(r, c)[k] =
                    l > 0.0 ? float((w * p[k] / l + std::min(1.0, l / floor)) / (w + 1.0)) : 0.0f;
        }
    cv::Mat result = lum;
    if (!(alpha == 1.0f && beta == 1.0f)) {
        cv::Mat logLum;
        cv::log(lum + 1.1920929e-7f, logLum);
        cv::exp(refCore(logLum, alpha, beta), result);
        result -= 1.1920929e-7f;
    }
    const std::vector<float> values(result.begin<float>(), result.end<float>());
    const float high = refPercentile(values, 99.5f);
    const float low = std::max(refPercentile(values, 0.5f), high * 1e-3f);
    const float exponent = high > low ? std::log(100.0f) / std::log(high / low) : 1.0f;
    cv::Mat out(in.size(), CV_32FC3);
    for (int r = 0; r < in.rows; ++r)
        for (int c = 0; c < in.cols; ++c) {
            const float n = std::pow(std::max(result.at<float>(r, c) / high, 0.0f), exponent);
            for (int k = 0; k < 3; ++k)
                out.at<cv::Vec3f>(r, c)[k] =
                    std::pow(std::min(1.0f, std::max(0.0f, n * ratios.at<cv::Vec3f>(r, c)[k])), 0.45454544f);
        }
    return out;
}

// ---- Helpers ----

double maxDifference(const cv::Mat& a, const cv::Mat& b)
{
    return cv::norm(a, b, cv::NORM_INF);
}

cv::Mat smallLogImage(int rows, int columns, uint64_t seed)
{
    const cv::Mat scene = hdrtest::syntheticHdrImage(rows, columns, 1, seed);
    cv::Mat logScene;
    cv::log(scene, logScene);
    return logScene;
}

cv::Mat toneMap(const cv::Mat& in, float alpha, float beta, float spatialScale = 1.0f)
{
    Laplacian op;
    op.spatialScale = spatialScale;
    const float params[3] = {alpha, beta, -1.0f};
    cv::Mat out;
    op.apply(out, in, params);
    return out;
}

class WorkerCountScope {
public:
    explicit WorkerCountScope(int count) : saved(toneMappingWorkerCount()) { setToneMappingWorkerCount(count); }
    ~WorkerCountScope() { setToneMappingWorkerCount(saved); }

private:
    int saved;
};

int refuseThread(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)
{
    return EAGAIN;
}

// ---- Pyramids ----

struct PyramidCase {
    int rows, columns, r0, c0;
};

class PyramidRoundTrip : public ::testing::TestWithParam<PyramidCase> {};

TEST_P(PyramidRoundTrip, ReconstructionReproducesTheInput)
{
    const PyramidCase c = GetParam();
    const cv::Mat input = smallLogImage(c.rows, c.columns, 11);
    const cv::Mat window = pyramidWindow(c.r0, c.r0 + c.rows - 1, c.c0, c.c0 + c.columns - 1);
    const std::vector<cv::Mat> pyramid = laplacianPyramid(input, -1, window);
    EXPECT_EQ(int(pyramid.size()), pyramidLevelCount(c.rows, c.columns));
    EXPECT_LT(maxDifference(reconstructLaplacianPyramid(pyramid, window), input), 1e-5);
}

INSTANTIATE_TEST_SUITE_P(OddAndEvenSizes, PyramidRoundTrip,
                         ::testing::Values(PyramidCase{1, 1, 0, 0}, PyramidCase{1, 9, 0, 0}, PyramidCase{7, 1, 0, 0},
                                           PyramidCase{5, 9, 0, 0}, PyramidCase{33, 17, 0, 0},
                                           PyramidCase{64, 65, 0, 0}, PyramidCase{31, 45, 3, 7},
                                           PyramidCase{20, 21, 10, 5}));

TEST(Pyramid, LevelCountHalvesTheShorterSide)
{
    const int cases[][2] = {{1, 1}, {2, 2}, {3, 3}, {4, 3}, {5, 4}, {1080, 12}, {9, 5}};
    for (const auto& c : cases)
        EXPECT_EQ(pyramidLevelCount(c[0], 5000), c[1]) << c[0];
}

TEST(Pyramid, OperationsMatchTheFullKernelFilter)
{
    // The larger image is filtered in row bands on several threads.
    const cv::Mat inputs[] = {smallLogImage(23, 30, 3), smallLogImage(300, 211, 8)};
    for (const cv::Mat& input : inputs) {
        const RefWindow windows[] = {{0, input.rows - 1, 0, input.cols - 1},
                                     {5, input.rows + 4, 3, input.cols + 2},
                                     {8, input.rows + 7, 11, input.cols + 10}};
        for (const RefWindow& w : windows) {
            const cv::Mat window = pyramidWindow(w.r0, w.r1, w.c0, w.c1);
            const std::vector<cv::Mat> ours = laplacianPyramid(input, -1, window);
            const std::vector<cv::Mat> reference = refLaplacian(input, refLevels(input.rows, input.cols), w);
            ASSERT_EQ(ours.size(), reference.size());
            for (size_t l = 0; l < ours.size(); ++l)
                EXPECT_LT(maxDifference(ours[l], reference[l]), 1e-5) << "level " << l << " window " << w.r0;
        }
    }
}

TEST(Pyramid, SubWindowLinesUpWithTheWholeImage)
{
    const cv::Mat image = smallLogImage(64, 80, 5);
    const std::vector<cv::Mat> whole = gaussianPyramid(image, cv::Mat());
    // Sub-windows starting at odd and even positions, one touching the image's corner.
    const RefWindow windows[] = {{13, 60, 7, 70}, {0, 40, 0, 51}, {20, 63, 33, 79}};
    for (const RefWindow& w : windows) {
        const cv::Mat part = image(cv::Range(w.r0, w.r1 + 1), cv::Range(w.c0, w.c1 + 1)).clone();
        const std::vector<cv::Mat> sub = gaussianPyramid(part, pyramidWindow(w.r0, w.r1, w.c0, w.c1));
        RefWindow lw = w;
        for (size_t l = 0; l < sub.size(); ++l) {
            // Samples whose footprint stays inside the window, or where the window meets the image border.
            const int reach = (2 << l) - 2;
            int compared = 0;
            for (int i = 0; i < sub[l].rows; ++i)
                for (int j = 0; j < sub[l].cols; ++j) {
                    const int y = (lw.r0 + i) << l, x = (lw.c0 + j) << l;
                    const bool inside = (y - reach >= w.r0 || w.r0 == 0) && (y + reach <= w.r1 || w.r1 == 63) &&
                                        (x - reach >= w.c0 || w.c0 == 0) && (x + reach <= w.c1 || w.c1 == 79);
                    if (!inside)
                        continue;
                    ++compared;
                    EXPECT_NEAR(sub[l].at<float>(i, j), whole[l].at<float>(lw.r0 + i, lw.c0 + j), 1e-5)
                        << "level " << l << " at " << i << "," << j;
                }
            if (l < 2) {
                EXPECT_GT(compared, 0);
            }
            lw = lw.child();
        }
    }
}

// ---- The filter against the straightforward implementation ----

struct FilterCase {
    float alpha, beta;
};

class LaplacianMatchesReference : public ::testing::TestWithParam<FilterCase> {};

TEST_P(LaplacianMatchesReference, CoreOnOddSizedImage)
{
    const FilterCase c = GetParam();
    const cv::Mat input = smallLogImage(21, 34, 9);
    Laplacian op;
    op.alpha = c.alpha;
    op.beta = c.beta;
    cv::Mat ours;
    lapfilter_core(op, ours, input);
    EXPECT_LT(maxDifference(ours, refCore(input, c.alpha, c.beta)), 1e-4);
}

TEST_P(LaplacianMatchesReference, WholeOperatorOnRealHdrImage)
{
    const FilterCase c = GetParam();
    cv::Mat input = hdrtest::realHdrImage(cv::Size(38, 25));
    if (input.empty())
        input = hdrtest::syntheticHdrImage(25, 38);
    EXPECT_LT(maxDifference(toneMap(input, c.alpha, c.beta), refToneMap(input, c.alpha, c.beta)), 1e-4);
}

INSTANTIATE_TEST_SUITE_P(SliderRange, LaplacianMatchesReference,
                         ::testing::Values(FilterCase{1.0f, 0.0f}, FilterCase{0.5f, 0.0f}, FilterCase{0.0f, 0.3f},
                                           FilterCase{1.6f, 0.5f}, FilterCase{1.0f, -0.7f}, FilterCase{2.0f, 1.0f},
                                           FilterCase{1.0f, 1.0f}));

// ---- Operator behaviour ----

TEST(Laplacian, AlphaAndBetaOneSkipTheFilter)
{
    const cv::Mat input = hdrtest::syntheticHdrImage(30, 40);
    Laplacian op;
    op.cancel = true;  // the core would return nothing; the skip never reaches it
    op.alpha = 1.0f;
    op.beta = 1.0f;
    cv::Mat out;
    laplacianToneMap(op, out, input);
    EXPECT_TRUE(out.empty()) << "cancel still applies after the normalisation";
    op.cancel = false;
    laplacianToneMap(op, out, input);
    EXPECT_EQ(op.progress.load(), 0) << "the core never ran";
    EXPECT_LT(maxDifference(out, refToneMap(input, 1.0f, 1.0f)), 1e-5);
}

TEST(Laplacian, ThreadCountsAndFailedThreadsGiveIdenticalOutput)
{
    cv::Mat input = hdrtest::realHdrImage(cv::Size(96, 64));
    if (input.empty())
        input = hdrtest::syntheticHdrImage(64, 96);
    cv::Mat single, seven, refused;
    {
        WorkerCountScope scope(1);
        single = toneMap(input, 0.6f, 0.0f);
    }
    {
        WorkerCountScope scope(7);
        seven = toneMap(input, 0.6f, 0.0f);
        setThreadCreateHook(&refuseThread);
        refused = toneMap(input, 0.6f, 0.0f);
        setThreadCreateHook(nullptr);
    }
    EXPECT_EQ(maxDifference(single, seven), 0.0);
    EXPECT_EQ(maxDifference(single, refused), 0.0);
}

TEST(Laplacian, MoreWorkersThanRowsStillFiltersEveryRow)
{
    const cv::Mat input = smallLogImage(3, 40, 4);
    cv::Mat few, many;
    Laplacian op;
    {
        WorkerCountScope scope(1);
        lapfilter_core(op, few, input);
    }
    {
        WorkerCountScope scope(7);
        lapfilter_core(op, many, input);
    }
    EXPECT_EQ(maxDifference(few, many), 0.0);
    EXPECT_LT(maxDifference(many, refCore(input, 1.0f, 0.0f)), 1e-4);
}

TEST(Laplacian, CancelGivesEmptyResultAndNextRunEqualsFirstRun)
{
    const cv::Mat input = hdrtest::syntheticHdrImage(300, 400);
    const float params[3] = {0.7f, 0.2f, -1.0f};
    WorkerCountScope scope(2);
    Laplacian fresh;
    cv::Mat first;
    fresh.apply(first, input, params);

    Laplacian op;
    op.cancel = true;
    cv::Mat out;
    op.apply(out, input, params);
    EXPECT_TRUE(out.empty());

    // Cancel from another thread while the core runs.
    op.cancel = false;
    std::atomic<bool> done{false};
    std::thread canceller([&] {
        while (!done && op.progress.load() < 5)
            std::this_thread::yield();
        op.cancel = true;
    });
    op.apply(out, input, params);
    done = true;
    canceller.join();
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(op.gaussianPyr.empty());
    EXPECT_TRUE(op.laplacianPyr.empty());
    EXPECT_FLOAT_EQ(op.sigmaR, 2.5f);

    op.cancel = false;
    op.apply(out, input, params);
    EXPECT_EQ(maxDifference(out, first), 0.0);
    EXPECT_GE(op.progress.load(), 90);
}

TEST(Laplacian, RunCancelledWhileKeepingStepsLeavesTheKeptSumsWhole)
{
    const cv::Mat input = hdrtest::syntheticHdrImage(300, 400);
    const float first[3] = {0.7f, 0.2f, -1.0f};
    const float second[3] = {1.3f, 0.2f, -1.0f};
    WorkerCountScope scope(2);
    cv::Mat fresh;
    Laplacian().apply(fresh, input, first);

    Laplacian op;
    op.keepInputSteps = true;
    cv::Mat out;
    op.apply(out, input, first);
    // Another alpha, cancelled while its detail sums are being made.
    op.progress = 0;
    std::atomic<bool> done{false};
    std::thread canceller([&] {
        while (!done && op.progress.load() < 5)
            std::this_thread::yield();
        op.cancel = true;
    });
    op.apply(out, input, second);
    done = true;
    canceller.join();
    ASSERT_TRUE(out.empty());
    op.cancel = false;
    op.apply(out, input, first);
    EXPECT_EQ(maxDifference(out, fresh), 0.0);
}

// A drag of alpha on one input, coming back to where it started: every alpha must
// look as a fresh run at it does.
TEST(Laplacian, AlphaDragOnAKeptInputMatchesFreshRuns)
{
    cv::Mat flat(160, 240, CV_32FC3);
    cv::randn(flat, cv::Scalar::all(0.5), cv::Scalar::all(0.005));
    cv::Mat textured = hdrtest::syntheticHdrImage(160, 240);
    cv::Mat grain(textured.size(), textured.type());
    cv::randn(grain, cv::Scalar::all(1.0), cv::Scalar::all(0.1));
    textured = textured.mul(cv::abs(grain));
    const std::vector<float> drag = {1.0f, 0.7f, 0.0f, 0.3f, 2.0f, 1.3f, 1.0f};
    const struct {
        const char* name;
        cv::Mat input;
        std::vector<float> betas;
        std::vector<float> alphas;
    } inputs[] = {
        {"real HDR", hdrtest::realHdrImage(cv::Size(240, 160)), {0.0f, 0.6f}, drag},
        {"noisy texture", textured, {0.0f, 0.6f}, drag},
        {"flat", cv::abs(flat), {0.0f, 0.6f}, drag},
        // Level 1's node sums would not fit the memory budget: it is summed exactly.
        {"just past the node sums' budget", hdrtest::syntheticHdrImage(1000, 1460), {0.6f}, {1.0f, 0.7f, 0.3f}},
    };
    for (const auto& [name, input, betas, alphas] : inputs) {
        if (input.empty())
            continue;
        for (float beta : betas) {
            Laplacian dragged;
            dragged.keepInputSteps = true;
            for (float alpha : alphas) {
                const float params[3] = {alpha, beta, -1.0f};
                cv::Mat preview, fresh;
                dragged.apply(preview, input, params);
                Laplacian().apply(fresh, input, params);
                cv::Mat difference;
                cv::absdiff(preview, fresh, difference);
                double largest = 0.0;
                cv::minMaxLoc(difference.reshape(1), nullptr, &largest);
                const double mean = cv::mean(cv::mean(difference))[0];
                // The input's first two alphas are summed exactly, the others from node sums.
                if (alpha == 1.0f || alpha == 0.7f) {
                    EXPECT_EQ(largest, 0.0) << name << " alpha " << alpha << " beta " << beta;
                }
                EXPECT_LT(largest * 255.0, 1.0) << name << " alpha " << alpha << " beta " << beta;
                EXPECT_LT(mean * 255.0, 0.1) << name << " alpha " << alpha << " beta " << beta;
            }
            // The drag's node sums are kept, within their budget.
            EXPECT_GT(dragged.keptNodeSumBytes(input), 0u) << name;
            EXPECT_LE(dragged.keptNodeSumBytes(input), kNodeSumBudget) << name;
        }
    }
}

TEST(Laplacian, RotatedImageWithBlackCornersStaysFiniteAndNotFlat)
{
    cv::Mat input = hdrtest::realHdrImage(cv::Size(120, 80));
    if (input.empty())
        input = hdrtest::syntheticHdrImage(80, 120);
    cv::Mat rotated;
    rotateImage32F(input, rotated, 0.35);
    cv::Mat luminance;
    laplacianLuminance(luminance, rotated);
    ASSERT_GT(double(cv::countNonZero(luminance == 0.0f)) / luminance.total(), 0.005) << "needs black corners";
    for (float beta : {0.0f, 1.0f}) {
        const cv::Mat out = toneMap(rotated, 1.0f, beta);
        ASSERT_TRUE(cv::checkRange(out));
        cv::Scalar mean, deviation;
        const cv::Mat centre = out(cv::Rect(out.cols / 3, out.rows / 3, out.cols / 3, out.rows / 3));
        cv::meanStdDev(centre.reshape(1), mean, deviation);
        EXPECT_GT(deviation[0], 0.03) << "beta " << beta;
        EXPECT_LT(mean[0], 0.97) << "beta " << beta;
    }
}

TEST(Laplacian, BlackStaysBlackAndFinite)
{
    const cv::Mat black = cv::Mat::zeros(20, 30, CV_32FC3);
    for (float beta : {0.0f, 1.0f, 2.0f}) {
        const cv::Mat out = toneMap(black, 1.0f, beta);
        ASSERT_TRUE(cv::checkRange(out));
        EXPECT_EQ(cv::norm(out, cv::NORM_INF), 0.0) << "beta " << beta;
    }
    // A black pixel inside a lit picture: ratios 0, not 0/0.
    cv::Mat lit = hdrtest::syntheticHdrImage(20, 30);
    lit.at<cv::Vec3f>(4, 5) = cv::Vec3f(0, 0, 0);
    cv::Mat ratios, luminance;
    laplacianLuminance(luminance, lit, &ratios);
    EXPECT_EQ(ratios.at<cv::Vec3f>(4, 5), cv::Vec3f(0, 0, 0));
    const cv::Mat out = toneMap(lit, 1.0f, 0.0f);
    ASSERT_TRUE(cv::checkRange(out));
    EXPECT_EQ(out.at<cv::Vec3f>(4, 5), cv::Vec3f(0, 0, 0));
}

// A rotation draws the picture's outer pixels partly black: further inside, the
// picture renders as it does with its outer pixels whole.
TEST(Laplacian, PartlyCoveredEdgeChangesNothingFurtherInside)
{
    const cv::Mat picture = hdrtest::syntheticHdrImage(80, 120);
    const cv::Rect within(1, 1, picture.cols - 2, picture.rows - 2);
    const cv::Rect inside(6 + 3, 6 + 3, picture.cols - 6, picture.rows - 6);
    auto framed = [&](double cover) {
        cv::Mat edged;
        picture.convertTo(edged, -1, cover);
        picture(within).copyTo(edged(within));
        cv::Mat result;
        cv::copyMakeBorder(edged, result, 6, 6, 6, 6, cv::BORDER_CONSTANT, cv::Scalar::all(0));
        return result;
    };
    for (const cv::Vec2f& parameters : {cv::Vec2f(1.0f, 0.0f), cv::Vec2f(0.5f, -0.5f)}) {
        const cv::Mat whole = toneMap(framed(1.0), parameters[0], parameters[1]);
        for (const double cover : {0.5, 0.1}) {
            const cv::Mat out = toneMap(framed(cover), parameters[0], parameters[1]);
            EXPECT_LE(cv::norm(out(inside), whole(inside), cv::NORM_INF), 1.0 / 255.0)
                << "alpha " << parameters[0] << ", beta " << parameters[1] << ", edge covered " << cover;
        }
    }
}

// A preview filters the picture reduced, its export the whole picture. Where light and
// shade are wider than a reduced pixel, the reduced export looks like the preview:
// the filter's reach and level count follow the picture, not its pixels. (An edge
// within one pixel mixes before rendering in one and after it in the other, and the
// pyramid's zero border reaches further into the smaller picture: neither is tested.)
TEST(Laplacian, SmoothPictureRendersAlikeAtAThirdOfItsSize)
{
    cv::Mat coarse(8, 12, CV_32FC3);
    cv::RNG(3).fill(coarse, cv::RNG::UNIFORM, -3.0f, 3.0f);
    cv::Mat logScene, picture, reducedPicture, reducedExport, difference;
    cv::resize(coarse, logScene, cv::Size(540, 360), 0.0, 0.0, cv::INTER_LINEAR);
    cv::GaussianBlur(logScene, logScene, cv::Size(0, 0), 9.0);
    cv::exp(logScene, picture);
    cv::resize(picture, reducedPicture, picture.size() / 3, 0.0, 0.0, cv::INTER_AREA);
    cv::resize(toneMap(picture, 1.0f, 0.0f), reducedExport, reducedPicture.size(), 0.0, 0.0, cv::INTER_AREA);
    cv::absdiff(toneMap(reducedPicture, 1.0f, 0.0f, 1.0f / 3.0f), reducedExport, difference);
    const cv::Mat inside = difference(cv::Rect(8, 8, difference.cols - 16, difference.rows - 16));
    EXPECT_LE(cv::mean(cv::mean(inside))[0], 1.0 / 255.0);
    EXPECT_LE(cv::norm(inside, cv::NORM_INF), 6.0 / 255.0);
}

TEST(Laplacian, GreyInputGivesGreyOutput)
{
    const cv::Mat grey = hdrtest::syntheticHdrImage(24, 30, 1);
    const cv::Mat out = toneMap(grey, 1.0f, 0.0f);
    ASSERT_EQ(out.type(), CV_32FC1);
    ASSERT_EQ(out.size(), grey.size());
    double low, high;
    cv::minMaxLoc(out, &low, &high);
    EXPECT_GE(low, 0.0);
    EXPECT_LE(high, 1.0);
}

TEST(Laplacian, OnePixelRowOrColumnPassesThroughTheCore)
{
    const cv::Size sizes[] = {{1, 1}, {17, 1}, {1, 13}};
    for (const cv::Size& size : sizes) {
        const cv::Mat input(size, CV_32FC3, cv::Scalar(0.3, 0.3, 0.3));
        Laplacian op;
        cv::Mat core;
        const cv::Mat logLuminance = smallLogImage(size.height, size.width, 2);
        lapfilter_core(op, core, logLuminance);
        EXPECT_LT(maxDifference(core, logLuminance), 1e-6);
        const cv::Mat out = toneMap(input, 1.0f, 0.0f);
        EXPECT_LT(maxDifference(out, cv::Mat(size, CV_32FC3, cv::Scalar(1, 1, 1))), 1e-5) << size;
    }
}

TEST(Laplacian, RejectsOtherChannelCountsAndOversizedImages)
{
    cv::Mat luminance;
    EXPECT_TRUE(laplacianLuminance(luminance, cv::Mat::ones(4, 4, CV_32FC2)).empty());
    const cv::Mat grey = cv::Mat::ones(4, 4, CV_32F);
    EXPECT_EQ(laplacianLuminance(luminance, grey).data, grey.data) << "shared, not copied";
    EXPECT_TRUE(toneMap(cv::Mat::ones(4, 4, CV_32FC2), 1.0f, 0.0f).empty());
    // Pyramid windows hold 16-bit coordinates: a longer side is refused, not garbled.
    setLogDirectory(testmedia::makeTempDir("laplacian-log").toStdString() + "/");
    EXPECT_TRUE(toneMap(cv::Mat::ones(1, 40000, CV_32FC3), 1.0f, 0.0f).empty());
    EXPECT_FALSE(toneMap(cv::Mat::ones(1, 32767, CV_32FC3), 1.0f, 0.0f).empty());
}

TEST(Laplacian, LogDomainRoundTrip)
{
    const cv::Mat values = (cv::Mat_<float>(1, 4) << 0.0f, 1e-3f, 1.0f, 500.0f);
    EXPECT_NEAR(toLogDomain(values).at<float>(0, 0), std::log(1.1920929e-7f), 1e-4);
    EXPECT_LT(maxDifference(fromLogDomain(toLogDomain(values)), values), 1e-3);
}

// ---- matPercentile ----

struct PercentileCase {
    float p;
    float expected;
};

class MatPercentileOfOneToFour : public ::testing::TestWithParam<PercentileCase> {};

TEST_P(MatPercentileOfOneToFour, GivesTheInterpolatedValue)
{
    const PercentileCase c = GetParam();
    const cv::Mat values = (cv::Mat_<float>(1, 4) << 3.0f, 1.0f, 4.0f, 2.0f);
    EXPECT_FLOAT_EQ(matPercentile(values, c.p, false), c.expected);
    cv::Mat sorted;
    EXPECT_FLOAT_EQ(matPercentile(values, c.p, false, &sorted), c.expected);
    if (c.expected >= 0.0f) {
        const cv::Mat ascendingValues = (cv::Mat_<float>(1, 4) << 1, 2, 3, 4);
        EXPECT_EQ(cv::norm(sorted, ascendingValues, cv::NORM_INF), 0.0);
        EXPECT_FLOAT_EQ(matPercentile(sorted, c.p, true), c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, MatPercentileOfOneToFour,
                         ::testing::Values(PercentileCase{50.0f, 2.5f}, PercentileCase{0.0f, 1.0f},
                                           PercentileCase{99.5f, 4.0f}, PercentileCase{12.5f, 1.0f},
                                           PercentileCase{25.0f, 1.5f}, PercentileCase{87.5f, 4.0f},
                                           PercentileCase{101.0f, -1.0f}, PercentileCase{-0.5f, -1.0f}));

TEST(MatPercentile, SelectionAgreesWithTheSortOnRandomData)
{
    cv::Mat values(1, 1001, CV_32F);
    cv::RNG(99).fill(values, cv::RNG::NORMAL, 0.0, 10.0);
    cv::Mat sorted;
    matPercentile(values, 50.0f, false, &sorted);
    for (float p : {0.0f, 0.01f, 0.5f, 33.3f, 50.0f, 99.5f, 99.99f, 100.0f}) {
        const std::vector<float> v(values.begin<float>(), values.end<float>());
        EXPECT_FLOAT_EQ(matPercentile(values, p, false), refPercentile(v, p)) << p;
        EXPECT_FLOAT_EQ(matPercentile(sorted, p, true), refPercentile(v, p)) << p;
    }
}

TEST(MatPercentile, SingleValueAndBadInput)
{
    EXPECT_FLOAT_EQ(matPercentile(cv::Mat(1, 1, CV_32F, cv::Scalar(7.0f)), 80.0f, false), 7.0f);
    EXPECT_FLOAT_EQ(matPercentile(cv::Mat::ones(2, 2, CV_32FC3), 50.0f, false), -1.0f);
    EXPECT_FLOAT_EQ(matPercentile(cv::Mat(), 50.0f, false), -1.0f);
}

}  // namespace
