// The estimate runs its steps concurrently, smooths in bands and seeds its probes
// from the flow; here it is compared with the estimate written out step by step.
#include "GhostingPower.h"
#include "StackingContext.h"
#include "Threads.h"

#include "StackingClips.h"

#include <gtest/gtest.h>
#include <opencv2/video/tracking.hpp>

#include <cerrno>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr int kRadius = 8, kWindow = 4 * kRadius + 1, kHalf = kWindow / 2;

cv::Mat toGrey(const cv::Mat& image)
{
    cv::Mat grey;
    cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
    return grey;
}

int windowStart(int centre, int limit)
{
    int start = std::max(centre - kHalf, 0);
    if (start + kWindow >= limit)
        start = limit - kWindow - 1;
    return start;
}

float texture(const cv::Mat& referenceSmall, int y, int x)
{
    const cv::Rect window(windowStart(x, referenceSmall.cols), windowStart(y, referenceSmall.rows), kWindow, kWindow);
    cv::Mat derivative;
    cv::Sobel(toGrey(referenceSmall(window)), derivative, CV_32F, 1, 1, 3, 1, 0, cv::BORDER_REFLECT_101);
    const std::vector<float> values(derivative.begin<float>(), derivative.end<float>());
    const float mean = meanOfFloats(values.data(), int(values.size()));
    float variance = 0.0f;
    for (float v : values)
        variance += (v - mean) * (v - mean);
    return std::sqrt(variance / float(values.size()));
}

// One step after the other, the motion map searched for its maxima one by one.
int straightforwardPower(StackingContext& c, cv::Mat* mask)
{
    const cv::Mat& small = c.referenceSmall;
    cv::Mat frameSmall;
    cv::resize(c.frameCopy, frameSmall, small.size(), 0, 0, cv::INTER_LINEAR);
    std::vector<cv::Point2f> corners;
    cv::goodFeaturesToTrack(toGrey(small), corners, 1000, 0.01, 2.0, cv::noArray(), kWindow, false, 0.04);
    if (corners.empty())
        return 2 * kRadius + 1;
    *mask = cv::Mat::zeros(small.size(), CV_8U);
    for (const cv::Point2f& p : corners)
        mask->at<uchar>(cvRound(p.y), cvRound(p.x)) = 255;

    cv::Mat flow, smoothed, kept = cv::Mat::zeros(small.size(), CV_32FC2);
    cv::calcOpticalFlowFarneback(toGrey(small), toGrey(frameSmall), flow, 0.75, 4, 5, 1, 5, 1.1, 0);
    cv::GaussianBlur(flow, smoothed, cv::Size(kWindow, kWindow), 2.0, 2.0, cv::BORDER_REFLECT_101);
    smoothed.copyTo(kept, *mask);

    cv::Mat motion = cv::Mat::zeros(small.size(), CV_32F);
    for (int y = kHalf + 1; y < small.rows - kHalf; ++y)
        for (int x = kHalf + 1; x < small.cols - kHalf; ++x) {
            const cv::Point2f f = kept.at<cv::Point2f>(y, x);
            const float m = f.x * f.x + f.y * f.y;
            if (m >= 0.01f && texture(small, y, x) >= 5.7375f)
                motion.at<float>(y, x) = m;
        }

    const int radius = std::max(small.rows, small.cols) / 6;
    std::vector<float> list;
    for (int probes = 0; probes < 90 && list.size() < 30; ++probes) {
        double largest = 0;
        cv::Point at;
        cv::minMaxLoc(motion, nullptr, &largest, nullptr, &at);
        if (largest < 0.01)
            break;
        motion.at<float>(at) = 0.0f;
        int dy = 0, dx = 0;
        const double score = probeDisplacement(small, frameSmall, at.y, at.x, kHalf, radius, &dy, &dx);
        if ((dy != 0 || dx != 0) && score <= 37000000.0)
            list.push_back(float(dy * dy + dx * dx));
    }
    const int n = int(list.size());
    if (n > 1)
        quickSortFloats(list.data(), 0, n - 1);
    const int d0 = int(std::sqrt(double(int(n > 0 ? list[n / 2] : 0.0f))));
    const int d = c.referenceCopy.cols * d0 / small.cols;
    return d > 3 * kRadius ? d + 2 + kRadius : d + 2 + 2 * kRadius;
}

int failingCreate(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)
{
    return EAGAIN;
}

cv::Mat moved(const cv::Mat& image, double dx, double dy)
{
    cv::Mat result;
    const cv::Mat shift = (cv::Mat_<double>(2, 3) << 1, 0, dx, 0, 1, dy);
    cv::warpAffine(image, result, shift, image.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT_101);
    return result;
}

// A flower patch over a tenth of the frame that moved by (16, 10) on a still garden.
void movingObject(const cv::Mat& garden, cv::Mat* reference, cv::Mat* frame)
{
    const cv::Mat flower = stackingtest::flowerPhoto(garden.size());
    const cv::Rect patch(600, 300, 660, 320);
    *reference = garden.clone();
    *frame = garden.clone();
    flower(patch).copyTo((*reference)(cv::Rect(500, 350, 660, 320)));
    flower(patch).copyTo((*frame)(cv::Rect(516, 360, 660, 320)));
}

struct FastPathCase {
    const char* photo;
    double dx, dy;
};

class GhostingPowerFastPath : public ::testing::TestWithParam<FastPathCase> {};

