#include "GeneratedMedia.h"
#include "ImagesSequence.h"
#include "ResultName.h"
#include "TemporaryEnvironment.h"
#include "Workspace.h"

#include <QFileInfo>
#include <gtest/gtest.h>

TEST(ResultName, ComesFromTheMediaAndTheStackingOptions)
{
    windowtest::TemporaryEnvironment environment;
    const QString folder = environment.filesFolder();
    const QString clip = generatedmedia::writeClip(folder, 8, 3, cv::Size(64, 48)).path;
    const QString base = QFileInfo(clip).completeBaseName();
    const QString photo = generatedmedia::writeBurst(folder, 1, "png").paths.front();
    struct Case {
        const char* name;
        bool video, full, automatic;
        int mode, power, count;
        const char* quality;
        QString expected;
    };
    const Case cases[] = {
        {"stacked, manual power", true, true, false, 80, 30, 12, "Medium", "Vb_" + base + " (A8_M3_Me12)"},
        {"stacked, automatic power", true, true, true, 100, 30, 5, "Fast", "Vb_" + base + " (A10_Ma_Fa5)"},
        {"stacked, power cut toward zero", true, true, false, 0, 99, 1, "Slow", "Vb_" + base + " (A0_M9_Sl1)"},
        {"stacked, a one-letter quality", true, true, true, 80, 0, 3, "Q", "Vb_" + base + " (A8_Ma_Q3)"},
        {"frame on show", true, false, true, 80, 30, 0, "Fast", base + " (4)"},
        {"one photo", false, true, false, 80, 30, 7, "Fast", QFileInfo(photo).completeBaseName()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Workspace workspace(c.video ? clip : photo, c.video);
        if (workspace.frameSource)
            workspace.frameSource->seek(4);
        workspace.autoAntighosting = c.automatic;
        workspace.antighostingMode = c.mode;
        workspace.antighostingPower = c.power;
        workspace.stackedFrameCount = c.count;
        EXPECT_EQ(resultName(workspace, c.full, c.quality), c.expected);
    }
}
