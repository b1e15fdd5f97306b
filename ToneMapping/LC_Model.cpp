#include "LC_Model.h"

#include "PixelOps.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr float kLuminanceFloor = 0.001f;
constexpr float kExponentSlope = 0.16666667f;
constexpr float kExponentOffset = 0.6666667f;
constexpr double kCannyLow = 50.0;
constexpr double kCannyHigh = 120.0;
constexpr int kCannyAperture = 3;
const float kLn100 = std::log(100.0f);

// One visited window position of the wedge walk, in walk order.
struct WalkStep {
    int dr;
    int dc;
    int markDr;  // one step further out along the wedge's axis
    int markDc;
    bool resetsSpread;
    float surroundWeight;
    float edgeWeight;
    std::ptrdiff_t offset;   // dr * cols + dc
    int local;               // index in the window's marker grid
    int markLocal;           // -1 when the marked position is outside the window
};

// The surround of one image: its state lives here, so calls never share it.
class EdgeStoppedSurround {
public:
    EdgeStoppedSurround(const cv::Mat& luminance, const cv::Mat& edges, int spread, int edgeSpread)
        // The walk indexes pixels by offset, which needs continuous storage.
        : luminance_(luminance.isContinuous() ? luminance : luminance.clone()), rows_(luminance.rows), cols_(luminance.cols),
          radius_(3 * spread + 1), side_(2 * radius_ + 1)
    {
        edges.convertTo(edges_, CV_8U);
        cv::integral(edges_, edgeCounts_, CV_32S);
        buildWalk(spread, edgeSpread);
        edgeFreeSurround(spread);
    }

    cv::Mat compute(const std::atomic<bool>& cancel)
    {
        cv::Mat result(rows_, cols_, CV_32F);
        cv::parallel_for_(
            cv::Range(0, rows_),
            [&](const cv::Range& range) {
                // Markers carry the pixel number, so this grid is never cleared.
                std::vector<std::int64_t> markers(static_cast<size_t>(side_) * side_, -1);
                for (int row = range.start; row < range.end && !cancel; ++row)
                    computeRow(row, markers, result.ptr<float>(row));
            },
            rows_);
        return cancel ? cv::Mat() : result;
    }

private:
    void buildWalk(int spread, int edgeSpread)
    {
        const int r = radius_;
        const double surroundScale = 4.0 * spread * spread;
        const double edgeScale = 4.0 * edgeSpread * edgeSpread;
        auto add = [&](int dr, int dc, int axisDr, int axisDc, bool reset) {
            WalkStep step;
            step.dr = dr;
            step.dc = dc;
            step.markDr = dr + axisDr;
            step.markDc = dc + axisDc;
            step.resetsSpread = reset;
            const double d2 = static_cast<double>(dr) * dr + static_cast<double>(dc) * dc;
            step.surroundWeight = static_cast<float>(std::exp(-d2 / surroundScale));
            step.edgeWeight = static_cast<float>(std::exp(-d2 / edgeScale));
            step.offset = static_cast<std::ptrdiff_t>(dr) * cols_ + dc;
            step.local = (dr + r) * side_ + (dc + r);
            const bool markInside = std::abs(step.markDr) <= r && std::abs(step.markDc) <= r;
            step.markLocal = markInside ? (step.markDr + r) * side_ + (step.markDc + r) : -1;
            steps_.push_back(step);
        };
        auto diagonal = [&](int dr, int dc, int stepDr, int stepDc, int axisDr, int axisDc, bool reset) {
            for (; std::abs(dr) <= r && std::abs(dc) <= r; dr += stepDr, dc += stepDc) {
                add(dr, dc, axisDr, axisDc, reset);
                reset = false;
            }
        };
        // Each wedge: axis direction (ar, ac) and the perpendicular (pr, pc) its diagonals leave by.
        struct Wedge {
            int ar, ac, pr, pc;
            int first;
        };
        const Wedge wedges[4] = {{0, 1, 1, 0, 0}, {0, -1, 1, 0, 0}, {-1, 0, 0, -1, 1}, {1, 0, 0, -1, 1}};
        for (const Wedge& w : wedges)
            for (int t = w.first; t <= r; ++t) {
                const int ar = w.ar * t;
                const int ac = w.ac * t;
                add(ar, ac, w.ar, w.ac, true);
                if (t == r)
                    continue;
                // First diagonal on the perpendicular's side, then the other one.
                diagonal(ar + w.ar + w.pr, ac + w.ac + w.pc, w.ar + w.pr, w.ac + w.pc, w.ar, w.ac, false);
                diagonal(ar + w.ar - w.pr, ac + w.ac - w.pc, w.ar - w.pr, w.ac - w.pc, w.ar, w.ac, true);
            }
    }

