#include "BlackFrame.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <functional>
#include <optional>
#include <vector>

namespace {

// Bars at most this many display levels (a tenth of white) may be near-black rather
// than exactly black.
constexpr float kNearBlackLevel = 25.5f;
// Video's black is neutral: its channels lie within this share of the largest.
constexpr float kNeutralShare = 0.25f;
// A bar's pixels lie within this many display levels of its colour: a decoder's noise,
// at exact black and at video's 16 alike.
constexpr float kNoiseLevels = 3.f;
// A line at least this much off the frame's colour is wide: the picture's straight
// edge, or a codec's ringing along it. A subtitle in a bar takes less of a line.
constexpr double kEdgeShare = 0.5;
// A codec rings beside the picture's edge over up to a macroblock and its deblocking,
// partly lit, before the picture's edge itself.
constexpr int kRingingLines = 24;
// The picture meets its bar at a step: its edge line lies at least this many times as
// far from the frame's colour as any line of the bar and its ringing, and this many
// display levels further. A smooth gradient (a dark sky, a road) passes every threshold
// a little at a time.
constexpr double kStepRatio = 3.0;
constexpr double kStepLevels = 4.0;
// The frame's colour is the mean of a corner's patch of this side.
constexpr int kCornerPatch = 3;
constexpr float kDisplayGamma = 2.2f;

// Display levels (0 to 255) of samples: a gamma-encoded picture's as they are, one in
// linear light's through the display's gamma.
class DisplayLevels {
public:
    explicit DisplayLevels(bool linearLight) : linearLight_(linearLight) {}
    double level(double sample) const
    {
        const double v = std::max(0.0, sample);
        return 255.0 * (linearLight_ ? std::pow(v, 1.0 / kDisplayGamma) : v);
    }
    float sample(double level) const
    {
        const double v = std::max(0.0, level) / 255.0;
        return float(linearLight_ ? std::pow(v, double(kDisplayGamma)) : v);
    }

private:
    bool linearLight_;
};

bool nearBlack(const cv::Vec3f& pixel, const DisplayLevels& levels)
{
    const float low = std::min({pixel[0], pixel[1], pixel[2]});
    const double high = levels.level(std::max({pixel[0], pixel[1], pixel[2]}));
    return low >= 0.f && high <= kNearBlackLevel && high - levels.level(low) <= kNeutralShare * high;
}

// Pixel by pixel: does a value belong to the frame of colour `frame`?
class FrameTest {
public:
    FrameTest(const cv::Mat& image, const cv::Vec3f& frame, const DisplayLevels& levels) : channels_(image.channels())
    {
        for (int k = 0; k < 3; ++k) {
            const double level = levels.level(frame[k]);
            low_[k] = level > kNoiseLevels ? levels.sample(level - kNoiseLevels) : 0.f;
            high_[k] = levels.sample(level + kNoiseLevels);
        }
    }
    bool operator()(const float* v) const
    {
        // Written so that NaN is no frame.
        for (int k = 0; k < channels_; ++k)
            if (!(v[k] >= low_[k] && v[k] <= high_[k]))
                return false;
        return true;
    }

private:
    int channels_;
    float low_[3];
    float high_[3];
};

// The share of an area's pixels that are not of the frame.
double pictureShare(const cv::Mat& area, const FrameTest& isFrame)
{
    const int n = area.channels();
    int picture = 0;
    for (int r = 0; r < area.rows; ++r) {
        const float* v = area.ptr<float>(r);
        for (int c = 0; c < area.cols; ++c)
            picture += isFrame(v + n * c) ? 0 : 1;
    }
    return double(picture) / double(area.total());
}

// The colour of a frame touching the image's edge: a flat near-black corner's (its
// patch's mean, so that one noisy pixel does not set it); none without one.
std::optional<cv::Vec3f> frameColour(const cv::Mat& image, const DisplayLevels& levels)
{
    const cv::Size patch(std::min(kCornerPatch, image.cols), std::min(kCornerPatch, image.rows));
    for (const cv::Point corner : {cv::Point(0, 0), cv::Point(image.cols - patch.width, image.rows - patch.height)}) {
        const cv::Mat pixels = image(cv::Rect(corner, patch));
        const cv::Scalar mean = cv::mean(pixels);
        const cv::Vec3f colour{float(mean[0]), float(mean[1]), float(mean[2])};
        if (nearBlack(colour, levels) && pictureShare(pixels, FrameTest(image, colour, levels)) == 0.0)
            return colour;
    }
    return std::nullopt;
}

// One line of pixels (a row or a column) against the frame.
struct Line {
    double share;  // of its pixels off the frame's colour
    double level;  // display levels from the frame's colour to the line's mean, in the channel furthest off
    bool flat() const { return share == 0.0; }
};

// The lines of an area from one of its edges inward, each measured once.
class Lines {
public:
    // `line(i)`: the i-th line from the edge.
    Lines(int count, std::function<cv::Mat(int)> line, const FrameTest& isFrame, const cv::Vec3f& frame,
          const DisplayLevels& levels)
        : count_(count), line_(std::move(line)), isFrame_(isFrame), levels_(levels),
          measured_(size_t(count), Line{-1.0, 0.0})
    {
        for (int k = 0; k < 3; ++k)
            frameLevel_[k] = levels.level(frame[k]);
    }
    int count() const { return count_; }
    const Line& operator[](int i)
    {
        if (measured_[size_t(i)].share < 0.0) {
            const cv::Mat pixels = line_(i);
            const cv::Scalar mean = cv::mean(pixels);
            double level = 0.0;
            for (int k = 0; k < 3; ++k)
                level = std::max(level, std::abs(levels_.level(mean[k]) - frameLevel_[k]));
            measured_[size_t(i)] = {pictureShare(pixels, isFrame_), level};
        }
        return measured_[size_t(i)];
    }

private:
    int count_;
    std::function<cv::Mat(int)> line_;
    const FrameTest& isFrame_;
    const DisplayLevels& levels_;
    double frameLevel_[3];
    std::vector<Line> measured_;
};

// How many lines from the edge a bar takes; 0 without one. A bar starts flat at the
// image's edge and is mostly flat, though it may hold a subtitle (lines partly off its
// colour) and end in a codec's ringing; it meets the picture at a step in a straight
// line.
int barLength(Lines& lines)
{
    if (lines.count() == 0 || !lines[0].flat())
        return 0;
    // Bars come in pairs: one takes at most half the image.
    const int limit = lines.count() / 2;
    int lastFlat = 0;
    int flatLines = 0;
    // The bar's furthest line from its colour, counted as at least the decoder's noise.
    double barLevel = kNoiseLevels;
    for (int i = 0; i < limit && lines[i].share < kEdgeShare; ++i) {
        if (lines[i].flat()) {
            lastFlat = i;
            ++flatLines;
            barLevel = std::max(barLevel, lines[i].level);
        }
    }
    // The step: of the wide lines within the ringing's reach, the one furthest above
    // every line before it.
    const int end = std::min({lines.count(), lastFlat + kRingingLines + 2, lastFlat + flatLines + 2});
    int edge = 0;
    double steepest = kStepRatio;
    for (int i = lastFlat + 1; i < end; ++i) {
        const Line& line = lines[i];
        const double ratio = line.level / barLevel;
        if (line.share >= kEdgeShare && ratio >= steepest && line.level - barLevel >= kStepLevels) {
            edge = i;
            steepest = ratio;
        }
        barLevel = std::max(barLevel, line.level);
    }
    // A wide line just before the step goes with the picture, which leaves it out when
    // it is only partly covered.
    return edge > lastFlat + 1 && lines[edge - 1].share >= kEdgeShare ? edge - 1 : edge;
}

// The picture's extent along one axis between bars at both ends; [0, count) unless
// both ends have a bar. `line(i)`: the i-th line of the axis.
cv::Range betweenBars(int count, const std::function<cv::Mat(int)>& line, const FrameTest& isFrame,
                      const cv::Vec3f& frame, const DisplayLevels& levels)
{
    Lines fromStart(count, line, isFrame, frame, levels);
    Lines fromEnd(count, [&](int i) { return line(count - 1 - i); }, isFrame, frame, levels);
    const int start = barLength(fromStart);
    const int end = start > 0 ? count - barLength(fromEnd) : count;
    return start > 0 && end < count && end > start ? cv::Range(start, end) : cv::Range(0, count);
}

}  // namespace

