// Image file reading and writing against OpenCV's own codecs on the same files.
#include "ImageIO.h"
#include "ClaimingFiles.h"
#include "PeakMemory.h"
#include "PixelOps.h"
#include "RenderPipeline.h"

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

const cv::Size sizes[] = {{1920, 1080}, {3840, 2160}, {4000, 3000}};

// A photo-like picture: smooth gradients with fine noise, so codecs do real work.
cv::Mat photoLike(cv::Size size, int depth)
{
    cv::Mat small(size.height / 8, size.width / 8, CV_8UC3);
    cv::RNG rng(42);
    rng.fill(small, cv::RNG::UNIFORM, 0, 256);
    cv::Mat picture;
    cv::resize(small, picture, size, 0, 0, cv::INTER_CUBIC);
    cv::Mat noise(size, CV_8UC3);
    rng.fill(noise, cv::RNG::NORMAL, 0, 6);
    picture += noise;
    if (depth == CV_16U)
        picture.convertTo(picture, CV_16U, 257.0);
    return picture;
}

// One file per size and format, written once per run.
const std::string& sampleFile(cv::Size size, const std::string& extension, int depth)
{
    static std::map<std::string, std::string> files;
    const std::string key = std::to_string(size.width) + "x" + std::to_string(size.height) + "-" +
                            std::to_string(depth) + "." + extension;
    auto found = files.find(key);
    if (found == files.end()) {
        const std::string path = "/tmp/vb-bench-imageio-" + key;
        cv::imwrite(path, photoLike(size, depth));
        found = files.emplace(key, path).first;
    }
    return found->second;
}

std::string rawSample()
{
    const std::string path = std::string(VB_RAW_TESTDATA) + "/canon_eos_kiss_x4_magiclantern_colorchart.dng";
    return std::ifstream(path).good() ? path : std::string();
}

// A 12-megapixel phone photo (EXIF orientation 1); VB_TEST_MEDIA in the environment
// overrides the folder configured at build time.
std::string realPhoto()
{
    const char* overridden = std::getenv("VB_TEST_MEDIA");
    const std::string root = overridden ? overridden : VB_TEST_MEDIA;
    const std::string path =
        root + "/forensics-samples-files/usr/share/forensics-samples/original-files/pic1/IMG_20200827_231612.jpg";
    return std::ifstream(path).good() ? path : std::string();
}

void BM_ReadImageRealPhoto(benchmark::State& state)
{
    const std::string path = realPhoto();
    if (path.empty()) {
        state.SkipWithError("real photo absent (VB_TEST_MEDIA)");
        return;
    }
    cv::Mat image;
    for (auto _ : state)
        benchmark::DoNotOptimize(readImage(image, path, false).data);
}
BENCHMARK(BM_ReadImageRealPhoto)->Unit(benchmark::kMillisecond);

