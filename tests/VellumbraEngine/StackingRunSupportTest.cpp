#include "FrameSourceTestSupport.h"
#include "PixelOps.h"
#include "StackingRunSupport.h"
#include "StackingTestImages.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>

namespace {

using Outcome = NeighbourPlacement::Outcome;

enum class Frame { Shifted, OtherShot, NotFinite, TwoChannels };

struct PlacementCase {
    const char* name;
    Frame frame;
    bool align;
    Outcome outcome;
    bool failed;
    bool moved;  // placed elsewhere than the frame as read
    bool interrupted = false;  // the run asked to end while it is placed
};

// The instant image and a neighbour of the case's kind, or empty images without the photographs.
std::pair<cv::Mat, cv::Mat> imagesFor(Frame kind)
{
    const cv::Size size(240, 160);
    const cv::Mat garden = stackingtest::gardenPhoto(size);
    if (garden.empty())
        return {};
    switch (kind) {
    case Frame::TwoChannels:  // no grey conversion: locating it raises
        return {garden, cv::Mat(size, CV_8UC2, cv::Scalar(80, 70))};
    case Frame::Shifted: return {garden, stackingtest::shifted(garden, 3, -2)};
    case Frame::OtherShot: return {garden, stackingtest::flowerPhoto(size)};
    default: {
        const cv::Mat instant = convertBitDepth(garden, 32);
        cv::Mat poisoned = instant.clone();
        poisoned.at<cv::Vec3f>(20, 30) = cv::Vec3f::all(std::numeric_limits<float>::quiet_NaN());
        return {instant, poisoned};
    }
    }
}

class NeighbourPlacementTable : public ::testing::TestWithParam<PlacementCase> {};

}  // namespace

// Placements are made ahead on threads of their own, so they log nothing: the run
// logs what they found in its own order.
TEST_P(NeighbourPlacementTable, TellsWhereTheFrameGoesWithoutAWord)
{
    const PlacementCase c = GetParam();
    const auto [instant, frame] = imagesFor(c.frame);
    if (instant.empty() || frame.empty())
        GTEST_SKIP() << "test photographs not available";
    framesource::LogCapture log;
    const FrameAlignment alignment(instant, c.align);
    const NeighbourPlacement placement =
        placeNeighbour(&alignment, c.align, frame, [&c] { return c.interrupted; });
    EXPECT_EQ(placement.outcome, c.outcome);
    EXPECT_EQ(placement.failed, c.failed);
    EXPECT_EQ(placement.placed.data != frame.data, c.moved);
    EXPECT_EQ(placement.placed.size(), frame.size());
    if (c.moved) {
        EXPECT_NEAR(placement.found.shift.x, 3.0, 0.1);
        EXPECT_NEAR(placement.found.shift.y, -2.0, 0.1);
    }
    EXPECT_TRUE(log.text().isEmpty()) << log.text().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NeighbourPlacementTable,
    ::testing::Values(PlacementCase{"ShiftedAligned", Frame::Shifted, true, Outcome::Passed, false, true},
                      PlacementCase{"ShiftedOnlyCompared", Frame::Shifted, false, Outcome::Passed, false, false},
                      PlacementCase{"OtherShot", Frame::OtherShot, false, Outcome::OtherShot, false, false},
                      PlacementCase{"NotFiniteAligned", Frame::NotFinite, true, Outcome::Skipped, false, false},
                      PlacementCase{"NotFiniteOnlyCompared", Frame::NotFinite, false, Outcome::Passed, false, false},
                      PlacementCase{"AlignmentRaises", Frame::TwoChannels, true, Outcome::Passed, true, false},
                      PlacementCase{"ShiftedAlignedInterrupted", Frame::Shifted, true, Outcome::Skipped, false, false,
                                    true},
                      PlacementCase{"ShiftedOnlyComparedInterrupted", Frame::Shifted, false, Outcome::Passed, false,
                                    false, true}),
    [](const ::testing::TestParamInfo<PlacementCase>& info) { return std::string(info.param.name); });
