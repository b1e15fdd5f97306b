// The local Laplacian filter, direct form: each coefficient of the output pyramid is
// the coefficient, at the same place, of the Laplacian pyramid of the input remapped
// around the Gaussian-pyramid value there.
//
// Building that pyramid is linear in the remapped samples, and its reductions and
// its renormalised expansion are separable, so the coefficient at level lev, (y0, x0)
// is sum over the window of (a(y) b(x) - c(y) d(x)) r(I(y, x)): a and b weigh the
// samples of the Gaussian value, c and d those of the expansion of the next level,
// with the zero border of the image built in. The four 1-D weight vectors depend only
// on the level and the position, so they are made once per input, and each coefficient
// costs one remap and a few dot products per window sample and no intermediate images.
#include "LaplacianFilterCore.h"

#include "DetailCurveNodes.h"
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
#define VB_AVX2_BUILD
#include <immintrin.h>
#endif

constexpr int kDetailSteps = 16384;
// How many alphas of one input are summed exactly before node sums are made.
constexpr size_t kExactAlphas = 2;
// Neighbouring samples mostly fall between the same nodes: spread over this many
// copies of the sums, their additions do not wait for one another.
constexpr int kNodeSumCopies = 2;

struct RemapParameters {
    float alpha;
    float threshold;
    // alpha != 1: s f(t) at t = i / kDetailSteps, i = 0 .. kDetailSteps, and once more
    // at the end so that t = 1 interpolates without a test.
    std::vector<float> detailCurve;
};

// The detail curve tabulated once per run and read by linear interpolation: it
// stays within about 1e-5 of the power function, as where t^alpha bends sharply
// (alpha < 1, t near 0) the blend has replaced it by t, a straight line.
std::vector<float> detailCurve(float alpha, float threshold, float noiseLevel)
{
    std::vector<float> curve(kDetailSteps + 2);
    for (int i = 0; i <= kDetailSteps; ++i)
        curve[i] = float(detailCurveValue(double(i) / kDetailSteps, alpha, threshold, noiseLevel));
    curve[kDetailSteps + 1] = curve[kDetailSteps];
    return curve;
}

// Eight floats; the AVX2 clones keep one in a register, the baseline ones in two.
// Passed by reference: vector arguments and results would change the baseline ABI.
typedef float Float8 __attribute__((vector_size(32)));
typedef int Int8 __attribute__((vector_size(32)));
typedef float Float4 __attribute__((vector_size(16)));
typedef double Double4 __attribute__((vector_size(32)));

#define VB_INLINE __attribute__((always_inline)) inline

VB_INLINE void load8(Float8& v, const float* p)
{
    std::memcpy(&v, p, sizeof v);
}

// The detail curve at eight steps and the steps after them, lane by lane.
struct LaneLookup {
    static VB_INLINE void read(const float* curve, const Int8& step, Float8& below, Float8& above)
    {
        for (int k = 0; k < kLanes; ++k) {
            below[k] = curve[step[k]];
            above[k] = curve[step[k] + 1];
        }
    }
};

#ifdef VB_AVX2_BUILD
// The same by two gathers. Not forced inline, which the baseline callers of the
// templates below would refuse: it is inlined into the AVX2 build that uses it.
struct GatherLookup {
    __attribute__((target("avx2"))) static inline void read(const float* curve, const Int8& step, Float8& below,
                                                            Float8& above)
    {
        below = Float8(_mm256_i32gather_ps(curve, __m256i(step), 4));
        above = Float8(_mm256_i32gather_ps(curve + 1, __m256i(step), 4));
    }
};
#endif

// What the remapping of one window needs, in lanes.
struct RemapVectors {
    Float8 g0;
    Float8 threshold;
    Float8 scale;  // detail curve steps per unit of deviation
    const float* curve;
};

VB_INLINE void makeRemapVectors(float g0, const RemapParameters& p, RemapVectors& v)
{
    const Float8 zero{};
    v.g0 = zero + g0;
    v.threshold = zero + p.threshold;
    v.scale = zero + kDetailSteps / p.threshold;
    v.curve = p.detailCurve.data();
}