    // Weighted sums for windows without any edge: the Gaussian is separable, and
    // the pixel itself counts twice (the right and left wedges both hold it).
    void edgeFreeSurround(int spread)
    {
        const double scale = 4.0 * spread * spread;
        cv::Mat kernel(2 * radius_ + 1, 1, CV_32F);
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

    void computeRow(int row, std::vector<std::int64_t>& markers, float* out) const
    {
        const float* luminanceRow = luminance_.ptr<float>(row);
        const float* fastRow = weightedSums_.ptr<float>(row);
        const bool rowInterior = row > radius_ && row < rows_ - radius_ - 1;
        for (int col = 0; col < cols_; ++col) {
            if (edgesAround(row, col) == 0) {
                out[col] = static_cast<float>((fastRow[col] + luminanceRow[col]) /
                                              (rowWeights_[row] * colWeights_[col] + 1.0));
                continue;
            }
            const std::int64_t n = static_cast<std::int64_t>(row) * cols_ + col;
            const bool interior = rowInterior && col > radius_ && col < cols_ - radius_ - 1;
            out[col] = interior ? walk<false>(row, col, n, markers) : walk<true>(row, col, n, markers);
        }
    }

    // edgeStoppedWeight over the whole window. Clipped windows check bounds and
    // the image border; interior ones (window strictly inside) need neither.
    template <bool Clipped>
    float walk(int row, int col, std::int64_t n, std::vector<std::int64_t>& markers) const
    {
        const std::ptrdiff_t centre = static_cast<std::ptrdiff_t>(row) * cols_ + col;
        const float* luminance = luminance_.ptr<float>(0) + centre;
        const uchar* edges = edges_.ptr<uchar>(0) + centre;
        std::int64_t* marker = markers.data();
        double weightSum = 0.0;
        double luminanceSum = 0.0;
        bool stopped = false;
        for (const WalkStep& step : steps_) {
            if (step.resetsSpread)
                stopped = false;
            if (Clipped) {
                const int r = row + step.dr;
                const int c = col + step.dc;
                if (r < 0 || r >= rows_ || c < 0 || c >= cols_)
                    continue;
            }
            if (edges[step.offset] || marker[step.local] == n) {
                stopped = true;
                bool onBorder = false;
                if (Clipped) {
                    const int r = row + step.dr;
                    const int c = col + step.dc;
                    onBorder = r == 0 || r == rows_ - 1 || c == 0 || c == cols_ - 1;
                }
                if (!onBorder && step.markLocal >= 0)
                    marker[step.markLocal] = n;
            }
            const float weight = stopped ? step.edgeWeight : step.surroundWeight;
            weightSum += weight;
            luminanceSum += static_cast<double>(weight) * luminance[step.offset];
        }
        return static_cast<float>(luminanceSum / weightSum);
    }

    cv::Mat luminance_;
    cv::Mat edges_;
    cv::Mat edgeCounts_;
    cv::Mat weightedSums_;
    std::vector<double> rowWeights_;
    std::vector<double> colWeights_;
    std::vector<WalkStep> steps_;
    int rows_;
    int cols_;
    int radius_;
    int side_;
};

cv::Mat threeChannelFloat(const cv::Mat& in)
{
    cv::Mat image = in.depth() == CV_32F ? in : convertBitDepth(in, 32);
    if (image.channels() == 1)
        cv::cvtColor(image, image, cv::COLOR_GRAY2BGR);
    else if (image.channels() == 4)
        cv::cvtColor(image, image, cv::COLOR_BGRA2BGR);
    return image;
}

}  // namespace