BlackFrame::BlackFrame(const cv::Mat& image, bool mayBeLinear) : image_(image)
{
    picture_ = cv::Rect(cv::Point(), image.size());
    if (image.empty() || image.channels() != 3)
        return;
    // A frame near black in linear light is read so: there a few display levels are
    // a far narrower band of samples.
    DisplayLevels levels(mayBeLinear);
    std::optional<cv::Vec3f> found = frameColour(image, levels);
    if (!found && mayBeLinear) {
        levels = DisplayLevels(false);
        found = frameColour(image, levels);
    }
    if (!found)
        return;
    const cv::Vec3f colour = *found;
    frame_ = cv::Scalar(colour[0], colour[1], colour[2]);
    const FrameTest isFrame(image, colour, levels);
    const cv::Range rows =
        betweenBars(image.rows, [&](int r) { return image.row(r); }, isFrame, colour, levels);
    const cv::Range columns = betweenBars(
        image.cols, [&](int c) { return image(cv::Range(rows.start, rows.end), cv::Range(c, c + 1)); }, isFrame,
        colour, levels);
    picture_ = cv::Rect(columns.start, rows.start, columns.size(), rows.size());
    if (picture_.size() != image.size())
        cutPartlyCoveredLines();
}

// Only a side where a frame was found is looked at, so that a picture's own dark
// edge stays. Columns come first, so that a corner drawn from a cut row's inner
// line is dimmed by both.
void BlackFrame::cutPartlyCoveredLines()
{
    // Lighter than this share of the line inside it, a line is taken as whole.
    constexpr double kWholeShare = 0.8;
    constexpr int kSmallest = 8;
    const cv::Mat& image = image_;
    cv::Rect& box = picture_;
    // A line's light above the frame's.
    const double framePixel = frame_[0] + frame_[1] + frame_[2];
    auto brightness = [&](const cv::Rect& line) {
        return cv::sum(cv::sum(image(line)))[0] - framePixel * line.area();
    };
    auto cutIfPartlyCovered = [&](const cv::Rect& line, const cv::Rect& inner) {
        const double outer = brightness(line);
        const double inside = brightness(inner);
        if (!(outer < kWholeShare * inside))
            return false;
        cut_.push_back({line, inner, std::max(0.0, outer / inside)});
        return true;
    };
    if (box.height > kSmallest) {
        if (box.y > 0 && cutIfPartlyCovered(cv::Rect(box.x, box.y, box.width, 1), cv::Rect(box.x, box.y + 1, box.width, 1))) {
            ++box.y;
            --box.height;
        }
        const int bottom = box.y + box.height - 1;
        if (bottom < image.rows - 1 &&
            cutIfPartlyCovered(cv::Rect(box.x, bottom, box.width, 1), cv::Rect(box.x, bottom - 1, box.width, 1)))
            --box.height;
    }
    if (box.width > kSmallest) {
        if (box.x > 0 && cutIfPartlyCovered(cv::Rect(box.x, box.y, 1, box.height), cv::Rect(box.x + 1, box.y, 1, box.height))) {
            ++box.x;
            --box.width;
        }
        const int right = box.x + box.width - 1;
        if (right < image.cols - 1 &&
            cutIfPartlyCovered(cv::Rect(right, box.y, 1, box.height), cv::Rect(right - 1, box.y, 1, box.height)))
            --box.width;
    }
    std::reverse(cut_.begin(), cut_.end());
}

cv::Mat BlackFrame::framed(const cv::Mat& rendered) const
{
    if (picture_.size() == image_.size())
        return rendered;
    // The frame as it came: a flat bar's own pixels, whatever the render did inside.
    cv::Mat image;
    image_.convertTo(image, rendered.type());
    rendered.copyTo(image(picture_));
    for (const CutLine& cut : cut_) {
        cv::Mat line = image(cut.line);
        cv::addWeighted(image(cut.inner), cut.cover, cv::Mat(line.size(), line.type(), frame_), 1.0 - cut.cover, 0.0,
                        line);
    }
    return image;
}
