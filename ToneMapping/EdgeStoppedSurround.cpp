#include "EdgeStoppedSurround.h"

#include "RowBands.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// Zero columns on either side of a padded row: at least one vector, so a
// product may run a whole vector past a window's end.
constexpr int kPad = 16;
constexpr int kNever = std::numeric_limits<int>::max() / 4;
constexpr std::uint16_t kNoEdge = std::numeric_limits<std::uint16_t>::max();

// The rows of the image, or of its transpose, with kPad zero columns either
// side, band by band on the library's threads.
cv::Mat paddedRows(const cv::Mat& image, bool transpose)
{
    const int rows = transpose ? image.cols : image.rows;
    const int cols = transpose ? image.rows : image.cols;
    cv::Mat padded(rows, cols + 2 * kPad, image.type());
    forEachRowBand(rows, [&](const cv::Range& band) {
        cv::Mat bandRows = padded.rowRange(band);
        bandRows.colRange(0, kPad).setTo(0.0);
        bandRows.colRange(kPad + cols, bandRows.cols).setTo(0.0);
        cv::Mat inner = bandRows.colRange(kPad, kPad + cols);
        if (transpose)
            cv::transpose(image.colRange(band), inner);
        else
            image.rowRange(band).copyTo(inner);
    });
    return padded;
}

// Steps from each pixel along its row (ahead: to the right, else to the left) to
// the nearest edge, itself included.
cv::Mat stepsToEdge(const cv::Mat& edges, bool ahead)
{
    cv::Mat steps(edges.size(), CV_16U);
    cv::parallel_for_(cv::Range(0, edges.rows), [&](const cv::Range& range) {
        for (int r = range.start; r < range.end; ++r) {
            const uchar* edge = edges.ptr<uchar>(r);
            std::uint16_t* step = steps.ptr<std::uint16_t>(r);
            std::uint16_t next = kNoEdge;
            // Walk against the direction so each pixel sees the one further out first.
            for (int i = 0; i < edges.cols; ++i) {
                const int c = ahead ? edges.cols - 1 - i : i;
                next = edge[c] ? 0 : next == kNoEdge ? kNoEdge : static_cast<std::uint16_t>(next + 1);
                step[c] = next;
            }
        }
    });
    return steps;
}

// Not under ThreadSanitizer: clone resolvers run before it is ready.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(VB_NO_FUNCTION_MULTIVERSIONING)
#define VB_WIDE_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VB_WIDE_VECTOR_CLONES
#endif

// Eight floats: one register with AVX2, two with the baseline instruction set.
constexpr int kLanes = 8;
typedef float Floats __attribute__((vector_size(kLanes * sizeof(float))));
static_assert(kLanes <= kPad, "a padded row holds a whole vector past the window");

// A run of whole vectors of pixels and their weight changes.
struct StoppedRun {
    const float* pixels;
    const float* changes;
    int vectors;
};

// Sum of pixel x change over the runs. The hottest loop of the surround: cloned
// for AVX2 and picked when the program loads.
VB_WIDE_VECTOR_CLONES
float stoppedSum(const StoppedRun* runs, int count)
{
    Floats sum = {};
    for (int i = 0; i < count; ++i)
        for (int k = 0; k < runs[i].vectors * kLanes; k += kLanes) {
            Floats pixels;
            Floats changes;
            std::memcpy(&pixels, runs[i].pixels + k, sizeof pixels);
            std::memcpy(&changes, runs[i].changes + k, sizeof changes);
            sum += pixels * changes;
        }
    float total = 0.0f;
    for (int lane = 0; lane < kLanes; ++lane)
        total += sum[lane];
    return total;
}

// The transpose, band by band on the library's threads.
cv::Mat transposedByBands(const cv::Mat& image)
{
    cv::Mat result(image.cols, image.rows, image.type());
    forEachRowBand(result.rows, [&](const cv::Range& rows) {
        cv::Mat band = result.rowRange(rows);
        cv::transpose(image.colRange(rows), band);
    });
    return result;
}

// Edge pixels in rows [top, bottom) and columns [left, right), from the map's integral.
int edgesInBox(const cv::Mat& counts, int top, int bottom, int left, int right)
{
    return counts.at<int>(bottom, right) - counts.at<int>(top, right) - counts.at<int>(bottom, left) +
           counts.at<int>(top, left);
}