void BM_CvImreadRealPhoto(benchmark::State& state)
{
    const std::string path = realPhoto();
    if (path.empty()) {
        state.SkipWithError("real photo absent (VB_TEST_MEDIA)");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(cv::imread(path, cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR).data);
}
BENCHMARK(BM_CvImreadRealPhoto)->Unit(benchmark::kMillisecond);

// An 18-megapixel camera photograph as it was published (progressive JPEG), re-encoded
// baseline, and as an uncompressed 16-bit TIFF (107 MB), written once per run.
const char* const cameraPhotoKinds[] = {"baseline", "progressive", "16-bit TIFF"};

std::string cameraPhoto(int kind)
{
    const char* overridden = std::getenv("VB_TEST_MEDIA");
    const std::string root = overridden ? overridden : VB_TEST_MEDIA;
    const std::string published = root + "/mate-backgrounds/usr/share/backgrounds/mate/abstract/Elephants_5640x3172.jpg";
    if (!std::ifstream(published).good())
        return std::string();
    if (kind == 1)
        return published;
    static const std::string baseline = [&published] {
        const std::string path = "/tmp/vb-bench-imageio-baseline-18mp.jpg";
        cv::imwrite(path, cv::imread(published), {cv::IMWRITE_JPEG_QUALITY, 95});
        return path;
    }();
    static const std::string tiff16 = [&published] {
        const std::string path = "/tmp/vb-bench-imageio-18mp-16.tif";
        cv::Mat deep;
        cv::imread(published).convertTo(deep, CV_16U, 257.0);
        cv::imwrite(path, deep, {cv::IMWRITE_TIFF_COMPRESSION, 1});
        return path;
    }();
    return kind == 0 ? baseline : tiff16;
}

void cameraPhotoArguments(benchmark::internal::Benchmark* benchmark)
{
    benchmark->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
}

void BM_ReadImageCameraJpeg(benchmark::State& state)
{
    const std::string path = cameraPhoto(static_cast<int>(state.range(0)));
    if (path.empty())
        return state.SkipWithError("camera photo absent (VB_TEST_MEDIA)");
    state.SetLabel(cameraPhotoKinds[state.range(0)]);
    cv::Mat image;
    for (auto _ : state)
        benchmark::DoNotOptimize(readImage(image, path, false).data);
}
BENCHMARK(BM_ReadImageCameraJpeg)->Apply(cameraPhotoArguments);

void BM_CvImreadCameraJpeg(benchmark::State& state)
{
    const std::string path = cameraPhoto(static_cast<int>(state.range(0)));
    if (path.empty())
        return state.SkipWithError("camera photo absent (VB_TEST_MEDIA)");
    state.SetLabel(cameraPhotoKinds[state.range(0)]);
    for (auto _ : state)
        benchmark::DoNotOptimize(cv::imread(path, cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR).data);
}
BENCHMARK(BM_CvImreadCameraJpeg)->Apply(cameraPhotoArguments);

void readArguments(benchmark::internal::Benchmark* benchmark)
{
    for (int i = 0; i < 3; ++i)
        benchmark->Arg(i);
    benchmark->Unit(benchmark::kMillisecond);
}

void BM_ReadImageJpeg(benchmark::State& state)
{
    const std::string& path = sampleFile(sizes[state.range(0)], "jpg", CV_8U);
    cv::Mat image;
    for (auto _ : state)
        benchmark::DoNotOptimize(readImage(image, path, false).data);
}
BENCHMARK(BM_ReadImageJpeg)->Apply(readArguments);

void BM_CvImreadJpeg(benchmark::State& state)
{
    const std::string& path = sampleFile(sizes[state.range(0)], "jpg", CV_8U);
    for (auto _ : state)
        benchmark::DoNotOptimize(cv::imread(path, cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR).data);
}
BENCHMARK(BM_CvImreadJpeg)->Apply(readArguments);

void BM_ReadImageTiff16(benchmark::State& state)
{
    const std::string& path = sampleFile(sizes[state.range(0)], "tif", CV_16U);
    cv::Mat image;
    for (auto _ : state)
        benchmark::DoNotOptimize(readImage(image, path, false).data);
}
BENCHMARK(BM_ReadImageTiff16)->Apply(readArguments);

void BM_CvImreadTiff16(benchmark::State& state)
{
    const std::string& path = sampleFile(sizes[state.range(0)], "tif", CV_16U);
    for (auto _ : state)
        benchmark::DoNotOptimize(cv::imread(path, cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR).data);
}
BENCHMARK(BM_CvImreadTiff16)->Apply(readArguments);

// Camera raw: full quality and preview decodes; the peer reads the same picture
// already decoded, as a 16-bit TIFF.
void BM_ReadImageRaw(benchmark::State& state)
{
    const std::string path = rawSample();
    if (path.empty()) {
        state.SkipWithError("camera raw test file absent");
        return;
    }
    cv::Mat image;
    for (auto _ : state)
        benchmark::DoNotOptimize(readImage(image, path, state.range(0) == 1).data);
}
BENCHMARK(BM_ReadImageRaw)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_CvImreadDecodedRaw(benchmark::State& state)
{
    const std::string path = rawSample();
    if (path.empty()) {
        state.SkipWithError("camera raw test file absent");
        return;
    }
    cv::Mat decoded;
    readImage(decoded, path, state.range(0) == 1);
    const std::string tiff = "/tmp/vb-bench-imageio-decoded-raw.tif";
    cv::imwrite(tiff, decoded);
    for (auto _ : state)
        benchmark::DoNotOptimize(cv::imread(tiff, cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR).data);
    std::remove(tiff.c_str());
}
BENCHMARK(BM_CvImreadDecodedRaw)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

struct WriteCase {
    const char* extension;
    int depth;
};
const WriteCase writeCases[] = {{"jpg", CV_8U}, {"png", CV_16U}, {"tif", CV_16U}};

void writeArguments(benchmark::internal::Benchmark* benchmark)
{
    for (int format = 0; format < 3; ++format)
        benchmark->Args({format, 2});
    benchmark->Unit(benchmark::kMillisecond);
}

void BM_WriteImage(benchmark::State& state)
{
    const WriteCase& format = writeCases[state.range(0)];
    const cv::Mat picture = photoLike(sizes[state.range(1)], format.depth);
    const std::string path = std::string("/tmp/vb-bench-imageio-out.") + format.extension;
    state.SetLabel(format.extension);
    for (auto _ : state)
        benchmark::DoNotOptimize(writeImage(path, picture, "", ""));
    std::remove(path.c_str());
}
BENCHMARK(BM_WriteImage)->Apply(writeArguments);

void BM_CvImwrite(benchmark::State& state)
{
    const WriteCase& format = writeCases[state.range(0)];
    const cv::Mat picture = photoLike(sizes[state.range(1)], format.depth);
    const std::string path = std::string("/tmp/vb-bench-imageio-cv.") + format.extension;
    state.SetLabel(format.extension);
    for (auto _ : state)
        benchmark::DoNotOptimize(cv::imwrite(path, picture));
    std::remove(path.c_str());
}
BENCHMARK(BM_CvImwrite)->Apply(writeArguments);

// The 12-megapixel phone photo as an export writes it: rendered, then 16 bits.
const cv::Mat& renderedPhoto16()
{
    static const cv::Mat picture = [] {
        cv::Mat photo;
        if (realPhoto().empty() || readImage(photo, realPhoto(), false).empty())
            return cv::Mat();
        RenderPipeline pipeline;
        pipeline.setSourceImage(photo, true);
        return convertBitDepth(pipeline.renderFull(), 16);
    }();
    return picture;
}

// Bytes of the file against bytes of its samples.
void reportFileSize(benchmark::State& state, const std::string& path, const cv::Mat& picture)
{
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    state.counters["file/samples"] = static_cast<double>(file.tellg()) / (picture.total() * picture.elemSize());
}

void BM_WriteImageTiff16Photo(benchmark::State& state)
{
    const cv::Mat& picture = renderedPhoto16();
    if (picture.empty())
        return state.SkipWithError("real photo absent (VB_TEST_MEDIA)");
    const std::string path = "/tmp/vb-bench-imageio-photo16.tif";
    for (auto _ : state)
        benchmark::DoNotOptimize(writeImage(path, picture, "", ""));
    reportFileSize(state, path, picture);
    std::remove(path.c_str());
}
BENCHMARK(BM_WriteImageTiff16Photo)->Unit(benchmark::kMillisecond);

// The peer: OpenCV's TIFF writer with its own default (LZW over horizontal differences).
void BM_CvImwriteTiff16Photo(benchmark::State& state)
{
    const cv::Mat& picture = renderedPhoto16();
    if (picture.empty())
        return state.SkipWithError("real photo absent (VB_TEST_MEDIA)");
    const std::string path = "/tmp/vb-bench-imageio-cv-photo16.tif";
    for (auto _ : state)
        benchmark::DoNotOptimize(cv::imwrite(path, picture));
    reportFileSize(state, path, picture);
    std::remove(path.c_str());
}
BENCHMARK(BM_CvImwriteTiff16Photo)->Unit(benchmark::kMillisecond);

using Bytes = std::vector<uchar>;

Bytes fileBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void saveBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
}

