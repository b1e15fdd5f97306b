// The local Laplacian filter, direct form: each coefficient of the output pyramid is
// the coefficient, at the same place, of the Laplacian pyramid of the input remapped
// around the Gaussian-pyramid value there.
//
// Building that pyramid is linear in the remapped samples, and its reductions and
// its renormalised expansion are separable, so the coefficient at level lev, (y0, x0)
// is sum over the window of (a(y) b(x) - c(y) d(x)) r(I(y, x)): a and b weigh the
// samples of the Gaussian value, c and d those of the expansion of the next level,
// with the zero border of the image built in. The four 1-D weight vectors depend only
// on the level and the position, so they are made once per run, and each coefficient
// costs one remap and two dot products per window sample and no intermediate images.
#include "Laplacian.h"

#include "Log.h"
#include "Pyramid.h"
#include "Threads.h"
#include "WorkerCount.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

namespace {

constexpr float kTaps[5] = {0.05f, 0.25f, 0.4f, 0.25f, 0.05f};
constexpr int kLanes = 8;

// The hot loops get an AVX2 build beside the baseline one, picked at load time
// (not under ThreadSanitizer, which is not ready yet when the pick runs).
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(VB_NO_FUNCTION_MULTIVERSIONING)
#define VB_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VB_VECTOR_CLONES
#endif

struct RowSums {
    float detail;
    float expansion;
};

constexpr int kDetailSteps = 16384;

struct RemapParameters {
    float alpha;
    float beta;
    float noiseLevel;
    float threshold;
    // alpha != 1: s f(t) at t = i / kDetailSteps, i = 0 .. kDetailSteps, and once more
    // at the end so that t = 1 interpolates without a test.
    std::vector<float> detailCurve;
};

// The detail curve s f(t) for t in [0, 1]: t^alpha, blended towards t in the noise when
// alpha < 1. Tabulated once per run and read by linear interpolation, it stays within
// about 1e-5 of the power function: where t^alpha bends sharply (alpha < 1, t near 0)
// the blend has replaced it by t, a straight line.
std::vector<float> detailCurve(float alpha, float threshold, float noiseLevel)
{
    std::vector<float> curve(kDetailSteps + 2);
    for (int i = 0; i <= kDetailSteps; ++i) {
        const double t = double(i) / kDetailSteps;
        double f = std::pow(t, double(alpha));
        if (alpha < 1.0f) {
            const double u = std::min(std::max((t * threshold - noiseLevel) / noiseLevel, 0.0), 1.0);
            const double tau = u * u * (u - 2.0) * (u - 2.0);
            f = (f - t) * tau + t;
        }
        curve[i] = float(threshold * f);
    }
    curve[kDetailSteps + 1] = curve[kDetailSteps];
    return curve;
}

// Eight floats; the AVX2 clones keep one in a register, the baseline ones in two.
// Passed by reference: vector arguments and results would change the baseline ABI.
typedef float Float8 __attribute__((vector_size(32)));
typedef int Int8 __attribute__((vector_size(32)));

#define VB_INLINE __attribute__((always_inline)) inline

VB_INLINE void load8(Float8& v, const float* p)
{
    std::memcpy(&v, p, sizeof v);
}

// r(i, g0) - g0 for eight samples: details follow the detail curve, edges beyond the
// threshold are scaled by beta.
VB_INLINE void remapVector(const Float8& in, float g0, const RemapParameters& p, Float8& out)
{
    const Float8 deviation = in - g0;
    const Float8 zero{};
    const Float8 one = zero + 1.0f;
    const Float8 d = deviation < zero ? -deviation : deviation;
    const Float8 s = zero + p.threshold;
    if (p.alpha == 1.0f) {
        const Float8 clipped = d < s ? deviation : (deviation < zero ? -s : s);
        out = clipped + p.beta * (deviation - clipped);
        return;
    }
    const Float8 sign = deviation > zero ? one : (deviation < zero ? -one : zero);
    const Float8 position = (d < s ? d : s) * (kDetailSteps / p.threshold);
    const Int8 step = __builtin_convertvector(position, Int8);
    const Float8 fraction = position - __builtin_convertvector(step, Float8);
    const float* curve = p.detailCurve.data();
    Float8 below, above;
    for (int k = 0; k < kLanes; ++k) {
        below[k] = curve[step[k]];
        above[k] = curve[step[k] + 1];
    }
    const Float8 detail = below + fraction * (above - below);
    out = d > s ? sign * (p.beta * (d - s) + s) : sign * detail;
}

// The remap fused with the dot products of one window row; the detail sum only when
// kDetail (the row lies within the Gaussian value's footprint).
template <bool kDetail>
VB_INLINE void accumulateRow(const float* in, const float* b, const float* d, int n, float g0,
                             const RemapParameters& p, Float8& detail, Float8& expansion)
{
    Float8 values, remapped, weights;
    int x = 0;
    for (; x + kLanes <= n; x += kLanes) {
        load8(values, in + x);
        remapVector(values, g0, p, remapped);
        if (kDetail) {
            load8(weights, b + x);
            detail += weights * remapped;
        }
        load8(weights, d + x);
        expansion += weights * remapped;
    }
    if (x < n && n >= kLanes) {
        // The last group overlaps the previous one; lanes already counted get zero weight.
        const int start = n - kLanes;
        const Int8 lane = Int8{0, 1, 2, 3, 4, 5, 6, 7} + start;
        const Int8 fresh = lane >= x;
        load8(values, in + start);
        remapVector(values, g0, p, remapped);
        if (kDetail) {
            load8(weights, b + start);
            detail += (fresh ? weights : Float8{}) * remapped;
        }
        load8(weights, d + start);
        expansion += (fresh ? weights : Float8{}) * remapped;
    } else if (x < n) {
        // Rows shorter than a group: padded with g0, which remaps to 0, and zero weights.
        float tail[3][kLanes];
        for (int k = 0; k < kLanes; ++k) {
            const bool inside = k < n;
            tail[0][k] = inside ? in[k] : g0;
            tail[1][k] = inside && kDetail ? b[k] : 0.0f;
            tail[2][k] = inside ? d[k] : 0.0f;
        }
        load8(values, tail[0]);
        remapVector(values, g0, p, remapped);
        load8(weights, tail[1]);
        detail += weights * remapped;
        load8(weights, tail[2]);
        expansion += weights * remapped;
    }
}

// b null: the detail sum is not needed for this row.
VB_VECTOR_CLONES RowSums remappedRowSums(const float* in, const float* b, const float* d, int n, float g0,
                                         const RemapParameters& p)
{
    Float8 detail{};
    Float8 expansion{};
    if (b)
        accumulateRow<true>(in, b, d, n, g0, p, detail, expansion);
    else
        accumulateRow<false>(in, b, d, n, g0, p, detail, expansion);
    RowSums sums{0.0f, 0.0f};
    for (int k = 0; k < kLanes; ++k) {
        sums.detail += detail[k];
        sums.expansion += expansion[k];
    }
    return sums;
}

// Weights along one axis, for every position of one level: over the full-resolution
// span [first, first + count), the weights of the Gaussian value (`detail`) and of
// the renormalised expansion of the next level (`expansion`), `stride` apart.
struct AxisWeights {
    int stride = 0;
    std::vector<int> first;
    std::vector<int> count;
    std::vector<float> detail;
    std::vector<float> expansion;
    std::vector<float> detailSum;
    std::vector<float> expansionSum;
};

// A weight vector over positions [origin, origin + size) of one level.
struct Weights {
    int origin;
    std::vector<double> values;
};

// Carries level-j weights down to level j - 1: the adjoint of the reduction, with the
// samples beyond the border dropped as the zero border drops them.
Weights spreadDown(const Weights& level, int lowerSize)
{
    const int low = std::max(0, 2 * level.origin - 2);
    const int high = std::min(lowerSize - 1, 2 * (level.origin + int(level.values.size()) - 1) + 2);
    Weights lower{low, std::vector<double>(high - low + 1, 0.0)};
    for (size_t i = 0; i < level.values.size(); ++i) {
        const int centre = 2 * (level.origin + int(i));
        for (int t = 0; t < 5; ++t) {
            const int position = centre - 2 + t;
            if (position >= low && position <= high)
                lower.values[position - low] += kTaps[t] * level.values[i];
        }
    }
    return lower;
}

Weights spreadToFullResolution(Weights weights, int fromLevel, const std::vector<int>& sizes)
{
    for (int level = fromLevel; level > 0; --level)
        weights = spreadDown(weights, sizes[level - 1]);
    return weights;
}

void storeWeights(const Weights& weights, int first, float* target, float& sum)
{
    double total = 0.0;
    for (size_t i = 0; i < weights.values.size(); ++i) {
        target[weights.origin - first + int(i)] = float(weights.values[i]);
        total += weights.values[i];
    }
    sum = float(total);
}

// sizes: the axis length at every level of the pyramid.
AxisWeights axisWeights(int lev, const std::vector<int>& sizes)
{
    const int reach = 6 * (1 << lev) - 2;
    AxisWeights axis;
    axis.stride = std::min(2 * reach + 1, sizes[0]);
    const int positions = sizes[lev];
    axis.first.resize(positions);
    axis.count.resize(positions);
    axis.detail.assign(size_t(positions) * axis.stride, 0.0f);
    axis.expansion.assign(size_t(positions) * axis.stride, 0.0f);
    axis.detailSum.resize(positions);
    axis.expansionSum.resize(positions);
    for (int y0 = 0; y0 < positions; ++y0) {
        const int centre = y0 << lev;
        const int first = std::max(0, centre - reach);
        axis.first[y0] = first;
        axis.count[y0] = std::min(sizes[0] - 1, centre + reach) - first + 1;
        const Weights detail = spreadToFullResolution({y0, {1.0}}, lev, sizes);
        storeWeights(detail, first, &axis.detail[size_t(y0) * axis.stride], axis.detailSum[y0]);
        // The expansion at y0 averages the next level's samples at even p within 2,
        // weighted by the kernel and renormalised by the weights that fall inside.
        const int low = (std::max(0, y0 - 2) + 1) / 2;
        const int high = std::min(sizes[lev] - 1, y0 + 2) / 2;
        Weights coarse{low, {}};
        double total = 0.0;
        for (int q = low; q <= high; ++q) {
            coarse.values.push_back(kTaps[2 * q - y0 + 2]);
            total += kTaps[2 * q - y0 + 2];
        }
        for (double& v : coarse.values)
            v /= total;
        const Weights expansion = spreadToFullResolution(coarse, lev + 1, sizes);
        storeWeights(expansion, first, &axis.expansion[size_t(y0) * axis.stride], axis.expansionSum[y0]);
    }
    return axis;
}

struct CoreJob {
    const cv::Mat* input;
    const std::vector<cv::Mat>* gaussian;
    std::vector<cv::Mat>* laplacian;
    const std::vector<AxisWeights>* rowWeights;
    const std::vector<AxisWeights>* columnWeights;
    int levels;
    int workers;
    RemapParameters remap;
    Laplacian* op;
    std::atomic<bool> failed{false};

