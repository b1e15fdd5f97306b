#include "FrameAlignment.h"

#include "EccAlignment.h"
#include "FrameBufferPool.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>
#include <vector>

namespace {

// Shifts of the phase correlation weighed as the camera's motion.
constexpr int kPhasePeaks = 4;
// Below this correlation with the instant image on the reduced copies, wherever it
// is placed, a frame belongs to another shot. Measured on noisy pairs of real
// photographs: 0.99 or more within one shot moved by up to 40 pixels, 0.54 at
// most between two shots.
constexpr double kSameShotCorrelation = 0.7;
// An estimate that did not settle is kept when it correlates this well: within one
// shot 0.99 or more, while a periodic pattern's false match reached 0.93.
constexpr double kKeptCorrelation = 0.95;
// The reduced copies are halved while their longer side stays at least this long:
// detail enough to lock on, few enough pixels for a few milliseconds.
constexpr int kCoarseSide = 400;
// The finest estimate runs on the copy halved while its longer side is beyond
// this: a hundredth of its pixel is a fiftieth of a 4K frame's, at a quarter of the cost.
constexpr int kFinestSide = 2048;
// Smaller images are not aligned: too little to correlate.
constexpr int kSmallestSide = 16;
const cv::TermCriteria kCoarseCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 50, 1e-5);
const cv::TermCriteria kLevelCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 30, 1e-5);
const cv::TermCriteria kFinestCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 70, 1e-6);
// Residuals beyond this many deviations of the still background's, and beyond a
// fraction of the image's own contrast, belong to something that moved.
constexpr float kMovingDeviations = 6.0f;
constexpr float kLeastMovingResidual = 0.15f;
// Deviation in reduced pixels of the smoothing under which a spot's residual is
// judged: a star a fraction of a pixel off, sampled at another phase, differs at
// its peak, a subject that moved by more keeps differing.
constexpr double kSpotSmoothing = 0.8;
// When more than this share of the frame moved, the motion is the scene's own:
// nothing is left out.
constexpr double kLargestMovingShare = 0.5;
constexpr double kMedianSamples = 10000.0;
// The full-size estimate may wander from the coarse one by this many coarse pixels.
constexpr float kCoarseTolerance = 2.0f;
// A shift this close to whole pixels moves the frame by whole pixels.
constexpr float kWholePixel = 0.01f;
// Neighbouring columns of the reduced instant image correlate at least this well
// when it shows anything beyond its noise (0.65 or more for the photographs, clips
// and star fields measured, within a hundredth of 0 for a noisy grey card): below
// it, its correlation does not tell one shot from another.
constexpr double kLeastStructure = 0.25;
// Frames correlate with a featureless instant image at most as far as their noise
// allows: the dimmest placed well measured 0.65, noise alone within a hundredth of 0.
constexpr double kPlacedCorrelation = 0.3;
// A frame whose mean level lies this many noise deviations from a featureless
// instant image's is of another shot: dark frames beside lights, a fade to black.
constexpr double kLevelDeviations = 5.0;

// One channel of 8-bit or float samples, as the correlation takes them.
cv::Mat alignmentGrey(const cv::Mat& image)
{
    cv::Mat grey = image;
    if (image.channels() > 1) {
        grey = runBuffer(image.size(), CV_MAKETYPE(image.depth(), 1));
        cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
    }
    if (grey.depth() == CV_16U) {
        cv::Mat scaled = runBuffer(image.size(), CV_32F);
        grey.convertTo(scaled, CV_32F, 1.0 / 65535.0);
        grey = scaled;
    }
    return grey;
}

std::vector<cv::Mat> greyPyramid(const cv::Mat& image, int coarsest)
{
    std::vector<cv::Mat> levels{alignmentGrey(image)};
    for (int level = 1; level <= coarsest; ++level) {
        cv::Mat half;
        cv::pyrDown(levels.back(), half);
        levels.push_back(half);
    }
    return levels;
}

cv::Mat translation(cv::Point2f shift)
{
    return (cv::Mat_<float>(2, 3) << 1, 0, shift.x, 0, 1, shift.y);
}

