#include "HistogramPlacement.h"

#include <gtest/gtest.h>

namespace {

const QSize kDock(240, 100);
const QRect kScreen(0, 0, 1920, 1080);
// A window whose picture area runs from x 300 to 1399 and y 80 to 779.
const QRect kPictureArea(300, 80, 1100, 700);

struct FirstPlace {
    const char* name;
    QRect window;
    QRect picture;
    QRect expected;  // the dock's place
};

void PrintTo(const FirstPlace& row, std::ostream* out)
{
    *out << row.name;
}

const FirstPlace kFirstPlaces[] = {
    // A portrait photo leaves both sides of the area free: the top-left corner.
    {"PortraitLeavesTheTopLeftCornerFree", kScreen, QRect(600, 80, 500, 700), QRect(306, 86, 240, 100)},
    // A panorama leaves a band above and below it.
    {"PanoramaLeavesTheBandAboveFree", kScreen, QRect(300, 250, 1100, 360), QRect(306, 86, 240, 100)},
    // One pixel short of room: beside the window, which leaves room on the screen.
    {"NoRoomInsideGoesBesideTheWindow", QRect(0, 0, 1600, 900), QRect(300, 185, 1100, 500),
     QRect(1606, 80, 240, 100)},
    {"RoomOnTheLeftOfTheWindowOnly", QRect(400, 0, 1520, 900), QRect(300, 80, 1100, 700), QRect(154, 80, 240, 100)},
    // A full screen and a picture that fills the area: the corner that hides least of it.
    {"FullScreenHidesTheLeastOfThePicture", kScreen, QRect(340, 80, 1020, 700), QRect(306, 86, 240, 100)},
    {"FullScreenPictureOffToTheLeft", kScreen, QRect(300, 80, 1000, 700), QRect(1154, 86, 240, 100)},
};

class FirstHistogramPlace : public ::testing::TestWithParam<FirstPlace> {};

TEST_P(FirstHistogramPlace, LeavesMenusPanelsAndPictureUncoveredWhereThereIsRoom)
{
    const FirstPlace& row = GetParam();
    const QPoint place = firstHistogramPlace(kDock, {kScreen, row.window, kPictureArea, row.picture});
    EXPECT_EQ(QRect(place, kDock), row.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, FirstHistogramPlace, ::testing::ValuesIn(kFirstPlaces),
                         [](const ::testing::TestParamInfo<FirstPlace>& info) { return std::string(info.param.name); });

struct RestoredPlace {
    const char* name;
    QPoint stored;
    QPoint expected;
};

void PrintTo(const RestoredPlace& row, std::ostream* out)
{
    *out << row.name;
}

// The menu bar of a window at the top left of the screen, 20 pixels high.
const QRect kMenuBar(0, 0, 1600, 20);

const RestoredPlace kRestoredPlaces[] = {
    {"ClearOfTheMenuBarStays", QPoint(900, 300), QPoint(900, 300)},
    {"JustBelowTheMenuBarStays", QPoint(900, 20), QPoint(900, 20)},
    {"OverTheMenuBarGoesBelowIt", QPoint(900, 0), QPoint(900, 20)},
    {"AcrossTheMenuBarGoesBelowIt", QPoint(900, -60), QPoint(900, 20)},
    {"BesideTheMenuBarStays", QPoint(1650, 0), QPoint(1650, 0)},
    {"OffTheRightOfTheScreenComesBack", QPoint(2500, 300), QPoint(1680, 300)},
    {"BelowTheScreenComesBack", QPoint(900, 1200), QPoint(900, 980)},
};

class RestoredHistogramPlace : public ::testing::TestWithParam<RestoredPlace> {};

TEST_P(RestoredHistogramPlace, IsPulledIntoTheScreenAndClearOfTheMenuBar)
{
    const RestoredPlace& row = GetParam();
    EXPECT_EQ(restoredHistogramPlace(row.stored, kDock, kMenuBar, kScreen), row.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, RestoredHistogramPlace, ::testing::ValuesIn(kRestoredPlaces),
                         [](const ::testing::TestParamInfo<RestoredPlace>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