    bool stopRequested() const
    {
        return op->cancel.load(std::memory_order_relaxed) || failed.load(std::memory_order_relaxed);
    }
};

// Level-lev coefficient at (y0, x0); false when stopped.
bool computeCoefficient(const CoreJob& job, int lev, int y0, int x0, float& coefficient)
{
    const float g0 = (*job.gaussian)[lev].at<float>(y0, x0);
    const AxisWeights& rows = (*job.rowWeights)[lev];
    const AxisWeights& columns = (*job.columnWeights)[lev];
    const float* a = &rows.detail[size_t(y0) * rows.stride];
    const float* c = &rows.expansion[size_t(y0) * rows.stride];
    const float* b = &columns.detail[size_t(x0) * columns.stride];
    const float* d = &columns.expansion[size_t(x0) * columns.stride];
    const int firstRow = rows.first[y0];
    const int firstColumn = columns.first[x0];
    const int width = columns.count[x0];
    // Deviations from g0 keep the sums small; g0 times the weights' total comes back at the end.
    double total = 0.0;
    for (int i = 0; i < rows.count[y0]; ++i) {
        if (job.stopRequested())
            return false;
        if (a[i] == 0.0f && c[i] == 0.0f)
            continue;
        const float* in = job.input->ptr<float>(firstRow + i) + firstColumn;
        const RowSums sums = remappedRowSums(in, a[i] != 0.0f ? b : nullptr, d, width, g0, job.remap);
        total += double(a[i]) * sums.detail - double(c[i]) * sums.expansion;
    }
    const double weightTotal = double(rows.detailSum[y0]) * columns.detailSum[x0] -
                               double(rows.expansionSum[y0]) * columns.expansionSum[x0];
    coefficient = float(total + g0 * weightTotal);
    return true;
}

void raiseProgress(std::atomic<int>& progress, int value)
{
    int current = progress.load();
    while (current < value && !progress.compare_exchange_weak(current, value)) {
    }
}

// Worker k takes runs k, k + T, k + 2T ... of every level's coefficients in row-major
// order, so each coefficient has one owner and the costly coarse levels spread over
// all workers. Runs of up to 16 keep workers from writing the same cache line.
void lapfilterCoreThread(int k, CoreJob& job)
{
    try {
        int base = 0;
        int weight = 50;
        for (int lev = 0; lev < job.levels - 1; ++lev) {
            cv::Mat& target = (*job.laplacian)[lev];
            const long long rows = target.rows;
            const long long columns = target.cols;
            const long long total = rows * columns;
            const long long step = rows / 10;
            const long long run = std::max(1LL, std::min(16LL, total / (64LL * job.workers)));
            for (long long first = k * run; first < total; first += run * job.workers) {
                for (long long i = first; i < std::min(first + run, total); ++i) {
                    const int y0 = int(i / columns);
                    const int x0 = int(i % columns);
                    if (!computeCoefficient(job, lev, y0, x0, target.at<float>(y0, x0)))
                        return;
                    // Whoever finishes a row's last coefficient reports the row.
                    if (rows >= 10 && x0 == columns - 1 && y0 % step == 0)
                        raiseProgress(job.op->progress, base + int(y0 * weight / rows));
                }
            }
            base += weight;
            weight /= 2;
        }
    } catch (const std::exception& error) {
        job.failed = true;
        logError("lapfilterCoreThread", error.what());
    }
}

}  // namespace