// Files whose headers claim far more than their picture data holds, one or two for
// each coding, beside honest ones that must open.
struct ClaimCase {
    const char* label;
    const char* kind;  // as the reader tests name them
    std::uint32_t width, height;
    std::size_t bytes;  // padded with zeros or cut to; 0: as made
    bool ended = false;  // a cut file's end marker put back
};
const ClaimCase claimCases[] = {
    {"arithmetic JPEG 16.5 KB as 32768x32767", "arithmetic jpg", 32768, 32767, 16500, true},
    {"arithmetic JPEG running out as 8192x8192", "arithmetic jpg", 8192, 8192, 0},
    {"cut arithmetic JPEG", "arithmetic jpg", 256, 256, 40000},
    {"flat arithmetic JPEG 8192x8192 (opens)", "flat arithmetic jpg", 8192, 8192, 0},
    {"JPEG with a 2 MB trailer as 32768x32767", "jpg", 32768, 32767, 2200000},
    {"GIF 1 KB as 20000x20000", "gif", 20000, 20000, 1000},
    {"GIF 1 KB as 65535x65535", "gif", 65535, 65535, 1000},
    {"LZMA TIFF 16.5 KB as 32768x32767", "lzma tif", 32768, 32767, 16500},
    {"ZSTD TIFF 16.5 KB as 32768x32767", "zstd tif", 32768, 32767, 16500},
    {"WebP 4 KB as 12000x12000", "webp", 12000, 12000, 4000},
    {"Radiance HDR 5 KB as 12000x12000", "hdr", 12000, 12000, 5000},
    {"PFM 3 KB as 12000x12000", "pfm", 12000, 12000, 3000},
    {"PPM with a 70,000-character comment as 12000x12000", "commented ppm", 12000, 12000, 73100},
    {"100-megapixel JPEG (opens)", "jpg", 13333, 7500, 0}};