// The edge-stopped surround of one image. Its state lives here, so calls never
// share it.
//
// The window is walked in four wedges (right, left, up, down), each as segments
// leaving its axis: the axis position with the diagonal on one side, then the
// diagonal on the other side. An edge pixel, or a position marked by an earlier
// one, switches the rest of its segment to the edge spread and marks the next
// position out along the wedge's axis (unless it lies on the image border). So
// along each line parallel to the axis, everything from the first edge outward
// is marked, and a segment is stopped from its first marked position on. The sum
// is the plain Gaussian sum (separable) corrected on the stopped positions only.
//
// Windows inside the image take the fast road: on line a (offset from the axis,
// on one side) the stopped positions are those from u_a = a + min over b <= a of
// (first mark on line b - b) outward, and the first marks move only when the
// window passes an edge. So each wedge is swept along its axis keeping the first
// marks, and its stopped positions are summed line by line in whole vectors. The
// up and down wedges are swept on the transposed image.
class EdgeStoppedSurround {
public:
    EdgeStoppedSurround(const cv::Mat& luminance, const cv::Mat& edges, float spread, float edgeSpread)
        : luminance_(luminance.isContinuous() ? luminance : luminance.clone()), rows_(luminance.rows),
          cols_(luminance.cols), radius_(int(3.0f * spread) + 1), side_(2 * radius_ + 1)
    {
        edges.convertTo(edges_, CV_8U);
        cv::integral(edges_, edgeCounts_, CV_32S);
        rowView_ = makeView(paddedRows(luminance_, false), edges_, false);
        colView_ = makeView(paddedRows(luminance_, true), transposedByBands(edges_), true);
        buildWeightChanges(spread, edgeSpread);
        edgeFreeSums(spread);
    }

    cv::Mat compute(const std::atomic<bool>& cancel) const
    {
        // The up and down wedges, per column, into (luminance, weight) corrections.
        cv::Mat columnCorrections(cols_, rows_, CV_32FC2);
        cv::parallel_for_(
            cv::Range(0, cols_),
            [&](const cv::Range& range) {
                Scratch scratch(radius_);
                for (int col = range.start; col < range.end && !cancel; ++col) {
                    cv::Vec2f* corrections = columnCorrections.ptr<cv::Vec2f>(col);
                    std::fill(corrections, corrections + rows_, cv::Vec2f(0.0f, 0.0f));
                    sweep(colView_, kDown, col, scratch, corrections);
                    sweep(colView_, kUp, col, scratch, corrections);
                }
            },
            cols_);
        if (cancel)
            return cv::Mat();
        cv::Mat corrections = transposedByBands(columnCorrections);
        columnCorrections.release();

        cv::Mat result(rows_, cols_, CV_32F);
        cv::parallel_for_(
            cv::Range(0, rows_),
            [&](const cv::Range& range) {
                Scratch scratch(radius_);
                for (int row = range.start; row < range.end && !cancel; ++row) {
                    cv::Vec2f* rowCorrections = corrections.ptr<cv::Vec2f>(row);
                    sweep(rowView_, kRight, row, scratch, rowCorrections);
                    sweep(rowView_, kLeft, row, scratch, rowCorrections);
                    computeRow(row, scratch, rowCorrections, result.ptr<float>(row));
                }
            },
            rows_);
        return cancel ? cv::Mat() : result;
    }

private:
    // Axis direction (ar, ac), the side (pr, pc) of the first diagonal, the first axis step.
    struct Wedge {
        int ar, ac, pr, pc, first;
    };
    static constexpr Wedge kWedges[4] = {{0, 1, 1, 0, 0}, {0, -1, 1, 0, 0}, {-1, 0, 0, -1, 1}, {1, 0, 0, -1, 1}};

    // A wedge seen along the rows of a view: its axis steps (+1 or -1 along the
    // row), its first axis step, and the side (+1: the following rows) whose
    // lines take the axis line's marks.
    struct Sweep {
        int step, first, firstSide;
    };
    static constexpr Sweep kRight{1, 0, 1};
    static constexpr Sweep kLeft{-1, 0, 1};
    static constexpr Sweep kDown{1, 1, -1};
    static constexpr Sweep kUp{-1, 1, -1};

