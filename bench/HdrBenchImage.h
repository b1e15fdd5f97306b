#pragma once
#include "BenchMedia.h"
#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

namespace hdrbench {

// A real HDRI (`world`: a file of the studio lights' worlds; city.exr holds a sun)
// scaled to about `megapixels` (3:2), at its own size for 0, or a deterministic
// synthetic HDR scene when the media is absent. Float BGR with values above 1.
inline cv::Mat hdrImage(double megapixels, const char* world = "forest.exr")
{
    const int rows = int(std::lround(std::sqrt(std::max(megapixels, 0.5) * 1e6 / 1.5)));
    const int columns = int(std::lround(rows * 1.5));
    setenv("OPENCV_IO_ENABLE_OPENEXR", "1", 0);
    const std::string path = benchmedia::root() +
                             "/blender-data/usr/share/blender/datafiles/studiolights/world/" + world;
    cv::Mat source = cv::imread(path, cv::IMREAD_UNCHANGED);
    if (source.empty() || source.channels() < 3) {
        cv::Mat noise(rows, columns, CV_32FC3);
        cv::theRNG().state = 12345;
        cv::randu(noise, 0.0f, 1.0f);
        cv::GaussianBlur(noise, noise, cv::Size(0, 0), 4.0);
        cv::Mat scene;
        cv::exp(noise * 12.0f - 6.0f, scene);
        return scene;
    }
    if (source.channels() == 4)
        cv::cvtColor(source, source, cv::COLOR_BGRA2BGR);
    source.convertTo(source, CV_32F);
    if (megapixels <= 0.0)
        return cv::max(source, 0.0f);
    cv::Mat scaled;
    // Linear: a cubic enlargement overshoots beside the sun into negative values,
    // black specks once cleared that the file does not hold.
    cv::resize(source, scaled, cv::Size(columns, rows), 0, 0, cv::INTER_LINEAR);
    return cv::max(scaled, 0.0f);
}

// Milliseconds luminance-hdr's operator `tmo` (drago, durand, ashikhmin, ...) takes on
// `image`, as its command-line tool reports them in verbose mode ("tmo_<name> = <t>
// msec": the operator alone, without reading or writing files); negative when the
// tool is not installed or reports nothing. The image is written once as an EXR.
// The EXR files written for the peer, removed with their folders at exit.
class PeerFiles {
public:
    ~PeerFiles()
    {
        for (const auto& entry : folders_)
            std::filesystem::remove_all(entry.second);
    }
    // The folder for the image, made on first use; empty when it cannot be made.
    std::string folderFor(const uchar* image)
    {
        std::string& folder = folders_[image];
        if (folder.empty()) {
            char name[] = "/tmp/vb-bench-hdr-XXXXXX";
            if (mkdtemp(name))
                folder = name;
        }
        return folder;
    }

private:
    std::map<const uchar*, std::string> folders_;
};

inline double luminanceHdrMilliseconds(const cv::Mat& image, const std::string& tmo)
{
    static PeerFiles files;
    static std::map<const uchar*, std::string> written;
    std::string& exr = written[image.data];
    if (exr.empty()) {
        const std::string folder = files.folderFor(image.data);
        if (folder.empty())
            return -1.0;
        exr = folder + "/scene.exr";
        setenv("OPENCV_IO_ENABLE_OPENEXR", "1", 0);
        if (!cv::imwrite(exr, image))
            return -1.0;
    }
    const std::string command = "luminance-hdr-cli -v -l '" + exr + "' --tmo " + tmo + " -o '" + exr +
                                ".jpg' 2>&1 | tr '\\r' '\\n'";
    FILE* output = popen(command.c_str(), "r");
    if (!output)
        return -1.0;
    double milliseconds = -1.0;
    char line[4096];
    while (fgets(line, sizeof line, output)) {
        const std::string text(line);
        const size_t at = text.find("tmo_");
        const size_t equals = text.find(" = ", at);
        if (at != std::string::npos && equals != std::string::npos && text.find("msec") != std::string::npos)
            milliseconds = std::atof(text.c_str() + equals + 3);
    }
    pclose(output);
    return milliseconds;
}

// The peer operator of luminance-hdr timed by its own report (register with
// UseManualTime); skipped when the tool is not installed.
inline void timeLuminanceHdr(benchmark::State& state, const cv::Mat& image, const std::string& tmo)
{
    for (auto _ : state) {
        const double milliseconds = luminanceHdrMilliseconds(image, tmo);
        if (milliseconds < 0.0) {
            state.SkipWithError("luminance-hdr-cli is not installed or reported no time");
            break;
        }
        state.SetIterationTime(milliseconds / 1000.0);
    }
}

// Our operator (`run`, timed as the iteration) and luminance-hdr's peer `tmo` on the
// same image in adjacent pairs, so that both meet the same load: each iteration runs
// one of each. Counters: both means and the ratio of every pair (ratio_1, ...), their
// mean and the worst. Register with UseManualTime.
template <typename Run>
inline void timeBesidePeer(benchmark::State& state, const cv::Mat& image, const std::string& tmo, const Run& run)
{
    double ours = 0.0, peer = 0.0, ratios = 0.0, worst = 0.0;
    int pairs = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const double milliseconds =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(milliseconds / 1000.0);
        const double peerMilliseconds = luminanceHdrMilliseconds(image, tmo);
        if (peerMilliseconds <= 0.0) {
            state.SkipWithError("luminance-hdr-cli is not installed or reported no time");
            break;
        }
        const double ratio = milliseconds / peerMilliseconds;
        ours += milliseconds;
        peer += peerMilliseconds;
        ratios += ratio;
        worst = std::max(worst, ratio);
        state.counters["ratio_" + std::to_string(++pairs)] = ratio;
    }
    if (pairs == 0)
        return;
    state.counters["ours_ms"] = ours / pairs;
    state.counters["peer_ms"] = peer / pairs;
    state.counters["ratio"] = ratios / pairs;
    state.counters["worst_ratio"] = worst;
}

// Peak resident memory of the process so far, in megabytes.
inline double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

}  // namespace hdrbench
