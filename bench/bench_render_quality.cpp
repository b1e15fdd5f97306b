// Render quality over tables of pictures, beside a plain OpenCV approach to the same
// job: which pictures lose rows to a detected frame, which frames are found as a real
// encoder and decoder deliver them, how far a sun HDR's render darkens anywhere along
// an exposure sweep, how far its preview lies from its export, and how a saved light
// image renders once opened again.
#include "BenchPhotos.h"
#include "HdrBenchImage.h"

#include "BlackFrame.h"
#include "EditingDefaults.h"
#include "EngineDefaults.h"
#include "ImageIO.h"
#include "LinearAccumulator.h"
#include "RenderPipeline.h"
#include "SourceKindMark.h"
#include "StackingContext.h"

#include <QApplication>
#include <QMainWindow>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/photo.hpp>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

struct FramedPicture {
    cv::Mat image;
    cv::Rect picture;  // the whole image when it has no frame
    bool linearLight = false;  // float samples in linear light, as a light image's
};

// A noise-free dark sky over a picture and a noise-free dark road under it: smooth
// gradients from a neutral near-black at the edges, each crossing any threshold in a
// whole row at once.
cv::Mat skyAndRoad(const cv::Mat& photo)
{
    cv::Mat image = photo.clone();
    const int sky = image.rows * 3 / 10;
    const int road = image.rows / 4;
    for (int r = 0; r < sky; ++r)
        image.row(r).setTo(cv::Scalar(6.0, 5.0, 5.0) / 255.0 + cv::Scalar(34.0, 24.0, 18.0) / 255.0 * r / sky);
    for (int r = 0; r < road; ++r)
        image.row(image.rows - 1 - r).setTo(cv::Scalar::all(5.0 / 255.0 + 30.0 / 255.0 * r / road));
    return image;
}

const char* const kPhotos[] = {"Aqua.jpg",   "Blinds.jpg",      "Dune.jpg",     "FreshFlower.jpg",
                               "Garden.jpg", "GreenMeadow.jpg", "LadyBird.jpg", "RainDrops.jpg",
                               "Storm.jpg",  "Wood.jpg"};

cv::Mat floatPhoto(const char* name, cv::Size size)
{
    cv::Mat photo;
    benchphotos::loadPhoto(name, size).convertTo(photo, CV_32F, 1.0 / 255.0);
    return photo;
}

// Bars (letterbox, pillarbox, all round; black and noisy video black stored as is and
// in linear light), dark skies and a backdrop on one edge, the sky-and-road pair, and
// ten photographs at three exposures.
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
            made.push_back({image, frame ? inside : cv::Rect(cv::Point(), size), linear});
        };
        for (const cv::Rect inside : {cv::Rect(0, 20, 240, 120), cv::Rect(30, 0, 180, 160), cv::Rect(12, 9, 220, 140)})
            for (const double level : {0.0, 16.0})
                for (const bool linear : {false, true})
                    add(cv::Scalar::all(level), level > 0.0 ? 1.0 / 16 : 0.0, linear, inside, true);
        for (const cv::Scalar& sky : {cv::Scalar::all(15), cv::Scalar(17, 15, 14), cv::Scalar(13, 15, 16)})
            for (const double noise : {0.0, 0.03})
                add(sky, noise, false, cv::Rect(0, 50, 240, 110), false);
        add(cv::Scalar::all(20), 0.03, false, cv::Rect(0, 25, 240, 135), false);
        made.push_back({skyAndRoad(floatPhoto("Dune.jpg", size)), cv::Rect(cv::Point(), size)});
        for (const char* name : kPhotos)
            for (const double exposure : {0.5, 1.0, 2.0})
                made.push_back({cv::min(floatPhoto(name, size) * exposure, 1.0), cv::Rect(cv::Point(), size)});
        return made;
    }();
    return pictures;
}

// The phone video's frames 0, 10, 20, 30 and 40, 8-bit; none without ffmpeg or the video.
std::vector<cv::Mat> filmFrames(const QString& folder)
{
    const char* root = std::getenv("VB_TEST_MEDIA");
    const std::string video = std::string(root ? root : VB_TEST_MEDIA) +
                              "/forensics-samples-files/usr/share/forensics-samples/original-files/movie1/"
                              "VID_20191220_170832.mp4";
    const std::string pattern = folder.toStdString() + "/film%d.png";
    const std::string command = "ffmpeg -v error -y -i '" + video +
                                "' -vf \"select=not(mod(n\\,10))\" -vsync 0 '" + pattern + "'";
    std::vector<cv::Mat> frames;
    if (std::system(command.c_str()) != 0)
        return frames;
    for (int i = 1; i <= 5; ++i) {
        const cv::Mat frame = cv::imread(cv::format(pattern.c_str(), i));
        if (!frame.empty())
            frames.push_back(frame);
    }
    return frames;
}