Bytes claimBytes(const ClaimCase& claim)
{
    if (claim.width == 13333) {
        cv::Mat noise(512, 512, CV_8UC3);
        cv::RNG(7).fill(noise, cv::RNG::UNIFORM, 0, 256);
        cv::Mat large;
        cv::resize(noise, large, cv::Size(int(claim.width), int(claim.height)), 0, 0, cv::INTER_CUBIC);
        Bytes bytes;
        cv::imencode(".jpg", large, bytes, {cv::IMWRITE_JPEG_QUALITY, 92});
        return bytes;
    }
    Bytes bytes = imageio_test::claimingHeader(claim.kind, claim.width, claim.height);
    if (claim.bytes)
        bytes.resize(claim.bytes);
    if (claim.ended) {
        bytes.end()[-2] = 0xFF;
        bytes.end()[-1] = 0xD9;
    }
    return bytes;
}

// The memory a read adds at its peak, and whether it read.
void BM_ReadImageClaim(benchmark::State& state)
{
    const ClaimCase& claim = claimCases[state.range(0)];
    const std::string kind = claim.kind;
    const std::string path = "/tmp/vb-bench-imageio-claim." + kind.substr(kind.rfind(' ') + 1);
    saveBytes(path, claimBytes(claim));
    state.SetLabel(claim.label);
    double peak = 0;
    cv::Mat image;
    for (auto _ : state) {
        image.release();
        const double baseline = peakmemory::startPeakMeasure();
        readImage(image, path, false);
        peak = std::max(peak, peakmemory::peakSince(baseline));
    }
    state.counters["peak MB"] = peak;
    state.counters["read"] = !image.empty();
    std::remove(path.c_str());
}
BENCHMARK(BM_ReadImageClaim)->DenseRange(0, 13)->Unit(benchmark::kMillisecond)->Iterations(1);

