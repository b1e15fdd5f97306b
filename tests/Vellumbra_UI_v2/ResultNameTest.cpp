#include "GeneratedMedia.h"
#include "ResultName.h"
#include "TemporaryEnvironment.h"
#include "Workspace.h"

#include <QFileInfo>
#include <gtest/gtest.h>

TEST(ResultName, ComesFromTheMediaAndTheStackingOptions)
{
    windowtest::TemporaryEnvironment environment;
    const QString clip = generatedmedia::writeClip(environment.filesFolder(), 4, 2, cv::Size(64, 48)).path;
    const QString base = QFileInfo(clip).completeBaseName();
    Workspace workspace(clip, true);
    struct Case {
        bool automatic;
        int mode, power, count;
        const char* quality;
        QString expected;
    };
    const Case cases[] = {
        {false, 80, 30, 12, "Medium", "Vb_" + base + " (A8_M3_Me12)"},
        {true, 100, 30, 5, "Fast", "Vb_" + base + " (A10_Ma_Fa5)"},
        {false, 0, 99, 1, "Slow", "Vb_" + base + " (A0_M9_Sl1)"},
        {true, 80, 0, 3, "Q", "Vb_" + base + " (A8_Ma_Q3)"},
    };
    for (const Case& c : cases) {
        workspace.autoAntighosting = c.automatic;
        workspace.antighostingMode = c.mode;
        workspace.antighostingPower = c.power;
        workspace.stackedFrameCount = c.count;
        EXPECT_EQ(stackedResultName(workspace, c.quality), c.expected);
    }
}
