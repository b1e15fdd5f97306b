#include "LayerProcessing.h"

#include "HdrTestImages.h"
#include "OpenCvParallelBackend.h"
#include "Threads.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/core/parallel/parallel_backend.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <cerrno>
#include <memory>
#include <set>
#include <thread>

namespace {

const float kDefaults[3] = {0.7f, 1.0f, 20000.0f};
const std::set<int> kProgressPoints = {5, 15, 30, 45, 50, 55, 60, 80, 83, 84, 85, 86, 88, 89, 90, 92, 100};

LayerProcessing* cancelOnThreadStart = nullptr;

// Thread creation that sets the operator's cancel flag and then creates the thread.
int cancellingCreate(pthread_t* handle, const pthread_attr_t* attributes, void* (*entry)(void*), void* argument)
{
    cancelOnThreadStart->cancel = true;
    return pthread_create(handle, attributes, entry, argument);
}

int failingCreate(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)
{
    return EAGAIN;
}

cv::Mat render(const cv::Mat& image, const float params[3] = kDefaults)
{
    LayerProcessing op;
    cv::Mat out;
    op.apply(out, image, params);
    return out;
}

}  // namespace

TEST(LayerProcessing, RendersAnHdrSceneIntoTheUnitRangeAndReportsFullProgress)
{
    const cv::Mat image = hdrtest::syntheticHdr(cv::Size(160, 120), 1);
    LayerProcessing op;
    cv::Mat out;
    op.apply(out, image, kDefaults);
    ASSERT_EQ(out.size(), image.size());
    ASSERT_EQ(out.type(), CV_32FC3);
    EXPECT_TRUE(hdrtest::finiteInUnitRange(out));
    EXPECT_EQ(op.progress, 100);
    // The bright block stays brighter than the dark disc.
    EXPECT_GT(cv::mean(out(cv::Rect(50, 40, 20, 20)))[1], cv::mean(out(cv::Rect(115, 55, 10, 10)))[1]);
}

TEST(LayerProcessing, CancelBeforeTheRunGivesAnEmptyImageAndNoProgress)
{
    LayerProcessing op;
    op.cancel = true;
    cv::Mat out(4, 4, CV_32FC3);
    op.apply(out, hdrtest::syntheticHdr(cv::Size(64, 48), 2), kDefaults);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(op.progress, 0);
}

// The first threads a run starts are the adaptation blur's (after progress 50);
// the next are tone compression and detail enhancement (after progress 60).
TEST(LayerProcessing, CancelWhenTheBlurThreadsStartStopsAtFifty)
{
    LayerProcessing op;
    cancelOnThreadStart = &op;
    setThreadCreateHook(&cancellingCreate);
    cv::Mat out(4, 4, CV_32FC3);
    op.apply(out, hdrtest::syntheticHdr(cv::Size(64, 48), 3), kDefaults);
    setThreadCreateHook(nullptr);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(op.progress, 50);
}

namespace {

// OpenCV's parallel passes run serially, and each first sets the operator's cancel
// once its progress has reached the point: the cancel lands at a known place in the
// run however loaded the machine is, so a run that ignores it always finishes.
class CancelAtProgress : public cv::parallel::ParallelForAPI {
public:
    CancelAtProgress(ToneMappingBase& op, int point) : op_(op), point_(point) {}
    void parallel_for(int tasks, FN_parallel_for_body_cb_t body, void* data) override
    {
        if (op_.progress >= point_)
            op_.cancel = true;
        body(0, tasks, data);
    }
    int getThreadNum() const override { return 0; }
    int getNumThreads() const override { return 1; }
    int setNumThreads(int) override { return 1; }
    const char* getName() const override { return "cancel-at-progress"; }

private:
    ToneMappingBase& op_;
    const int point_;
};

// The passes go to CancelAtProgress while it lives; then the program's own backend and
// thread count come back. OpenCV asks a backend only when it may use more than one thread.
class CancellingPasses {
public:
    CancellingPasses(ToneMappingBase& op, int point) : threads_(cv::getNumThreads())
    {
        cv::parallel::setParallelForBackend(std::make_shared<CancelAtProgress>(op, point), false);
        cv::setNumThreads(2);
    }
    ~CancellingPasses()
    {
        cv::parallel::setParallelForBackend(programParallelBackend(), false);
        cv::setNumThreads(threads_);
    }
    CancellingPasses(const CancellingPasses&) = delete;
    CancellingPasses& operator=(const CancellingPasses&) = delete;

private:
    const int threads_;
};

}  // namespace

class LayerProcessingCancel : public ::testing::TestWithParam<int> {};

TEST_P(LayerProcessingCancel, DuringTheRunGivesAnEmptyImageAtAProgressPoint)
{
    const int point = GetParam();
    LayerProcessing op;
    const cv::Mat image = hdrtest::syntheticHdr(cv::Size(300, 200), 4);
    cv::Mat out(4, 4, CV_32FC3);
    {
        const CancellingPasses passes(op, point);
        op.apply(out, image, kDefaults);
    }
    EXPECT_TRUE(out.empty()) << "the run went on to progress " << op.progress;
    EXPECT_GE(op.progress, point);
    EXPECT_LT(op.progress, 100);
    EXPECT_EQ(kProgressPoints.count(op.progress), 1u) << op.progress;
}

INSTANTIATE_TEST_SUITE_P(Points, LayerProcessingCancel, ::testing::Values(5, 15, 30, 45, 55, 60, 80, 90));

