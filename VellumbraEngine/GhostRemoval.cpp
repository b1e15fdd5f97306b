#include "FrameBufferPool.h"
#include "GhostingPower.h"
#include "Log.h"
#include "NoiseEstimate.h"
#include "StackingContext.h"
#include "StackingProgress.h"
#include "Threads.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

namespace {

// Ghost mask values: ghost pixels, and border ghost pixels already filled with an
// offset found further up their column or along their row ('x').
constexpr uchar kGhost = 255;
constexpr uchar kFilled = 120;

constexpr int kPatchRadius = 8;
constexpr int kProgressUpdates = 20;
constexpr int kMaximumSearchLevel = 1024;
// A float reference brighter than this would need a tolerance table of gigabytes.
constexpr float kLargestFloatTableScale = 16777215.0f;

struct GhostJob;
using PasteTest = bool (*)(const GhostJob&, const cv::Rect&, int, int);

// What one frame's band threads share.
struct GhostJob {
    StackingContext* context;
    cv::Mat output;
    int radius, step, half, gridOffset, firstCentre;
    int rowLimit, colLimit;          // band and block centres stay below these
    int lastInnerRow, lastInnerCol;  // inner region ends
    std::size_t pixelBytes;
    std::vector<float> threshold;    // tolerated difference by table index of the reference sample
    PasteTest pasteFits = nullptr;   // of the reference's sample depth
    // Where the mask, the ghosting-power estimate and the bands end in progress.
    float maskDone, estimateDone, bandsDone;
    int powerAhead = 0;  // the context's estimatedPower
    std::atomic<bool> failed{false};
};

bool requested(const GhostJob& job)
{
    return job.context->request.load() != StackingContext::RequestNone;
}

// output(y, x) = frame(sy, sx), the source kept inside the image.
inline void copyPixel(GhostJob& job, int y, int x, int sy, int sx)
{
    const cv::Mat& frame = job.context->frameImage;
    sy = std::clamp(sy, 0, frame.rows - 1);
    sx = std::clamp(sx, 0, frame.cols - 1);
    std::memcpy(job.output.ptr(y) + x * job.pixelBytes, frame.ptr(sy) + sx * job.pixelBytes, job.pixelBytes);
}

inline bool isGhost(uchar maskValue)
{
    return maskValue > 250;
}

// Table index of a sample: the sample for integer depths, its integer part for
// floats (NaN and negatives 0, beyond the table its last entry).
inline std::size_t tableIndex(uchar a, std::size_t) { return a; }
inline std::size_t tableIndex(ushort a, std::size_t) { return a; }
inline std::size_t tableIndex(float a, std::size_t entries)
{
    if (a >= float(entries - 1))
        return entries - 1;
    return a > 0.0f ? std::size_t(a) : 0;
}

// True when the frame's samples at offset (dy, dx) differ from the reference's,
// summed over the ghost pixels of `area`, by no more than their tolerances summed:
// noise passes, content of another kind does not.
template <typename T>
bool pasteFits(const GhostJob& job, const cv::Rect& area, int dy, int dx)
{
    const StackingContext& c = *job.context;
    const int channels = c.imageChannels;
    const std::size_t entries = job.threshold.size();
    double difference = 0.0, tolerated = 0.0;
    for (int y = area.y; y < area.y + area.height; ++y) {
        const uchar* m = c.ghostMask.ptr<uchar>(y);
        const T* reference = c.referenceImage.ptr<T>(y);
        const T* frame = c.frameImage.ptr<T>(std::clamp(y + dy, 0, c.imageRows - 1));
        for (int x = area.x; x < area.x + area.width; ++x) {
            if (!isGhost(m[x]))
                continue;
            const T* a = reference + x * channels;
            const T* b = frame + std::clamp(x + dx, 0, c.imageCols - 1) * channels;
            for (int k = 0; k < channels; ++k) {
                difference += std::fabs(double(a[k]) - double(b[k]));
                tolerated += job.threshold[tableIndex(a[k], entries)];
            }
        }
    }
    return difference <= tolerated;
}

// The ghost pixels of `area` from the frame at offset (dy, dx); when even that
// best match differs from the reference beyond the tolerance, from the reference:
// pasting the mismatch would put foreign content in the moving subject's place.
void fillGhosts(GhostJob& job, const cv::Rect& area, int dy, int dx)
{
    const StackingContext& c = *job.context;
    const bool fits = job.pasteFits(job, area, dy, dx);
    for (int y = area.y; y < area.y + area.height; ++y) {
        const uchar* m = c.ghostMask.ptr<uchar>(y);
        for (int x = area.x; x < area.x + area.width; ++x) {
            if (!isGhost(m[x]))
                continue;
            if (fits)
                copyPixel(job, y, x, y + dy, x + dx);
            else
                std::memcpy(job.output.ptr(y) + x * job.pixelBytes, c.referenceImage.ptr(y) + x * job.pixelBytes,
                            job.pixelBytes);
        }
    }
}

// Where the frame's pixels for reference pixel (y, x) are: coarse at half size
// within the ghosting power, then fine at full size around the coarse answer.
// *previous, the offset found for the last block, tells both searches where to
// look first: neighbouring blocks of a moving subject move alike.
void searchGhostOffset(const GhostJob& job, int y, int x, int* dy, int* dx, cv::Point* previous)
{
    const StackingContext& c = *job.context;
    const int r = job.radius;
    const int power = c.ghostingPower;
    int coarseY = 0, coarseX = 0;
    probeDisplacementAround(c.referenceHalf, c.frameHalf, y / 2, x / 2, r / 2, y / 2, x / 2, power / 2, &coarseY,
                            &coarseX, *previous / 2);
    probeDisplacementAround(c.referenceCopy, c.frameCopy, y, x, r, y + 2 * coarseY, x + 2 * coarseX, 2 * r + 1, dy,
                            dx, cv::Point(2 * coarseX, 2 * coarseY));
    *previous = cv::Point(*dx, *dy);
}

void removeGhostsInBands(GhostJob& job, int start)
{
    StackingContext& c = *job.context;
    if (requested(job))
        return;
    const int threads = c.threadCount, step = job.step, r = job.radius;
    const int bandStride = threads * step;
    const int bands = std::max(1, (c.imageRows - r - start + 1) / bandStride);
    const int updates = std::min(bands, kProgressUpdates);
    const int bandsPerUpdate = bands / updates;
    const float increment = (job.bandsDone - job.estimateDone) / float(threads * updates);
    const cv::Mat& mask = c.ghostMask;
    const cv::Mat& frame = c.frameImage;
    cv::Point previous;

    int band = 0;
    for (int y = start; y < job.rowLimit; y += bandStride, ++band) {
        const int top = y - job.half, bottom = std::min(y + job.half, job.lastInnerRow);
        for (int x = job.firstCentre; x < job.colLimit; x += step) {
            if (requested(job))
                return;
            const int left = x - job.half, right = std::min(x + job.half, job.lastInnerCol);
            const int width = right - left + 1;
            bool ghost = false;
            for (int yy = top; yy <= bottom && !ghost; ++yy) {
                const uchar* m = mask.ptr<uchar>(yy) + left;
                ghost = std::any_of(m, m + width, isGhost);
            }
            for (int yy = top; yy <= bottom; ++yy)
                std::memcpy(job.output.ptr(yy) + left * job.pixelBytes, frame.ptr(yy) + left * job.pixelBytes,
                            width * job.pixelBytes);
            if (!ghost)
                continue;
            int dy = 0, dx = 0;
            searchGhostOffset(job, y, x, &dy, &dx, &previous);
            fillGhosts(job, cv::Rect(left, top, width, bottom - top + 1), dy, dx);
        }
        if (band > 0 && band % bandsPerUpdate == 0)
            advanceProgress(c.progress, increment, job.bandsDone);
    }
}

// Runs one slice of bands; an exception marks the frame as failed instead of
// leaving the thread.
void runBandSlice(GhostJob& job, int start)
{
    try {
        removeGhostsInBands(job, start);
    } catch (const std::exception& error) {
        logError("removeGhostsInBands", error.what());
        job.failed = true;
    } catch (...) {
        logError("removeGhostsInBands", "unknown exception");
        job.failed = true;
    }
}

// Border strip rows [y0, y1] x columns [x0, x1] (clipped to the image). An offset
// found at a ghost pixel serves the ghost pixels after it down its column
// (alongRows false) or along its row, up to reuseLimit; they are marked filled.
void stripPass(GhostJob& job, int y0, int y1, int x0, int x1, bool alongRows, int reuseLimit)
{
    cv::Mat& mask = job.context->ghostMask;
    y0 = std::max(y0, 0);
    x0 = std::max(x0, 0);
    y1 = std::min(y1, mask.rows - 1);
    x1 = std::min(x1, mask.cols - 1);
    reuseLimit = std::min(reuseLimit, (alongRows ? mask.cols : mask.rows) - 1);
    cv::Point previous;
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const uchar v = mask.at<uchar>(y, x);
            if (v < 100) {
                copyPixel(job, y, x, y, x);
                continue;
            }
            if (!isGhost(v))
                continue;
            int dy = 0, dx = 0;
            searchGhostOffset(job, y, x, &dy, &dx, &previous);
            const int length = std::max(reuseLimit - (alongRows ? x : y), 0) + 1;
            fillGhosts(job, alongRows ? cv::Rect(x, y, length, 1) : cv::Rect(x, y, 1, length), dy, dx);
            for (int next = (alongRows ? x : y) + 1; next <= reuseLimit; ++next) {
                uchar& m = alongRows ? mask.at<uchar>(y, next) : mask.at<uchar>(next, x);
                if (isGhost(m))
                    m = kFilled;
            }
        }
    }
}