// r(i, g0) - g0 for eight samples, split into its detail part (the detail curve when
// kCurve, else the deviation itself, held at the threshold beyond it) and its edge
// part (how far beyond the threshold the sample lies), which beta scales.
template <typename Lookup, bool kCurve, bool kEdges>
VB_INLINE void remapVector(const Float8& in, const RemapVectors& r, Float8& detail, Float8& edge)
{
    const Float8 deviation = in - r.g0;
    const Float8 s = r.threshold;
    if (kEdges) {
        const Float8 clipped = deviation > s ? s : (deviation < -s ? -s : deviation);
        edge = deviation - clipped;
        if (!kCurve)
            detail = clipped;
    }
    if (!kCurve) {
        if (!kEdges)
            detail = deviation > s ? s : (deviation < -s ? -s : deviation);
        return;
    }
    // The curve is read at |deviation| and takes the deviation's sign back: its values are not negative.
    const Int8 signBit = Int8(deviation) & int(0x80000000);
    const Float8 d = Float8(Int8(deviation) ^ signBit);
    const Float8 position = (d < s ? d : s) * r.scale;
    const Int8 step = __builtin_convertvector(position, Int8);
    const Float8 fraction = position - __builtin_convertvector(step, Float8);
    Float8 below, above;
    Lookup::read(r.curve, step, below, above);
    detail = Float8(Int8(below + fraction * (above - below)) | signBit);
}

struct CoreJob {
    const cv::Mat* input;
    const LaplacianCoreSteps* steps;
    std::vector<cv::Mat>* laplacian;
    // The sums per coefficient: read from these pyramids when not computed, and
    // written to them when computed and stored.
    std::vector<cv::Mat>* detailSums;
    std::vector<cv::Mat>* edgeSums;
    bool computeDetail;
    // Whether the edge sums enter the coefficients at all (beta scales them).
    bool edges;
    bool computeEdges;
    bool storeSums;
    int levels;
    int workers;
    float beta;
    RemapParameters remap;
    // Levels from firstNodeLevel up take their detail sums from node sums, made
    // (computeNodeSums) or read, and weighted by the curve's values at the nodes.
    int firstNodeLevel;
    const DetailCurveNodes* nodes;
    std::vector<cv::Mat>* nodeSums;
    bool computeNodeSums;
    std::vector<float> nodeValues;
    Laplacian* op;
    std::atomic<bool> failed{false};

    bool stopRequested() const
    {
        return op->cancel.load(std::memory_order_relaxed) || failed.load(std::memory_order_relaxed);
    }
};

// One coefficient's window: its first sample, the input's row step, the weights of
// its rows (a, c) and columns (b, d).
struct Window {
    const float* first;
    size_t step;
    const float* a;
    const float* c;
    const float* b;
    const float* d;
    int rows;
    int width;
};

// Lane sums of the weighted remapped samples: detail part and edge part.
struct Sums8 {
    Float8 detail{};
    Float8 edge{};
};

template <typename Lookup, bool kCurve, bool kEdges>
VB_INLINE void accumulate(const Float8& values, const Float8& weights, const RemapVectors& r, Sums8& sums)
{
    Float8 detail, edge;
    remapVector<Lookup, kCurve, kEdges>(values, r, detail, edge);
    sums.detail += weights * detail;
    if (kEdges)
        sums.edge += weights * edge;
}

// One window row, every sample weighted by a b(x) - c d(x).
template <typename Lookup, bool kCurve, bool kEdges>
VB_INLINE void accumulateRow(const float* in, float a, float c, const float* b, const float* d, int n,
                             const RemapVectors& r, Sums8& sums)
{
    Float8 values, bWeights, dWeights;
    int x = 0;
    for (; x + kLanes <= n; x += kLanes) {
        load8(values, in + x);
        load8(bWeights, b + x);
        load8(dWeights, d + x);
        accumulate<Lookup, kCurve, kEdges>(values, a * bWeights - c * dWeights, r, sums);
    }
    if (x < n && n >= kLanes) {
        // The last group overlaps the previous one; lanes already counted get zero weight.
        const int start = n - kLanes;
        const Int8 lane = Int8{0, 1, 2, 3, 4, 5, 6, 7} + start;
        const Int8 fresh = lane >= x;
        load8(values, in + start);
        load8(bWeights, b + start);
        load8(dWeights, d + start);
        accumulate<Lookup, kCurve, kEdges>(values, fresh ? a * bWeights - c * dWeights : Float8{}, r, sums);
    } else if (x < n) {
        // Rows shorter than a group: padded with g0, which remaps to 0, and zero weights.
        float tail[3][kLanes];
        for (int k = 0; k < kLanes; ++k) {
            const bool inside = k < n;
            tail[0][k] = inside ? in[k] : r.g0[0];
            tail[1][k] = inside ? b[k] : 0.0f;
            tail[2][k] = inside ? d[k] : 0.0f;
        }
        load8(values, tail[0]);
        load8(bWeights, tail[1]);
        load8(dWeights, tail[2]);
        accumulate<Lookup, kCurve, kEdges>(values, a * bWeights - c * dWeights, r, sums);
    }
}