cv::Point2f shiftOf(const cv::Mat& warp)
{
    return {warp.at<float>(0, 2), warp.at<float>(1, 2)};
}

// Zero mean and unit deviation over the mask, as the correlation sees the image.
cv::Mat standardised(const cv::Mat& image, const cv::Mat& mask = cv::Mat())
{
    cv::Scalar mean, deviation;
    cv::meanStdDev(image, mean, deviation, mask);
    cv::Mat result;
    image.convertTo(result, CV_32F, 1.0 / std::max(deviation[0], 1e-12), -mean[0] / std::max(deviation[0], 1e-12));
    return result;
}

// Median of the float values where the mask is set (everywhere without one), read
// on a regular grid of some ten thousand of them.
float medianOf(const cv::Mat& values, const cv::Mat& mask = cv::Mat())
{
    const int step = std::max(1, int(std::sqrt(double(values.total()) / kMedianSamples)));
    std::vector<float> kept;
    kept.reserve(values.total() / (step * step) + values.rows + values.cols);
    for (int y = 0; y < values.rows; y += step) {
        const float* v = values.ptr<float>(y);
        const uchar* m = mask.empty() ? nullptr : mask.ptr<uchar>(y);
        for (int x = 0; x < values.cols; x += step)
            if (!m || m[x])
                kept.push_back(v[x]);
    }
    if (kept.empty())
        return 0.0f;
    std::nth_element(kept.begin(), kept.begin() + kept.size() / 2, kept.end());
    return kept[kept.size() / 2];
}

double correlation(const cv::Mat& a, const cv::Mat& b)
{
    cv::Scalar meanA, deviationA, meanB, deviationB;
    cv::meanStdDev(a, meanA, deviationA);
    cv::meanStdDev(b, meanB, deviationB);
    const double n = double(a.total());
    const double product = deviationA[0] * deviationB[0] * n;
    if (std::isnan(product))
        return product;  // samples that are not numbers
    return product > 0 ? (a.dot(b) - n * meanA[0] * meanB[0]) / product : -1.0;
}

// The whole pixels of a shift: its floor, or the nearest whole pixel when it lies
// this close that interpolating would change nothing.
int wholePixels(float shift)
{
    const float nearest = std::round(shift);
    return int(std::fabs(shift - nearest) < kWholePixel ? nearest : std::floor(shift));
}

// What is left to interpolate past the whole pixels: 0 or between kWholePixel and 1.
float pixelFraction(float shift)
{
    const float fraction = shift - float(wholePixels(shift));
    return fraction < kWholePixel ? 0.0f : fraction;
}

// The cubic kernel's weights (a = -0.75, the library's) of the pixels at -1, 0, 1
// and 2 from a point `fraction` of a pixel past pixel 0.
cv::Mat cubicTaps(float fraction)
{
    constexpr float a = -0.75f;
    const float x = fraction, y = 1.0f - fraction;
    const float before = ((a * (x + 1) - 5 * a) * (x + 1) + 8 * a) * (x + 1) - 4 * a;
    const float at = ((a + 2) * x - (a + 3)) * x * x + 1;
    const float next = ((a + 2) * y - (a + 3)) * y * y + 1;
    return (cv::Mat_<float>(4, 1) << before, at, next, 1.0f - before - at - next);
}