// Corner block rows [y0, y1] x columns [x0, x1], one offset probed at the image
// corner (cornerY, cornerX) for all its ghost pixels.
void cornerPass(GhostJob& job, int y0, int y1, int x0, int x1, int cornerY, int cornerX)
{
    const StackingContext& c = *job.context;
    const cv::Mat& mask = c.ghostMask;
    y0 = std::max(y0, 0);
    x0 = std::max(x0, 0);
    y1 = std::min(y1, mask.rows - 1);
    x1 = std::min(x1, mask.cols - 1);
    bool ghost = false;
    for (int y = y0; y <= y1 && !ghost; ++y)
        for (int x = x0; x <= x1 && !ghost; ++x)
            ghost = isGhost(mask.at<uchar>(y, x));
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            copyPixel(job, y, x, y, x);
    if (!ghost)
        return;
    int dy = 0, dx = 0;
    probeDisplacement(c.referenceCopy, c.frameCopy, cornerY, cornerX, job.radius, c.ghostingPower, &dy, &dx);
    fillGhosts(job, cv::Rect(x0, y0, x1 - x0 + 1, y1 - y0 + 1), dy, dx);
}

// Strips then corners, in order, each skipped with all that follow on a request.
void borderPasses(GhostJob& job)
{
    const int rows = job.context->imageRows, cols = job.context->imageCols;
    const int r = job.radius, edge = job.gridOffset + r;
    const std::function<void()> passes[] = {
        [&] { stripPass(job, 0, edge, edge + 1, cols - r - 2, false, r); },
        [&] { stripPass(job, rows - r - 1, rows - 1, edge + 1, cols - r - 2, false, rows - 1); },
        [&] { stripPass(job, edge + 1, rows - r - 2, 0, edge, true, r); },
        [&] { stripPass(job, edge + 1, rows - r - 2, cols - r - 1, cols - 1, true, cols - 1); },
        [&] { cornerPass(job, 0, edge, 0, edge, 0, 0); },
        [&] { cornerPass(job, 0, edge, cols - r - 1, cols - 1, 0, cols - 1); },
        [&] { cornerPass(job, rows - r - 1, rows - 1, 0, edge, rows - 1, 0); },
        [&] { cornerPass(job, rows - r - 1, rows - 1, cols - r - 1, cols - 1, rows - 1, cols - 1); },
    };
    for (const auto& pass : passes) {
        if (requested(job))
            return;
        pass();
    }
}

