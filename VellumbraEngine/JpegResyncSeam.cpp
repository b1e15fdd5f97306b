#include "JpegResyncSeam.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

// Steps are doubled, in half grey levels, to stay whole numbers.
using Steps = std::vector<int>;

// An offset below 1.5 grey levels costs less than 40 dB even over the whole picture.
constexpr int kSmallestShift = 3;
// How far the step's median stands out of the row's own variation, in standard errors;
// whole photos, screen shots and diagrams stay below 10.
constexpr double kSeamScore = 15;
// The step right of the turn and left of it may differ by this share.
constexpr double kStepTolerance = 0.35;
// Steps beyond 255 grey levels count as that: an offset that large is plain anyway.
constexpr int kLargestStep = 510;
// Block groups on either side of the turn: a seam closer to the edge looks like a
// horizon that happens to lie on a block boundary.
constexpr int kSideGroups = 2;

// The median of whole numbers, those beyond [low, high] counted at the bounds: a
// histogram walk, cheaper than sorting for the long rows of a photo.
int clampedMedian(const Steps& values, int low, int high)
{
    std::vector<int> counts(static_cast<std::size_t>(high - low + 1));
    for (const int value : values)
        ++counts[static_cast<std::size_t>(std::clamp(value, low, high) - low)];
    int seen = 0;
    const int middle = static_cast<int>(values.size()) / 2;
    for (std::size_t bin = 0; bin < counts.size(); ++bin) {
        seen += counts[bin];
        if (seen > middle)
            return low + static_cast<int>(bin);
    }
    return high;
}

// Counts of values below low and above high in every prefix, so that whether the
// median of any run lies within [low, high] is two subtractions.
class PrefixCounts {
public:
    PrefixCounts(const Steps& values, int low, int high) : below(values.size() + 1), above(values.size() + 1)
    {
        for (std::size_t i = 0; i < values.size(); ++i) {
            below[i + 1] = below[i] + (values[i] < low);
            above[i + 1] = above[i] + (values[i] > high);
        }
    }
    bool medianWithin(int begin, int end) const
    {
        const int half = (end - begin) / 2;
        return below[end] - below[begin] <= half && above[end] - above[begin] <= half;
    }

private:
    std::vector<int> below;
    std::vector<int> above;
};

// a and b: one channel's steps across the boundaries above two rows of block groups in
// a row. An offset from column x of the upper row on shows as +shift in a right of x
// and in b left of x: their sum steps by the shift everywhere, their difference turns
// from -shift to +shift at x. A horizon or a stripe on one boundary does neither.
bool isSeam(const Steps& a, const Steps& b, int groupWidth)
{
    const int width = static_cast<int>(a.size());
    // Cheap counts first. Most columns step by the smallest shift or more one way
    // across both boundaries, and turn by what is left of it within the tolerance
    // between them; a smooth gradient steps alike across both and does not turn.
    const int turn = static_cast<int>(std::ceil(kSmallestShift * (1 - kStepTolerance)));
    int rising = 0;
    int falling = 0;
    int turning = 0;
    for (int x = 0; x < width; ++x) {
        rising += a[x] + b[x] >= kSmallestShift;
        falling += a[x] + b[x] <= -kSmallestShift;
        turning += std::abs(a[x] - b[x]) >= turn;
    }
    if ((2 * rising <= width && 2 * falling <= width) || 2 * turning < width)
        return false;
    Steps sum(a.size());
    Steps difference(a.size());
    for (int x = 0; x < width; ++x) {
        sum[x] = a[x] + b[x];
        difference[x] = a[x] - b[x];
    }
    const int shift = clampedMedian(sum, -kLargestStep, kLargestStep);
    Steps spread(sum.size());
    for (int x = 0; x < width; ++x)
        spread[x] = std::abs(sum[x] - shift);
    const double noise = std::max(1.4826 * clampedMedian(spread, 0, 2 * kLargestStep), 1.0);
    // 1.2533: the standard error of a median against that of a mean.
    if (std::abs(shift) * std::sqrt(double(width)) < kSeamScore * 1.2533 * noise)
        return false;
    const int tolerance = static_cast<int>(kStepTolerance * std::abs(shift));
    const PrefixCounts right(difference, shift - tolerance, shift + tolerance);
    const PrefixCounts left(difference, -shift - tolerance, -shift + tolerance);
    for (int x = kSideGroups * groupWidth; x <= width - kSideGroups * groupWidth; x += groupWidth) {
        if (left.medianWithin(0, x) && right.medianWithin(x, width))
            return true;
    }
    return false;
}

// Doubled step of each channel across the boundary above row y, beyond the gradient of
// the rows on either side: 2(p0 - p1) - ((p1 - p2) + (n1 - p0)).
void stepsAcross(const cv::Mat& picture, int y, std::vector<Steps>& steps)
{
    std::vector<cv::Mat> planes;
    cv::split(picture.rowRange(y - 2, y + 2), planes);
    const int width = picture.cols;
    for (std::size_t channel = 0; channel < planes.size(); ++channel) {
        const uchar* above2 = planes[channel].ptr(0);
        const uchar* above = planes[channel].ptr(1);
        const uchar* row = planes[channel].ptr(2);
        const uchar* below = planes[channel].ptr(3);
        int* out = steps[channel].data();
        for (int x = 0; x < width; ++x)
            out[x] = 3 * (row[x] - above[x]) + above2[x] - below[x];
    }
}

}  // namespace

bool showsResyncSeam(const cv::Mat& picture, cv::Size blockGroup)
{
    CV_Assert(picture.depth() == CV_8U && blockGroup.height >= 2);
    if (picture.cols < 2 * kSideGroups * blockGroup.width)
        return false;
    const auto channelSteps = [&picture] { return std::vector<Steps>(picture.channels(), Steps(picture.cols)); };
    std::vector<Steps> upper = channelSteps();
    std::vector<Steps> lower = channelSteps();
    for (int y = blockGroup.height; y + 1 < picture.rows; y += blockGroup.height) {
        stepsAcross(picture, y, lower);
        for (int channel = 0; y > blockGroup.height && channel < picture.channels(); ++channel) {
            if (isSeam(upper[channel], lower[channel], blockGroup.width))
                return true;
        }
        std::swap(upper, lower);
    }
    return false;
}