// Each row's float lanes go into double lanes, so that a large window loses no precision.
struct DoubleSums {
    Double4 low{};
    Double4 high{};

    VB_INLINE void add(const Float8& v)
    {
        Float4 half;
        std::memcpy(&half, &v, sizeof half);
        low += __builtin_convertvector(half, Double4);
        std::memcpy(&half, reinterpret_cast<const char*>(&v) + sizeof half, sizeof half);
        high += __builtin_convertvector(half, Double4);
    }

    VB_INLINE double total() const
    {
        const Double4 both = low + high;
        return (both[0] + both[1]) + (both[2] + both[3]);
    }
};

template <typename Lookup, bool kCurve, bool kEdges>
VB_INLINE bool sumWindowRows(const CoreJob& job, const Window& w, const RemapVectors& r, DoubleSums& detail,
                             DoubleSums& edge)
{
    for (int i = 0; i < w.rows; ++i) {
        if (job.stopRequested())
            return false;
        if (w.a[i] == 0.0f && w.c[i] == 0.0f)
            continue;
        Sums8 sums;
        accumulateRow<Lookup, kCurve, kEdges>(w.first + i * w.step, w.a[i], w.c[i], w.b, w.d, w.width, r, sums);
        detail.add(sums.detail);
        if (kEdges)
            edge.add(sums.edge);
    }
    return true;
}

// The window's detail sum and, when edge is given, its edge sum, as deviations from
// g0; false when stopped.
template <typename Lookup>
VB_INLINE bool sumWindow(const CoreJob& job, const Window& w, float g0, double& detail, double* edge)
{
    RemapVectors r;
    makeRemapVectors(g0, job.remap, r);
    DoubleSums detailSums;
    DoubleSums edgeSums;
    const bool curve = job.remap.alpha != 1.0f;
    const bool done = curve ? (edge ? sumWindowRows<Lookup, true, true>(job, w, r, detailSums, edgeSums)
                                    : sumWindowRows<Lookup, true, false>(job, w, r, detailSums, edgeSums))
                            : (edge ? sumWindowRows<Lookup, false, true>(job, w, r, detailSums, edgeSums)
                                    : sumWindowRows<Lookup, false, false>(job, w, r, detailSums, edgeSums));
    if (!done)
        return false;
    detail = detailSums.total();
    if (edge)
        *edge = edgeSums.total();
    return true;
}

#ifdef VB_AVX2_BUILD
__attribute__((target("default"))) bool remappedWindowSums(const CoreJob& job, const Window& w, float g0,
                                                           double& detail, double* edge)
{
    return sumWindow<LaneLookup>(job, w, g0, detail, edge);
}