cv::Mat scaledCopy(const cv::Mat& source, double factor, int interpolation)
{
    if (factor == 1.0)
        return source;
    const int width = cvRound(source.cols * factor), height = cvRound(source.rows * factor);
    // The size the library derives from the factors, which it then keeps.
    cv::Mat result = runBuffer(cv::Size(std::max(width, 1), std::max(height, 1)), source.type());
    if (width >= 1 && height >= 1)
        cv::resize(source, result, cv::Size(), factor, factor, interpolation);
    else
        cv::resize(source, result, result.size(), 0, 0, interpolation);
    return result;
}

cv::Mat searchCopy(const cv::Mat& image)
{
    cv::Mat copy;
    if (image.depth() == CV_16U)
        makeSearchCopy16U(image, copy);
    else if (image.depth() == CV_32F)
        makeSearchCopy32F(image, copy);
    else
        copy = image;
    return copy;
}

// Tolerance table of `entries` entries for full scale F, rebuilt when its size
// changed. False when it cannot be allocated (logged).
bool prepareToleranceTable(StackingContext& c, std::uint64_t entries, float fullScale, bool rebuild)
{
    if (!rebuild)
        return true;
    if (c.toleranceTableSize != 0)
        std::free(c.toleranceTable);
    c.toleranceTableSize = 0;
    c.toleranceTable = static_cast<float*>(std::malloc(entries * sizeof(float)));
    if (!c.toleranceTable) {
        logError("buildGhostMask", "Not enough memory for the tolerance table.");
        return false;
    }
    c.toleranceTableSize = entries;
    float* table = c.toleranceTable;
    if (c.tolerance > 0.0f) {
        const float start = c.tolerance / 100.0f;
        const float step = entries > 1 ? (start - (start + 0.035f)) / fullScale : 0.0f;
        table[0] = start;
        for (std::uint64_t i = 1; i < entries; ++i)
            table[i] = table[i - 1] - step;
    } else {
        std::fill(table, table + entries, 0.0f);
    }
    return true;
}