// 12 copies of a camera's photo, each with 16 random bytes (never 0xFF, which makes a
// marker, nor 0x5A) written over its picture data at one place.
std::vector<std::string> damagedCameraPhotos()
{
    const std::string photo = realPhoto();
    std::vector<std::string> paths;
    if (photo.empty())
        return paths;
    const Bytes original = fileBytes(photo);
    cv::RNG rng(16);
    for (int place = 0; place < 12; ++place) {
        Bytes damaged = original;
        const std::size_t at = (original.size() - 16) * static_cast<std::size_t>(2 * place + 1) / 24;
        for (std::size_t i = at; i < at + 16; ++i) {
            do
                damaged[i] = static_cast<uchar>(rng.uniform(0, 256));
            while (damaged[i] == 0xFF || damaged[i] == 0x5A);
        }
        paths.push_back("/tmp/vb-bench-imageio-damaged-" + std::to_string(place) + ".jpg");
        saveBytes(paths.back(), damaged);
    }
    return paths;
}

// Reads each file once per iteration: how many read, and the worst of them against
// whole, when given.
template <typename Read>
void readEach(benchmark::State& state, const std::vector<std::string>& paths, Read read, const cv::Mat& whole)
{
    int reads = 0;
    double worst = 99;
    for (auto _ : state) {
        reads = 0;
        for (const std::string& path : paths) {
            const cv::Mat image = read(path);
            reads += !image.empty();
            if (!image.empty() && !whole.empty())
                worst = std::min(worst, cv::PSNR(image, whole));
        }
    }
    state.counters["files"] = static_cast<double>(paths.size());
    state.counters["read"] = reads;
    if (!whole.empty())
        state.counters["worst dB"] = worst;
}

cv::Mat readWithReader(const std::string& path)
{
    cv::Mat image;
    return readImage(image, path, false);
}

cv::Mat readWithOpenCv(const std::string& path)
{
    return cv::imread(path, cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR);
}

void BM_DamagedCameraPhotos(benchmark::State& state, cv::Mat (*read)(const std::string&))
{
    const std::vector<std::string> paths = damagedCameraPhotos();
    if (paths.empty())
        return state.SkipWithError("real photo absent (VB_TEST_MEDIA)");
    readEach(state, paths, read, read(realPhoto()));
    for (const std::string& path : paths)
        std::remove(path.c_str());
}

BENCHMARK_CAPTURE(BM_DamagedCameraPhotos, readImage, readWithReader)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DamagedCameraPhotos, cvImread, readWithOpenCv)->Unit(benchmark::kMillisecond);

// Every JPEG of the test media: the reader refuses none, at OpenCV's pace.
void BM_MediaJpegs(benchmark::State& state, cv::Mat (*read)(const std::string&))
{
    const char* overridden = std::getenv("VB_TEST_MEDIA");
    std::vector<std::string> paths;
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(overridden ? overridden : VB_TEST_MEDIA, error)) {
        std::string extension = entry.path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
        if (entry.is_regular_file() && (extension == ".jpg" || extension == ".jpeg"))
            paths.push_back(entry.path().string());
    }
    if (paths.empty())
        return state.SkipWithError("test media absent (VB_TEST_MEDIA)");
    readEach(state, paths, read, cv::Mat());
}

BENCHMARK_CAPTURE(BM_MediaJpegs, readImage, readWithReader)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MediaJpegs, cvImread, readWithOpenCv)->Unit(benchmark::kMillisecond);

}  // namespace