// Beside a lamp a thousand times brighter than its wall the cubic kernel's
// negative lobes undershoot far below the wall, a dark outline. Each moved sample
// that lies beyond the range of the two by two samples it falls between by more
// than that range is held to it; the smaller overshoots elsewhere are the detail
// the kernel keeps (holding every sample within its sixteen cost a detailed burst
// 0.2 dB). No sample leaves the source's own range, nor goes below 0. `moved` is
// the float interpolation of `source`; the result has the source's type.
template <typename Sample>
cv::Mat heldFarOvershoots(const cv::Mat& source, const cv::Mat& moved)
{
    double least = 0.0, most = 0.0;
    cv::minMaxIdx(source.reshape(1), &least, &most);
    const float floor = float(std::max(least, 0.0)), ceiling = float(most);
    // Sample i lies between samples i and i + step of its row and of the row below.
    const auto held = [floor, ceiling](const Sample* row, const Sample* below, float sample, int i, int step) {
        const float first = float(row[i]), second = float(row[i + step]);
        const float third = float(below[i]), fourth = float(below[i + step]);
        const float lowest = std::min(std::min(first, second), std::min(third, fourth));
        const float highest = std::max(std::max(first, second), std::max(third, fourth));
        const float spread = highest - lowest;
        sample = sample < lowest - spread ? lowest : sample > highest + spread ? highest : sample;
        return std::min(std::max(sample, floor), ceiling);
    };
    const int channels = source.channels(), width = source.cols * channels;
    cv::Mat result = runBuffer(source.size(), source.type());
    cv::parallel_for_(cv::Range(0, source.rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            const Sample* row = source.ptr<Sample>(y);
            const Sample* below = source.ptr<Sample>(std::min(y + 1, source.rows - 1));
            const float* in = moved.ptr<float>(y);
            Sample* out = result.ptr<Sample>(y);
            // Rounded (16-bit) within the range held: no saturation needed.
            const float rounding = std::is_integral<Sample>::value ? 0.5f : 0.0f;
            for (int i = 0; i < width - channels; ++i)
                out[i] = Sample(held(row, below, in[i], i, channels) + rounding);
            for (int i = width - channels; i < width; ++i)  // the last column repeats
                out[i] = Sample(held(row, below, in[i], i, 0) + rounding);
        }
    });
    return result;
}

// What a grey image shows: structure above its noise, its mean level, the
// deviation of its noise.
struct Look {
    bool structured;
    double level, noise;
};

// Structure shows where the even and the odd columns, reduced as the coarse
// estimate sees them, agree: noise differs from one column to the next, content
// does not. Their difference at full size tells the noise.
Look lookOf(const cv::Mat& grey, int coarseLevel)
{
    const cv::Mat evenWidth = grey.colRange(0, grey.cols & ~1).clone();
    cv::Mat columns[2], difference;
    cv::split(evenWidth.reshape(2), columns);
    for (cv::Mat& half : columns)
        half.convertTo(half, CV_32F);
    cv::subtract(columns[0], columns[1], difference);
    cv::Scalar differenceMean, differenceDeviation;
    cv::meanStdDev(difference, differenceMean, differenceDeviation);
    for (cv::Mat& half : columns)
        for (int level = 0; level < coarseLevel; ++level)
            cv::pyrDown(half, half);
    return {correlation(columns[0], columns[1]) >= kLeastStructure, cv::mean(grey)[0],
            differenceDeviation[0] / std::sqrt(2.0)};
}

// Where the residual, summed over a neighbourhood, lies far beyond the still
// background's: a subject moving by a pixel or two differs along thin lines at its
// edges, the noise at scattered pixels.
cv::Mat farBeyondBackground(cv::Mat residual, const cv::Mat& inside)
{
    cv::blur(residual, residual, cv::Size(5, 5));
    const float median = medianOf(residual, inside);
    cv::Mat spread;
    cv::absdiff(residual, cv::Scalar(median), spread);
    const float deviation = 1.4826f * medianOf(spread, inside);
    const cv::Mat beyond = residual > median + std::max(kMovingDeviations * deviation, kLeastMovingResidual);
    return beyond & inside;
}

// How far each sample of `a` lies outside the range of `b`'s samples within a
// pixel of it: what a shift of less than a pixel cannot explain.
cv::Mat beyondNeighbours(const cv::Mat& a, const cv::Mat& b)
{
    cv::Mat lowest, highest, above, below;
    const cv::Mat square = cv::Mat::ones(3, 3, CV_8U);
    cv::erode(b, lowest, square);
    cv::dilate(b, highest, square);
    cv::subtract(a, highest, above);
    cv::subtract(lowest, a, below);
    cv::max(above, below, above);
    return cv::max(above, 0.0f);
}