// Marks pixels where any channel differs beyond the tolerance of the reference
// sample (never less than the noise floor), then removes specks (erode 3x3) and pads what is left (dilate 9x9).
template <typename T>
bool buildGhostMask(GhostJob& job, float fullScale, std::uint64_t entries, bool* noGhost)
{
    StackingContext& c = *job.context;
    const bool rebuild = std::is_same<T, float>::value ? float(c.toleranceTableSize) - 1.0f != fullScale
                                                       : c.toleranceTableSize != entries;
    if (!prepareToleranceTable(c, entries, fullScale, rebuild))
        return false;
    const float noiseFloor =
        noiseFloorLevels(pairNoiseDeviation(c.referenceNoise, c.referenceCopy, c.frameCopy)) * fullScale / 255.0f;
    std::vector<float>& threshold = job.threshold;
    threshold.resize(entries);
    for (std::uint64_t i = 0; i < entries; ++i)
        threshold[i] = std::max(fullScale * c.toleranceTable[i], noiseFloor);
    job.pasteFits = &pasteFits<T>;

    const cv::Mat& reference = c.referenceImage;
    const cv::Mat& frame = c.frameImage;
    cv::Mat mask = runBuffer(reference.size(), CV_8U);
    mask.setTo(0);
    const int channels = c.imageChannels;
    std::atomic<bool> anyGhost{false};
    cv::parallel_for_(cv::Range(0, reference.rows), [&](const cv::Range& rows) {
        bool found = false;
        for (int y = rows.start; y < rows.end; ++y) {
            const T* a = reference.ptr<T>(y);
            const T* b = frame.ptr<T>(y);
            uchar* m = mask.ptr<uchar>(y);
            for (int x = 0; x < reference.cols; ++x, a += channels, b += channels) {
                for (int k = 0; k < channels; ++k) {
                    if (std::fabs(float(a[k]) - float(b[k])) > threshold[tableIndex(a[k], entries)]) {
                        m[x] = kGhost;
                        found = true;
                        break;
                    }
                }
            }
        }
        if (found)
            anyGhost = true;
    });
    *noGhost = !anyGhost;
    const cv::Point centre(-1, -1);
    cv::erode(mask, mask, cv::Mat::ones(3, 3, CV_8U), centre, 1, cv::BORDER_CONSTANT, cv::morphologyDefaultBorderValue());
    cv::dilate(mask, mask, cv::Mat::ones(9, 9, CV_8U), centre, 1, cv::BORDER_CONSTANT, cv::morphologyDefaultBorderValue());
    c.ghostMask = mask;
    return true;
}

