// The whole stacking run over nine noisy frames of a real photograph, each moved
// by a known sub-pixel shift, beside a plain OpenCV script doing the same job
// (full-resolution ECC translation, cubic warpAffine, float average). Counters:
// ms_per_frame, the PSNR of the result against the clean instant frame, and its
// gain over a single noisy frame.
#include "ImagesSequence.h"
#include "ImagesSequenceBase.h"
#include "InMemorySequence.h"
#include "StackingContext.h"

#include "BenchBursts.h"
#include "BenchChildProcess.h"
#include "BenchPhotos.h"
#include "PeakMemory.h"

#include <QStringList>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using benchbursts::asUnitFloat;
using benchbursts::noisyFrame;

constexpr int kFrames = 9, kInstant = 4;
constexpr double kNoiseSigma = 6.0;
// Left out of the PSNR: the shifts uncover it, so no frame saw the clean content there.
constexpr int kMargin = 8;
const cv::Point2d kShifts[kFrames] = {{1.3, -0.7}, {-2.4, 1.1}, {0.6, 2.2}, {-1.8, -1.5}, {0.0, 0.0},
                                      {3.1, 0.4},  {-0.9, -2.8}, {2.2, 1.9}, {-3.3, 0.8}};

// The application's defaults: automatic power, medium antighosting, first quality.
// LongExposure turns the antighosting off: what the run itself costs.
enum Mode { AlignOff = 0, AlignOn = 1, MovingObject = 2, LongExposure = 3 };
constexpr float kMediumAntighosting = 4.0f, kNoAntighosting = 100.0f;
constexpr int kFirstQuality = 15;

cv::Size frameSize(int height)
{
    return height == 2160 ? cv::Size(3840, 2160) : cv::Size(1920, 1080);
}

using benchphotos::loadPhoto;
using peakmemory::peakSince;
using peakmemory::startPeakMeasure;

// The scene of frame i: the photograph, with the moving object 14 pixels further
// right for every frame after the instant one.
cv::Mat scene(const cv::Mat& photo, const cv::Mat& object, int i)
{
    if (object.empty())
        return photo;
    cv::Mat withObject = photo.clone();
    const int x = photo.cols / 3 + 14 * (i - kInstant), y = photo.rows / 3;
    object.copyTo(withObject(cv::Rect(x, y, object.cols, object.rows)));
    return withObject;
}


struct Burst {
    std::vector<cv::Mat> frames;
    cv::Mat clean;  // the instant frame without noise, float in [0, 1]
};


const Burst& burst(int height, bool movingObject)
{
    static std::map<std::pair<int, bool>, Burst> bursts;
    auto found = bursts.find({height, movingObject});
    if (found != bursts.end())
        return found->second;
    const cv::Size size = frameSize(height);
    const cv::Mat photo = loadPhoto("Garden.jpg", size);
    cv::Mat object;
    if (movingObject) {  // a textured object over a tenth of the frame
        const cv::Mat flower = loadPhoto("YellowFlower.jpg", size);
        object = flower(cv::Rect(size.width / 3, size.height / 3, size.width / 3, size.height * 3 / 10)).clone();
    }
    Burst b;
    for (int i = 0; i < kFrames; ++i)
        b.frames.push_back(noisyFrame(scene(photo, object, i), i, kShifts[i], kNoiseSigma));
    b.clean = asUnitFloat(scene(photo, object, kInstant));
    return bursts.emplace(std::make_pair(height, movingObject), std::move(b)).first->second;
}

double psnr(const cv::Mat& result, const cv::Mat& clean)
{
    const cv::Rect inside(kMargin, kMargin, clean.cols - 2 * kMargin, clean.rows - 2 * kMargin);
    return cv::PSNR(result(inside), clean(inside), 1.0);
}

void reportRun(benchmark::State& state, double totalMs, const cv::Mat& result, const Burst& b)
{
    state.counters["ms_per_frame"] = totalMs / double(state.iterations()) / kFrames;
    if (result.empty())
        return;
    const double single = psnr(asUnitFloat(b.frames[kInstant]), b.clean);
    state.counters["psnr_dB"] = psnr(result, b.clean);
    state.counters["gain_dB"] = psnr(result, b.clean) - single;
}

int engineThreads()
{
    return std::max(1, int(std::thread::hardware_concurrency()) - 1);
}

double millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The times from a cancel or stop request to the run's return, over runs asked at
// moments spread over them.
struct RequestLatencies {
    double worst = 0.0, sum = 0.0;
    int requests = 0;

    // Runs `stack` on a thread and asks `request` of `context` after delayMs; a run
    // that had ended before the request is not counted.
    template <typename Stack>
    void measure(StackingContext& context, int request, int delayMs, Stack stack)
    {
        std::atomic<bool> returned{false};
        std::thread run([&] {
            stack();
            returned = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        const auto asked = std::chrono::steady_clock::now();
        request == 1 ? context.requestCancel() : context.requestStop();
        run.join();
        if (!returned || context.request != request)
            return;
        const double latency = millisecondsSince(asked);
        worst = std::max(worst, latency);
        sum += latency;
        ++requests;
    }

    void report(benchmark::State& state) const
    {
        state.counters["worst_ms"] = worst;
        state.counters["mean_ms"] = requests ? sum / requests : 0.0;
        state.counters["requests"] = requests;
    }
};

// Args: frame height (1080, 2160), mode. Counter minor_faults: the pages a run
// faults in, with the system time they cost.
void BM_StackFrames(benchmark::State& state)
{
    const Mode mode = Mode(state.range(1));
    const Burst& b = burst(int(state.range(0)), mode == MovingObject);
    InMemorySequence source(b.frames);
    cv::Mat light;
    double totalMs = 0.0;
    const long faultsBefore = peakmemory::minorFaults();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        StackingContext context;
        int count = kFrames;
        light = context.stackFrames(&source, kInstant, 0, &count, -1.0f,
                                    mode == LongExposure ? kNoAntighosting : kMediumAntighosting, mode != AlignOff,
                                    kFirstQuality, engineThreads());
        totalMs += millisecondsSince(start);
    }
    state.counters["minor_faults"] = double(peakmemory::minorFaults() - faultsBefore) / double(state.iterations());
    reportRun(state, totalMs, light, b);
}

// The script's step for one frame: aligned by full-resolution ECC (unless
// `align` is false), warped (cubic) and added to the float sum.
void addScriptFrame(const cv::Mat& templateGrey, const cv::Mat& frame, bool align, cv::Mat& sum)
{
    cv::Mat aligned = frame;
    if (align) {
        cv::Mat grey;
        cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
        cv::Mat warp = cv::Mat::eye(2, 3, CV_32F);
        cv::findTransformECC(templateGrey, grey, warp, cv::MOTION_TRANSLATION,
                             cv::TermCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 70, 1e-6),
                             cv::noArray(), 5);
        cv::warpAffine(frame, aligned, warp, frame.size(), cv::INTER_CUBIC | cv::WARP_INVERSE_MAP);
    }
    if (sum.empty())
        sum = cv::Mat::zeros(frame.size(), CV_32FC3);
    cv::accumulate(aligned, sum);
}

// The OpenCV script: each frame read, aligned by full-resolution ECC (not when
// the alignment is off), warped (cubic) and added to a float sum.
void BM_CvEccAverage(benchmark::State& state)
{
    const Mode mode = Mode(state.range(1));
    const Burst& b = burst(int(state.range(0)), mode == MovingObject);
    InMemorySequence source(b.frames);
    cv::Mat average;
    double totalMs = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        cv::Mat instant, templateGrey, sum;
        source.getFrame(instant, kInstant, false);
        cv::cvtColor(instant, templateGrey, cv::COLOR_BGR2GRAY);
        for (int i = 0; i < kFrames; ++i) {
            cv::Mat frame;
            source.getFrame(frame, i, false);
            addScriptFrame(templateGrey, frame, mode != AlignOff && i != kInstant, sum);
        }
        sum.convertTo(average, CV_32F, 1.0 / (255.0 * kFrames));
        totalMs += millisecondsSince(start);
    }
    reportRun(state, totalMs, average, b);
}

#define STACKING_ARGS                                                                                       \
    ArgsProduct({{1080, 2160}, {AlignOff, AlignOn, MovingObject, LongExposure}})->Unit(benchmark::kMillisecond)->UseRealTime()

BENCHMARK(BM_StackFrames)->STACKING_ARGS;
BENCHMARK(BM_CvEccAverage)->STACKING_ARGS;