// The connected areas of `areas` that hold at least one pixel of `marks`.
cv::Mat areasHolding(const cv::Mat& areas, const cv::Mat& marks)
{
    cv::Mat labels;
    const int count = cv::connectedComponents(areas, labels, 8, CV_32S);
    std::vector<uchar> marked(size_t(count), 0);
    for (int y = 0; y < labels.rows; ++y) {
        const int* label = labels.ptr<int>(y);
        const uchar* mark = marks.ptr<uchar>(y);
        for (int x = 0; x < labels.cols; ++x)
            if (mark[x] && label[x] > 0)
                marked[size_t(label[x])] = 255;
    }
    cv::Mat result(areas.size(), CV_8U);
    for (int y = 0; y < labels.rows; ++y) {
        const int* label = labels.ptr<int>(y);
        uchar* out = result.ptr<uchar>(y);
        for (int x = 0; x < labels.cols; ++x)
            out[x] = marked[size_t(label[x])];
    }
    return result;
}

bool plausible(cv::Point2f shift, const cv::Size& size)
{
    return std::isfinite(shift.x) && std::isfinite(shift.y) && std::fabs(shift.x) <= size.width / 4.0f &&
           std::fabs(shift.y) <= size.height / 4.0f;
}

}  // namespace

FrameAlignment::FrameAlignment(const cv::Mat& instant, bool fineAlignment) : fine(fineAlignment)
{
    const int side = std::max(instant.rows, instant.cols);
    while ((side >> (coarseLevel + 1)) >= kCoarseSide)
        ++coarseLevel;
    while ((side >> finestLevel) > kFinestSide && finestLevel < coarseLevel)
        ++finestLevel;
    comparable = std::min(instant.rows, instant.cols) >= kSmallestSide;
    if (!comparable)
        return;
    pyramid = greyPyramid(instant, coarseLevel);
    const Look look = lookOf(pyramid.front(), coarseLevel);
    instantStructured = look.structured;
    instantLevel = look.level;
    instantNoise = look.noise;
    cv::Scalar mean, deviation;
    cv::meanStdDev(pyramid.front(), mean, deviation);
    if (!(deviation[0] > 0.0))
        return;
    coarseStandard = standardised(pyramid.back());
    phase = std::make_unique<PhaseCorrelationPeaks>(pyramid.back());
}

FrameAlignment::Result FrameAlignment::locate(const cv::Mat& frame, const std::function<bool()>& interrupted) const
{
    if (!comparable)
        return Result();
    const std::vector<cv::Mat> framePyramid = greyPyramid(frame, coarseLevel);
    // An instant image without structure above its noise correlates with nothing
    // as well as one shot's frames do: a frame is placed wherever it correlates
    // beyond noise, else judged by what it shows itself, and stacked unshifted
    // when it shows the same.
    if (phase) {
        const Result placement =
            placed(framePyramid, instantStructured ? kSameShotCorrelation : kPlacedCorrelation, interrupted);
        if (instantStructured || placement.verdict == Verdict::SameShot)
            return placement;
    }
    Result unplaced;
    unplaced.correlation = correlation(pyramid.back(), framePyramid.back());
    const Look look = lookOf(framePyramid.front(), coarseLevel);
    const bool levelApart =
        instantNoise > 0.0 && std::fabs(look.level - instantLevel) > kLevelDeviations * instantNoise;
    if (look.structured || levelApart)
        unplaced.verdict = Verdict::OtherShot;
    return unplaced;
}