    // The luminance and edges in one orientation: the original, or the transpose
    // for the up and down wedges.
    struct View {
        cv::Mat padded;  // luminance rows with kPad zero columns either side
        cv::Mat ahead;   // stepsToEdge along the rows, forward and backward
        cv::Mat behind;
        bool transposed = false;
    };

    static View makeView(const cv::Mat& padded, const cv::Mat& edges, bool transposed)
    {
        View view;
        view.padded = padded;
        view.transposed = transposed;
        view.ahead = stepsToEdge(edges, true);
        view.behind = stepsToEdge(edges, false);
        return view;
    }

    struct Scratch {
        explicit Scratch(int radius)
            : firstMarked(2 * radius + 1), stop1(radius + 1), stop2(radius + 1), deadline(2 * radius + 1),
              reach{std::vector<int>(radius + 1), std::vector<int>(radius + 1)}, runs(2 * radius + 2)
        {
        }
        std::vector<int> firstMarked;  // per line v: first marked position along the axis
        std::vector<int> stop1;        // per segment t: first stopped index
        std::vector<int> stop2;
        std::vector<int> borderLines;
        // Sweeps: per line v, its deadline; per side and line a, a + the least
        // deadline of lines 0 to a.
        std::vector<int> deadline;
        std::vector<int> reach[2];
        std::vector<StoppedRun> runs;  // the stopped lines of one window's wedge
    };

    bool inside(int r, int c) const { return r >= 0 && r < rows_ && c >= 0 && c < cols_; }
    bool onBorder(int r, int c) const { return r == 0 || r == rows_ - 1 || c == 0 || c == cols_ - 1; }
    bool edgeAt(int r, int c) const { return edges_.at<uchar>(r, c) != 0; }

    // Edge weight minus surround weight per window offset.
    void buildWeightChanges(double spread, double edgeSpread)
    {
        const double surroundScale = 4.0 * spread * spread;
        const double edgeScale = 4.0 * edgeSpread * edgeSpread;
        weightChange_.resize(static_cast<size_t>(side_) * side_);
        for (int dr = -radius_; dr <= radius_; ++dr)
            for (int dc = -radius_; dc <= radius_; ++dc) {
                const double d2 = static_cast<double>(dr) * dr + static_cast<double>(dc) * dc;
                weightChange_[(dr + radius_) * side_ + dc + radius_] =
                    static_cast<float>(std::exp(-d2 / edgeScale) - std::exp(-d2 / surroundScale));
            }
        // Per table row: the sum of the changes from column offset u to the window's edge.
        changeSuffix_.assign(static_cast<size_t>(side_) * (radius_ + 1), 0.0);
        for (int row = 0; row < side_; ++row) {
            double sum = 0.0;
            for (int u = radius_; u >= 0; --u) {
                sum += weightChange_[row * side_ + u + radius_];
                changeSuffix_[row * (radius_ + 1) + u] = sum;
            }
        }
        // The rows of offsets 0 to R from the axis again, padded with zeros for the sweeps.
        changeRows_.assign(static_cast<size_t>(radius_ + 1) * paddedSide(), 0.0f);
        for (int a = 0; a <= radius_; ++a)
            std::copy_n(&weightChange_[(a + radius_) * side_], side_, &changeRows_[a * paddedSide() + kPad]);
    }

    int paddedSide() const { return side_ + 2 * kPad; }

    // Sums for windows without any edge: the Gaussian is separable, and the pixel
    // itself counts twice (the right and left wedges both hold it).
    void edgeFreeSums(double spread)
    {
        const double scale = 4.0 * spread * spread;
        cv::Mat kernel(side_, 1, CV_32F);
        for (int d = -radius_; d <= radius_; ++d)
            kernel.at<float>(d + radius_) = static_cast<float>(std::exp(-static_cast<double>(d) * d / scale));
        // Along the rows, then down the columns, each over row bands: a band reads
        // the rows around it from the whole image, so bands add no border.
        const cv::Mat one = cv::Mat::ones(1, 1, CV_32F);
        auto filterBands = [&](const cv::Mat& source, cv::Mat& target, const cv::Mat& alongRows,
                               const cv::Mat& alongColumns) {
            target.create(rows_, cols_, CV_32F);
            forEachRowBand(rows_, [&](const cv::Range& rows) {
                cv::Mat band = target.rowRange(rows);
                cv::sepFilter2D(source.rowRange(rows), band, CV_32F, alongRows, alongColumns, cv::Point(-1, -1), 0.0,
                                cv::BORDER_CONSTANT);
            });
        };
        cv::Mat rowSums;
        filterBands(luminance_, rowSums, kernel, one);
        filterBands(rowSums, weightedSums_, one, kernel);
        auto clippedSums = [&](int size) {
            std::vector<double> sums(size);
            for (int i = 0; i < size; ++i)
                for (int d = std::max(-radius_, -i); d <= std::min(radius_, size - 1 - i); ++d)
                    sums[i] += kernel.at<float>(d + radius_);
            return sums;
        };
        rowWeights_ = clippedSums(rows_);
        colWeights_ = clippedSums(cols_);
    }