// `frame` encoded with ffmpeg's libx264 at a constant rate factor (4:2:0) and decoded
// back; empty when ffmpeg fails.
cv::Mat throughH264(const cv::Mat& frame, int crf, const QString& folder)
{
    const std::string png = folder.toStdString() + "/frame.png";
    const std::string mp4 = folder.toStdString() + "/frame.mp4";
    const std::string decoded = folder.toStdString() + "/decoded.png";
    cv::imwrite(png, frame);
    const std::string encode = "ffmpeg -v error -y -i '" + png + "' -c:v libx264 -crf " + std::to_string(crf) +
                               " -pix_fmt yuv420p '" + mp4 + "'";
    const std::string decode = "ffmpeg -v error -y -i '" + mp4 + "' '" + decoded + "'";
    if (std::system(encode.c_str()) != 0 || std::system(decode.c_str()) != 0)
        return cv::Mat();
    return cv::imread(decoded);
}

// A film frame fitted into `picture` of a 1280 x 720 frame of bars at `level`, with or
// without a subtitle in the bottom bar.
cv::Mat inBars(const cv::Mat& film, const cv::Rect& picture, double level, bool subtitle)
{
    cv::Mat frame(720, 1280, CV_8UC3, cv::Scalar::all(level));
    // The film's middle at the picture's shape.
    const double aspect = double(picture.width) / picture.height;
    const int height = std::min(film.rows, int(film.cols / aspect));
    const int width = std::min(film.cols, int(height * aspect));
    cv::Mat fitted = frame(picture);
    cv::resize(film(cv::Rect((film.cols - width) / 2, (film.rows - height) / 2, width, height)), fitted,
               picture.size(), 0.0, 0.0, cv::INTER_AREA);
    if (subtitle) {
        const cv::Point at(400, picture.br().y + (frame.rows - picture.br().y) / 2 + 12);
        cv::putText(frame, "Where were you last night?", at, cv::FONT_HERSHEY_DUPLEX, 1.0, cv::Scalar::all(0), 5);
        cv::putText(frame, "Where were you last night?", at, cv::FONT_HERSHEY_DUPLEX, 1.0, cv::Scalar::all(235), 2);
    }
    return frame;
}

// Letterboxed (2.39:1) and pillarboxed (4:3) film frames in black and video-black
// bars, with and without a subtitle, through H.264 at CRF 18, 23 and 28, as the
// pipeline takes a decoded 8-bit frame.
const std::vector<FramedPicture>& decodedFilmFrames()
{
    static const std::vector<FramedPicture> frames = [] {
        std::vector<FramedPicture> made;
        const QTemporaryDir folder;
        const std::vector<cv::Mat> films = filmFrames(folder.path());
        if (films.size() < 5)
            return made;
        const cv::Rect letterbox(0, 92, 1280, 536);
        const cv::Rect pillarbox(160, 0, 960, 720);
        const struct {
            cv::Rect picture;
            double level;
            bool subtitle;
        } framings[] = {{letterbox, 0, false}, {letterbox, 16, false}, {letterbox, 0, true}, {letterbox, 16, true},
                        {pillarbox, 16, false}};
        for (const int crf : {18, 23, 28}) {
            for (size_t i = 0; i < 5; ++i) {
                const cv::Mat frame = inBars(films[i], framings[i].picture, framings[i].level, framings[i].subtitle);
                const cv::Mat decoded = throughH264(frame, crf, folder.path());
                if (decoded.empty())
                    return std::vector<FramedPicture>();
                cv::Mat samples;
                decoded.convertTo(samples, CV_32F, 1.0 / 255.0);
                made.push_back({samples, framings[i].picture});
            }
        }
        return made;
    }();
    return frames;
}

// Video black of 16 +- 2 levels around a photo, both in linear light as a stacked
// light image holds them, in twenty framings: letterboxes, pillarboxes and borders.
const std::vector<FramedPicture>& linearVideoBlackFramings()
{
    static const std::vector<FramedPicture> framings = [] {
        std::vector<FramedPicture> made;
        const cv::Size size(240, 160);
        cv::RNG rng(16);
        for (int i = 0; i < 20; ++i) {
            const int across = 6 + 3 * (i % 7);
            const cv::Rect inside = i < 8    ? cv::Rect(0, across, size.width, size.height - 2 * across)
                                    : i < 14 ? cv::Rect(2 * across, 0, size.width - 4 * across, size.height)
                                             : cv::Rect(across, across / 2 + 3, size.width - 2 * across, size.height - across - 6);
            cv::Mat levels(size, CV_32F);
            rng.fill(levels, cv::RNG::UNIFORM, 14.0, 18.0);
            cv::Mat image;
            cv::merge(std::vector<cv::Mat>(3, levels / 255.0), image);
            floatPhoto(kPhotos[i % 10], inside.size()).copyTo(image(inside));
            cv::pow(image, 2.2, image);
            made.push_back({image, inside, true});
        }
        return made;
    }();
    return framings;
}

