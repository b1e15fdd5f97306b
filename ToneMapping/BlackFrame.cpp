#include "BlackFrame.h"

#include <opencv2/core.hpp>

#include <algorithm>

namespace {

// Bars darker than this in every channel (a tenth of white) may be near-black
// rather than exactly black.
constexpr float kNearBlack = 0.1f;
// Video's black is neutral: its channels lie within this share of the largest.
constexpr float kNeutralShare = 0.25f;
// A bar's pixels lie within this share of its colour: decoded video's noise of two
// 8-bit steps at 16, in linear light too.
constexpr float kFlatShare = 1.f / 3.f;
// A bar ends in a straight line: at least this share of the picture's outer line
// differs from it. A dark sky or road ends along the skyline, a few pixels at a time.
constexpr double kEdgeShare = 0.5;
// The frame's colour is the mean of a corner's patch of this side.
constexpr int kCornerPatch = 3;

bool nearBlack(const cv::Vec3f& pixel)
{
    const float low = std::min({pixel[0], pixel[1], pixel[2]});
    const float high = std::max({pixel[0], pixel[1], pixel[2]});
    return low >= 0.f && high <= kNearBlack && high - low <= kNeutralShare * high;
}

// Pixel by pixel: does a value belong to the frame of colour `frame`?
class FrameTest {
public:
    FrameTest(const cv::Mat& image, const cv::Vec3f& frame) : channels_(image.channels())
    {
        for (int k = 0; k < 3; ++k) {
            low_[k] = frame[k] * (1.f - kFlatShare);
            high_[k] = frame[k] * (1.f + kFlatShare);
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

// The rows and columns between the first and the last holding a pixel that is not
// of the frame; empty for an image of the frame alone.
cv::Rect litBox(const cv::Mat& image, const FrameTest& isFrame)
{
    const int n = image.channels();
    auto firstLit = [&](int r) {
        const float* v = image.ptr<float>(r);
        int c = 0;
        while (c < image.cols && isFrame(v + n * c))
            ++c;
        return c;
    };
    auto lastLit = [&](int r) {
        const float* v = image.ptr<float>(r);
        int c = image.cols - 1;
        while (c >= 0 && isFrame(v + n * c))
            --c;
        return c;
    };
    int top = 0;
    while (top < image.rows && firstLit(top) == image.cols)
        ++top;
    if (top == image.rows)
        return cv::Rect();
    int bottom = image.rows - 1;
    while (firstLit(bottom) == image.cols)
        --bottom;
    int left = image.cols;
    int right = -1;
    for (int r = top; r <= bottom && (left > 0 || right < image.cols - 1); ++r) {
        if (firstLit(r) == image.cols)
            continue;
        left = std::min(left, firstLit(r));
        right = std::max(right, lastLit(r));
    }
    return cv::Rect(left, top, right - left + 1, bottom - top + 1);
}

// The colour of a frame touching the image's edge: a flat near-black corner's (its
// patch's mean, so that one noisy pixel does not set it), else 0.
cv::Vec3f frameColour(const cv::Mat& image)
{
    if (image.empty() || image.channels() != 3)
        return cv::Vec3f::all(0.f);
    const cv::Size patch(std::min(kCornerPatch, image.cols), std::min(kCornerPatch, image.rows));
    for (const cv::Point corner : {cv::Point(0, 0), cv::Point(image.cols - patch.width, image.rows - patch.height)}) {
        const cv::Mat pixels = image(cv::Rect(corner, patch));
        const cv::Scalar mean = cv::mean(pixels);
        const cv::Vec3f colour{float(mean[0]), float(mean[1]), float(mean[2])};
        if (nearBlack(colour) && pictureShare(pixels, FrameTest(image, colour)) == 0.0)
            return colour;
    }
    return cv::Vec3f::all(0.f);
}

// Bars come in pairs on opposite edges, each ending in a straight line: a dark area
// at one edge only (a sky, a road, a backdrop) is the picture's own.
cv::Rect pairedBars(const cv::Mat& image, const FrameTest& isFrame, cv::Rect box)
{
    auto straight = [&](const cv::Rect& line) { return pictureShare(image(line), isFrame) >= kEdgeShare; };
    const bool rows = box.y > 0 && box.br().y < image.rows && straight(cv::Rect(box.x, box.y, box.width, 1)) &&
                      straight(cv::Rect(box.x, box.br().y - 1, box.width, 1));
    const bool columns = box.x > 0 && box.br().x < image.cols && straight(cv::Rect(box.x, box.y, 1, box.height)) &&
                         straight(cv::Rect(box.br().x - 1, box.y, 1, box.height));
    if (!rows) {
        box.y = 0;
        box.height = image.rows;
    }
    if (!columns) {
        box.x = 0;
        box.width = image.cols;
    }
    return box;
}

}  // namespace

BlackFrame::BlackFrame(const cv::Mat& image) : image_(image)
{
    const cv::Vec3f colour = frameColour(image);
    frame_ = cv::Scalar(colour[0], colour[1], colour[2]);
    const FrameTest isFrame(image, colour);
    picture_ = litBox(image, isFrame);
    if (picture_.area() > 0) {
        picture_ = pairedBars(image, isFrame, picture_);
        cutPartlyCoveredLines();
    } else {
        picture_ = cv::Rect(cv::Point(), image.size());
    }
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