    int edgesAround(int row, int col) const
    {
        const int top = std::max(0, row - radius_);
        const int bottom = std::min(rows_, row + radius_ + 1);
        const int left = std::max(0, col - radius_);
        const int right = std::min(cols_, col + radius_ + 1);
        return edgesInBox(edgeCounts_, top, bottom, left, right);
    }

    // Steps from (r, c) along the wedge's axis to the nearest edge.
    std::uint16_t stepsAlongAxis(const Wedge& w, int r, int c) const
    {
        if (w.ar == 0)
            return (w.ac > 0 ? rowView_.ahead : rowView_.behind).at<std::uint16_t>(r, c);
        return (w.ar > 0 ? colView_.ahead : colView_.behind).at<std::uint16_t>(c, r);
    }

    // The row's sums with the swept corrections for the windows inside the image
    // and the segment walk for the others.
    void computeRow(int row, Scratch& scratch, const cv::Vec2f* corrections, float* out) const
    {
        const float* luminanceRow = luminance_.ptr<float>(row);
        const float* sumsRow = weightedSums_.ptr<float>(row);
        for (int col = 0; col < cols_; ++col) {
            double luminanceSum = static_cast<double>(sumsRow[col]) + luminanceRow[col] + corrections[col][0];
            double weightSum = rowWeights_[row] * colWeights_[col] + 1.0 + corrections[col][1];
            if (!windowInside(row, col) && edgesAround(row, col) > 0)
                for (const Wedge& wedge : kWedges)
                    addStoppedCorrection(row, col, wedge, scratch, luminanceSum, weightSum);
            out[col] = static_cast<float>(luminanceSum / weightSum);
        }
    }

    // Adds one wedge's corrections to the windows of a view's row that lie inside
    // the image, sweeping along the wedge's axis. A line's deadline, the last sweep
    // position whose window starts at or before the line's first edge, holds until
    // the window passes that edge, whatever lies between. Line a of a side is
    // stopped from sweep position a + the least deadline of its lines 0 to a on.
    void sweep(const View& view, const Sweep& w, int row, Scratch& scratch, cv::Vec2f* corrections) const
    {
        const int r = radius_;
        const int rows = view.padded.rows;
        const int cols = view.padded.cols - 2 * kPad;
        if (row <= r || row >= rows - r - 1)
            return;
        const cv::Mat& steps = w.step > 0 ? view.ahead : view.behind;
        int* deadline = scratch.deadline.data() + r;
        const int first = r + 1;
        const int last = cols - r - 2;
        bool tracking = false;
        for (int i = 0; i <= last - first; ++i) {
            const int col = w.step > 0 ? first + i : last - i;
            const int position = w.step * col;
            const int far = col + w.step * r;
            const int left = std::min(col, far);
            const int edges = view.transposed ? edgesInBox(edgeCounts_, left, left + r + 1, row - r, row + r + 1)
                                              : edgesInBox(edgeCounts_, row - r, row + r + 1, left, left + r + 1);
            if (edges == 0)
                continue;
            bool passed = !tracking;
            for (int v = -r; v <= r; ++v)
                passed |= deadline[v] < position;
            if (passed) {
                for (int v = -r; v <= r; ++v) {
                    if (tracking && deadline[v] >= position)
                        continue;
                    const int start = std::abs(v) + w.first;
                    const std::uint16_t distance =
                        start > r ? kNoEdge : steps.at<std::uint16_t>(row + v, col + w.step * start);
                    deadline[v] = distance == kNoEdge ? kNever : position + distance;
                }
                for (int side = 0; side < 2; ++side) {
                    const int sign = side == 0 ? w.firstSide : -w.firstSide;
                    int lowest = kNever;
                    for (int a = side; a <= r; ++a) {
                        lowest = std::min(lowest, deadline[sign * a]);
                        scratch.reach[side][a] = a + lowest;
                    }
                }
            }
            tracking = true;
            addSweptLines(view, w, row, col, scratch, corrections[col]);
        }
    }