// --- Handheld burst and pan of 30 frames, automatic antighosting beside none ---------

// A photograph filmed by a 1080p handheld camera (sub-pixel jitter of a few pixels),
// a still one, or a 4K pan (9.3 pixels a frame right, 1.1 down); in the walker
// clips a cut-out crosses it at 0.3 % of the width a frame. Frames are made once
// and kept, so that the runs compare stacking alone.
struct WalkerClip {
    std::vector<cv::Mat> frames;
    cv::Mat clean;  // the instant frame without noise, float in [0, 1]
    cv::Mat trail;  // where the walker is in some frame, in the instant frame's place
    cv::Rect interior;
};

enum ClipKind { Handheld1080p = 0, Pan4K = 1, WalkersStill1080p = 2, WalkersPan4K = 3 };
constexpr int kClipFrames = 30, kClipInstant = 15;

cv::Point2d cameraAt(ClipKind kind, int i)
{
    if (kind == Pan4K || kind == WalkersPan4K)
        return {9.3 * i, 1.1 * i};
    if (kind == WalkersStill1080p)
        return {8.0, 8.0};
    cv::RNG jitter(77 + i);
    return {8.0 + jitter.uniform(-3.5, 3.5), 8.0 + jitter.uniform(-3.5, 3.5)};
}

const WalkerClip& walkerClip(ClipKind kind)
{
    static std::map<ClipKind, WalkerClip> clips;
    auto found = clips.find(kind);
    if (found != clips.end())
        return found->second;
    const bool pan = kind == Pan4K || kind == WalkersPan4K;
    const bool walking = kind == WalkersStill1080p || kind == WalkersPan4K;
    const cv::Size size = frameSize(pan ? 2160 : 1080);
    const cv::Point2d travel = cameraAt(kind, kClipFrames - 1) + cv::Point2d(16, 16);
    const cv::Mat wide = loadPhoto("Garden.jpg", size + cv::Size(int(travel.x), int(travel.y)));
    const cv::Mat flower = loadPhoto("YellowFlower.jpg", size);
    const cv::Size body(size.width / 10, size.height / 3);
    const cv::Mat walker = flower(cv::Rect((size.width - body.width) / 2, (size.height - body.height) / 2,
                                           body.width, body.height)).clone();
    cv::Mat shape = cv::Mat::zeros(body, CV_8U);
    cv::ellipse(shape, cv::Point(body.width / 2, body.height / 2), body / 2, 0, 0, 360, cv::Scalar(255), cv::FILLED);
    WalkerClip clip;
    clip.trail = cv::Mat::zeros(size, CV_8U);
    const cv::Point2d instantCamera = cameraAt(kind, kClipInstant);
    for (int i = 0; i < kClipFrames; ++i) {
        cv::Mat scene = wide.clone();
        const cv::Point at(int(instantCamera.x) + size.width / 3 + size.width * 3 / 1000 * (i - kClipInstant),
                           int(instantCamera.y) + size.height / 3);
        if (walking) {
            walker.copyTo(scene(cv::Rect(at, body)), shape);
            clip.trail(cv::Rect(at - cv::Point(instantCamera), body) & cv::Rect(cv::Point(), size)).setTo(255);
        }
        const cv::Point2d camera = cameraAt(kind, i);
        cv::Mat view;
        const cv::Mat warp = (cv::Mat_<double>(2, 3) << 1, 0, -camera.x, 0, 1, -camera.y);
        cv::warpAffine(scene, view, warp, size, cv::INTER_CUBIC, cv::BORDER_REFLECT_101);
        cv::Mat noise(size, CV_16SC3);
        cv::RNG(500 + i).fill(noise, cv::RNG::NORMAL, 0.0, kNoiseSigma);
        cv::Mat frame;
        cv::add(view, noise, frame, cv::noArray(), CV_8U);
        clip.frames.push_back(frame);
        if (i == kClipInstant)
            clip.clean = asUnitFloat(view);
    }
    // Away from the band that the camera's travel leaves without every frame.
    const int margin = int(std::max(travel.x, travel.y) / 2) + kMargin;
    clip.interior = cv::Rect(margin, margin, size.width - 2 * margin, size.height - 2 * margin);
    return clips.emplace(kind, std::move(clip)).first->second;
}