TEST(LayerProcessing, TwoOperatorsCancelIndependently)
{
    const cv::Mat image = hdrtest::syntheticHdr(cv::Size(400, 300), 5);
    LayerProcessing cancelled;
    LayerProcessing running;
    cancelled.cancel = true;
    cv::Mat cancelledOut;
    cv::Mat runningOut;
    std::thread other([&] { cancelled.apply(cancelledOut, image, kDefaults); });
    running.apply(runningOut, image, kDefaults);
    other.join();
    EXPECT_TRUE(cancelledOut.empty());
    EXPECT_TRUE(hdrtest::finiteInUnitRange(runningOut));
    EXPECT_EQ(running.progress, 100);
}

TEST(LayerProcessing, ThreadsThatCannotStartGiveTheSameResult)
{
    const cv::Mat image = hdrtest::syntheticHdr(cv::Size(120, 90), 6);
    const cv::Mat threaded = render(image);
    setThreadCreateHook(&failingCreate);
    const cv::Mat inline_ = render(image);
    setThreadCreateHook(nullptr);
    EXPECT_EQ(cv::norm(threaded, inline_, cv::NORM_INF), 0.0);
}

TEST(LayerProcessing, EightBitInputMatchesItsFloatEquivalent)
{
    cv::Mat image8(60, 80, CV_8UC3);
    cv::RNG(7).fill(image8, cv::RNG::UNIFORM, 0, 256);
    cv::Mat image32;
    image8.convertTo(image32, CV_32F, 1.0 / 255.0);
    EXPECT_LT(cv::norm(render(image8), render(image32), cv::NORM_INF), 1e-4);
}

class LayerProcessingInputs : public ::testing::TestWithParam<const char*> {};

TEST_P(LayerProcessingInputs, GiveFiniteOutputInUnitRange)
{
    const cv::Mat image = hdrtest::namedInput(GetParam());
    const cv::Mat out = render(image);
    ASSERT_EQ(out.size(), image.size());
    EXPECT_TRUE(hdrtest::finiteInUnitRange(out));
}

INSTANTIATE_TEST_SUITE_P(Edges, LayerProcessingInputs, ::testing::ValuesIn(hdrtest::kEdgeInputs), hdrtest::inputName);

TEST(LayerProcessing, RealHdrImagesGiveFiniteOutputInUnitRange)
{
    const auto images = hdrtest::realHdrImages(640);
    if (images.empty())
        GTEST_SKIP() << "no HDR test media";
    for (const auto& image : images)
        EXPECT_TRUE(hdrtest::finiteInUnitRange(render(image.second))) << image.first;
}

namespace {

// Colour areas a few hundred pixels across under a texture a few pixels across:
// detail that a reduction by four averages away.
cv::Mat leafyPhoto(cv::Size size)
{
    cv::RNG rng(31);
    cv::Mat coarse(6, 6, CV_32FC3);
    rng.fill(coarse, cv::RNG::UNIFORM, 0.05f, 0.9f);
    cv::Mat image;
    cv::resize(coarse, image, size, 0.0, 0.0, cv::INTER_CUBIC);
    cv::Mat texture(size, CV_32F);
    rng.fill(texture, cv::RNG::UNIFORM, 0.6f, 1.4f);
    cv::GaussianBlur(texture, texture, cv::Size(0, 0), 1.5);
    cv::cvtColor(texture, texture, cv::COLOR_GRAY2BGR);
    return cv::max(image.mul(texture), 0.01f);
}

}  // namespace

TEST(LayerProcessing, ReducedInputAtItsScaleRendersTheReducedFullSizeResult)
{
    const cv::Mat full = leafyPhoto(cv::Size(1024, 1024));
    const double scale = 0.25;
    cv::Mat reduced, reducedResult;
    cv::resize(full, reduced, cv::Size(), scale, scale, cv::INTER_AREA);
    cv::resize(render(full), reducedResult, reduced.size(), 0.0, 0.0, cv::INTER_AREA);

    LayerProcessing op;
    op.spatialScale = float(scale);
    cv::Mat preview;
    op.apply(preview, reduced, kDefaults);
    cv::Mat difference;
    cv::absdiff(preview, reducedResult, difference);
    // At its own pixels' reach the preview's detail layer is coarser: 1.1 levels off.
    EXPECT_LT(cv::mean(difference.reshape(1))[0] * 255.0, 0.85);
}

// A grey ramp stays grey at every end of the three sliders, the lowest lightness
// exponent (0, whose limit the operator takes) beside the next step.
TEST(LayerProcessing, GreyRampStaysGreyAtTheSlidersEnds)
{
    cv::Mat ramp(24, 256, CV_32FC3);
    for (int c = 0; c < ramp.cols; ++c)
        ramp.col(c).setTo(cv::Scalar::all(0.02 + 0.9 * c / ramp.cols));
    const float settings[][3] = {{0.7f, 1.0f, 20000.0f}, {0.7f, 0.0f, 20000.0f}, {0.7f, 0.01f, 20000.0f},
                                 {0.7f, 2.0f, 20000.0f}, {0.0f, 1.0f, 20000.0f}, {1.0f, 1.0f, 25.0f}};
    for (const auto& p : settings) {
        const cv::Mat out = render(ramp, p);
        ASSERT_TRUE(hdrtest::finiteInUnitRange(out));
        cv::Mat channels[3];
        cv::split(out, channels);
        const cv::Mat spread = cv::max(channels[0], cv::max(channels[1], channels[2])) -
                               cv::min(channels[0], cv::min(channels[1], channels[2]));
        // A nearly flat lightness leaves a level or two of rounding where the display
        // stretch clips the darkest.
        EXPECT_LE(cv::mean(spread)[0], 2.5 / 255.0) << p[0] << ", " << p[1] << ", " << p[2];
        EXPECT_LE(cv::norm(spread, cv::NORM_INF), 5.0 / 255.0) << p[0] << ", " << p[1] << ", " << p[2];
    }
}