bool buildGhostMaskForDepth(GhostJob& job, bool* noGhost)
{
    const StackingContext& c = *job.context;
    switch (c.referenceImage.depth()) {
    case CV_8U: return buildGhostMask<uchar>(job, 255.0f, 256, noGhost);
    case CV_16U: return buildGhostMask<ushort>(job, 65535.0f, 65536, noGhost);
    default: {
        const float largest = std::max(largestFiniteSample(c.referenceImage), 0.0f);
        if (largest > kLargestFloatTableScale) {
            logError("buildGhostMask", "The reference image is too bright for the ghost tolerance.");
            return false;
        }
        return buildGhostMask<float>(job, largest, std::uint64_t(largest) + 1, noGhost);
    }
    }
}

bool supportedDepth(int depth)
{
    return depth == CV_8U || depth == CV_16U || depth == CV_32F;
}

}  // namespace

void StackingContext::updateSearchCopies()
{
    if (referenceCopy.size() != referenceImage.size()) {
        referenceCopy = searchCopy(referenceImage);
        referenceNoise = referenceCopy.empty() ? 0.0f : estimateNoiseDeviation(referenceCopy);
        referenceSmall = scaledCopy(referenceCopy,
                                    double(kMaximumSearchLevel) /
                                        std::max({referenceImage.rows, referenceImage.cols, kMaximumSearchLevel}),
                                    cv::INTER_LINEAR);
    }
    frameCopy = searchCopy(frameImage);
}

bool removeGhostsForDepth(StackingContext* context, int bits, const cv::Mat& reference, const cv::Mat& frame,
                          int ghostingPower, float tolerance, int quality, int threadCount, int frameOrdinal,
                          cv::Mat& out)
{
    if (!context || (bits != 8 && bits != 16 && bits != 32))
        return false;
    return context->removeGhosts(threadCount, reference, frame, ghostingPower, tolerance, quality, frameOrdinal, &out);
}