// Mean absolute difference from the clean instant frame, in 8-bit levels, over `mask`
// within `area`.
double levelsOff(const cv::Mat& result, const cv::Mat& clean, const cv::Rect& area, const cv::Mat& mask)
{
    cv::Mat difference;
    cv::absdiff(result(area), clean(area), difference);
    const cv::Scalar byChannel = cv::mean(difference, mask.empty() ? cv::noArray() : mask(area));
    return 255.0 * (byChannel[0] + byChannel[1] + byChannel[2]) / 3.0;
}

// Args: clip, antighosting (1 automatic, 0 none). Counters: the interior's, the
// walker's trail's and the edge band's distance from the clean instant frame.
void BM_StackFramesWalkerClip(benchmark::State& state)
{
    const ClipKind kind = ClipKind(state.range(0));
    const bool automatic = state.range(1) == 1;
    const WalkerClip& clip = walkerClip(kind);
    InMemorySequence source(clip.frames);
    cv::Mat light;
    for (auto _ : state) {
        StackingContext context;
        int count = kClipFrames;
        light = context.stackFrames(&source, kClipInstant, 0, &count, -1.0f,
                                    automatic ? kMediumAntighosting : kNoAntighosting, true, kFirstQuality,
                                    engineThreads());
    }
    if (light.empty())
        return;
    cv::Mat edge = cv::Mat::ones(light.size(), CV_8U) * 255;
    edge(clip.interior).setTo(0);
    const cv::Rect whole(cv::Point(), light.size());
    state.counters["interior_levels"] = levelsOff(light, clip.clean, clip.interior, cv::Mat());
    if (cv::countNonZero(clip.trail) > 0)
        state.counters["trail_levels"] = levelsOff(light, clip.clean, whole, clip.trail);
    state.counters["edge_levels"] = levelsOff(light, clip.clean, whole, edge);
}
BENCHMARK(BM_StackFramesWalkerClip)
    ->ArgsProduct({{Handheld1080p, Pan4K, WalkersStill1080p, WalkersPan4K}, {1, 0}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// --- Requests on a 4K video ----------------------------------------------------------

// Frames written once as an H.264 video, as a camera films them; empty when the
// encoder is missing.
QString videoOf(const std::vector<cv::Mat>& frames, const QString& name)
{
    static QTemporaryDir folder;
    const QString path = folder.filePath(name + ".mp4");
    cv::VideoWriter writer(path.toStdString(), cv::CAP_FFMPEG, cv::VideoWriter::fourcc('a', 'v', 'c', '1'), 30.0,
                           frames.front().size());
    if (!writer.isOpened())
        return QString();
    for (const cv::Mat& frame : frames)
        writer.write(frame);
    return path;
}

// The video `name`, written once by `write` into a folder kept for the run; empty
// when it could not be written.
QString videoOnce(const QString& name, const std::function<bool(const QString&)>& write)
{
    static std::map<QString, QString> videos;
    static QTemporaryDir folder;
    auto found = videos.find(name);
    if (found != videos.end())
        return found->second;
    const QString path = folder.filePath(name + ".mp4");
    if (!write(path))
        return QString();
    return videos.emplace(name, path).first->second;
}

// The photograph filmed by a camera panning `step` pixels a frame, `frames` long,
// written once as H.264 at constant quality 18, the detail a camera keeps; empty
// when the encoder is missing.
QString steadyPanVideo(cv::Size size, cv::Point step, int frames)
{
    return videoOnce(QString("pan-%1-%2").arg(size.height).arg(frames), [&](const QString& path) {
        // The library's writer picks its own bit rate: the encoder's program sets the quality.
        const std::string command = "ffmpeg -loglevel error -y -f rawvideo -pix_fmt bgr24 -s " +
                                    std::to_string(size.width) + "x" + std::to_string(size.height) +
                                    " -r 30 -i - -c:v libx264 -crf 18 -pix_fmt yuv420p " + path.toStdString();
        FILE* encoder = popen(command.c_str(), "w");
        if (!encoder)
            return false;
        const cv::Mat wide = loadPhoto("Garden.jpg", size + cv::Size(step.x * frames, step.y * frames));
        bool written = true;
        for (int i = 0; i < frames && written; ++i) {
            const cv::Mat frame = wide(cv::Rect(step * i, size)).clone();
            written = std::fwrite(frame.data, frame.total() * frame.elemSize(), 1, encoder) == 1;
        }
        return pclose(encoder) == 0 && written;
    });
}

constexpr int kPanVideoFrames = 30;

QString steadyPan4KVideo()
{
    return steadyPanVideo(frameSize(2160), cv::Point(4, 2), kPanVideoFrames);
}

// The whole run over the 4K steady pan video, as the user starts it with the
// instant frame on display, with automatic antighosting and with none, one after
// the other in each iteration. Counters: the medians of both and of their ratio.
void BM_StackFrames4KPanVideo(benchmark::State& state)
{
    const QString video = steadyPan4KVideo();
    if (video.isEmpty()) {
        state.SkipWithError("no H.264 encoder");
        return;
    }
    std::vector<double> automaticMs, offMs, ratios;
    for (auto _ : state) {
        double ms[2];
        for (const bool automatic : {false, true}) {
            ImagesSequence source(video);
            cv::Mat shown;
            source.getDisplayImageAt(shown, kClipInstant, false, false);
            const auto start = std::chrono::steady_clock::now();
            StackingContext context;
            int count = kPanVideoFrames;
            benchmark::DoNotOptimize(context.stackFrames(&source, kClipInstant, 0, &count, -1.0f,
                                                         automatic ? kMediumAntighosting : kNoAntighosting, true,
                                                         kFirstQuality, engineThreads()).data);
            ms[automatic] = millisecondsSince(start);
        }
        offMs.push_back(ms[0]);
        automaticMs.push_back(ms[1]);
        ratios.push_back(ms[1] / ms[0]);
    }
    const auto median = [](std::vector<double> values) {
        std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
        return values[values.size() / 2];
    };
    state.counters["automatic_ms"] = median(automaticMs);
    state.counters["off_ms"] = median(offMs);
    state.counters["automatic_over_off"] = median(ratios);
}
BENCHMARK(BM_StackFrames4KPanVideo)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

enum RequestClip { WalkersPanClip = 0, SteadyPanClip = 1 };

// Args: the request (1 cancel, 2 stop), antighosting (1 automatic, 0 none), the
// clip (the 4K walker pan, the 4K steady pan). The run is asked to end at moments
// spread over it; counters: the worst and the mean time from the request to the
// return.
void BM_StackFrames4KVideoRequest(benchmark::State& state)
{
    const int request = int(state.range(0));
    const bool automatic = state.range(1) == 1;
    static const QString walkers = videoOf(walkerClip(WalkersPan4K).frames, "walkers-pan-4k");
    const QString video = state.range(2) == SteadyPanClip ? steadyPan4KVideo() : walkers;
    if (video.isEmpty()) {
        state.SkipWithError("no H.264 encoder");
        return;
    }
    RequestLatencies latencies;
    for (auto _ : state) {
        for (int delayMs = 400; delayMs <= 3200; delayMs += 400) {
            ImagesSequence source(video);
            // The instant frame on display, as the user chose it.
            cv::Mat shown;
            source.getDisplayImageAt(shown, kClipInstant, false, false);
            StackingContext context;
            latencies.measure(context, request, delayMs, [&] {
                int count = kClipFrames;
                context.stackFrames(&source, kClipInstant, 0, &count, -1.0f,
                                    automatic ? kMediumAntighosting : kNoAntighosting, true, kFirstQuality,
                                    engineThreads());
            });
        }
    }
    latencies.report(state);
}
BENCHMARK(BM_StackFrames4KVideoRequest)
    ->ArgsProduct({{1, 2}, {1, 0}, {WalkersPanClip}})
    ->Args({1, 1, SteadyPanClip})
    ->Args({1, 0, SteadyPanClip})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// --- Peak memory of a video run over a short and a long range ----------------------

// A handheld video of the photograph, `frames` long, written once (H.264).
QString handheldVideo(cv::Size size, int frames)
{
    return videoOnce(QString("handheld-%1-%2").arg(size.height).arg(frames), [&](const QString& path) {
        cv::VideoWriter writer(path.toStdString(), cv::CAP_FFMPEG, cv::VideoWriter::fourcc('a', 'v', 'c', '1'), 30.0,
                               size);
        if (!writer.isOpened())
            return false;
        const cv::Mat photo = loadPhoto("Garden.jpg", size);
        for (int i = 0; i < frames; ++i)
            writer.write(noisyFrame(photo, i, cameraAt(Handheld1080p, i) - cv::Point2d(8.0, 8.0), kNoiseSigma));
        return true;
    });
}

// The run over `frames` frames of the video around the middle one, as the user
// starts it with the middle frame on display; returns the light image.
cv::Mat stackVideo(ImagesSequence& source, int frames, bool automatic)
{
    cv::Mat shown;
    source.getDisplayImageAt(shown, frames / 2, false, false);
    StackingContext context;
    int count = frames;
    return context.stackFrames(&source, frames / 2, 0, &count, -1.0f,
                               automatic ? kMediumAntighosting : kNoAntighosting, true, kFirstQuality,
                               engineThreads());
}

// Set in a process that runs one video stacking alone: the video it stacks.
constexpr const char* kPeakVideoVariable = "VB_BENCH_PEAK_VIDEO";

enum VideoMotion { HandheldMotion = 0, SteadyPanMotion = 1 };

// Args: frame height, frames in the range around the middle one, antighosting
// (1 automatic, 0 none), the camera (handheld, a pan of 3 pixels right and 1 down
// a frame). The video is open with the instant frame on display, as
// the user chose it. Counters: the run's rise above that, its peak counting what
// the open video holds during the run (its cache included), and the whole peak
// of a process that does nothing but open the video and run the stacking.
void BM_StackFramesVideoPeakMemory(benchmark::State& state)
{
    const cv::Size size = frameSize(int(state.range(0)));
    const int frames = int(state.range(1));
    const bool automatic = state.range(2) == 1;
    if (benchchild::inChild()) {
        ImagesSequence source(QString::fromStdString(std::getenv(kPeakVideoVariable)));
        for (auto _ : state)
            benchmark::DoNotOptimize(stackVideo(source, frames, automatic).data);
        benchchild::reportToParent(peakmemory::statusMB("VmHWM:"));
        return;
    }
    const QString video = state.range(3) == SteadyPanMotion ? steadyPanVideo(size, cv::Point(3, 1), frames)
                                                            : handheldVideo(size, frames);
    if (video.isEmpty()) {
        state.SkipWithError("no H.264 encoder");
        return;
    }
    double peak = 0.0, withVideo = 0.0;
    for (auto _ : state) {
        const double beforeOpening = peakmemory::statusMB("VmRSS:");
        ImagesSequence source(video);
        cv::Mat shown;
        source.getDisplayImageAt(shown, frames / 2, false, false);
        const double baseline = startPeakMeasure();
        benchmark::DoNotOptimize(stackVideo(source, frames, automatic).data);
        peak = std::max(peak, peakSince(baseline));
        withVideo = std::max(withVideo, baseline - beforeOpening + peakSince(baseline));
    }
    state.counters["peak_MB"] = peak;
    state.counters["with_video_MB"] = withVideo;
    const std::string name = "BM_StackFramesVideoPeakMemory/" + std::to_string(state.range(0)) + "/" +
                             std::to_string(frames) + "/" + std::to_string(state.range(2)) + "/" +
                             std::to_string(state.range(3));
    // The whole peak of a process that only opens the video and runs the stacking.
    state.counters["process_peak_MB"] =
        benchchild::runAlone(name, {std::string(kPeakVideoVariable) + "=" + video.toStdString()});
}
BENCHMARK(BM_StackFramesVideoPeakMemory)
    ->Args({1080, 9, 1, HandheldMotion})
    ->Args({1080, 121, 1, HandheldMotion})
    ->Args({1080, 9, 0, HandheldMotion})
    ->Args({1080, 121, 0, HandheldMotion})
    ->Args({2160, 9, 1, HandheldMotion})
    ->Args({2160, 9, 0, HandheldMotion})
    ->Args({1080, 9, 1, SteadyPanMotion})
    ->Args({1080, 121, 1, SteadyPanMotion})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// --- Peak memory of a long 4K run ----------------------------------------------------

// Frames made when they are read, as a decoder gives them: the run alone decides
// how many are held.
class GeneratedSequence : public ImagesSequenceBase {
public:
    GeneratedSequence(cv::Mat photo, int count) : photo(std::move(photo)), count(count) {}
    cv::Mat& getFrame(cv::Mat& output, int index, bool) override
    {
        const cv::Point2d& shift = kShifts[index % kFrames];
        output = noisyFrame(photo, index, cv::Point2d(shift.x, shift.y), kNoiseSigma);
        return output;
    }
    bool isAtEnd() override { return false; }
    int numberOfFrames() const override { return count; }

private:
    cv::Mat photo;
    int count;
};

void BM_StackFrames30x4KPeakMemory(benchmark::State& state)
{
    GeneratedSequence source(loadPhoto("Garden.jpg", frameSize(2160)), 30);
    double peak = 0.0, totalMs = 0.0;
    for (auto _ : state) {
        const double baseline = startPeakMeasure();
        const auto start = std::chrono::steady_clock::now();
        StackingContext context;
        int count = 30;
        benchmark::DoNotOptimize(
            context.stackFrames(&source, 15, 0, &count, -1.0f, kMediumAntighosting, true, kFirstQuality,
                                engineThreads()).data);
        totalMs += millisecondsSince(start);
        peak = std::max(peak, peakSince(baseline));
    }
    state.counters["peak_MB"] = peak;
    state.counters["ms_per_frame"] = totalMs / double(state.iterations()) / 30;
}
BENCHMARK(BM_StackFrames30x4KPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The script holding every frame, as it would to average them in one call.
void BM_CvHoldAll30x4KPeakMemory(benchmark::State& state)
{
    GeneratedSequence source(loadPhoto("Garden.jpg", frameSize(2160)), 30);
    double peak = 0.0;
    for (auto _ : state) {
        const double baseline = startPeakMeasure();
        std::vector<cv::Mat> frames(30);
        for (int i = 0; i < 30; ++i)
            source.getFrame(frames[i], i, false);
        cv::Mat sum = cv::Mat::zeros(frames[0].size(), CV_32FC3);
        for (const cv::Mat& frame : frames)
            cv::accumulate(frame, sum);
        benchmark::DoNotOptimize(sum.data);
        peak = std::max(peak, peakSince(baseline));
    }
    state.counters["peak_MB"] = peak;
}
BENCHMARK(BM_CvHoldAll30x4KPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- Cancel and stop of a 4K photo burst ----------------------------------------------

// The nine noisy 4K frames written once as JPEG photos, as a camera's burst.
const QStringList& burstFiles4K()
{
    static QTemporaryDir folder;
    static const QStringList files = [] {
        QStringList paths;
        const Burst& b = burst(2160, false);
        for (int i = 0; i < kFrames; ++i) {
            const QString path = folder.filePath(QString("burst_%1.jpg").arg(i));
            cv::imwrite(path.toStdString(), b.frames[i], {cv::IMWRITE_JPEG_QUALITY, 95});
            paths << path;
        }
        return paths;
    }();
    return files;
}

// Arg: the request (1 cancel, 2 stop). The run is asked to end at moments spread
// over it; counters: the worst and the mean time from the request to the return.
void BM_StackFrames4KBurstRequest(benchmark::State& state)
{
    const int request = int(state.range(0));
    const QStringList& files = burstFiles4K();
    RequestLatencies latencies;
    for (auto _ : state) {
        for (int delayMs = 100; delayMs <= 2000; delayMs += 150) {
            ImagesSequence source(files);
            StackingContext context;
            latencies.measure(context, request, delayMs, [&] {
                int count = kFrames;
                context.stackFrames(&source, kInstant, 0, &count, -1.0f, kMediumAntighosting, true, kFirstQuality,
                                    engineThreads());
            });
        }
    }
    latencies.report(state);
}
BENCHMARK(BM_StackFrames4KBurstRequest)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The script's step between two looks at a flag: one photo read, aligned by ECC and
// warped (cubic), added to the sum.
void BM_CvEccFrame4KBurst(benchmark::State& state)
{
    const QStringList& files = burstFiles4K();
    cv::Mat templateGrey, sum;
    cv::cvtColor(cv::imread(files[kInstant].toStdString()), templateGrey, cv::COLOR_BGR2GRAY);
    int i = 0;
    for (auto _ : state)
        addScriptFrame(templateGrey, cv::imread(files[i++ % kFrames].toStdString()), true, sum);
}
BENCHMARK(BM_CvEccFrame4KBurst)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