// Whether `found` is the picture, each side within `slack` lines of it.
bool sameWithin(const cv::Rect& found, const cv::Rect& picture, int slack)
{
    return std::abs(found.x - picture.x) <= slack && std::abs(found.y - picture.y) <= slack &&
           std::abs(found.br().x - picture.br().x) <= slack && std::abs(found.br().y - picture.br().y) <= slack;
}

// Pictures cut where they have no frame, and frames found and missed; `slack`: lines
// a found frame's edge may lie off.
void countFrames(benchmark::State& state, const std::vector<FramedPicture>& table,
                 const std::function<cv::Rect(const FramedPicture&)>& pictureOf, int slack = 0)
{
    if (table.empty()) {
        state.SkipWithError("needs ffmpeg and the test media");
        return;
    }
    int cut = 0;
    int found = 0;
    int frames = 0;
    for (auto _ : state) {
        cut = found = frames = 0;
        for (const FramedPicture& framed : table) {
            const cv::Rect picture = pictureOf(framed);
            const bool whole = framed.picture.size() == framed.image.size();
            cut += whole && picture != framed.picture ? 1 : 0;
            frames += whole ? 0 : 1;
            found += !whole && sameWithin(picture, framed.picture, slack) ? 1 : 0;
        }
    }
    state.counters["pictures_cut"] = cut;
    state.counters["frames_found"] = found;
    state.counters["frames_missed"] = frames - found;
}

cv::Rect blackFramePicture(const FramedPicture& framed)
{
    return BlackFrame(framed.image, framed.linearLight).picture();
}

void BM_FrameDetection(benchmark::State& state)
{
    countFrames(state, framedPictures(), blackFramePicture);
}

// The peer: the box of the pixels above 1 % of white.
void BM_OpenCvBoxAboveBlack(benchmark::State& state)
{
    countFrames(state, framedPictures(), [](const FramedPicture& framed) {
        cv::Mat grey;
        cv::cvtColor(framed.image, grey, cv::COLOR_BGR2GRAY);
        return cv::boundingRect(grey > 0.01f);
    });
}

// A codec rings beside the picture's edge: a found edge may lie two lines off it.
void BM_DecodedFilmFrameDetection(benchmark::State& state)
{
    countFrames(state, decodedFilmFrames(), blackFramePicture, 2);
}

