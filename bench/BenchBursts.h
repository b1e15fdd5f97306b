#pragma once
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <functional>
#include <vector>

// Bursts as a camera gives them: each frame the scene of its moment, moved by the
// camera's sub-pixel shift, with noise of its own fixed seed. The stacking
// benchmarks and the stacking-quality table of the tests share them.
namespace benchbursts {

// Frame i as a camera would give it: the scene moved by its shift, plus noise of
// the given deviation in 8-bit levels.
inline cv::Mat noisyFrame(const cv::Mat& scene, int i, cv::Point2d shift, double sigma)
{
    cv::Mat moved, noise(scene.size(), CV_16SC3), frame;
    const cv::Mat warp = (cv::Mat_<double>(2, 3) << 1, 0, shift.x, 0, 1, shift.y);
    cv::warpAffine(scene, moved, warp, scene.size(), cv::INTER_CUBIC, cv::BORDER_REFLECT_101);
    cv::RNG(1000 + i).fill(noise, cv::RNG::NORMAL, 0.0, sigma);
    cv::add(moved, noise, frame, cv::noArray(), CV_8U);
    return frame;
}

// The same for a float scene, noise in 255ths, no sample below 0.
inline cv::Mat noisyFloatFrame(const cv::Mat& scene, int i, cv::Point2d shift, double sigma, int interpolation)
{
    cv::Mat moved, noise(scene.size(), scene.type());
    const cv::Mat warp = (cv::Mat_<double>(2, 3) << 1, 0, shift.x, 0, 1, shift.y);
    cv::warpAffine(scene, moved, warp, scene.size(), interpolation, cv::BORDER_REFLECT_101);
    cv::RNG(1000 + i).fill(noise, cv::RNG::NORMAL, 0.0, sigma / 255.0);
    return cv::max(moved + noise, 0.0);
}

inline cv::Mat asUnitFloat(const cv::Mat& image)
{
    cv::Mat result;
    image.convertTo(result, CV_32F, 1.0 / 255.0);
    return result;
}

constexpr int kFrames = 9, kInstant = 4;

struct Burst {
    std::vector<cv::Mat> frames;
    cv::Mat clean;       // the instant frame without noise, in the light image's units
    cv::Rect inside;     // seen by every frame
    cv::Rect ghostArea;  // empty without a ghost
    cv::Mat ring;        // pixels just outside the lamps
    std::vector<cv::Point2d> shifts;  // where the instant frame's content lies in each frame
    double unit = 1.0 / 255.0;        // of a sample in the light image
};

struct Camera {
    int largestShift = 6;  // either way on each axis, in pixels; 0: a tripod
    double sigma = 2.0;    // of the noise, in 8-bit levels
    int depth = CV_8U;     // of a float scene's frames: float, or 16-bit with `range` at full scale
    double range = 1.0;
    int interpolation = cv::INTER_CUBIC;  // of a float scene's moves; bilinear keeps a lamp from ringing
};

// Nine frames around instant 4, frame i showing sceneAt(i), 8-bit or float.
inline Burst burstOf(const std::function<cv::Mat(int)>& sceneAt, const Camera& camera)
{
    Burst b;
    cv::RNG shifts(7);
    for (int i = 0; i < kFrames; ++i) {
        const double s = camera.largestShift;
        const cv::Point2d shift = i == kInstant ? cv::Point2d() : cv::Point2d(shifts.uniform(-s, s), shifts.uniform(-s, s));
        const cv::Mat scene = sceneAt(i);
        b.shifts.push_back(shift);
        if (scene.depth() == CV_8U) {
            b.frames.push_back(noisyFrame(scene, i, shift, camera.sigma));
            if (i == kInstant)
                b.clean = asUnitFloat(scene);
            continue;
        }
        b.frames.push_back(noisyFloatFrame(scene, i, shift, camera.sigma, camera.interpolation));
        if (camera.depth == CV_16U)
            b.frames.back().convertTo(b.frames.back(), CV_16U, 65535.0 / camera.range);
        if (i == kInstant)
            b.clean = scene / camera.range;
    }
    b.unit = b.frames.front().depth() == CV_8U ? 1.0 / 255.0 : b.frames.front().depth() == CV_16U ? 1.0 / 65535.0 : 1.0;
    const int margin = camera.largestShift + 8;
    const cv::Size size = b.frames.front().size();
    b.inside = cv::Rect(margin, margin, size.width - 2 * margin, size.height - 2 * margin);
    return b;
}

// A dark sky of small stars (Gaussian, deviation one pixel) of varied brightness.
inline cv::Mat starField(cv::Size size, int stars)
{
    cv::Mat points(size, CV_32F, cv::Scalar(0.0f));
    cv::RNG rng(11);
    for (int i = 0; i < stars; ++i)
        points.at<float>(rng.uniform(0, size.height), rng.uniform(0, size.width)) = rng.uniform(250.0f, 1500.0f);
    cv::GaussianBlur(points, points, cv::Size(0, 0), 1.0);
    cv::Mat sky;
    points.convertTo(sky, CV_8U, 1.0, 12.0);
    cv::cvtColor(sky, sky, cv::COLOR_GRAY2BGR);
    return sky;
}

// The wall (the photograph at 0.15 to 0.4, float) with 60 lamps of 250 on it; the
// ring just outside the lamps into *ring.
inline cv::Mat lampWall(const cv::Mat& photo, cv::Mat* ring)
{
    cv::Mat wall, lamps(photo.size(), CV_8U, cv::Scalar(0));
    photo.convertTo(wall, CV_32F, 0.25 / 255.0, 0.15);
    cv::RNG rng(13);
    for (int i = 0; i < 60; ++i)
        cv::circle(lamps, cv::Point(rng.uniform(40, photo.cols - 40), rng.uniform(40, photo.rows - 40)), 4,
                   cv::Scalar(255), cv::FILLED);
    wall.setTo(cv::Scalar::all(250.0), lamps);
    cv::dilate(lamps, *ring, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(5, 5)));
    *ring &= ~lamps;
    return wall;
}

