#include "EditingTools.h"

#include <gtest/gtest.h>

TEST(EditingTools, RotationSliderPositionsSurviveTheRoundTrip)
{
    for (int degrees = -180; degrees <= 180; ++degrees)
        ASSERT_EQ(rotationDegrees(rotationRadians(degrees)), degrees);
    EXPECT_FLOAT_EQ(rotationRadians(10), -10 * 3.14159265f / 180);
    EXPECT_EQ(rotationDegrees(-3.5), -159);
}

TEST(EditingTools, CropFrameBecomesFullSizePixels)
{
    struct Case {
        const char* name;
        QRect frame;
        QSize label;
        int fullWidth, fullHeight;
        cv::Rect crop;
    };
    const Case cases[] = {
        {"same size", QRect(10, 20, 50, 40), QSize(100, 100), 100, 100, cv::Rect(10, 20, 49, 39)},
        {"larger picture", QRect(10, 20, 50, 40), QSize(100, 100), 1000, 500, cv::Rect(100, 100, 490, 195)},
        {"whole label", QRect(0, 0, 300, 200), QSize(300, 200), 3000, 2000, cv::Rect(0, 0, 2990, 1990)},
        {"empty label", QRect(0, 0, 10, 10), QSize(0, 0), 3000, 2000, cv::Rect(-1, -1, -1, -1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(cropFromFrame(c.frame, c.label, c.fullWidth, c.fullHeight), c.crop);
    }
}

TEST(EditingTools, HorizonLineGivesTheLevellingRotation)
{
    struct Case {
        const char* name;
        QPoint p1, p2;
        QSize label;
        cv::Size image;
        int degrees;
    };
    const Case cases[] = {
        {"rising diagonal", QPoint(0, 100), QPoint(100, 0), QSize(100, 100), cv::Size(100, 100), 45},
        {"falling diagonal", QPoint(0, 0), QPoint(100, 100), QSize(100, 100), cv::Size(100, 100), -45},
        {"level", QPoint(25, 50), QPoint(75, 50), QSize(100, 100), cv::Size(400, 300), 0},
        {"vertical downwards", QPoint(50, 10), QPoint(50, 90), QSize(100, 100), cv::Size(100, 100), -90},
        {"vertical upwards", QPoint(50, 90), QPoint(50, 10), QSize(100, 100), cv::Size(100, 100), 90},
        {"drawn right to left", QPoint(100, 0), QPoint(0, 100), QSize(100, 100), cv::Size(100, 100), -135},
        {"label stretched against the image", QPoint(0, 50), QPoint(200, 0), QSize(200, 100), cv::Size(100, 100),
         27},
        {"empty label", QPoint(0, 0), QPoint(10, 10), QSize(0, 0), cv::Size(100, 100), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(horizonDegrees(c.p1, c.p2, c.label, c.image), c.degrees);
    }
}