// A dark last line of a picture is taken as partly covered and drawn back dimmed as it
// came: a line off.
void BM_LinearVideoBlackDetection(benchmark::State& state)
{
    countFrames(state, linearVideoBlackFramings(), blackFramePicture, 1);
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

// The editing panel's start positions, as the window renders with them.
const EditingSettings& panelDefaults()
{
    static const EditingSettings defaults = [] {
        static int argc = 1;
        static char name[] = "bench_render_quality";
        static char* argv[] = {name, nullptr};
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static QApplication application(argc, argv);
        QMainWindow host;
        Ui_VellumbraClass ui;
        ui.setupUi(&host);
        return engineDefaultsFrom(ui);
    }();
    return defaults;
}

// Mean difference in 8-bit levels; the second image is first reduced to the first's size.
double meanLevelsApart(const cv::Mat& image, const cv::Mat& other)
{
    cv::Mat reduced;
    cv::resize(other, reduced, image.size(), 0.0, 0.0, cv::INTER_AREA);
    cv::Mat difference;
    cv::absdiff(image, reduced, difference);
    return 255.0 * cv::mean(cv::mean(difference))[0];
}

// A real HDR with a small sun (sunset.exr) at its own 1024 x 512, previewed at the
// panel's defaults in a box `state.range(1)` pixels wide, smaller than the picture:
// the mean difference from its export reduced to the preview's size. Argument 0: the
// operator.
void BM_SunHdrPreviewAgainstExport(benchmark::State& state)
{
    const cv::Mat hdr = hdrbench::hdrImage(0.0, "sunset.exr");
    const cv::Size savedBox = previewBox();
    setPreviewBox(cv::Size(int(state.range(1)), int(state.range(1)) * 2 / 3));
    engineDefaults = panelDefaults();
    engineDefaults.TMalgo = int(state.range(0));
    double levels = 0.0;
    for (auto _ : state) {
        RenderPipeline pipeline;
        // The window opens an EXR file as scene-referred.
        pipeline.setSourceImage(hdr, true, SourceKind::SceneReferred);
        pipeline.renderPreview(RenderPipeline::RotationStage, false);
        const cv::Mat preview = pipeline.output().clone();
        levels = meanLevelsApart(preview, pipeline.renderFull());
    }
    state.counters["mean_levels"] = levels;
    engineDefaults = EngineDefaults();
    setPreviewBox(savedBox);
}

// Eight shots of `scene` with noise, averaged in linear light as a stacking run does.
cv::Mat stackedLight(const cv::Mat& scene, int bits)
{
    StackingContext context;
    cv::RNG rng(9);
    for (int shot = 0; shot < 8; ++shot) {
        cv::Mat noise(scene.size(), CV_32FC3), noisy;
        rng.fill(noise, cv::RNG::NORMAL, cv::Scalar::all(0.0), cv::Scalar::all(bits == 8 ? 6.0 : 0.05));
        if (bits == 8)
            cv::add(scene, noise, noisy, cv::noArray(), CV_8U);
        else
            noisy = cv::max(scene.mul(noise + cv::Scalar::all(1.0)), 0.0f);
        shot == 0 ? initLinearAccumulator(bits, noisy, &context) : addToLinearAccumulator(bits, noisy, &context);
    }
    cv::Mat light;
    finishLinearMean(&context, bits, light);
    return light;
}

struct StackedPicture {
    const char* name;
    cv::Mat light;
    SourceKind kind;
};

// A dim film frame (a quarter of its light), an ordinary one and an HDR burst,
// stacked.
const std::vector<StackedPicture>& stackedPictures()
{
    static const std::vector<StackedPicture> pictures = [] {
        std::vector<StackedPicture> made;
        const QTemporaryDir folder;
        const std::vector<cv::Mat> films = filmFrames(folder.path());
        if (films.empty())
            return made;
        cv::Mat film;
        cv::resize(films[0], film, cv::Size(960, 540), 0.0, 0.0, cv::INTER_AREA);
        made.push_back({"dim film frame", stackedLight(film * 0.25, 8), stackedSourceKind(CV_8U)});
        made.push_back({"film frame", stackedLight(film, 8), stackedSourceKind(CV_8U)});
        made.push_back({"HDR burst", stackedLight(hdrbench::hdrImage(0.0, "sunset.exr"), 32), stackedSourceKind(CV_32F)});
        return made;
    }();
    return pictures;
}

cv::Mat renderedAtPanelDefaults(const cv::Mat& light, SourceKind kind)
{
    engineDefaults = panelDefaults();
    RenderPipeline pipeline;
    pipeline.setSourceImage(light, true, kind);
    const cv::Mat rendered = pipeline.renderFull();
    engineDefaults = EngineDefaults();
    return rendered;
}

// A stacked light image saved as the window saves it (Radiance HDR, its kind marked),
// opened again as the window opens a photo, and rendered at the panel's defaults: the
// mean difference from its render before saving, in 8-bit levels.
void BM_SavedLightImageRendersAsStacked(benchmark::State& state)
{
    if (stackedPictures().empty()) {
        state.SkipWithError("needs ffmpeg and the test media");
        return;
    }
    const StackedPicture& stacked = stackedPictures()[size_t(state.range(0))];
    state.SetLabel(stacked.name);
    const QTemporaryDir folder;
    const std::string path = folder.filePath("light.hdr").toStdString();
    double levels = 0.0;
    for (auto _ : state) {
        saveImageWithDepth(path, stacked.light, 32, "");
        markSourceKind(path, stacked.kind);
        cv::Mat reopened;
        readImage(reopened, path, false);
        levels = meanLevelsApart(renderedAtPanelDefaults(stacked.light, stacked.kind),
                                 renderedAtPanelDefaults(reopened, sourceKindOfFile(path, reopened.depth())));
    }
    state.counters["mean_levels"] = levels;
}

}  // namespace

BENCHMARK(BM_FrameDetection)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvBoxAboveBlack)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodedFilmFrameDetection)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LinearVideoBlackDetection)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SunHdrExposureSweep)->Arg(160)->Arg(320)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvReinhardExposureSweep)->Arg(160)->Arg(320)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SunHdrPreviewAgainstExport)
    ->ArgsProduct({{0, 1, 2, 3, 4}, {400, 600, 800}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SavedLightImageRendersAsStacked)->DenseRange(0, 2)->Iterations(1)->Unit(benchmark::kMillisecond);