FrameAlignment::Result FrameAlignment::placed(const std::vector<cv::Mat>& framePyramid, double sameShotCorrelation,
                                              const std::function<bool()>& interrupted) const
{
    Result result;
    const cv::Point2f coarse = coarseShift(framePyramid.back(), sameShotCorrelation, &result);
    const float scale = float(1 << coarseLevel);
    result.shift = coarse * scale;
    if (result.verdict != Verdict::SameShot || !fine)
        return result;

    const cv::Mat used = movingAreasLeftOut(framePyramid.back(), coarse);
    // The coarse estimate already ran on the reduced copies, unless they are the finest.
    const int firstLevel = coarseLevel > finestLevel ? coarseLevel - 1 : finestLevel;
    cv::Point2f shift = coarse * float(1 << (coarseLevel - firstLevel));
    for (int level = firstLevel; level >= finestLevel; --level) {
        if (interrupted && interrupted()) {
            result.verdict = Verdict::Unreliable;
            return result;
        }
        cv::Mat warp = translation(shift), levelMask;
        if (!used.empty())
            cv::resize(used, levelMask, framePyramid[level].size(), 0, 0, cv::INTER_NEAREST);
        const bool last = level == finestLevel;
        const EccOutcome outcome = estimateTranslation(pyramid[level], framePyramid[level], warp,
                                                       last ? kFinestCriteria : kLevelCriteria, levelMask);
        shift = shiftOf(warp) * (last ? float(1 << finestLevel) : 2.0f);
        if (last) {
            result.correlation = outcome.correlation;
            if (!outcome.converged && !(outcome.correlation >= kKeptCorrelation))
                result.verdict = Verdict::Unreliable;
        }
    }
    if (!plausible(shift, framePyramid.front().size()) || cv::norm(shift - result.shift) > kCoarseTolerance * scale)
        result.verdict = Verdict::Unreliable;
    result.shift = shift;
    return result;
}

