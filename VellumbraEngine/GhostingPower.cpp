#include "GhostingPower.h"

#include "FrameBufferPool.h"
#include "NoiseEstimate.h"
#include "StackingContext.h"
#include "Threads.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <mutex>
#include <utility>
#include <vector>

namespace {

constexpr float kSearchScale16U = 1.0f / 257.0f;
constexpr float kMinimumMotion = 0.01f;  // squared: 0.1 pixel
constexpr float kMinimumTexture = 5.7375f;
constexpr double kMaximumProbeScore = 37000000.0;
constexpr int kConfirmedProbes = 30;
// Probes that find no displacement are not counted; without a cap a frame full of
// still corners would probe every one of them.
constexpr int kMaximumProbes = 3 * kConfirmedProbes;

constexpr int kSmallestBoundBlock = 11;

// Direct searches give up after this many sample comparisons: pruning keeps
// them far below it on textured patches, and beyond it the library's
// transform-based matcher costs less.
constexpr double kDirectSearchBudget = 6.0e7;

struct Match {
    std::uint32_t score;
    int index;  // row-major placement, for ties

    bool beatenBy(std::uint32_t sum, int at) const { return sum < score || (sum == score && at < index); }
};

// Squared differences of `patch` placed at (x, y) of `window`, summed row by row;
// false as soon as the partial sum can no longer beat `best`.
__attribute__((always_inline)) inline bool placementBeats(const cv::Mat& window, const cv::Mat& patch, int x, int y, const Match& best,
                    std::uint32_t* score, double* comparisons)
{
    const int rowSamples = patch.cols * patch.channels();
    const int at = y * window.cols + x;
    std::uint32_t sum = 0;
    for (int row = 0; row < patch.rows; ++row) {
        const uchar* a = patch.ptr<uchar>(row);
        const uchar* b = window.ptr<uchar>(y + row) + x * patch.channels();
        std::uint32_t rowSum = 0;
        for (int i = 0; i < rowSamples; ++i) {
            const int d = int(a[i]) - int(b[i]);
            rowSum += std::uint32_t(d * d);
        }
        sum += rowSum;
        *comparisons += rowSamples;
        if (!best.beatenBy(sum, at))
            return false;
    }
    *score = sum;
    return true;
}

// Placements scored before the full scan: the patch's own place, and where the
// caller expects the match. The closer the first bound, the earlier the others stop.
struct Seeds {
    cv::Point own, expected;
};

// Lower bounds of a placement's score from sums of samples by channel: n samples
// whose sum differs by D differ by at least D^2 / n in squared differences
// (Cauchy-Schwarz). A placement whose bound exceeds the best score cannot beat it
// and is passed over without comparing its samples. The bound of the whole patch
// comes first, then, for a side divisible by 3, the finer one of its 3 x 3 blocks;
// its nine box sums pay off only on blocks as large as those of the estimate's probes.
class SumBounds {
public:
    SumBounds(const cv::Mat& window, const cv::Mat& patch)
        : channels(patch.channels()), side(patch.rows), block(patch.rows / 3)
    {
        // The window's sums must fit the integral image's 32-bit samples.
        const double largestSum = 255.0 * window.rows * window.cols;
        if (patch.rows != patch.cols || patch.depth() != CV_8U || channels > 4 ||
            largestSum >= double(std::numeric_limits<int>::max()))
            return;
        cv::integral(window, windowSums, CV_32S);
        cv::Mat patchSums;
        cv::integral(patch, patchSums, CV_32S);
        blocks = side % 3 == 0 && block >= kSmallestBoundBlock;
        for (int c = 0; c < channels; ++c) {
            whole[c] = boxSum(patchSums, 0, 0, side, c);
            for (int i = 0; blocks && i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    parts[(i * 3 + j) * channels + c] = boxSum(patchSums, i * block, j * block, block, c);
        }
    }

    bool active() const { return !windowSums.empty(); }
    int cost() const { return 4 * channels; }

    // True when the placement at (x, y) cannot score below `score`.
    bool rulesOut(int x, int y, std::uint32_t score) const
    {
        std::int64_t bound = 0;
        for (int c = 0; c < channels; ++c) {
            const std::int64_t d = boxSum(windowSums, y, x, side, c) - whole[c];
            bound += d * d;
        }
        if (bound > std::int64_t(side) * side * score)
            return true;
        if (!blocks)
            return false;
        bound = 0;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                for (int c = 0; c < channels; ++c) {
                    const std::int64_t d =
                        boxSum(windowSums, y + i * block, x + j * block, block, c) - parts[(i * 3 + j) * channels + c];
                    bound += d * d;
                }
        return bound > std::int64_t(block) * block * score;
    }

private:
    // Sum of channel c over the square of side n whose top-left corner is (x, y).
    int boxSum(const cv::Mat& sums, int y, int x, int n, int c) const
    {
        const int* top = sums.ptr<int>(y);
        const int* bottom = sums.ptr<int>(y + n);
        return bottom[(x + n) * channels + c] - bottom[x * channels + c] - top[(x + n) * channels + c] +
               top[x * channels + c];
    }

    int channels, side, block;
    bool blocks = false;
    cv::Mat windowSums;
    int whole[4] = {};
    int parts[9 * 4] = {};
};

// Exact smallest sum of squared differences over every placement of an 8-bit
// patch (all channels), first in row-major order on ties. The seeds are scored
// first, so placements that cannot beat them stop early. False when the budget
// ran out.
__attribute__((always_inline)) inline bool scanPlacements(const cv::Mat& window, const cv::Mat& patch,
                                                           const Seeds& seeds, double* best, cv::Point* where)
{
    Match match{std::numeric_limits<std::uint32_t>::max(), std::numeric_limits<int>::max()};
    double comparisons = 0;
    std::uint32_t score = 0;
    const int lastX = window.cols - patch.cols, lastY = window.rows - patch.rows;
    for (const cv::Point& seed : {seeds.own, seeds.expected})
        if (seed.x >= 0 && seed.y >= 0 && seed.x <= lastX && seed.y <= lastY &&
            placementBeats(window, patch, seed.x, seed.y, match, &score, &comparisons))
            match = {score, seed.y * window.cols + seed.x};
    const SumBounds bounds(window, patch);
    const bool bounded = bounds.active();
    for (int y = 0; y <= lastY; ++y) {
        for (int x = 0; x <= lastX; ++x) {
            if (bounded) {
                comparisons += bounds.cost();
                if (bounds.rulesOut(x, y, match.score))
                    continue;
            }
            if (placementBeats(window, patch, x, y, match, &score, &comparisons))
                match = {score, y * window.cols + x};
        }
        if (comparisons > kDirectSearchBudget)
            return false;
    }
    *best = match.score;
    *where = cv::Point(match.index % window.cols, match.index / window.cols);
    return true;
}

bool scanPortable(const cv::Mat& window, const cv::Mat& patch, const Seeds& seeds, double* best, cv::Point* where)
{
    return scanPlacements(window, patch, seeds, best, where);
}

// The same integer sums in wider registers: the result does not change.
__attribute__((target("avx2"))) bool scanAvx2(const cv::Mat& window, const cv::Mat& patch, const Seeds& seeds,
                                              double* best, cv::Point* where)
{
    return scanPlacements(window, patch, seeds, best, where);
}

bool directBestMatch(const cv::Mat& window, const cv::Mat& patch, const Seeds& seeds, double* best, cv::Point* where)
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2 ? scanAvx2(window, patch, seeds, best, where) : scanPortable(window, patch, seeds, best, where);
}

double bestMatch(const cv::Mat& window, const cv::Mat& patch, const Seeds& seeds, cv::Point* where)
{
    double best = 0;
    if (patch.depth() == CV_8U && directBestMatch(window, patch, seeds, &best, where))
        return best;
    cv::Mat scores;
    cv::matchTemplate(window, patch, scores, cv::TM_SQDIFF);
    cv::minMaxLoc(scores, &best, nullptr, where, nullptr);
    return best;
}

// Per-row transform of the search copies, rows spread over the library's threads.
template <typename Src, typename Convert>
void convertRows(const cv::Mat& source, cv::Mat& output, Convert convert)
{
    cv::Mat result = runBuffer(source.size(), CV_8UC(source.channels()));
    const int elements = source.cols * source.channels();
    cv::parallel_for_(cv::Range(0, source.rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            const Src* in = source.ptr<Src>(y);
            uchar* out = result.ptr<uchar>(y);
            for (int i = 0; i < elements; ++i)
                out[i] = convert(in[i]);
        }
    });
    output = result;
}