namespace lc_model {

cv::Mat compressLuminance(const cv::Mat& image, cv::Mat& chroma)
{
    cv::Mat luminance(image.size(), CV_32F);
    chroma.create(image.size(), CV_32FC3);
    cv::parallel_for_(cv::Range(0, image.rows), [&](const cv::Range& range) {
        for (int r = range.start; r < range.end; ++r) {
            const cv::Vec3f* pixel = image.ptr<cv::Vec3f>(r);
            cv::Vec3f* ratio = chroma.ptr<cv::Vec3f>(r);
            float* l = luminance.ptr<float>(r);
            for (int c = 0; c < image.cols; ++c) {
                const cv::Vec3f& p = pixel[c];
                l[c] = std::max(p[0], std::max(p[1], p[2]));
                ratio[c] = l[c] > 0.0f ? p / l[c] : cv::Vec3f(0.0f, 0.0f, 0.0f);
            }
        }
    });
    luminance = cv::max(luminance, kLuminanceFloor);
    cv::Mat logLuminance;
    cv::log(luminance * 100.0f, logLuminance);
    const double meanLog10 = cv::mean(logLuminance)[0] / std::log(10.0);
    cv::pow(luminance, kExponentSlope * meanLog10 + kExponentOffset, luminance);
    return luminance;
}

cv::Mat detectEdges(const cv::Mat& luminance)
{
    const cv::Mat luminance8 = convertBitDepth(luminance, 8);
    cv::Mat edges8;
    cv::Canny(luminance8, edges8, kCannyLow, kCannyHigh, kCannyAperture, false);
    cv::Mat edges = convert8UTo32F(edges8);
    cv::threshold(edges, edges, 0.0, 1.0, cv::THRESH_BINARY);
    return cleanEdgeMap(edges);
}

cv::Mat cleanEdgeMap(const cv::Mat& binaryMap)
{
    double low = 0.0;
    double high = 0.0;
    cv::minMaxLoc(binaryMap, &low, &high);
    if (low < 0.0 || high > 1.0)
        std::printf("input image must be binary\n");
    const cv::Matx33f kernel(0, 1, 0, 1, 0, 1, 0, 0, 0);
    cv::Mat neighbours;
    cv::filter2D(binaryMap, neighbours, CV_32F, kernel);
    cv::Mat cleaned;
    cv::threshold(neighbours, cleaned, 1.5, 1.0, cv::THRESH_BINARY);
    return cleaned;
}

cv::Mat adaptiveSurround(const cv::Mat& luminance, const cv::Mat& edges, int spread, int edgeSpread,
                         const std::atomic<bool>& cancel)
{
    return EdgeStoppedSurround(luminance, edges, spread, edgeSpread).compute(cancel);
}

cv::Mat localAdaptation(const cv::Mat& luminance, const cv::Mat& surround, float p0, float p1, float p2)
{
    auto logScaled = [&](const cv::Mat& image) {
        cv::Mat result;
        cv::log(cv::max(image * 100.0f, p0), result);
        return cv::Mat(result / (std::log(10.0f) * kLn100));
    };
    const cv::Mat a = logScaled(luminance);
    const cv::Mat b = logScaled(surround);
    cv::Mat g = cv::min(cv::max(a, 0.0f), 1.0f) * 255.0f;
    const cv::Mat d = sigmFac(g, static_cast<int>(p1), static_cast<int>(p2));
    return scaleImage(a - d.mul(b), 0.0f, 1.0f);
}

cv::Mat sigmFac(const cv::Mat& g, int slope, int centre)
{
    double low = 0.0;
    double high = 0.0;
    cv::minMaxLoc(g, &low, &high);
    if (low < 0.0 || high > 255.0)
        std::printf("ERROR: sigmFac: lum must be between 0 and 255\n");
    cv::Mat sigmoid;
    cv::exp((g / 255.0f - static_cast<float>(centre)) * static_cast<float>(-slope), sigmoid);
    sigmoid = 1.0f / (1.0f + sigmoid);
    return scaleImage(cv::abs(1.0f - sigmoid), 0.0f, 1.0f);
}

cv::Mat scaleImage(const cv::Mat& image, float low, float high)
{
    double minimum = 0.0;
    cv::minMaxLoc(image, &minimum);
    const cv::Mat difference = image - minimum;
    double largest = 0.0;
    cv::minMaxLoc(difference, nullptr, &largest);
    if (largest == 0.0) {
        std::printf("ERROR in scaleImage.m : divide by zero\n");
        return cv::Mat::zeros(image.size(), CV_32F);
    }
    return difference * ((high - low) / largest) + low;
}

cv::Mat recombineColour(const cv::Mat& chroma, const cv::Mat& luminance)
{
    cv::Mat luminance3;
    cv::Mat planes[] = {luminance, luminance, luminance};
    cv::merge(planes, 3, luminance3);
    return chroma.mul(luminance3);
}

}  // namespace lc_model

cv::Mat& LC_Model::apply(cv::Mat& out, const cv::Mat& in, const float params[3])
{
    lcModelToneMap(*this, out, threeChannelFloat(in), 16, 5, params[0], params[1], params[2]);
    return out;
}

void lcModelToneMap(LC_Model& op, cv::Mat& out, const cv::Mat& in32, int spread, int edgeSpread, float p0, float p1,
                    float p2)
{
    auto cancelled = [&]() {
        if (!op.cancel)
            return false;
        out = cv::Mat();
        return true;
    };

    cv::Mat input = in32.clone();
    cv::patchNaNs(input, 0.0);
    cv::Mat chroma;
    const cv::Mat luminance = lc_model::compressLuminance(input, chroma);
    input.release();
    if (cancelled())
        return;
    op.progress = 10;

    const cv::Mat edges = lc_model::detectEdges(luminance);
    if (cancelled())
        return;
    op.progress = 30;

    const cv::Mat surround = lc_model::adaptiveSurround(luminance, edges, spread, edgeSpread, op.cancel);
    if (cancelled())
        return;
    op.progress = 60;

    const cv::Mat adapted = lc_model::localAdaptation(luminance, surround, p0, p1, p2);
    if (cancelled())
        return;
    op.progress = 80;

    // Negative input channels would give negative chroma ratios.
    out = cv::min(cv::max(lc_model::recombineColour(chroma, adapted), 0.0f), 1.0f);
    op.progress = 100;
}
