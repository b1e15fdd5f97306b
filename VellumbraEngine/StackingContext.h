#pragma once
#include "StackingProgress.h"

#include <opencv2/core.hpp>

#include <atomic>
#include <cstdint>
#include <vector>

class ImagesSequenceBase;

// State of one stacking run or best-images search: the images it works on, the
// ghost-removal settings, the linear-light accumulator, the progress the
// interface shows and the request word through which it cancels or stops the run.
// Fields the interface thread polls or writes while a worker runs are atomic.
class StackingContext {
public:
    enum Request { RequestNone = 0, RequestCancel = 1, RequestStop = 2 };

    StackingContext() = default;
    ~StackingContext();
    StackingContext(const StackingContext&) = delete;
    StackingContext& operator=(const StackingContext&) = delete;

    // Ignored unless a run is active.
    void requestCancel();
    void requestStop();

    // Averages in linear light the frames first .. first + *count - 1 (a range
    // holding instant), read in the order instant, +1, -1, +2, -2, ..., each checked
    // against the instant image, optionally aligned to it by a translation, and
    // freed of its ghosts. A frame of another shot, aligned or not, ends the range
    // on its side before it; a frame the alignment cannot place is left out (both
    // logged, the position still walked). power is the antighosting power in
    // percent of the larger side (negative: automatic); quality is the ghost
    // search's block step. Returns lightImage; an empty image on cancel, on
    // arguments it refuses or when the instant frame cannot be read (logged),
    // *count then unchanged. Otherwise *count becomes the number of positions of
    // the order walked.
    cv::Mat stackFrames(ImagesSequenceBase* source, int instant, int first, int* count, float power, float tolerance,
                        bool align, int quality, int threadCount);

    // Walks back, then forward, from instant and stops each walk at the first
    // neighbour whose ghosting power exceeds 30 % of the width or whose motion is
    // beyond what the estimate's probes can measure. *first: where the backward
    // walk stopped, -1 past frame 0; *last: where the forward walk stopped, or the
    // first index past the source's range. An index is left as it was when a
    // cancel or a failure (logged) ends the search before its walk ends.
    void lookForBestImages(ImagesSequenceBase* source, int instant, int* first, int* last);

    // Rebuilds referenceCopy, referenceSmall and referenceNoise when referenceCopy
    // is not the size of referenceImage, and makes frameCopy from frameImage.
    void updateSearchCopies();

    // Radius, in full-size pixels, within which ghost removal looks for a moved
    // patch. Reads referenceSmall, frameCopy, referenceCopy and patchRadius, writes
    // featureMask. At least 2r + 1: 2r + 1 when the reference has no corner or is
    // too small for the detector's windows, 2r + 2 when no probe confirmed a motion
    // or the frame differs from the reference nowhere beyond referenceNoise.
    // *beyondProbes, when given, tells whether the displacement reached half the
    // probes' search radius, where a motion cannot be told from no match at all (a
    // cut to another shot). Uses threads of its own, all joined before it returns.
    // A pending request (requestPending) ends it early, with a result of no use.
    int computeGhostingPower(bool* beyondProbes = nullptr);

    // Writes into *output a copy of frame whose ghosts (areas that differ from the
    // reference beyond the tolerance) are taken from where the reference's content
    // moved to, or, where even the best match differs beyond the tolerance, from
    // the reference itself. ghostingPower -1 is automatic. False when a request
    // ended the work, or when the images cannot be processed (logged); *output is
    // then incomplete.
    bool removeGhosts(int threadCount, const cv::Mat& reference, const cv::Mat& frame, int ghostingPower,
                      float tolerance, int blockStep, int frameOrdinal, cv::Mat* output);

    cv::Mat referenceImage;
    cv::Mat referenceCopy;   // 8-bit full-size working copy of the reference
    cv::Mat referenceHalf;
    cv::Mat referenceSmall;  // longer side at most 1024
    // Noise deviation of referenceCopy in 8-bit levels: differences within the
    // frames' noise are never ghosts, whatever the tolerance.
    float referenceNoise = 0.0f;
    cv::Mat frameImage;
    cv::Mat frameCopy;       // 8-bit full-size working copy of frameImage
    cv::Mat frameHalf;
    cv::Mat lightImage;
    // OpenCV depth of the stacked frames; -1 before a run.
    int frameDepth = -1;
    int patchRadius = 8;
    int ghostingPower = -1;
    // The next removeGhosts' automatic power, when it was estimated ahead for its
    // frame; 0: estimated there. That call clears it.
    int estimatedPower = 0;
    float tolerance = 0.0f;
    cv::Mat* ghostFreeImage = nullptr;  // owned by the caller
    std::atomic<int> frameOrdinal{0};
    int blockStep = 1;
    cv::Mat ghostMask;
    int imageRows = 0;
    int imageCols = 0;
    int imageChannels = 0;
    int rowElements = 0;
    // Percent of the whole stacking run, or of the best-images search's current step.
    std::atomic<float> progress{0.0f};
    // The part of progress that one removeGhosts covers: all of it when called
    // alone, its share of the current position in a stacking run.
    ProgressSpan ghostRemovalProgress;
    int threadCount = 1;
    cv::Mat linearAccumulator;  // 64-bit float sum of samples^2.2
    int accumulatedCount = 0;
    // Frames of the last stacking run's range it left out (unreadable, of another
    // size or type, or failing alignment or ghost removal), in the order walked.
    // Written by the run; read once it has returned.
    std::vector<int> leftOutFrames;
    cv::Mat featureMask;
    // Kept with featureMask for the next estimate against the same reference: its
    // textured corners, and the last estimate's candidates, probed first while the
    // next flow runs.
    std::vector<cv::Point> texturedCorners;
    std::vector<cv::Point> movingCorners;
    // The estimate probes likely corners on threads of its own while the flow
    // runs: it ends sooner, for probes it may not use. Estimates made ahead of
    // their frame, off the run's critical path, do without.
    bool probeWhileFlowing = true;
    // The run an estimate made ahead on a scratch context belongs to: its cancel
    // and stop end that estimate too.
    const StackingContext* requestOwner = nullptr;
    // True when this context, or the run it belongs to, was asked to cancel or stop.
    bool requestPending() const;
    // Where frameImage's content came from when the alignment moved it onto the
    // reference (0, 0: not moved); the stacking run sets it for every frame. The
    // estimate leaves out the border band the move filled by repeating the frame's
    // edge, and allows for the resampling's blur.
    cv::Point2f placementShift;
    // Whether the last estimate found the frame within the noise and skipped the flow.
    bool lastEstimateSkippedFlow = false;
    std::uint64_t toleranceTableSize = 0;
    float* toleranceTable = nullptr;  // malloc'd, toleranceTableSize entries
    std::atomic<bool> running{false};
    std::atomic<int> request{RequestNone};
};

// Ghost removal of 8-bit (bits 8), 16-bit (16) or float (32) samples with patch
// radius 8. False when it was interrupted or failed; for another bits value false
// with out untouched.
bool removeGhostsForDepth(StackingContext* context, int bits, const cv::Mat& reference, const cv::Mat& frame,
                          int ghostingPower, float tolerance, int quality, int threadCount, int frameOrdinal,
                          cv::Mat& out);
