#include "BlackFrame.h"

#include <algorithm>

namespace {

// The rows and columns between the first and the last holding a pixel that is not
// black; empty for a black image.
cv::Rect litBox(const cv::Mat& image)
{
    const int width = image.cols * image.channels();
    auto firstLit = [&](int r) {
        const float* v = image.ptr<float>(r);
        return int(std::find_if(v, v + width, [](float x) { return x != 0.f; }) - v) / image.channels();
    };
    auto lastLit = [&](int r) {
        const float* v = image.ptr<float>(r);
        int i = width - 1;
        while (i >= 0 && v[i] == 0.f)
            --i;
        return i / image.channels();
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

double brightness(const cv::Mat& image, const cv::Rect& line)
{
    return cv::sum(cv::sum(image(line)))[0];
}

}  // namespace

BlackFrame::BlackFrame(const cv::Mat& image) : size_(image.size()), picture_(litBox(image))
{
    if (picture_.area() > 0)
        cutPartlyCoveredLines(image);
    else
        picture_ = cv::Rect(cv::Point(), size_);
}

// Only a side where a frame was found is looked at, so that a picture's own dark
// edge stays. Columns come first, so that a corner drawn from a cut row's inner
// line is dimmed by both.
void BlackFrame::cutPartlyCoveredLines(const cv::Mat& image)
{
    // Lighter than this share of the line inside it, a line is taken as whole.
    constexpr double kWholeShare = 0.8;
    constexpr int kSmallest = 8;
    cv::Rect& box = picture_;
    auto cutIfPartlyCovered = [&](const cv::Rect& line, const cv::Rect& inner) {
        const double outer = brightness(image, line);
        const double inside = brightness(image, inner);
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
    if (picture_.size() == size_)
        return rendered;
    cv::Mat image = cv::Mat::zeros(size_, rendered.type());
    rendered.copyTo(image(picture_));
    for (const CutLine& cut : cut_) {
        cv::Mat line = image(cut.line);
        image(cut.inner).convertTo(line, -1, cut.cover);
    }
    return image;
}