// Of the ring's pixels, the share whose grey lies below 80 % of the truth's.
inline double darkRingShare(const cv::Mat& light, const cv::Mat& truth, const cv::Mat& ring)
{
    cv::Mat grey, truthGrey;
    cv::cvtColor(light, grey, cv::COLOR_BGR2GRAY);
    cv::cvtColor(truth, truthGrey, cv::COLOR_BGR2GRAY);
    return double(cv::countNonZero((grey < 0.8 * truthGrey) & ring)) / double(cv::countNonZero(ring));
}

// The ordinary shots of the stacking-quality table, 1080 lines as in the benchmark.
enum class Scene {
    PasserBy,      // a dark 250 x 600 figure crossing the garden, 12 px a frame
    Car,           // a large bright body crossing it, 60 px a frame
    StarField,     // 400 stars on a dark sky
    GreyCard,      // nothing but noise
    DarkAndLight,  // five dark frames, then four of the garden; the last dark one chosen
    DimSmallFrame, // 640 x 360 of wood at 15 % of its light, noisy
    Snow,          // 600 flakes over a plain ground, each at a speed and drift of its own
    LampsOnWall,   // lamps 1000x a wall photographed at full detail
    Detailed,      // fine detail everywhere, where interpolation shows
};

struct Shot {
    Scene scene;
    double contrast = 1.0;  // of the garden behind a passer-by
    bool handheld = true;   // shaken by up to 6 px, else on a tripod
    int depth = CV_8U;      // of the frames of lamps or detail
};

// A rectangle of a photograph of the media's nature backgrounds at its full size;
// empty when it is missing.
using PhotoCrop = std::function<cv::Mat(const char* name, cv::Rect crop)>;