    // The stopped positions of one wedge at (row, col): per line, the sum of the
    // weight changes times the luminance from its first stopped position u to the
    // window's end.
    void addSweptLines(const View& view, const Sweep& w, int row, int col, Scratch& scratch,
                       cv::Vec2f& correction) const
    {
        const int r = radius_;
        const int position = w.step * col;
        const int within = r + position - w.first;
        // Four independent sums keep the adds from waiting on each other.
        double weightParts[4] = {0.0, 0.0, 0.0, 0.0};
        int count = 0;
        for (int side = 0; side < 2; ++side) {
            const int sign = side == 0 ? w.firstSide : -w.firstSide;
            const int* reach = scratch.reach[side].data();
            for (int a = side; a <= r; ++a) {
                if (reach[a] > within)
                    continue;
                const int u = reach[a] - position + w.first;
                // Whole vectors from u outward; the zero padding cancels what lies past the window.
                const int vectors = (r - u + kLanes) / kLanes;
                const int offset = w.step > 0 ? u : -u - vectors * kLanes + 1;
                scratch.runs[count++] = {view.padded.ptr<float>(row + sign * a) + kPad + col + offset,
                                         &changeRows_[a * paddedSide() + kPad + r + offset], vectors};
                weightParts[a & 3] += changeSuffix_[(a + r) * (r + 1) + u];
            }
        }
        correction[0] += stoppedSum(scratch.runs.data(), count);
        correction[1] += static_cast<float>((weightParts[0] + weightParts[1]) + (weightParts[2] + weightParts[3]));
    }

    // Leading positions start + j * step (j < length) that lie inside the image.
    int insidePrefix(int r, int c, int stepR, int stepC, int length) const
    {
        if (!inside(r, c))
            return 0;
        auto limit = [](int position, int step, int size, int current) {
            if (step > 0)
                return std::min(current, size - position);
            if (step < 0)
                return std::min(current, position + 1);
            return current;
        };
        return limit(c, stepC, cols_, limit(r, stepR, rows_, length));
    }

