#pragma once
#include "StackingTestImages.h"

#include <cstdlib>
#include <vector>

// Clips made from real photographs as a camera gives them, each frame with noise of
// its own fixed seed: a still shot with cut-outs walking across it, and a pan that
// cuts to another shot. Empty when the media is absent.
namespace stackingtest {

inline cv::Mat withNoise(const cv::Mat& image, double sigma, unsigned seed)
{
    cv::Mat noise(image.size(), CV_16SC(image.channels())), result;
    cv::RNG(seed).fill(noise, cv::RNG::NORMAL, 0.0, sigma);
    cv::add(image, noise, result, cv::noArray(), image.depth());
    return result;
}

// An upright ellipse cut from the middle of a photograph, moving by `step` a frame.
struct Walker {
    const char* photo;
    cv::Rect atInstant;
    cv::Point step;
};

struct WalkersClip {
    std::vector<cv::Mat> frames;
    cv::Mat movingArea;  // where the walkers are in the instant frame
};

inline WalkersClip walkersClip(cv::Size size, int count, int instant, const std::vector<Walker>& walkers,
                               double noiseSigma, unsigned seed)
{
    WalkersClip clip{{}, cv::Mat::zeros(size, CV_8U)};
    const cv::Mat garden = gardenPhoto(size);
    std::vector<cv::Mat> people;
    for (const Walker& w : walkers) {
        const cv::Mat source = photo(w.photo, size);
        if (source.empty() || garden.empty())
            return clip;
        people.push_back(source(cv::Rect((size.width - w.atInstant.width) / 2, (size.height - w.atInstant.height) / 2,
                                         w.atInstant.width, w.atInstant.height)));
    }
    for (int i = 0; i < count; ++i) {
        cv::Mat scene = garden.clone();
        for (std::size_t k = 0; k < walkers.size(); ++k) {
            const cv::Mat& person = people[k];
            const cv::Rect place = walkers[k].atInstant + walkers[k].step * (i - instant);
            cv::Mat shape = cv::Mat::zeros(place.size(), CV_8U);
            cv::ellipse(shape, (place.br() - place.tl()) / 2, place.size() / 2, 0, 0, 360, cv::Scalar(255), cv::FILLED);
            const cv::Rect inside = place & cv::Rect(cv::Point(), size);
            person(inside - place.tl()).copyTo(scene(inside), shape(inside - place.tl()));
            if (i == instant)
                clip.movingArea(inside).setTo(255, shape(inside - place.tl()));
        }
        clip.frames.push_back(withNoise(scene, noiseSigma, seed + unsigned(i)));
    }
    return clip;
}

// A camera panning right and down by `step` a frame across one photograph, cut at
// frame `cut` to the same pan across another.
inline std::vector<cv::Mat> panWithCut(cv::Size size, int count, int cut, cv::Point step, const char* firstShot,
                                       const char* secondShot, double noiseSigma, unsigned seed)
{
    const cv::Size wide(size.width + std::abs(step.x) * count, size.height + std::abs(step.y) * count);
    const cv::Mat shots[] = {photo(firstShot, wide), photo(secondShot, wide)};
    std::vector<cv::Mat> frames;
    for (int i = 0; i < count && !shots[0].empty() && !shots[1].empty(); ++i)
        frames.push_back(withNoise(shots[i >= cut](cv::Rect(step * i, size)), noiseSigma, seed + unsigned(i)));
    return frames;
}

}  // namespace stackingtest