namespace {

// The band layout of the context's frame: blocks of its step, the grid shifted by
// the frame's ordinal.
void describeBands(StackingContext& c, GhostJob& job)
{
    const int r = kPatchRadius;
    job.context = &c;
    job.radius = r;
    job.step = c.blockStep;
    job.half = c.blockStep / 2;
    job.gridOffset = ((c.frameOrdinal - 1) % c.blockStep + c.blockStep) % c.blockStep;
    job.firstCentre = r + 1 + job.gridOffset + job.half;
    job.rowLimit = c.imageRows - r - 1 + job.half;
    job.colLimit = c.imageCols - r - 1 + job.half;
    job.lastInnerRow = c.imageRows - r - 2;
    job.lastInnerCol = c.imageCols - r - 2;
    job.pixelBytes = c.referenceImage.elemSize();
}

// The phases' ends within the context's span for ghost removal, by their usual costs.
void planProgress(const StackingContext& c, GhostJob& job)
{
    const ProgressSpan& span = c.ghostRemovalProgress;
    const bool automatic = c.ghostingPower < 0;
    const float total = stackingcost::ghostRemoval(automatic, c.blockStep);
    job.maskDone = span.at(stackingcost::kGhostMask / total);
    job.estimateDone = span.at((stackingcost::kGhostMask + (automatic ? stackingcost::kGhostEstimate : 0.0f)) / total);
    job.bandsDone = span.end;
}

// The search copies, the ghost mask and the ghosting power; false when stopped or failed.
bool prepareGhostSearch(StackingContext& c, GhostJob& job)
{
    // The members from here on: output may be the caller's frame or reference.
    const bool newReference = c.referenceCopy.size() != c.referenceImage.size() || c.referenceHalf.empty();
    c.updateSearchCopies();
    if (newReference)
        c.referenceHalf = scaledCopy(c.referenceCopy, 0.5, cv::INTER_AREA);
    c.frameHalf = scaledCopy(c.frameCopy, 0.5, cv::INTER_AREA);
    if (requested(job))
        return false;

    bool noGhost = true;
    if (!buildGhostMaskForDepth(job, &noGhost) || requested(job))
        return false;
    raiseProgress(c.progress, job.maskDone);
    if (c.ghostingPower < 0 && !noGhost) {
        try {
            c.ghostingPower = job.powerAhead > 0 ? job.powerAhead : c.computeGhostingPower();
        } catch (...) {
            logError("Computing ghosting power", "The automatic ghosting power option failed maybe because of a "
                                                 "lack of memory, try to disable this option next times");
        }
    }
    if (c.ghostingPower <= job.radius)
        c.ghostingPower = job.radius + 1;
    raiseProgress(c.progress, job.estimateDone);
    return !requested(job);
}

// Slice k holds the bands whose centre rows are c0 + k S + i T S, each on a thread of
// its own while this one does the borders; a slice whose thread cannot start runs
// here after them. Every thread is joined before this returns, by an exception too.
void removeGhostsInSlices(GhostJob& job)
{
    const StackingContext& c = *job.context;
    WorkerThreads slices;
    std::vector<int> inlineSlices;
    for (int k = 0; k < c.threadCount && !requested(job); ++k) {
        const int start = job.firstCentre + k * c.blockStep;
        if (start >= job.rowLimit)
            break;
        if (!slices.start([&job, start] { runBandSlice(job, start); }))
            inlineSlices.push_back(start);
    }
    borderPasses(job);
    for (int start : inlineSlices)
        runBandSlice(job, start);
}

}  // namespace

bool StackingContext::removeGhosts(int threads, const cv::Mat& reference, const cv::Mat& frame, int power,
                                   float toleranceValue, int step, int ordinal, cv::Mat* output)
{
    GhostJob job;
    job.powerAhead = std::exchange(estimatedPower, 0);
    if (!output || reference.empty() || !supportedDepth(reference.depth()))
        return false;
    if (frame.size() != reference.size() || frame.type() != reference.type()) {
        logError("removeGhosts", "The frame has not the size or the type of the reference image.");
        return false;
    }
    threadCount = std::max(threads, 1);
    referenceImage = reference;
    frameImage = frame;
    blockStep = std::max(step, 1);
    if (blockStep % 2 == 0)
        --blockStep;
    patchRadius = kPatchRadius;
    ghostingPower = power;
    tolerance = toleranceValue;
    ghostFreeImage = output;
    frameOrdinal = ordinal;
    raiseProgress(progress, ghostRemovalProgress.start);
    imageRows = reference.rows;
    imageCols = reference.cols;
    imageChannels = reference.channels();
    rowElements = imageCols * imageChannels;

    describeBands(*this, job);
    planProgress(*this, job);
    try {
        // A buffer of its own: assigning zeros would clear in place whatever the
        // caller's output shares pixels with, the frame itself included.
        *output = runBuffer(referenceImage.size(), referenceImage.type());
        output->setTo(0);
        job.output = *output;
        if (!prepareGhostSearch(*this, job))
            return false;
        removeGhostsInSlices(job);
        if (!requested(job) && !job.failed)
            raiseProgress(progress, job.bandsDone);
    } catch (const std::exception& error) {
        logError("removeGhosts", error.what());
        job.failed = true;
    }
    // The frame's working copies too: an 8-bit copy shares the placed frame's
    // pixels and would keep a whole frame alive until the next one.
    frameImage.release();
    frameCopy.release();
    frameHalf.release();
    ghostMask.release();
    return !requested(job) && !job.failed;
}