cv::Mat toGrey(const cv::Mat& image)
{
    if (image.channels() == 1)
        return image;
    cv::Mat grey;
    cv::cvtColor(image, grey, image.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
    return grey;
}

// A search window narrower than the template is widened to take in the
// template's own place, which lies inside the image.
void coverTemplate(int* start, int* end, int templateStart, int size)
{
    if (*end - *start >= size)
        return;
    *start = std::min(*start, templateStart);
    *end = std::max(*end, templateStart + size);
}

// Template corner: kept one pixel away from the far edge when it fits so.
int templateStart(int centre, int half, int size, int limit)
{
    int start = std::max(centre - half, 0);
    if (start + size >= limit)
        start = limit - size - 1;
    return std::max(start, 0);
}

// Texture of the W x W window around (y, x) of the grey reference: deviation of
// the mixed second derivative.
float textureMeasure(const cv::Mat& grey, int y, int x, int window)
{
    const int half = window / 2;
    const int left = templateStart(x, half, window, grey.cols);
    const int top = templateStart(y, half, window, grey.rows);
    cv::Mat derivative;
    cv::Sobel(grey(cv::Rect(left, top, window, window)), derivative, CV_32F, 1, 1, 3, 1, 0,
              cv::BORDER_REFLECT_101 | cv::BORDER_ISOLATED);
    const int count = window * window;
    const float* values = derivative.ptr<float>(0);
    const float mean = meanOfFloats(values, count);
    float variance = 0.0f;
    for (int i = 0; i < count; ++i)
        variance += (values[i] - mean) * (values[i] - mean);
    return std::sqrt(variance / float(count));
}

// The probe of probeDisplacementAround; the expected offset only speeds the search up.
double probeWithExpectation(const cv::Mat& templateSource, const cv::Mat& searchImage, int y, int x, int half,
                            int centreY, int centreX, int radius, cv::Point expected, int* dy, int* dx)
{
    *dy = 0;
    *dx = 0;
    const int size = 2 * half + 1;
    if (templateSource.cols < size || templateSource.rows < size || templateSource.type() != searchImage.type())
        return std::numeric_limits<double>::infinity();
    const int templateLeft = templateStart(x, half, size, templateSource.cols);
    const int templateTop = templateStart(y, half, size, templateSource.rows);
    // The far column and row of a clamped window are left out.
    int left = std::max(centreX - radius, 0), top = std::max(centreY - radius, 0);
    int right = std::min(centreX + radius, searchImage.cols - 1);
    int bottom = std::min(centreY + radius, searchImage.rows - 1);
    coverTemplate(&left, &right, templateLeft, size);
    coverTemplate(&top, &bottom, templateTop, size);
    right = std::min(right, searchImage.cols);
    bottom = std::min(bottom, searchImage.rows);
    const int width = right - left, height = bottom - top;
    if (width < size || height < size)
        return std::numeric_limits<double>::infinity();
    cv::Point where;
    const double best =
        bestMatch(searchImage(cv::Rect(left, top, width, height)),
                  templateSource(cv::Rect(templateLeft, templateTop, size, size)),
                  Seeds{cv::Point(templateLeft - left, templateTop - top),
                        cv::Point(templateLeft - left + expected.x, templateTop - top + expected.y)},
                  &where);
    *dx = left - templateLeft + where.x;
    *dy = top - templateTop + where.y;
    return best;
}

struct Candidate {
    float motion;
    int y, x;
    int corner;  // index among the textured corners
};

struct Probe {
    double score;
    int dy, dx;
};

bool confirms(const Probe& probe)
{
    return (probe.dy != 0 || probe.dx != 0) && probe.score <= kMaximumProbeScore;
}

// Candidates probed by several threads, each taking the next one in order; they
// stop once the probes read back in order have confirmed enough, so every probe
// the one-by-one loop would read is done.
struct OrderedProbes {
    explicit OrderedProbes(std::size_t count) : results(count), done(count, 0) {}

    std::vector<Probe> results;
    std::vector<char> done;
    std::atomic<int> next{0};
    std::atomic<bool> enough{false};
    std::mutex lock;
    int frontier = 0, confirmed = 0;  // under lock

    void finish(int i)
    {
        std::lock_guard<std::mutex> guard(lock);
        done[i] = 1;
        for (; frontier < int(done.size()) && done[frontier] && !enough; ++frontier)
            if (confirms(results[frontier]) && ++confirmed == kConfirmedProbes)
                enough = true;
    }
};

// Probes of the textured corners made while the flow runs, by several threads
// taking corners in turn until the flow is done. Each probe is exact wherever it
// starts looking, so the ones the flow then asks for are ready as they are.
struct EarlyProbes {
    EarlyProbes(const cv::Mat* referenceSmall, const cv::Mat* frameSmall, int probeHalf, int probeRadius)
        : reference(referenceSmall), frame(frameSmall), half(probeHalf), radius(probeRadius)
    {
    }

    const cv::Mat* reference;
    const cv::Mat* frame;
    int half, radius;
    const std::vector<cv::Point>* corners = nullptr;
    std::vector<int> order;  // the corners to probe, most likely candidates first
    std::atomic<bool> flowDone{false};
    std::atomic<int> next{0};
    std::vector<Probe> results;
    std::vector<char> done;

    void work()
    {
        cv::Point expected;  // a neighbour's displacement is a good first guess
        try {
            for (int k = next++; k < int(order.size()) && !flowDone; k = next++) {
                const int i = order[k];
                const cv::Point p = (*corners)[i];
                Probe& probe = results[i];
                probe.score = probeWithExpectation(*reference, *frame, p.y, p.x, half, p.y, p.x, radius, expected,
                                                   &probe.dy, &probe.dx);
                done[i] = 1;
                expected = cv::Point(probe.dx, probe.dy);
            }
        } catch (...) {
            // Left undone: the caller probes it again and meets the error itself.
        }
    }
};

bool rowMajorBefore(const cv::Point& a, const cv::Point& b)
{
    return a.y < b.y || (a.y == b.y && a.x < b.x);
}

// The corners the last frame's flow found moving first, in its order, then the
// others in row-major order; no more than the estimate can ever probe.
std::vector<int> likelyCandidatesFirst(const std::vector<cv::Point>& corners, const std::vector<cv::Point>& moving)
{
    std::vector<int> order;
    std::vector<char> taken(corners.size(), 0);
    for (const cv::Point& p : moving) {
        const auto found = std::lower_bound(corners.begin(), corners.end(), p, rowMajorBefore);
        if (found != corners.end() && *found == p && !taken[found - corners.begin()]) {
            order.push_back(int(found - corners.begin()));
            taken[found - corners.begin()] = 1;
        }
    }
    for (std::size_t i = 0; i < corners.size(); ++i)
        if (!taken[i])
            order.push_back(int(i));
    if (order.size() > std::size_t(kMaximumProbes))
        order.resize(kMaximumProbes);
    return order;
}

// Runs the early probes on `threads` threads, this one included; none with 0.
void probeEarly(EarlyProbes& probes, const std::vector<cv::Point>& corners, const std::vector<cv::Point>& moving,
                int threads)
{
    probes.results.resize(corners.size());
    probes.done.assign(corners.size(), 0);
    if (threads == 0)
        return;
    probes.corners = &corners;
    probes.order = likelyCandidatesFirst(corners, moving);
    // A helper that cannot start leaves its corners to the others.
    WorkerThreads helpers;
    for (int k = 1; k < threads; ++k)
        helpers.start([&probes] { probes.work(); });
    probes.work();
}

// The reference's textured corners away from the border, in row-major order, found
// while the flow runs: neither depends on the frame. They are kept in the context
// with the corner mask, for the next frame of the same reference.
struct CornerSearch {
    CornerSearch(cv::Mat referenceGrey, StackingContext* owner, int side, EarlyProbes* early)
        : grey(referenceGrey), context(owner), window(side), probes(early)
    {
    }

    cv::Mat grey;
    StackingContext* context;
    int window;
    EarlyProbes* probes;
    bool found = false;
    std::exception_ptr error;

    const std::vector<cv::Point>& textured() const { return context->texturedCorners; }

    // The reference's corner mask, detected unless it is kept; false without a corner.
    bool markCorners()
    {
        cv::Mat* featureMask = &context->featureMask;
        if (featureMask->size() == grey.size())
            return true;
        context->texturedCorners.clear();
        context->movingCorners.clear();
        std::vector<cv::Point2f> corners;
        cv::goodFeaturesToTrack(grey, corners, 1000, 0.01, 2.0, cv::noArray(), window, false, 0.04);
        if (corners.empty())
            return false;
        *featureMask = cv::Mat::zeros(grey.size(), CV_8U);
        for (const cv::Point2f& corner : corners)
            featureMask->at<uchar>(std::clamp(cvRound(corner.y), 0, grey.rows - 1),
                                   std::clamp(cvRound(corner.x), 0, grey.cols - 1)) = 255;
        return true;
    }

    void run()
    {
        const int half = window / 2, rows = grey.rows, cols = grey.cols;
        std::vector<cv::Point>& textured = context->texturedCorners;
        found = markCorners();
        if (!found)
            return;
        if (textured.empty()) {
            std::vector<cv::Point> cornerPixels;
            cv::findNonZero(context->featureMask, cornerPixels);
            for (const cv::Point& p : cornerPixels)
                if (p.x > half && p.x < cols - half && p.y > half && p.y < rows - half &&
                    textureMeasure(grey, p.y, p.x, window) >= kMinimumTexture)
                    textured.push_back(p);
        }
        probeEarly(*probes, textured, context->movingCorners,
                   context->probeWhileFlowing ? std::max(cv::getNumThreads() - 1, 1) : 0);
    }
};

// The corner search, with the library's error kept for the caller.
void searchCorners(CornerSearch& search)
{
    try {
        search.run();
    } catch (...) {
        search.error = std::current_exception();
    }
}

// A resampled frame differs from the reference at edges by part of the edge's
// step, however well placed: this share of the 3 x 3 range of the reference is
// tolerated on top of the noise floor.
constexpr float kResampledShare = 0.5f;

// True when an area larger than a speck of the frame differs from the reference
// by more than `floor` levels in a channel, plus the resampling's share of the
// reference's local range when the frame was resampled.
bool differsBeyond(const cv::Mat& reference, const cv::Mat& frame, float floor, bool resampled)
{
    cv::Mat difference;
    cv::absdiff(reference, frame, difference);
    // Samples are whole levels: beyond the floor is beyond its integer part.
    cv::Mat allowance(reference.size(), reference.type(), cv::Scalar::all(std::floor(floor)));
    if (resampled) {
        cv::Mat range;
        cv::morphologyEx(reference, range, cv::MORPH_GRADIENT, cv::Mat::ones(3, 3, CV_8U));
        cv::scaleAdd(range, kResampledShare, allowance, allowance);
    }
    cv::Mat beyond;
    cv::compare(difference, allowance, beyond, cv::CMP_GT);
    std::vector<cv::Mat> channels;
    cv::split(beyond, channels);
    cv::Mat differing = channels[0];
    for (std::size_t k = 1; k < channels.size(); ++k)
        cv::max(differing, channels[k], differing);
    cv::erode(differing, differing, cv::Mat::ones(3, 3, CV_8U));
    return cv::countNonZero(differing) > 0;
}

// The part of the reduced frame that holds its own content: a frame moved by the
// alignment repeats its edge over a band as wide as the move, which shows nothing
// of the reference and would look like motion. The whole frame when the band
// leaves too little.
cv::Rect coveredArea(cv::Size reduced, cv::Point2f shift, double scale, int least)
{
    const int bandX = int(std::ceil(std::abs(shift.x) * scale)) + 1;
    const int bandY = int(std::ceil(std::abs(shift.y) * scale)) + 1;
    if (shift == cv::Point2f() || reduced.width - 2 * bandX <= least || reduced.height - 2 * bandY <= least)
        return cv::Rect(cv::Point(), reduced);
    return cv::Rect(bandX, bandY, reduced.width - 2 * bandX, reduced.height - 2 * bandY);
}

// The dense flow from the grey reference to the frame; the library's error is
// returned, so that a missing corner can still decide the estimate.
std::exception_ptr denseFlow(const cv::Mat& referenceGrey, const cv::Mat& frameSmall, cv::Mat& flow)
{
    try {
        cv::calcOpticalFlowFarneback(referenceGrey, toGrey(frameSmall), flow, 0.75, 4, 5, 1, 5, 1.1, 0);
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

// The Gaussian smoothing in row bands over the library's threads: each band reads
// its neighbours' rows as the whole-image call does, so the result is the same.
void smoothFlow(const cv::Mat& flow, cv::Mat& smoothed, int window)
{
    smoothed.create(flow.size(), flow.type());
    const int bands = std::max(1, std::min(cv::getNumThreads(), flow.rows / window));
    cv::parallel_for_(cv::Range(0, bands), [&](const cv::Range& range) {
        for (int k = range.start; k < range.end; ++k) {
            const cv::Range rows(flow.rows * k / bands, flow.rows * (k + 1) / bands);
            cv::Mat band = smoothed.rowRange(rows);
            cv::GaussianBlur(flow.rowRange(rows), band, cv::Size(window, window), 2.0, 2.0, cv::BORDER_REFLECT_101);
        }
    });
}

}  // namespace

void makeSearchCopy16U(const cv::Mat& source, cv::Mat& output)
{
    convertRows<ushort>(source, output, [](ushort v) { return uchar(int(float(v) * kSearchScale16U)); });
}

void makeSearchCopy32F(const cv::Mat& source, cv::Mat& output)
{
    const float largest = largestFiniteSample(source);
    const float scale = largest > 0.0f ? 255.0f / largest : 0.0f;
    convertRows<float>(source, output, [scale](float v) {
        const float scaled = scale * v;
        if (!(scaled > 0.0f))
            return uchar(0);
        return uchar(scaled >= 255.0f ? 255 : int(scaled));
    });
}

float largestFiniteSample(const cv::Mat& image)
{
    if (image.empty())
        return 0.0f;
    const int elements = image.cols * image.channels();
    float largest = 0.0f;
    bool found = false;
    for (int y = 0; y < image.rows; ++y) {
        const float* row = image.ptr<float>(y);
        const float rowLargest = maxOfFloats(row, elements);
        if (std::isfinite(rowLargest)) {
            largest = found ? std::max(largest, rowLargest) : rowLargest;
            found = true;
            continue;
        }
        for (int i = 0; i < elements; ++i) {
            if (std::isfinite(row[i]) && (!found || row[i] > largest)) {
                largest = row[i];
                found = true;
            }
        }
    }
    return found ? largest : 0.0f;
}

float maxOfFloats(const float* values, int n)
{
    float largest = values[0];
    for (int i = 1; i < n; ++i)
        if (values[i] > largest)
            largest = values[i];
    return largest;
}

float meanOfFloats(const float* values, int n)
{
    float sum = 0.0f;
    for (int i = 0; i < n; ++i)
        sum += values[i];
    return sum / float(n);
}

double probeDisplacement(const cv::Mat& templateSource, const cv::Mat& searchImage, int y, int x, int half,
                         int radius, int* dy, int* dx)
{
    return probeWithExpectation(templateSource, searchImage, y, x, half, y, x, radius, cv::Point(), dy, dx);
}

double probeDisplacementAround(const cv::Mat& templateSource, const cv::Mat& searchImage, int y, int x, int half,
                               int centreY, int centreX, int radius, int* dy, int* dx, cv::Point expected)
{
    return probeWithExpectation(templateSource, searchImage, y, x, half, centreY, centreX, radius, expected, dy, dx);
}

int partitionFloats(float* values, int lo, int hi, int pivotIndex)
{
    const float pivot = values[pivotIndex];
    std::swap(values[pivotIndex], values[hi]);
    int store = lo;
    for (int i = lo; i < hi; ++i)
        if (values[i] < pivot)
            std::swap(values[i], values[store++]);
    std::swap(values[store], values[hi]);
    return store;
}

void quickSortFloats(float* values, int lo, int hi)
{
    while (lo < hi) {
        const int pivot = partitionFloats(values, lo, hi, (lo + hi) / 2);
        quickSortFloats(values, lo, pivot - 1);
        lo = pivot + 1;
    }
}

namespace {

// The dense flow from the grey reference to the frame into flow, while the corner
// search runs on a thread of its own; the early probes stop once the flow is done.
// Without that thread the corners come first: none found, no flow is needed. False
// when there is no corner; the library's errors are rethrown.
bool cornersBesideFlow(CornerSearch& corners, const cv::Mat& frameSmall, cv::Mat& flow)
{
    std::exception_ptr flowError;
    bool concurrent = false;
    {
        WorkerThreads cornerThread;
        concurrent = cornerThread.start([&corners] { searchCorners(corners); });
        if (concurrent)
            flowError = denseFlow(corners.grey, frameSmall, flow);
        corners.probes->flowDone = true;
    }
    if (!concurrent)
        searchCorners(corners);
    if (corners.error)
        std::rethrow_exception(corners.error);
    if (!corners.found)
        return false;
    if (!concurrent)
        flowError = denseFlow(corners.grey, frameSmall, flow);
    if (flowError)
        std::rethrow_exception(flowError);
    return true;
}

// Flow is kept only at corners, so the motion map is non-zero only at the textured
// ones that moved: the candidates in the order the map's successive maxima would
// take, no more than can be probed.
std::vector<Candidate> movingCandidates(const std::vector<cv::Point>& textured, const cv::Mat& smoothed,
                                        const cv::Rect& covered, int half)
{
    const cv::Rect centres(covered.x + half, covered.y + half, covered.width - 2 * half, covered.height - 2 * half);
    std::vector<Candidate> candidates;
    for (std::size_t i = 0; i < textured.size(); ++i) {
        const cv::Point p = textured[i];
        if (!centres.contains(p))
            continue;
        const cv::Point2f motion = smoothed.at<cv::Point2f>(p);
        const float m = motion.x * motion.x + motion.y * motion.y;
        if (m >= kMinimumMotion)
            candidates.push_back({m, p.y, p.x, int(i)});
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.motion > b.motion; });
    if (candidates.size() > std::size_t(kMaximumProbes))
        candidates.resize(kMaximumProbes);
    return candidates;
}

// The candidates' probes into ordered: the early ones as they are, the others on the
// library's threads until enough read in order confirm. The flow tells each probe
// where to look first.
void probeCandidates(const std::vector<Candidate>& candidates, const EarlyProbes& early, const cv::Mat& smoothed,
                     OrderedProbes& ordered, const StackingContext& context)
{
    for (std::size_t i = 0; i < candidates.size(); ++i)
        if (early.done[candidates[i].corner]) {
            ordered.results[i] = early.results[candidates[i].corner];
            ordered.finish(int(i));
        }
    const int radius = early.radius;
    cv::parallel_for_(cv::Range(0, cv::getNumThreads()), [&](const cv::Range&) {
        for (int i = ordered.next++; i < int(candidates.size()) && !ordered.enough; i = ordered.next++) {
            const Candidate& c = candidates[i];
            if (ordered.done[i])
                continue;
            // A cancel or stop needs no estimate: what is probed already will do.
            if (context.requestPending()) {
                ordered.enough = true;
                break;
            }
            const cv::Point2f motion = smoothed.at<cv::Point2f>(c.y, c.x);
            Probe& probe = ordered.results[i];
            probe.score = probeWithExpectation(*early.reference, *early.frame, c.y, c.x, early.half, c.y, c.x, radius,
                                               cv::Point(std::clamp(cvRound(motion.x), -radius, radius),
                                                         std::clamp(cvRound(motion.y), -radius, radius)),
                                               &probe.dy, &probe.dx);
            ordered.finish(i);
        }
    });
}

// The median squared displacement of the first confirmed probes in order; 0 without any.
float medianDisplacement(const OrderedProbes& ordered)
{
    std::vector<float> displacements;
    for (std::size_t i = 0; i < ordered.results.size() && int(displacements.size()) < kConfirmedProbes; ++i)
        if (confirms(ordered.results[i]))
            displacements.push_back(float(ordered.results[i].dy * ordered.results[i].dy +
                                          ordered.results[i].dx * ordered.results[i].dx));
    const int n = int(displacements.size());
    if (n > 1)
        quickSortFloats(displacements.data(), 0, n - 1);
    return n > 0 ? displacements[n / 2] : 0.0f;
}

}  // namespace

int StackingContext::computeGhostingPower(bool* beyondProbes)
{
    if (beyondProbes)
        *beyondProbes = false;
    lastEstimateSkippedFlow = false;
    const int r = patchRadius;
    const int window = 4 * r + 1;
    const int half = window / 2;
    const int withoutCorners = 2 * r + 1, withoutMotion = 2 * r + 2;
    const int rows = referenceSmall.rows, cols = referenceSmall.cols;
    // The corner detector, texture windows and probe templates need W + 1 pixels.
    if (rows <= window || cols <= window)
        return withoutCorners;

    const int radius = std::max(rows, cols) / 6;
    cv::Mat frameSmall;
    cv::resize(frameCopy, frameSmall, referenceSmall.size(), 0, 0, cv::INTER_LINEAR);
    EarlyProbes early(&referenceSmall, &frameSmall, half, radius);
    CornerSearch corners(toGrey(referenceSmall), this, window, &early);
    const cv::Rect covered =
        coveredArea(referenceSmall.size(), placementShift, double(cols) / std::max(referenceCopy.cols, 1), window);
    // Within the noise the frame shows no motion for the flow and the probes to measure.
    lastEstimateSkippedFlow = !differsBeyond(referenceSmall(covered), frameSmall(covered),
                                             noiseFloorLevels(referenceNoise), placementShift != cv::Point2f());
    if (lastEstimateSkippedFlow)
        return corners.markCorners() ? withoutMotion : withoutCorners;
    // The flow cannot be interrupted: a cancel or stop made by now is not kept waiting for it.
    if (requestPending())
        return withoutMotion;
    cv::Mat flow;
    if (!cornersBesideFlow(corners, frameSmall, flow))
        return withoutCorners;
    if (requestPending())
        return withoutMotion;
    cv::Mat smoothed;
    smoothFlow(flow, smoothed, window);

    const std::vector<Candidate> candidates = movingCandidates(texturedCorners, smoothed, covered, half);
    movingCorners.clear();
    for (const Candidate& c : candidates)
        movingCorners.emplace_back(c.x, c.y);
    OrderedProbes ordered(candidates.size());
    probeCandidates(candidates, early, smoothed, ordered, *this);

    const int reducedDisplacement = int(std::sqrt(double(int(medianDisplacement(ordered)))));
    // Matches scattered over the whole search window, as at a cut, have a median
    // near 0.8 of its radius and almost never below half of it.
    if (beyondProbes)
        *beyondProbes = 2 * reducedDisplacement >= radius;
    const int displacement = referenceCopy.cols * reducedDisplacement / cols;
    return displacement > 3 * r ? displacement + 2 + r : displacement + 2 + 2 * r;
}
