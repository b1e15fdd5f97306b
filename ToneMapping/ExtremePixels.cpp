#include "ExtremePixels.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <mutex>
#include <vector>

namespace {

// Y of XYZ, the luminance the operators measure.
const cv::Vec3f kLuminance(0.072169f, 0.715160f, 0.212671f);
constexpr int kBinsPerStop = 16;
// Float samples lie within 2^-126 and 2^128.
constexpr int kLowestStop = -130;
constexpr int kBins = 260 * kBinsPerStop;

struct Kept {
    float key;
    cv::Vec3f pixel;
};

// The kept pixels of one band of rows, or of the whole picture once merged.
struct Candidates {
    std::vector<Kept> least = std::vector<Kept>(kBins, {FLT_MAX, {}});
    std::vector<Kept> most = std::vector<Kept>(kBins, {-FLT_MAX, {}});
    Kept darkest{FLT_MAX, {}};
    Kept brightest{-FLT_MAX, {}};

    static void keepLower(Kept& kept, float key, const cv::Vec3f& pixel)
    {
        if (key < kept.key)
            kept = {key, pixel};
    }
    static void keepHigher(Kept& kept, float key, const cv::Vec3f& pixel)
    {
        if (key > kept.key)
            kept = {key, pixel};
    }

    void add(const cv::Vec3f& pixel)
    {
        const float y = pixel.dot(kLuminance);
        if (!(y > 0.0f))
            return;
        const int bin = std::clamp(int(std::floor(std::log2(y) * kBinsPerStop)) - kLowestStop * kBinsPerStop, 0,
                                   kBins - 1);
        const float lowest = std::min({pixel[0], pixel[1], pixel[2]});
        const float highest = std::max({pixel[0], pixel[1], pixel[2]});
        keepLower(least[size_t(bin)], lowest / y, pixel);
        keepHigher(most[size_t(bin)], highest / y, pixel);
        keepLower(darkest, y, pixel);
        keepHigher(brightest, y, pixel);
    }

    void merge(const Candidates& other)
    {
        for (size_t b = 0; b < least.size(); ++b) {
            keepLower(least[b], other.least[b].key, other.least[b].pixel);
            keepHigher(most[b], other.most[b].key, other.most[b].pixel);
        }
        keepLower(darkest, other.darkest.key, other.darkest.pixel);
        keepHigher(brightest, other.brightest.key, other.brightest.pixel);
    }

    cv::Mat pixels() const
    {
        std::vector<cv::Vec3f> found;
        for (size_t b = 0; b < least.size(); ++b) {
            if (least[b].key != FLT_MAX)
                found.push_back(least[b].pixel);
            if (most[b].key != -FLT_MAX)
                found.push_back(most[b].pixel);
        }
        if (found.empty())
            return cv::Mat();
        found.push_back(darkest.pixel);
        found.push_back(brightest.pixel);
        return cv::Mat(found, true).reshape(3, 1);
    }
};

}  // namespace

cv::Mat extremePixels(const cv::Mat& bgr, const cv::Mat& shown)
{
    CV_Assert(bgr.type() == CV_32FC3 && (shown.empty() || (shown.type() == CV_8U && shown.size() == bgr.size())));
    Candidates all;
    std::mutex lock;
    cv::parallel_for_(cv::Range(0, bgr.rows), [&](const cv::Range& rows) {
        Candidates band;
        for (int r = rows.start; r < rows.end; ++r) {
            const cv::Vec3f* pixel = bgr.ptr<cv::Vec3f>(r);
            const uchar* inside = shown.empty() ? nullptr : shown.ptr<uchar>(r);
            for (int c = 0; c < bgr.cols; ++c)
                if (!inside || inside[c])
                    band.add(pixel[c]);
        }
        std::lock_guard<std::mutex> guard(lock);
        all.merge(band);
    }, 8);
    return all.pixels();
}
