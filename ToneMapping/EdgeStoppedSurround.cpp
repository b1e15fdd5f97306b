#include "EdgeStoppedSurround.h"

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

float dotProduct(const float* a, const float* b, int n)
{
    int i = 0;
    float sum = 0.0f;
#if CV_SIMD
    cv::v_float32 acc = cv::vx_setzero_f32();
    for (; i + cv::v_float32::nlanes <= n; i += cv::v_float32::nlanes)
        acc = cv::v_fma(cv::vx_load(a + i), cv::vx_load(b + i), acc);
    sum = cv::v_reduce_sum(acc);
    cv::vx_cleanup();
#endif
    for (; i < n; ++i)
        sum += a[i] * b[i];
    return sum;
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
class EdgeStoppedSurround {
public:
    EdgeStoppedSurround(const cv::Mat& luminance, const cv::Mat& edges, float spread, float edgeSpread)
        : luminance_(luminance.isContinuous() ? luminance : luminance.clone()), rows_(luminance.rows),
          cols_(luminance.cols), radius_(int(3.0f * spread) + 1), side_(2 * radius_ + 1)
    {
        edges.convertTo(edges_, CV_8U);
        transposed_ = luminance_.t();
        cv::integral(edges_, edgeCounts_, CV_32S);
        buildWeightChanges(spread, edgeSpread);
        buildEdgeDistances();
        edgeFreeSums(spread);
    }

    cv::Mat compute(const std::atomic<bool>& cancel) const
    {
        cv::Mat result(rows_, cols_, CV_32F);
        cv::parallel_for_(
            cv::Range(0, rows_),
            [&](const cv::Range& range) {
                Scratch scratch(radius_);
                for (int row = range.start; row < range.end && !cancel; ++row)
                    computeRow(row, scratch, result.ptr<float>(row));
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
    static constexpr int kNever = std::numeric_limits<int>::max() / 4;
    static constexpr std::uint16_t kNoEdge = std::numeric_limits<std::uint16_t>::max();

    struct Scratch {
        explicit Scratch(int radius) : firstMarked(2 * radius + 1), stop1(radius + 1), stop2(radius + 1) {}
        std::vector<int> firstMarked;  // per line v: first marked position along the axis
        std::vector<int> stop1;        // per segment t: first stopped index
        std::vector<int> stop2;
        std::vector<int> borderLines;
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
    }

    // Per wedge: steps from each pixel along the wedge's axis to the nearest edge (itself included).
    void buildEdgeDistances()
    {
        for (int w = 0; w < 4; ++w) {
            const Wedge& wedge = kWedges[w];
            cv::Mat& distance = edgeDistance_[w];
            distance.create(rows_, cols_, CV_16U);
            const int rowFrom = wedge.ar > 0 ? rows_ - 1 : 0;
            const int colFrom = wedge.ac > 0 ? cols_ - 1 : 0;
            // Walk against the axis so each pixel sees the one further out first.
            for (int i = 0; i < rows_; ++i)
                for (int j = 0; j < cols_; ++j) {
                    const int r = wedge.ar != 0 ? rowFrom - wedge.ar * i : i;
                    const int c = wedge.ac != 0 ? colFrom - wedge.ac * j : j;
                    std::uint16_t value = kNoEdge;
                    if (edgeAt(r, c))
                        value = 0;
                    else if (inside(r + wedge.ar, c + wedge.ac)) {
                        const std::uint16_t further = distance.at<std::uint16_t>(r + wedge.ar, c + wedge.ac);
                        value = further == kNoEdge ? kNoEdge : static_cast<std::uint16_t>(further + 1);
                    }
                    distance.at<std::uint16_t>(r, c) = value;
                }
        }
    }

    // Sums for windows without any edge: the Gaussian is separable, and the pixel
    // itself counts twice (the right and left wedges both hold it).
    void edgeFreeSums(double spread)
    {
        const double scale = 4.0 * spread * spread;
        cv::Mat kernel(side_, 1, CV_32F);
        for (int d = -radius_; d <= radius_; ++d)
            kernel.at<float>(d + radius_) = static_cast<float>(std::exp(-static_cast<double>(d) * d / scale));
        cv::sepFilter2D(luminance_, weightedSums_, CV_32F, kernel, kernel, cv::Point(-1, -1), 0.0,
                        cv::BORDER_CONSTANT);
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
        return edgeCounts_.at<int>(bottom, right) - edgeCounts_.at<int>(top, right) -
               edgeCounts_.at<int>(bottom, left) + edgeCounts_.at<int>(top, left);
    }

    void computeRow(int row, Scratch& scratch, float* out) const
    {
        const float* luminanceRow = luminance_.ptr<float>(row);
        const float* sumsRow = weightedSums_.ptr<float>(row);
        for (int col = 0; col < cols_; ++col) {
            double luminanceSum = static_cast<double>(sumsRow[col]) + luminanceRow[col];
            double weightSum = rowWeights_[row] * colWeights_[col] + 1.0;
            if (edgesAround(row, col) > 0)
                for (const Wedge& wedge : kWedges)
                    addStoppedCorrection(row, col, wedge, scratch, luminanceSum, weightSum);
            out[col] = static_cast<float>(luminanceSum / weightSum);
        }
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

    // Inside the image, a segment's first stopped index only falls as t grows, so
    // on every line the stopped positions are the line from some u outward: one
    // contiguous dot product per line (up and down wedges read the transpose).
    void addStoppedLines(int row, int col, const Wedge& w, const Scratch& scratch, double& luminanceSum,
                         double& weightSum) const
    {
        const int r = radius_;
        const bool alongRows = w.ar == 0;
        const bool ascending = w.ar + w.ac > 0;
        const cv::Mat& image = alongRows ? luminance_ : transposed_;
        const int centre = alongRows ? col : row;
        for (int side = 0; side < 2; ++side) {
            const std::vector<int>& stops = side == 0 ? scratch.stop1 : scratch.stop2;
            int t = r + 1;
            for (int a = side; a <= r; ++a) {
                while (t > w.first && stops[t - 1] <= a)
                    --t;
                const int u = t + a;
                if (u > r)
                    continue;
                const int v = side == 0 ? a : -a;
                const int line = alongRows ? row + v * w.pr : col + v * w.pc;
                const int table = (alongRows ? v : v * w.pc) + r;
                const int length = r - u + 1;
                const float* pixels = image.ptr<float>(line) + (ascending ? centre + u : centre - r);
                const float* changes = weightChange_.data() + table * side_ + (ascending ? u + r : 0);
                luminanceSum += dotProduct(pixels, changes, length);
                weightSum += changeSuffix_[table * (r + 1) + u];
            }
        }
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
            const std::uint16_t distance = edgeDistance_[&w - kWedges].at<std::uint16_t>(lineRow + start * w.ar,
                                                                                          lineCol + start * w.ac);
            if (distance != kNoEdge)
                mark = start + distance;
        }
        firstStops(scratch, 1, 0, scratch.stop1);
        firstStops(scratch, -1, 1, scratch.stop2);
        if (windowInside(row, col)) {
            addStoppedLines(row, col, w, scratch, luminanceSum, weightSum);
            return;
        }

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
    cv::Mat edgeDistance_[4];
    cv::Mat weightedSums_;
    std::vector<double> rowWeights_;
    std::vector<double> colWeights_;
    cv::Mat transposed_;
    std::vector<float> weightChange_;
    std::vector<double> changeSuffix_;
};

}  // namespace

cv::Mat edgeStoppedSurround(const cv::Mat& luminance, const cv::Mat& edges, float spread, float edgeSpread,
                            const std::atomic<bool>& cancel)
{
    return EdgeStoppedSurround(luminance, edges, spread, edgeSpread).compute(cancel);
}