cv::Mat FrameAlignment::moved(const cv::Mat& frame, cv::Point2f shift)
{
    // Cubic keeps the detail that bilinear averages away at half-pixel shifts:
    // measured on a detailed 1080p burst, 40.1 dB against 36.1, where Lanczos gave
    // 41.6 at three times the cost. A translation weighs every pixel's neighbours
    // alike, so the kernel runs as two separable passes at half the warp's cost,
    // then the frame moves by whole pixels.
    const cv::Point whole(wholePixels(shift.x), wholePixels(shift.y));
    const cv::Point2f fraction(pixelFraction(shift.x), pixelFraction(shift.y));
    const bool fractional = fraction != cv::Point2f();
    cv::Mat interpolated, result = runBuffer(frame.size(), frame.type());
    if (fractional && frame.depth() == CV_8U) {
        // 8-bit samples span too little for a lamp's outline.
        interpolated = runBuffer(frame.size(), frame.type());
        cv::sepFilter2D(frame, interpolated, -1, cubicTaps(fraction.x), cubicTaps(fraction.y), cv::Point(1, 1), 0,
                        cv::BORDER_REPLICATE);
    } else if (fractional) {
        cv::Mat unheld = runBuffer(frame.size(), CV_MAKETYPE(CV_32F, frame.channels()));
        cv::sepFilter2D(frame, unheld, CV_32F, cubicTaps(fraction.x), cubicTaps(fraction.y), cv::Point(1, 1), 0,
                        cv::BORDER_REPLICATE);
        interpolated = frame.depth() == CV_16U ? heldFarOvershoots<ushort>(frame, unheld)
                                               : heldFarOvershoots<float>(frame, unheld);
    }
    cv::warpAffine(fractional ? interpolated : frame, result, translation(whole), frame.size(),
                   cv::INTER_NEAREST | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
    return result;
}

// The enhanced correlation of the reduced copies, its moving areas left out, from
// the likeliest shift, or from no shift when that does not converge as well. A
// frame that correlates too little both where its best estimate converged and
// where the phase correlation placed it is of another shot.
cv::Point2f FrameAlignment::coarseShift(const cv::Mat& frameCoarse, double sameShotCorrelation, Result* result) const
{
    const Start likeliest = likeliestShift(frameCoarse);
    std::vector<cv::Point> starts{likeliest.shift};
    if (likeliest.shift != cv::Point())
        starts.emplace_back(0, 0);
    bool converged = false;
    EccOutcome best;
    cv::Point2f bestShift;
    for (const cv::Point& start : starts) {
        if (converged && best.correlation >= sameShotCorrelation)
            break;
        cv::Mat warp = translation(start);
        const EccOutcome outcome = estimateTranslation(pyramid.back(), frameCoarse, warp, kCoarseCriteria,
                                                       movingAreasLeftOut(frameCoarse, start));
        if (outcome.converged && (!converged || outcome.correlation > best.correlation)) {
            converged = true;
            best = outcome;
            bestShift = shiftOf(warp);
        }
    }
    result->correlation = converged ? best.correlation : likeliest.correlation;
    // Samples that are not numbers tell nothing of the shot.
    const bool placed = std::isfinite(likeliest.correlation);
    const double highest = std::max(converged ? best.correlation : -1.0, placed ? likeliest.correlation : -1.0);
    if ((converged || placed) && highest < sameShotCorrelation)
        result->verdict = Verdict::OtherShot;
    else if (!converged && placed && likeliest.correlation >= kKeptCorrelation)
        return cv::Point2f(likeliest.shift);  // correlates well though its iteration did not settle
    else if (!converged)
        result->verdict = Verdict::Unreliable;
    return bestShift;
}

// Of the phase correlation's shifts and no shift, the one under which the
// reduced copies differ least at the median pixel: the motion of most of the
// frame, the camera's, rather than a subject's with more texture.
FrameAlignment::Start FrameAlignment::likeliestShift(const cv::Mat& frameCoarse) const
{
    std::vector<cv::Point> candidates = phase->peaks(frameCoarse, kPhasePeaks);
    candidates.emplace_back(0, 0);
    const cv::Mat frameStandard = standardised(frameCoarse);
    const cv::Rect whole(cv::Point(), coarseStandard.size());
    Start likeliest{cv::Point(), std::numeric_limits<double>::quiet_NaN()};
    float smallest = std::numeric_limits<float>::infinity();
    for (const cv::Point& shift : candidates) {
        const cv::Rect overlap = whole & (whole - shift);
        if (overlap.area() < whole.area() / 4)
            continue;
        cv::Mat residual;
        cv::absdiff(coarseStandard(overlap), frameStandard(overlap + shift), residual);
        const float median = medianOf(residual);
        if (median < smallest) {
            smallest = median;
            likeliest.shift = shift;
            likeliest.correlation = correlation(coarseStandard(overlap), frameStandard(overlap + shift));
        }
    }
    return likeliest;
}

// Mask of the reduced instant image (255: used) leaving out what moved on its own:
// the areas where the frame, placed by the coarse shift, differs far beyond the
// still background's residual, unless a shift within a pixel explains all of an
// area: stars on a dark sky, each a little off under the whole-pixel start, are
// the scene itself, while a subject of any size or contrast that moved by more
// stays out. Empty when nothing, or most of the frame, moved.
cv::Mat FrameAlignment::movingAreasLeftOut(const cv::Mat& frameCoarse, cv::Point2f shift) const
{
    const cv::Mat& instantCoarse = pyramid.back();
    cv::Mat warped, inside;
    cv::warpAffine(frameCoarse, warped, translation(shift), instantCoarse.size(),
                   cv::INTER_LINEAR | cv::WARP_INVERSE_MAP);
    cv::warpAffine(cv::Mat(frameCoarse.size(), CV_8U, cv::Scalar(255)), inside, translation(shift),
                   instantCoarse.size(), cv::INTER_NEAREST | cv::WARP_INVERSE_MAP);
    const cv::Mat instantStandard = standardised(instantCoarse, inside);
    const cv::Mat warpedStandard = standardised(warped, inside);
    cv::Mat residual;
    cv::absdiff(instantStandard, warpedStandard, residual);
    cv::Mat moving = farBeyondBackground(residual, inside);
    // Smoothed a little, a star sampled half a pixel off reads as the same star.
    cv::Mat instantSmooth, warpedSmooth;
    cv::GaussianBlur(instantStandard, instantSmooth, cv::Size(0, 0), kSpotSmoothing);
    cv::GaussianBlur(warpedStandard, warpedSmooth, cv::Size(0, 0), kSpotSmoothing);
    cv::max(beyondNeighbours(instantSmooth, warpedSmooth), beyondNeighbours(warpedSmooth, instantSmooth), residual);
    moving = areasHolding(moving, farBeyondBackground(residual, inside));
    cv::dilate(moving, moving, cv::Mat::ones(9, 9, CV_8U));
    const int count = cv::countNonZero(moving);
    if (count == 0 || count > kLargestMovingShare * cv::countNonZero(inside))
        return cv::Mat();
    return moving == 0;
}