void expectSameEstimate(const cv::Mat& reference, const cv::Mat& frame)
{
    StackingContext fast, plain;
    for (StackingContext* c : {&fast, &plain}) {
        c->patchRadius = kRadius;
        c->referenceCopy = reference;
        const double factor = 1024.0 / std::max(reference.rows, reference.cols);
        cv::resize(reference, c->referenceSmall, cv::Size(), factor, factor, cv::INTER_LINEAR);
        c->frameCopy = frame;
    }
    cv::Mat plainMask;
    const int expected = straightforwardPower(plain, &plainMask);
    EXPECT_EQ(fast.computeGhostingPower(), expected);
    ASSERT_EQ(fast.featureMask.size(), plainMask.size());
    EXPECT_EQ(cv::norm(fast.featureMask, plainMask, cv::NORM_INF), 0.0);
    // A kept mask is reused and gives the same estimate.
    EXPECT_EQ(fast.computeGhostingPower(), expected);
}

}  // namespace

TEST_P(GhostingPowerFastPath, EqualsTheStepByStepEstimateOnShiftedPhotos)
{
    const FastPathCase c = GetParam();
    const cv::Mat photo = stackingtest::photo(c.photo, cv::Size(1920, 1080));
    if (photo.empty())
        GTEST_SKIP() << "test photograph not available";
    expectSameEstimate(photo, moved(photo, c.dx, c.dy));
}

INSTANTIATE_TEST_SUITE_P(Photos, GhostingPowerFastPath,
                         ::testing::Values(FastPathCase{"Garden.jpg", 12, 5}, FastPathCase{"Garden.jpg", -31, 17},
                                           FastPathCase{"Garden.jpg", 0, 0}, FastPathCase{"Wood.jpg", 2.5, -1.5},
                                           FastPathCase{"LadyBird.jpg", 45, -20},
                                           FastPathCase{"RainDrops.jpg", -6, 9}),
                         [](const ::testing::TestParamInfo<FastPathCase>& info) {
                             return std::string(info.param.photo).substr(0, std::string(info.param.photo).find('.')) +
                                    std::to_string(info.index);
                         });

TEST(GhostingPowerFastPath, EqualsTheStepByStepEstimateOnAMovingObject)
{
    const cv::Mat garden = stackingtest::gardenPhoto(cv::Size(1920, 1080));
    if (garden.empty())
        GTEST_SKIP() << "test photograph not available";
    cv::Mat reference, frame;
    movingObject(garden, &reference, &frame);
    expectSameEstimate(reference, frame);
    // Without threads every step runs on the caller's.
    setThreadCreateHook(&failingCreate);
    expectSameEstimate(reference, frame);
    setThreadCreateHook(nullptr);
}

namespace {

// Every placement within radius of the square around (y, x), which must need no
// clamping: the smallest integer sum of squared differences, first in row-major order.
double exhaustiveProbe(const cv::Mat& image, const cv::Mat& search, int y, int x, int half, int radius, cv::Point* at)
{
    const int size = 2 * half + 1;
    const cv::Mat patch = image(cv::Rect(x - half, y - half, size, size));
    double best = std::numeric_limits<double>::infinity();
    for (int top = y - radius; top + size <= y + radius; ++top)
        for (int left = x - radius; left + size <= x + radius; ++left) {
            cv::Mat difference;
            cv::subtract(patch, search(cv::Rect(left, top, size, size)), difference, cv::noArray(), CV_32S);
            const double sum = difference.dot(difference);
            if (sum < best) {
                best = sum;
                *at = cv::Point(left - (x - half), top - (y - half));
            }
        }
    return best;
}

struct ProbeCase {
    int half, radius;
    cv::Point2d shift;
    const char* otherShot;  // the frame is this photograph instead of the shifted one
};

class ProbeDisplacementFastPath : public ::testing::TestWithParam<ProbeCase> {};

}  // namespace

// The scan passes over placements whose sums alone rule them out; its answer is
// still the exhaustive one, ties included (the flat sky has many).
TEST_P(ProbeDisplacementFastPath, EqualsTheExhaustiveSearch)
{
    const ProbeCase c = GetParam();
    const cv::Mat photo = stackingtest::photo("Storm.jpg", cv::Size(480, 270));
    if (photo.empty())
        GTEST_SKIP() << "test photograph not available";
    const cv::Mat frame = stackingtest::withNoise(
        c.otherShot ? stackingtest::photo(c.otherShot, photo.size()) : moved(photo, c.shift.x, c.shift.y), 4.0, 21);
    for (const cv::Point p : {cv::Point(240, 135), cv::Point(90, 60), cv::Point(400, 200), cv::Point(300, 40)}) {
        int dy = 0, dx = 0;
        cv::Point expected;
        EXPECT_EQ(probeDisplacement(photo, frame, p.y, p.x, c.half, c.radius, &dy, &dx),
                  exhaustiveProbe(photo, frame, p.y, p.x, c.half, c.radius, &expected));
        EXPECT_EQ(cv::Point(dx, dy), expected) << p;
    }
}

// Half-sizes of the estimate's probes (bounds of the whole patch and of its 3 x 3
// blocks), of the coarse and of the fine ghost search (bound of the whole patch).
INSTANTIATE_TEST_SUITE_P(Sizes, ProbeDisplacementFastPath,
                         ::testing::Values(ProbeCase{16, 35, {7, -4}, nullptr}, ProbeCase{16, 35, {0, 0}, nullptr},
                                           ProbeCase{16, 35, {0, 0}, "Garden.jpg"}, ProbeCase{4, 20, {3, 2}, nullptr},
                                           ProbeCase{4, 20, {0, 0}, "Wood.jpg"}, ProbeCase{8, 17, {-5, 1}, nullptr}));
