#pragma once
#include "StackingTestImages.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdlib>
#include <vector>

// Clips made from real photographs, as a camera would give them: a still shot with
// cut-outs walking across it, and a pan that cuts to another shot. Every frame has
// noise of its own fixed seed. Empty when the media is absent.
namespace stackingtest {

inline cv::Mat withNoise(const cv::Mat& image, double sigma, unsigned seed)
{
    cv::Mat noise(image.size(), CV_16SC(image.channels())), result;
    cv::RNG(seed).fill(noise, cv::RNG::NORMAL, 0.0, sigma);
    cv::add(image, noise, result, cv::noArray(), image.depth());
    return result;
}

// An upright ellipse of another photograph, moving by `step` pixels a frame.
struct Walker {
    const char* photo;
    cv::Rect atInstant;
    cv::Point step;
};

struct WalkersClip {
    std::vector<cv::Mat> frames;
    cv::Mat movingArea;  // 8-bit: where the walkers are in the instant frame
};

// `count` frames of a still garden; the walkers are at their atInstant places in
// frame `instant`.
inline WalkersClip walkersClip(cv::Size size, int count, int instant, const std::vector<Walker>& walkers,
                               double noiseSigma, unsigned seed)
{
    WalkersClip clip;
    const cv::Mat garden = gardenPhoto(size);
    if (garden.empty())
        return clip;
    std::vector<cv::Mat> people;
    for (const Walker& w : walkers) {
        const cv::Mat source = photo(w.photo, size);
        if (source.empty())
            return clip;
        people.push_back(source(cv::Rect((size.width - w.atInstant.width) / 2, (size.height - w.atInstant.height) / 2,
                                         w.atInstant.width, w.atInstant.height))
                             .clone());
    }
    clip.movingArea = cv::Mat::zeros(size, CV_8U);
    for (int i = 0; i < count; ++i) {
        cv::Mat scene = garden.clone();
        for (std::size_t k = 0; k < walkers.size(); ++k) {
            const cv::Rect place = walkers[k].atInstant + walkers[k].step * (i - instant);
            cv::Mat shape = cv::Mat::zeros(place.size(), CV_8U);
            cv::ellipse(shape, cv::Point(place.width / 2, place.height / 2), place.size() / 2, 0, 0, 360,
                        cv::Scalar(255), cv::FILLED);
            // Only the part inside the frame is pasted.
            const cv::Rect inside = place & cv::Rect(cv::Point(), size);
            const cv::Rect local = inside - place.tl();
            people[k](local).copyTo(scene(inside), shape(local));
            if (i == instant)
                clip.movingArea(inside).setTo(255, shape(local));
        }
        clip.frames.push_back(withNoise(scene, noiseSigma, seed + unsigned(i)));
    }
    return clip;
}

// `count` frames of a camera panning by `step` pixels a frame across one
// photograph, cut at frame `cut` to the same pan across another.
inline std::vector<cv::Mat> panWithCut(cv::Size size, int count, int cut, cv::Point step, const char* firstShot,
                                       const char* secondShot, double noiseSigma, unsigned seed)
{
    const cv::Size wide(size.width + std::abs(step.x) * count, size.height + std::abs(step.y) * count);
    const cv::Mat shots[] = {photo(firstShot, wide), photo(secondShot, wide)};
    std::vector<cv::Mat> frames;
    if (shots[0].empty() || shots[1].empty())
        return frames;
    for (int i = 0; i < count; ++i) {
        const cv::Point origin(step.x >= 0 ? step.x * i : -step.x * (count - 1 - i),
                               step.y >= 0 ? step.y * i : -step.y * (count - 1 - i));
        const cv::Mat& shot = shots[i < cut ? 0 : 1];
        frames.push_back(withNoise(shot(cv::Rect(origin, size)), noiseSigma, seed + unsigned(i)));
    }
    return frames;
}

}  // namespace stackingtest