// An upright ellipse of `look` pasted on the scene with its top-left corner at `at`.
inline cv::Mat withSubject(const cv::Mat& scene, const cv::Mat& look, cv::Point at)
{
    cv::Mat result = scene.clone(), shape = cv::Mat::zeros(look.size(), CV_8U);
    cv::ellipse(shape, cv::Point(look.cols / 2, look.rows / 2), look.size() / 2, 0, 0, 360, cv::Scalar(255),
                cv::FILLED);
    const cv::Rect place = cv::Rect(at, look.size()) & cv::Rect(cv::Point(), scene.size());
    look(place - at).copyTo(result(place), shape(place - at));
    return result;
}

inline cv::Mat snowAt(cv::Size size, int i)
{
    cv::Mat scene(size, CV_8UC3, cv::Scalar::all(110));
    cv::RNG rng(17);
    for (int k = 0; k < 600; ++k) {
        const cv::Point start(rng.uniform(0, size.width), rng.uniform(0, size.height));
        const cv::Point step(rng.uniform(-3, 4), rng.uniform(6, 19));
        const int radius = rng.uniform(1, 4);
        const cv::Point at = start + step * i;
        cv::circle(scene, cv::Point(at.x, (at.y % size.height + size.height) % size.height), radius,
                   cv::Scalar::all(235), cv::FILLED, cv::LINE_AA);
    }
    return scene;
}

// The shot's burst; no frames when a photograph is missing.
inline Burst burstFor(const Shot& shot, const PhotoCrop& photo)
{
    const cv::Size size(1920, 1080);
    const cv::Mat garden = photo("Garden.jpg", cv::Rect(cv::Point(320, 260), size));
    const cv::Mat figure = photo("Wood.jpg", cv::Rect(1000, 600, 250, 600)) * 0.3;
    const cv::Mat car = photo("LadyBird.jpg", cv::Rect(1000, 700, 560, 240));
    const cv::Mat dim = photo("Wood.jpg", cv::Rect(900, 700, 640, 360)) * 0.15;
    const cv::Mat detailed = photo("../abstract/Elephants_5640x3172.jpg", cv::Rect(cv::Point(1860, 1046), size));
    if (garden.empty() || figure.empty() || car.empty() || dim.empty() || detailed.empty())
        return Burst();
    Camera camera;
    camera.largestShift = shot.handheld ? 6 : 0;
    const cv::Mat ground = garden * shot.contrast + cv::mean(garden) * (1.0 - shot.contrast);
    const cv::Mat sky = starField(size, 400), card(size, CV_8UC3, cv::Scalar::all(128));
    const cv::Mat dark(size, CV_8UC3, cv::Scalar::all(10));
    cv::Mat ring, scene = detailed;
    switch (shot.scene) {
    case Scene::PasserBy:
        return burstOf([&](int i) { return withSubject(ground, figure, cv::Point(700 + 12 * (i - 4), 300)); }, camera);
    case Scene::Car:
        return burstOf([&](int i) { return withSubject(garden, car, cv::Point(600 + 60 * (i - 4), 700)); }, camera);
    case Scene::StarField: return burstOf([&](int) { return sky; }, camera);
    case Scene::GreyCard: return burstOf([&](int) { return card; }, camera);
    case Scene::DarkAndLight:
        camera.sigma = 3.0;
        return burstOf([&](int i) { return i < 5 ? dark : garden; }, camera);
    case Scene::DimSmallFrame:
        camera.sigma = 8.0;
        return burstOf([&](int) { return dim; }, camera);
    case Scene::Snow: return burstOf([&](int i) { return snowAt(size, i); }, camera);
    case Scene::LampsOnWall: {
        camera.interpolation = cv::INTER_LINEAR;
        camera.depth = shot.depth;
        camera.range = shot.depth == CV_16U ? 300.0 : 1.0;
        const cv::Mat wall = lampWall(detailed, &ring);
        Burst b = burstOf([&](int) { return wall; }, camera);
        b.ring = ring;
        return b;
    }
    case Scene::Detailed:
        if (shot.depth != CV_8U)
            scene = asUnitFloat(detailed);
        camera.depth = shot.depth;
        return burstOf([&](int) { return scene; }, camera);
    }
    return Burst();
}

}  // namespace benchbursts
