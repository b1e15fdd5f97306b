#include "ApplicationStyleSheet.h"
#include "GeneratedMedia.h"
#include "HandOffFile.h"
#include "ImageIO.h"
#include "ImagesSequence.h"
#include "LanguageEngine.h"
#include "ModalScript.h"
#include "StackingContext.h"
#include "TemporaryEnvironment.h"
#include "VellumbraResources.h"
#include "Workspace.h"
#include "vellumbraV2.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QLabel>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>
#include <gtest/gtest.h>

using windowtest::ModalScript;

namespace {

// The plug-in's window; the light image's save dialog belongs elsewhere, so the
// save writes straight into the test's folder, or only pretends to.
class HandOffWindow : public VellumbraV2 {
public:
    HandOffWindow(const QString& handOffFile, const QString& folder)
        : VellumbraV2(handOffFile, QString()), folder(folder)
    {
    }

    QString saveHDRimage() override
    {
        const QString path = QString("%1/light %2.tif").arg(folder).arg(++saves);
        if (writes) {
            EXPECT_TRUE(saveImageWithDepth(path.toStdString(), currentWorkspace()->stackingContext()->lightImage, 16,
                                           std::string()));
        }
        return path;
    }

    bool writes = true;
    int saves = 0;

private:
    const QString folder;
};

QStringList linesOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

}  // namespace

TEST(HandOffRun, EachSavedLightImageIsHandedOffAndReturnReopensTheBurst)
{
    windowtest::TemporaryEnvironment environment;
    loadVellumbraResources();
    applyApplicationStyleSheet(*qApp);
    const QString handOff = environment.filesFolder() + "/handoff.txt";
    const generatedmedia::Burst burst = generatedmedia::writeBurst(environment.filesFolder(), 3, "tif");
    HandOffWindow window(handOff, environment.filesFolder());
    window.adoptWorkspace(new Workspace(burst.paths));

    enum End { Parameters, Reopened, Closed };
    struct Case {
        const char* name;
        bool satisfied, writes;
        QMessageBox::StandardButton closeOrReturn;  // NoButton: not asked
        End end;
        int lines;
    };
    const Case cases[] = {
        {"not satisfied", false, true, QMessageBox::NoButton, Parameters, 0},
        {"the save wrote nothing", true, false, QMessageBox::NoButton, Parameters, 0},
        {"saved, then return", true, true, QMessageBox::No, Reopened, 1},
        {"saved, then close", true, true, QMessageBox::Yes, Closed, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Workspace* workspace = window.currentWorkspace();
        ASSERT_NE(workspace, nullptr);
        if (workspace->state == StateBrowse)
            window.PushButtonSelectImageNextClicked();
        ASSERT_EQ(workspace->state, StateDefineParameters);
        workspace->align = true;
        window.findChild<QSpinBox*>("spinBox_ImageStackingAfter")->setValue(2);
        window.writes = c.writes;
        {
            ModalScript script;
            script.messageBox(translate("SatisfiedWithHDRImage"), c.satisfied ? QMessageBox::Yes : QMessageBox::No);
            if (!c.writes)
                script.messageBox(translate("ErrorSaveImages"), QMessageBox::Ok);
            if (c.closeOrReturn != QMessageBox::NoButton)
                script.messageBox(translate("CloseVellumbra"), c.closeOrReturn);
            window.findChild<QPushButton*>("pushButton_DefineParamsNext")->click();
            EXPECT_TRUE(script.waitUntilAnswered(60000));
        }
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return window.currentWorkspace() != workspace || workspace->state != StateStacking; }, 60000));
        EXPECT_EQ(linesOf(handOff).size(), c.lines);
        switch (c.end) {
        case Parameters:
            EXPECT_EQ(window.currentWorkspace(), workspace);
            EXPECT_EQ(workspace->state, StateDefineParameters);
            EXPECT_EQ(workspace->stackedFrameCount, 3);
            break;
        case Reopened: {
            Workspace* reopened = window.currentWorkspace();
            ASSERT_NE(reopened, nullptr);
            EXPECT_EQ(reopened->state, StateBrowse);
            EXPECT_EQ(reopened->burstPaths, burst.paths);
            ASSERT_TRUE(reopened->frameSource);
            EXPECT_TRUE(reopened->frameSource->isPhotoList);
            EXPECT_EQ(reopened->frameSource->frameCount, 3);
            // The window names the media again, and its size.
            EXPECT_TRUE(window.windowTitle().endsWith("[.tif " + translate("Images") + "]"))
                << window.windowTitle().toStdString();
            EXPECT_TRUE(window.statusBar()->findChild<QLabel*>()->text().startsWith(
                QString("%1x%2").arg(reopened->width).arg(reopened->height)));
            break;
        }
        case Closed:
            EXPECT_EQ(window.currentWorkspace(), nullptr);
            EXPECT_FALSE(window.isVisible());
            break;
        }
    }
    // One line per file really written (the second and third saves), each the path with backslashes.
    const QStringList lines = linesOf(handOff);
    ASSERT_EQ(lines.size(), 2);
    for (int i = 0; i < 2; ++i) {
        const QString saved = QString("%1/light %2.tif").arg(environment.filesFolder()).arg(i + 2);
        EXPECT_TRUE(QFile::exists(saved));
        EXPECT_EQ((lines[i] + '\n').toStdString(), handOffLine(saved).toStdString());
        EXPECT_FALSE(lines[i].contains('/'));
    }
}