__attribute__((target("avx2"))) bool remappedWindowSums(const CoreJob& job, const Window& w, float g0, double& detail,
                                                        double* edge)
{
    return sumWindow<GatherLookup>(job, w, g0, detail, edge);
}
#else
bool remappedWindowSums(const CoreJob& job, const Window& w, float g0, double& detail, double* edge)
{
    return sumWindow<LaneLookup>(job, w, g0, detail, edge);
}
#endif

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
    axis.gaussian.assign(size_t(positions) * axis.stride, 0.0f);
    axis.expansion.assign(size_t(positions) * axis.stride, 0.0f);
    axis.gaussianSum.resize(positions);
    axis.expansionSum.resize(positions);
    for (int y0 = 0; y0 < positions; ++y0) {
        const int centre = y0 << lev;
        const int first = std::max(0, centre - reach);
        axis.first[y0] = first;
        axis.count[y0] = std::min(sizes[0] - 1, centre + reach) - first + 1;
        const Weights gaussian = spreadToFullResolution({y0, {1.0}}, lev, sizes);
        storeWeights(gaussian, first, &axis.gaussian[size_t(y0) * axis.stride], axis.gaussianSum[y0]);
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

// The window of the level-lev coefficient at (y0, x0).
Window windowOf(const CoreJob& job, int lev, int y0, int x0)
{
    const AxisWeights& rows = job.steps->rowWeights[lev];
    const AxisWeights& columns = job.steps->columnWeights[lev];
    return {job.input->ptr<float>(rows.first[y0]) + columns.first[x0],
            job.input->step1(),
            &rows.gaussian[size_t(y0) * rows.stride],
            &rows.expansion[size_t(y0) * rows.stride],
            &columns.gaussian[size_t(x0) * columns.stride],
            &columns.expansion[size_t(x0) * columns.stride],
            rows.count[y0],
            columns.count[x0]};
}

// The detail sum and, when edge is given, the edge sum of the level-lev coefficient
// at (y0, x0), as deviations from g0; false when stopped.
bool windowSums(const CoreJob& job, int lev, int y0, int x0, float g0, float& detail, float* edge)
{
    double detailTotal = 0.0;
    double edgeTotal = 0.0;
    if (!remappedWindowSums(job, windowOf(job, lev, y0, x0), g0, detailTotal, edge ? &edgeTotal : nullptr))
        return false;
    detail = float(detailTotal);
    if (edge)
        *edge = float(edgeTotal);
    return true;
}

// Eight samples' signed weights, each shared between the two nodes around its
// deviation by its place between them; lanes from `lanes` on are left out. The
// node positions are read lane by lane: gathers are slower on some processors.
VB_INLINE void spreadOverNodes(const Float8& values, const Float8& weights, int lanes, const RemapVectors& r,
                               int count, float* sums)
{
    const Float8 deviation = values - r.g0;
    const Int8 signBit = Int8(deviation) & int(0x80000000);
    const Float8 signedWeight = Float8(Int8(weights) ^ signBit);
    const Float8 magnitude = Float8(Int8(deviation) ^ signBit);
    const Float8 position = (magnitude < r.threshold ? magnitude : r.threshold) * r.scale;
    const Int8 step = __builtin_convertvector(position, Int8);
    const Float8 within = position - __builtin_convertvector(step, Float8);
    for (int k = 0; k < lanes; ++k) {
        const float* below = r.curve + step[k];
        const float nodePosition = below[0] + within[k] * (below[1] - below[0]);
        const int node = std::min(int(nodePosition), count - 2);
        const float upper = signedWeight[k] * (nodePosition - float(node));
        float* copy = sums + (k % kNodeSumCopies) * count + node;
        copy[0] += signedWeight[k] - upper;
        copy[1] += upper;
    }
}

// Every sample's signed weight, shared between the two nodes around its deviation,
// into `sums` (kNodeSumCopies copies, zeroed; the first holds the total after);
// false when stopped. Floats suffice: the nodes stand for the curve within 1e-3.
VB_INLINE bool nodeSumsOfWindow(const CoreJob& job, const Window& w, float g0, float* sums)
{
    const int count = job.nodes->size();
    RemapVectors r;
    const Float8 zero{};
    r.g0 = zero + g0;
    r.threshold = zero + job.remap.threshold;
    r.scale = zero + kDetailSteps / job.remap.threshold;
    r.curve = job.nodes->nodePositions();
    for (int i = 0; i < w.rows; ++i) {
        if (job.stopRequested())
            return false;
        const float a = w.a[i];
        const float c = w.c[i];
        if (a == 0.0f && c == 0.0f)
            continue;
        const float* in = w.first + i * w.step;
        Float8 values{}, b{}, d{};
        int x = 0;
        for (; x + kLanes <= w.width; x += kLanes) {
            load8(values, in + x);
            load8(b, w.b + x);
            load8(d, w.d + x);
            spreadOverNodes(values, a * b - c * d, kLanes, r, count, sums);
        }
        if (x < w.width) {
            const int lanes = w.width - x;
            for (int k = 0; k < kLanes; ++k) {
                values[k] = k < lanes ? in[x + k] : g0;
                b[k] = k < lanes ? w.b[x + k] : 0.0f;
                d[k] = k < lanes ? w.d[x + k] : 0.0f;
            }
            spreadOverNodes(values, a * b - c * d, lanes, r, count, sums);
        }
    }
    for (int k = 1; k < kNodeSumCopies; ++k)
        for (int n = 0; n < count; ++n)
            sums[n] += sums[k * count + n];
    return true;
}

#ifdef VB_AVX2_BUILD
__attribute__((target("default"))) bool nodeWindowSums(const CoreJob& job, const Window& w, float g0, float* sums)
{
    return nodeSumsOfWindow(job, w, g0, sums);
}

__attribute__((target("avx2"))) bool nodeWindowSums(const CoreJob& job, const Window& w, float g0, float* sums)
{
    return nodeSumsOfWindow(job, w, g0, sums);
}
#else
bool nodeWindowSums(const CoreJob& job, const Window& w, float g0, float* sums)
{
    return nodeSumsOfWindow(job, w, g0, sums);
}
#endif

// The level-lev detail sum at (y0, x0) from its node sums, made first when asked;
// false when stopped. The kept floats are read either way, so a sum does not depend
// on the run that made it.
bool nodeDetailSum(const CoreJob& job, int lev, int y0, int x0, float g0, float* scratch, float& detail)
{
    const int count = job.nodes->size();
    float* sums = (*job.nodeSums)[lev].ptr<float>(y0 * job.steps->gaussian[lev].cols + x0);
    if (job.computeNodeSums) {
        std::fill(scratch, scratch + kNodeSumCopies * count, 0.0f);
        if (!nodeWindowSums(job, windowOf(job, lev, y0, x0), g0, scratch))
            return false;
        for (int k = 0; k < count; ++k)
            sums[k] = scratch[k];
    }
    double total = 0.0;
    for (int k = 0; k < count; ++k)
        total += double(sums[k]) * job.nodeValues[k];
    detail = float(total);
    return true;
}

// Level-lev coefficient at (y0, x0); false when stopped.
bool computeCoefficient(const CoreJob& job, int lev, int y0, int x0, float* scratch, float& coefficient)
{
    const LaplacianCoreSteps& steps = *job.steps;
    const float g0 = steps.gaussian[lev].at<float>(y0, x0);
    float detail = 0.0f;
    float edge = 0.0f;
    if (lev >= job.firstNodeLevel) {
        if (!nodeDetailSum(job, lev, y0, x0, g0, scratch, detail))
            return false;
        if (job.storeSums)
            (*job.detailSums)[lev].at<float>(y0, x0) = detail;
    } else if (job.computeDetail) {
        if (!windowSums(job, lev, y0, x0, g0, detail, job.computeEdges ? &edge : nullptr))
            return false;
        if (job.storeSums)
            (*job.detailSums)[lev].at<float>(y0, x0) = detail;
    } else {
        detail = (*job.detailSums)[lev].at<float>(y0, x0);
    }
    if (!job.edges)
        edge = 0.0f;
    else if (!job.computeEdges)
        edge = (*job.edgeSums)[lev].at<float>(y0, x0);
    else if (job.storeSums)
        (*job.edgeSums)[lev].at<float>(y0, x0) = edge;
    // Deviations from g0 keep the sums small; g0 times the weights' total comes back here.
    const AxisWeights& rows = steps.rowWeights[lev];
    const AxisWeights& columns = steps.columnWeights[lev];
    const double weightTotal = double(rows.gaussianSum[y0]) * columns.gaussianSum[x0] -
                               double(rows.expansionSum[y0]) * columns.expansionSum[x0];
    coefficient = float(g0 * weightTotal + detail + double(job.beta) * edge);
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
        std::vector<float> scratch(job.nodes ? size_t(kNodeSumCopies * job.nodes->size()) : 0);
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
                    if (!computeCoefficient(job, lev, y0, x0, scratch.data(), target.at<float>(y0, x0)))
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

// The Gaussian pyramid and the axis weights of every level but the top one.
void makeInputSteps(const cv::Mat& input, LaplacianCoreSteps& steps)
{
    steps.gaussian = gaussianPyramid(input, cv::Mat());
    std::vector<int> rowSizes;
    std::vector<int> columnSizes;
    for (const cv::Mat& level : steps.gaussian) {
        rowSizes.push_back(level.rows);
        columnSizes.push_back(level.cols);
    }
    for (int lev = 0; lev + 1 < int(steps.gaussian.size()); ++lev) {
        steps.rowWeights.push_back(axisWeights(lev, rowSizes));
        steps.columnWeights.push_back(axisWeights(lev, columnSizes));
    }
}

// Uninitialised images of the sizes of the pyramid's levels but the top one.
std::vector<cv::Mat> coefficientLevels(const std::vector<cv::Mat>& gaussian)
{
    std::vector<cv::Mat> levels;
    for (size_t lev = 0; lev + 1 < gaussian.size(); ++lev)
        levels.push_back(cv::Mat(gaussian[lev].size(), CV_32F));
    return levels;
}

// Uninitialised node sums, a row per coefficient, of the levels from the finest
// whose sums up to the top fit kNodeSumBudget, but not below level 1; empty below.
std::vector<cv::Mat> nodeSumLevels(const std::vector<cv::Mat>& gaussian, int nodes)
{
    std::vector<cv::Mat> levels(gaussian.size() - 1);
    size_t bytes = 0;
    for (size_t lev = levels.size(); lev-- > 1;) {
        bytes += gaussian[lev].total() * size_t(nodes) * sizeof(float);
        if (bytes > kNodeSumBudget)
            break;
        levels[lev] = cv::Mat(int(gaussian[lev].total()), nodes, CV_32F);
    }
    return levels;
}

// The first level with node sums, or past the last level when none has.
int firstNodeLevel(const std::vector<cv::Mat>& nodeSums)
{
    int lev = int(nodeSums.size());
    while (lev > 0 && !nodeSums[lev - 1].empty())
        --lev;
    return lev;
}

// The edge sums of a run: the kept ones when made with its threshold, else new ones.
// Kept, new edge sums start the kept sums afresh: all were made with the old threshold.
class EdgeSumsOfRun {
public:
    EdgeSumsOfRun(const LaplacianCoreSteps& steps, float threshold, bool keep)
        : known_(!steps.sums.edge.empty() && steps.sums.threshold == threshold), threshold_(threshold)
    {
        if (known_)
            levels_ = steps.sums.edge;
        else if (keep)
            levels_ = coefficientLevels(steps.gaussian);
    }
    bool known() const { return known_; }
    std::vector<cv::Mat>* levels() { return &levels_; }
    void keepIn(LaplacianCoreSteps& steps)
    {
        if (known_)
            return;
        steps.sums = LaplacianCoreSteps::ThresholdSums();
        steps.sums.threshold = threshold_;
        steps.sums.edge = std::move(levels_);
    }

private:
    const bool known_;
    const float threshold_;
    std::vector<cv::Mat> levels_;
};

// The detail sums of a run's alpha: the kept ones for it, else new ones, kept as
// one of the input's first alphas or, during a drag, as the last dragged alpha's.
class DetailSumsOfRun {
public:
    DetailSumsOfRun(const LaplacianCoreSteps& steps, const EdgeSumsOfRun& edges, float alpha, float noiseLevel,
                    bool keep)
        : kept_(edges.known() ? steps.sums.detailFor(alpha, noiseLevel) : nullptr), made_{alpha, noiseLevel, {}}
    {
        if (kept_)
            made_.sums = kept_->sums;
        else if (keep)
            made_.sums = coefficientLevels(steps.gaussian);
    }
    bool known() const { return kept_ != nullptr; }
    // A new alpha once the input's first ones are kept: alpha is being dragged.
    bool dragged(const LaplacianCoreSteps& steps) const
    {
        return !known() && steps.sums.exactDetail.size() >= kExactAlphas;
    }
    std::vector<cv::Mat>* levels() { return &made_.sums; }
    void keepIn(LaplacianCoreSteps& steps, bool byNodes)
    {
        if (byNodes)
            steps.sums.nodeDetail = std::move(made_);
        else if (!known())
            steps.sums.exactDetail.push_back(std::move(made_));
    }

private:
    const LaplacianCoreSteps::DetailSums* const kept_;
    LaplacianCoreSteps::DetailSums made_;
};

// The node sums of a dragged alpha: the kept ones when made with its threshold and
// noise level, else new ones (the drag's first step), kept for its later steps.
class NodeSumsOfRun {
public:
    NodeSumsOfRun(const LaplacianCoreSteps& steps, float threshold, float noiseLevel, bool used) : used_(used)
    {
        if (!used_)
            return;
        known_ = steps.sums.nodes && steps.sums.nodes->madeWith(threshold, noiseLevel, kDetailSteps);
        nodes_ = known_ ? steps.sums.nodes : detailCurveNodes(threshold, noiseLevel, kDetailSteps);
        levels_ = known_ ? steps.sums.nodeSums : nodeSumLevels(steps.gaussian, nodes_->size());
    }
    bool used() const { return used_; }
    bool toCompute() const { return used_ && !known_; }
    int firstLevel(int levels) const { return used_ ? firstNodeLevel(levels_) : levels; }
    const DetailCurveNodes* nodes() const { return nodes_.get(); }
    std::vector<cv::Mat>* levels() { return &levels_; }
    std::vector<float> values(float alpha) const { return used_ ? nodes_->values(alpha) : std::vector<float>(); }
    void keepIn(LaplacianCoreSteps& steps)
    {
        if (!used_)
            return;
        steps.sums.nodes = std::move(nodes_);
        steps.sums.nodeSums = std::move(levels_);
    }

private:
    const bool used_;
    bool known_ = false;
    std::shared_ptr<const DetailCurveNodes> nodes_;
    std::vector<cv::Mat> levels_;
};

}  // namespace

cv::Mat& lapfilterWithSteps(Laplacian& op, cv::Mat& out, const cv::Mat& input, LaplacianCoreSteps& steps, bool keep)
{
    if (steps.gaussian.empty())
        makeInputSteps(input, steps);
    op.gaussianPyr = steps.gaussian;
    if (op.cancel) {
        out = cv::Mat();
        return out;
    }
    const float threshold = std::log(op.sigmaR);
    // New sums go to new images, so that a cancelled run leaves the kept ones whole.
    EdgeSumsOfRun edgeSums(steps, threshold, keep);
    DetailSumsOfRun detailSums(steps, edgeSums, op.alpha, op.noiseLevel, keep);
    NodeSumsOfRun nodeSums(steps, threshold, op.noiseLevel, keep && edgeSums.known() && detailSums.dragged(steps));
    // Only the sizes matter below the top level: every coefficient there is replaced.
    op.laplacianPyr = coefficientLevels(steps.gaussian);
    op.laplacianPyr.push_back(steps.gaussian.back());
    op.progress = 0;

    CoreJob job;
    job.input = &input;
    job.steps = &steps;
    job.laplacian = &op.laplacianPyr;
    job.detailSums = detailSums.levels();
    job.edgeSums = edgeSums.levels();
    job.computeDetail = !detailSums.known();
    // Without beta the edge sums are only made to be kept for the next drag.
    job.edges = op.beta != 0.0f || keep;
    job.computeEdges = job.edges && !edgeSums.known();
    job.storeSums = keep;
    job.levels = int(steps.gaussian.size());
    job.workers = std::max(1, std::min(toneMappingWorkerCount(), input.rows));
    job.beta = op.beta;
    job.remap = {op.alpha, threshold,
                 detailSums.known() || op.alpha == 1.0f ? std::vector<float>()
                                                        : detailCurve(op.alpha, threshold, op.noiseLevel)};
    job.firstNodeLevel = nodeSums.firstLevel(job.levels);
    job.nodes = nodeSums.nodes();
    job.nodeSums = nodeSums.levels();
    job.computeNodeSums = nodeSums.toCompute();
    job.nodeValues = nodeSums.values(op.alpha);
    job.op = &op;

    runOnWorkerThreads(job.workers, [&job](int k) { lapfilterCoreThread(k, job); });

    if (op.cancel || job.failed) {
        out = cv::Mat();
        return out;
    }
    if (keep) {
        edgeSums.keepIn(steps);
        detailSums.keepIn(steps, nodeSums.used());
        nodeSums.keepIn(steps);
    }
    out = reconstructLaplacianPyramid(op.laplacianPyr, cv::Mat());
    return out;
}

const LaplacianCoreSteps::DetailSums* LaplacianCoreSteps::ThresholdSums::detailFor(float alpha,
                                                                                   float noiseLevel) const
{
    for (const DetailSums& kept : exactDetail)
        if (kept.alpha == alpha && kept.noiseLevel == noiseLevel)
            return &kept;
    if (!nodeDetail.sums.empty() && nodeDetail.alpha == alpha && nodeDetail.noiseLevel == noiseLevel)
        return &nodeDetail;
    return nullptr;
}

size_t LaplacianCoreSteps::ThresholdSums::nodeSumBytes() const
{
    size_t bytes = 0;
    for (const cv::Mat& level : nodeSums)
        bytes += level.total() * level.elemSize();
    return bytes;
}

cv::Mat& lapfilter_core(Laplacian& op, cv::Mat& out, const cv::Mat& input)
{
    LaplacianCoreSteps steps;
    return lapfilterWithSteps(op, out, input, steps, false);
}