    void addSegment(int r, int c, int stepR, int stepC, int length, int stopped, double& luminanceSum,
                    double& weightSum, int row, int col) const
    {
        const int end = insidePrefix(r, c, stepR, stepC, length);
        if (stopped >= end)
            return;
        const float* luminance = luminance_.ptr<float>(0);
        const float* change = weightChange_.data();
        std::ptrdiff_t pixel = static_cast<std::ptrdiff_t>(r + stopped * stepR) * cols_ + c + stopped * stepC;
        int at = (r + stopped * stepR - row + radius_) * side_ + (c + stopped * stepC - col + radius_);
        const std::ptrdiff_t pixelStep = static_cast<std::ptrdiff_t>(stepR) * cols_ + stepC;
        const int changeStep = stepR * side_ + stepC;
        // Four independent partial sums keep the adds from waiting on each other.
        float luminanceParts[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        float weightParts[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        int j = stopped;
        for (; j + 4 <= end; j += 4, pixel += 4 * pixelStep, at += 4 * changeStep)
            for (int k = 0; k < 4; ++k) {
                const float weight = change[at + k * changeStep];
                luminanceParts[k] += weight * luminance[pixel + k * pixelStep];
                weightParts[k] += weight;
            }
        for (; j < end; ++j, pixel += pixelStep, at += changeStep) {
            luminanceParts[0] += change[at] * luminance[pixel];
            weightParts[0] += change[at];
        }
        luminanceSum += (luminanceParts[0] + luminanceParts[1]) + (luminanceParts[2] + luminanceParts[3]);
        weightSum += (weightParts[0] + weightParts[1]) + (weightParts[2] + weightParts[3]);
    }

    // The window touches neither the image border nor the outside.
    bool windowInside(int row, int col) const
    {
        return row > radius_ && row < rows_ - radius_ - 1 && col > radius_ && col < cols_ - radius_ - 1;
    }

    // First stopped index per segment from the lines' first marked positions:
    // segment t reaches line v at index |v|, where the line is marked when t + |v| >= its first mark.
    void firstStops(const Scratch& scratch, int sign, int firstIndex, std::vector<int>& stops) const
    {
        std::fill(stops.begin(), stops.end(), kNever);
        for (int j = firstIndex; j <= radius_; ++j) {
            const int mark = scratch.firstMarked[sign * j + radius_];
            if (mark <= radius_ && mark - j >= 0)
                stops[mark - j] = std::min(stops[mark - j], j);
        }
        for (int t = 1; t <= radius_; ++t)
            stops[t] = std::min(stops[t], stops[t - 1]);
    }

    void addStoppedCorrection(int row, int col, const Wedge& w, Scratch& scratch, double& luminanceSum,
                              double& weightSum) const
    {
        const int r = radius_;
        const bool centreOnBorder = onBorder(row, col);
        scratch.borderLines.clear();
        for (int v = -r; v <= r; ++v) {
            int& mark = scratch.firstMarked[v + r];
            mark = kNever;
            const int lineRow = row + v * w.pr;
            const int lineCol = col + v * w.pc;
            if (!inside(lineRow, lineCol))
                continue;
            // Along a border line nothing passes its mark on: only edges stop there.
            const bool borderLine = w.pr != 0 ? lineRow == 0 || lineRow == rows_ - 1 : lineCol == 0 || lineCol == cols_ - 1;
            if (borderLine) {
                scratch.borderLines.push_back(v);
                continue;
            }
            int start = std::abs(v) + w.first;
            if (v == 0 && start == 0 && centreOnBorder)
                start = 1;  // the centre on the border cannot pass its mark on
            if (start > r || !inside(lineRow + start * w.ar, lineCol + start * w.ac))
                continue;
            const std::uint16_t distance = stepsAlongAxis(w, lineRow + start * w.ar, lineCol + start * w.ac);
            if (distance != kNoEdge)
                mark = start + distance;
        }
        firstStops(scratch, 1, 0, scratch.stop1);
        firstStops(scratch, -1, 1, scratch.stop2);

        for (int t = w.first; t <= r; ++t) {
            // Axis position and the first diagonal: index j at (u, v) = (t + j, j).
            int stop = scratch.stop1[t];
            if (t == 0 && w.first == 0 && centreOnBorder && edgeAt(row, col))
                stop = 0;
            for (int v : scratch.borderLines)
                if (v >= 0 && v < stop) {
                    const int pr = row + (t + v) * w.ar + v * w.pr;
                    const int pc = col + (t + v) * w.ac + v * w.pc;
                    if (t + v <= r && inside(pr, pc) && edgeAt(pr, pc))
                        stop = v;
                }
            addSegment(row + t * w.ar, col + t * w.ac, w.ar + w.pr, w.ac + w.pc, r - t + 1, stop, luminanceSum,
                       weightSum, row, col);
            if (t == r)
                continue;
            // The second diagonal: index j - 1 at (u, v) = (t + j, -j).
            stop = scratch.stop2[t] == kNever ? kNever : scratch.stop2[t] - 1;
            for (int v : scratch.borderLines)
                if (v < 0 && -v - 1 < stop) {
                    const int pr = row + (t - v) * w.ar + v * w.pr;
                    const int pc = col + (t - v) * w.ac + v * w.pc;
                    if (t - v <= r && inside(pr, pc) && edgeAt(pr, pc))
                        stop = -v - 1;
                }
            addSegment(row + (t + 1) * w.ar - w.pr, col + (t + 1) * w.ac - w.pc, w.ar - w.pr, w.ac - w.pc, r - t,
                       stop, luminanceSum, weightSum, row, col);
        }
    }

    cv::Mat luminance_;
    int rows_;
    int cols_;
    int radius_;
    int side_;
    cv::Mat edges_;
    cv::Mat edgeCounts_;
    cv::Mat weightedSums_;
    std::vector<double> rowWeights_;
    std::vector<double> colWeights_;
    View rowView_;
    View colView_;
    std::vector<float> weightChange_;
    std::vector<double> changeSuffix_;
    std::vector<float> changeRows_;
};

}  // namespace

cv::Mat edgeStoppedSurround(const cv::Mat& luminance, const cv::Mat& edges, float spread, float edgeSpread,
                            const std::atomic<bool>& cancel)
{
    return EdgeStoppedSurround(luminance, edges, spread, edgeSpread).compute(cancel);
}
