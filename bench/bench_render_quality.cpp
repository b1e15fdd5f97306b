// Render quality over tables of pictures, beside a plain OpenCV approach to the same
// job: which pictures lose rows to a detected frame, and how far a sun HDR's render
// darkens anywhere along an exposure sweep.
#include "BenchPhotos.h"
#include "HdrBenchImage.h"

#include "BlackFrame.h"
#include "EngineDefaults.h"
#include "RenderPipeline.h"

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/photo.hpp>

#include <functional>
#include <vector>

namespace {

struct FramedPicture {
    cv::Mat image;
    cv::Rect picture;  // the whole image when it has no frame
};

// Bars (letterbox, pillarbox, all round; black and noisy video black stored as is and
// in linear light), dark skies and a backdrop on one edge, and ten photographs.
const std::vector<FramedPicture>& framedPictures()
{
    static const std::vector<FramedPicture> pictures = [] {
        std::vector<FramedPicture> made;
        const cv::Size size(240, 160);
        auto add = [&](const cv::Scalar& level, double noise, bool linear, const cv::Rect& inside, bool frame) {
            cv::Mat image(size, CV_32FC3);
            cv::RNG(int(made.size())).fill(image, cv::RNG::UNIFORM, cv::Scalar::all(1.0 - noise),
                                           cv::Scalar::all(1.0 + noise));
            cv::multiply(image, level / 255.0, image);
            if (linear)
                cv::pow(image, 2.2, image);
            image(inside).setTo(cv::Scalar(0.5, 0.45, 0.4));
            made.push_back({image, frame ? inside : cv::Rect(cv::Point(), size)});
        };
        for (const cv::Rect inside : {cv::Rect(0, 20, 240, 120), cv::Rect(30, 0, 180, 160), cv::Rect(12, 9, 220, 140)})
            for (const double level : {0.0, 16.0})
                for (const bool linear : {false, true})
                    add(cv::Scalar::all(level), level > 0.0 ? 1.0 / 16 : 0.0, linear, inside, true);
        for (const cv::Scalar& sky : {cv::Scalar::all(15), cv::Scalar(17, 15, 14), cv::Scalar(13, 15, 16)})
            for (const double noise : {0.0, 0.03})
                add(sky, noise, false, cv::Rect(0, 50, 240, 110), false);
        add(cv::Scalar::all(20), 0.03, false, cv::Rect(0, 25, 240, 135), false);
        for (const char* name : {"Aqua.jpg", "Blinds.jpg", "Dune.jpg", "FreshFlower.jpg", "Garden.jpg",
                                 "GreenMeadow.jpg", "LadyBird.jpg", "RainDrops.jpg", "Storm.jpg", "Wood.jpg"}) {
            cv::Mat photo;
            benchphotos::loadPhoto(name, size).convertTo(photo, CV_32F, 1.0 / 255.0);
            made.push_back({photo, cv::Rect(cv::Point(), size)});
        }
        return made;
    }();
    return pictures;
}

// Pictures cut where they have no frame, and frames not found as they are.
void countFrames(benchmark::State& state, const std::function<cv::Rect(const cv::Mat&)>& pictureOf)
{
    int cut = 0;
    int missed = 0;
    for (auto _ : state) {
        cut = missed = 0;
        for (const FramedPicture& framed : framedPictures()) {
            const cv::Rect found = pictureOf(framed.image);
            const bool whole = framed.picture.size() == framed.image.size();
            cut += whole && found != framed.picture ? 1 : 0;
            missed += !whole && found != framed.picture ? 1 : 0;
        }
    }
    state.counters["pictures_cut"] = cut;
    state.counters["frames_missed"] = missed;
}

void BM_FrameDetection(benchmark::State& state)
{
    countFrames(state, [](const cv::Mat& image) { return BlackFrame(image).picture(); });
}

// The peer: the box of the pixels above 1 % of white.
void BM_OpenCvBoxAboveBlack(benchmark::State& state)
{
    countFrames(state, [](const cv::Mat& image) {
        cv::Mat grey;
        cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
        return cv::boundingRect(grey > 0.01f);
    });
}

// A real HDR with a small sun, `state.range(0)` pixels wide, brought from a peak of 0.5
// to 100 in 5 % steps: the largest fall of the mean grey (8-bit levels) between two
// steps, over every operator.
void exposureSweep(benchmark::State& state, const std::function<cv::Mat(const cv::Mat&, int)>& render, int operators)
{
    cv::Mat hdr = hdrbench::hdrImage(0.5, "sunset.exr");
    cv::resize(hdr, hdr, cv::Size(int(state.range(0)), int(state.range(0)) * hdr.rows / hdr.cols), 0.0, 0.0,
               cv::INTER_AREA);
    double largest = 0.0;
    cv::minMaxLoc(hdr.reshape(1), nullptr, &largest);
    double fall = 0.0;
    for (auto _ : state) {
        for (int index = 0; index < operators; ++index) {
            double previous = 0.0;
            for (double peak = 0.5; peak <= 100.0; peak *= 1.05) {
                cv::Mat grey;
                cv::cvtColor(render(hdr * (peak / largest), index), grey, cv::COLOR_BGR2GRAY);
                const double mean = 255.0 * cv::mean(grey)[0];
                fall = std::max(fall, previous - mean);
                previous = mean;
            }
        }
    }
    state.counters["worst_fall_levels"] = fall;
}

void BM_SunHdrExposureSweep(benchmark::State& state)
{
    exposureSweep(
        state,
        [](const cv::Mat& image, int index) {
            engineDefaults.TMalgo = index;
            RenderPipeline pipeline;
            pipeline.setSourceImage(image, true);
            return pipeline.renderFull();
        },
        5);
}

void BM_OpenCvReinhardExposureSweep(benchmark::State& state)
{
    exposureSweep(
        state,
        [](const cv::Mat& image, int) {
            cv::Mat out;
            cv::createTonemapReinhard()->process(image, out);
            return out;
        },
        1);
}

}  // namespace

BENCHMARK(BM_FrameDetection)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvBoxAboveBlack)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SunHdrExposureSweep)->Arg(160)->Arg(320)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvReinhardExposureSweep)->Arg(160)->Arg(320)->Iterations(1)->Unit(benchmark::kMillisecond);