cv::Mat& lapfilter_core(Laplacian& op, cv::Mat& out, const cv::Mat& input)
{
    op.gaussianPyr = gaussianPyramid(input, cv::Mat());
    if (op.cancel) {
        out = cv::Mat();
        return out;
    }
    const int levels = int(op.gaussianPyr.size());
    // Only the sizes matter below the top level: every coefficient there is replaced.
    op.laplacianPyr.clear();
    std::vector<int> rowSizes;
    std::vector<int> columnSizes;
    for (const cv::Mat& level : op.gaussianPyr) {
        rowSizes.push_back(level.rows);
        columnSizes.push_back(level.cols);
    }
    std::vector<AxisWeights> rowWeights;
    std::vector<AxisWeights> columnWeights;
    for (int lev = 0; lev < levels - 1; ++lev) {
        op.laplacianPyr.push_back(cv::Mat(op.gaussianPyr[lev].size(), CV_32F));
        rowWeights.push_back(axisWeights(lev, rowSizes));
        columnWeights.push_back(axisWeights(lev, columnSizes));
    }
    op.laplacianPyr.push_back(op.gaussianPyr.back());
    op.progress = 0;

    CoreJob job;
    job.input = &input;
    job.gaussian = &op.gaussianPyr;
    job.laplacian = &op.laplacianPyr;
    job.rowWeights = &rowWeights;
    job.columnWeights = &columnWeights;
    job.levels = levels;
    job.workers = std::max(1, std::min(toneMappingWorkerCount(), input.rows));
    const float threshold = std::log(op.sigmaR);
    job.remap = {op.alpha, op.beta, op.noiseLevel, threshold,
                 op.alpha == 1.0f ? std::vector<float>() : detailCurve(op.alpha, threshold, op.noiseLevel)};
    job.op = &op;

    runOnWorkerThreads(job.workers, [&job](int k) { lapfilterCoreThread(k, job); });

    if (op.cancel || job.failed) {
        out = cv::Mat();
        return out;
    }
    out = reconstructLaplacianPyramid(op.laplacianPyr, cv::Mat());
    return out;
}
