#include "GeneratedMedia.h"
#include "ImageIO.h"
#include "ImagesSequence.h"
#include "LanguageEngine.h"
#include "ModalScript.h"
#include "SharpestImageSelection.h"
#include "StackingContext.h"
#include "WindowSession.h"
#include "Workspace.h"

#include <QDir>
#include <QFileInfo>
#include <QStatusBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <functional>

using windowtest::ModalScript;
using windowtest::WindowSession;

namespace {

constexpr int kDeadlineMs = 60000;

class StackingRun : public ::testing::Test {
protected:
    WindowSession session;

    // The clip at the parameters step, chosen frame `chosen`, with automatic
    // medium antighosting, alignment and the first quality.
    Workspace* openAt(const generatedmedia::Clip& clip, int chosen)
    {
        Workspace* workspace = session.adoptVideo(clip.path, chosen);
        EXPECT_TRUE(workspace && workspace->valid);
        session.window().PushButtonSelectImageNextClicked();
        EXPECT_EQ(workspace->state, StateDefineParameters);
        workspace->autoAntighosting = true;
        workspace->antighostingMode = 80;
        workspace->align = true;
        workspace->qualityIndex = 0;
        return workspace;
    }

    void setRange(int before, int after)
    {
        session.find<QSpinBox>("spinBox_ImageStackingBefore")->setValue(before);
        session.find<QSpinBox>("spinBox_ImageStackingAfter")->setValue(after);
    }

    void compute() { session.find<QPushButton>("pushButton_DefineParamsNext")->click(); }

    static bool waitUntilStateLeaves(Workspace* workspace, int state)
    {
        return QTest::qWaitFor([&] { return workspace->state != state; }, kDeadlineMs);
    }

    QString page(const char* stack) const { return session.find<QStackedWidget>(stack)->currentWidget()->objectName(); }
};

}  // namespace

TEST_F(StackingRun, FiveFramesWithAlignmentOpenForEditingUnderTheirName)
{
    const auto clip = generatedmedia::writeClip(session.environment().filesFolder(), 24, 12);
    Workspace* workspace = openAt(clip, 12);
    setRange(2, 2);
    {
        ModalScript script;
        script.messageBox(translate("RecommendedSavingHDRimage"), QMessageBox::No);
        compute();
        ASSERT_TRUE(waitUntilStateLeaves(workspace, 8));
        EXPECT_TRUE(script.waitUntilAnswered());
    }
    EXPECT_EQ(workspace->state, StateEditing);
    EXPECT_EQ(workspace->stackedFrameCount, 5);
    EXPECT_EQ(workspace->stackingContext(), nullptr);
    ASSERT_EQ(workspace->tiles.size(), 1u);
    SharpestImageSelection* tile = workspace->tiles.front();
    EXPECT_EQ(tile->mode(), SharpestImageSelection::EditionMode);
    EXPECT_EQ(tile->title(), "Vb_" + QFileInfo(clip.path).completeBaseName() + " (A8_Ma_Fa5)");
    EXPECT_EQ(tile->parentWidget()->objectName(), "scrollAreaWidgetContents_ProEditingSelection");
    EXPECT_EQ(tile->image().size(), cv::Size(192, 128));
    EXPECT_EQ(page("stackedWidget_VerticalDock"), "page_PRO_Editing");
    EXPECT_TRUE(session.find<QProgressBar>("progressBar_Computing")->format().contains(" of 5"));
    EXPECT_EQ(session.find<QProgressBar>("progressBar_Computing")->value(), 100);
}

TEST_F(StackingRun, CancelAndStopAnswersDuringTheRun)
{
    constexpr int kBefore = 12, kAfter = 12, kRequested = kBefore + 1 + kAfter;
    const auto clip =
        generatedmedia::writeClip(session.environment().filesFolder(), kRequested, 12, cv::Size(480, 320));
    struct Case {
        const char* name;
        // Answers the stop question; null: the close path's cancel, which asks nothing.
        std::function<void(ModalScript&)> answer;
        int endState;
        bool kept;
        bool allFrames;
    };
    auto pressButton = [](const char* key) {
        return [key](ModalScript& script) {
            script.expect(ModalScript::Kind::MessageBox, translate("StopComputingText"), [key](QWidget* box) {
                for (QAbstractButton* button : static_cast<QMessageBox*>(box)->buttons())
                    if (button->text() == translate(key))
                        button->click();
            });
        };
    };
    const Case cases[] = {
        {"keep what is stacked", pressButton("KeepHDRImage"), 5, true, false},
        {"back to the parameters", pressButton("ReturnToVideo"), 4, false, false},
        {"escape lets the run go on",
         [](ModalScript& script) {
             script.expect(ModalScript::Kind::MessageBox, translate("StopComputingText"),
                           [](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); });
         },
         5, true, true},
        {"cancel without a question", nullptr, 4, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        session.discardMedia();
        Workspace* workspace = openAt(clip, 12);
        setRange(kBefore, kAfter);
        ModalScript script;
        if (c.answer)
            c.answer(script);
        if (c.kept)
            script.messageBox(translate("RecommendedSavingHDRimage"), QMessageBox::No);

        // Pressed once the second frame is being stacked.
        QTimer press;
        bool pressed = false;
        QObject::connect(&press, &QTimer::timeout, [&] {
            StackingContext* context = workspace->stackingContext();
            if (pressed || workspace->state != StateStacking || !context || context->frameOrdinal < 2)
                return;
            pressed = true;
            if (c.answer)
                session.find<QPushButton>("pushButton_ComputingCancel")->click();
            else
                session.window().PushButtonComputingCancelClicked(false);
        });
        press.start(1);
        compute();
        ASSERT_TRUE(waitUntilStateLeaves(workspace, 8));
        EXPECT_TRUE(script.waitUntilAnswered());
        EXPECT_TRUE(pressed);
        EXPECT_EQ(workspace->state, c.endState);
        EXPECT_EQ(workspace->tiles.size(), c.kept ? 1u : 0u);
        EXPECT_EQ(workspace->stackingContext(), nullptr);
        if (c.kept) {
            EXPECT_GE(workspace->stackedFrameCount, 1);
            EXPECT_EQ(workspace->stackedFrameCount == kRequested, c.allFrames) << workspace->stackedFrameCount;
        }
    }
}

TEST_F(StackingRun, ARunThatKeptNothingStaysAtTheParameters)
{
    const auto clip = generatedmedia::writeClip(session.environment().filesFolder(), 8, 4);
    Workspace* workspace = openAt(clip, 4);
    // Stopped before the first frame: the engine gives an empty light image.
    workspace->state = StateStacking;
    workspace->setStackingContext(new StackingContext);
    workspace->stackingContext()->request = StackingContext::RequestStop;
    session.window().HDRprocessWellFinished(0);
    EXPECT_EQ(workspace->state, StateDefineParameters);
    EXPECT_TRUE(workspace->tiles.empty());
    EXPECT_EQ(workspace->stackingContext(), nullptr);
    // End signals of a run that is no longer on show change nothing.
    session.window().HDRprocessCanceled();
    session.window().HDRprocessWellFinished(3);
    EXPECT_EQ(workspace->state, StateDefineParameters);
}

TEST_F(StackingRun, ClosingTheMediaDuringTheRunWaitsForIt)
{
    const auto clip = generatedmedia::writeClip(session.environment().filesFolder(), 25, 12, cv::Size(480, 320));
    Workspace* workspace = openAt(clip, 12);
    setRange(12, 12);
    QTimer press;
    bool closed = false;
    QObject::connect(&press, &QTimer::timeout, [&] {
        StackingContext* context = workspace->stackingContext();
        if (closed || !context || context->frameOrdinal < 1)
            return;
        closed = true;
        EXPECT_TRUE(session.window().MenuActionCloseClicked());
    });
    press.start(1);
    compute();
    EXPECT_TRUE(QTest::qWaitFor([&] { return closed; }, kDeadlineMs));
    EXPECT_EQ(session.workspace(), nullptr);
    EXPECT_EQ(page("stackedWidget_CentralWidget"), "page_CentralHome");
}

// Nine photos around the chosen fifth, the last `otherShot` of another scene.
struct ShotCut {
    const char* name;
    int otherShot;
    int stacked;  // what the status bar reports of the nine, 0 for nothing
};

void PrintTo(const ShotCut& row, std::ostream* out)
{
    *out << row.name;
}

class StackingRunAtACut : public StackingRun, public ::testing::WithParamInterface<ShotCut> {};

TEST_P(StackingRunAtACut, TheStatusBarTellsHowManyFramesWereStacked)
{
    const ShotCut& row = GetParam();
    QStringList paths;
    for (int i = 0; i < 9; ++i) {
        paths << QString("%1/burst-%2.png").arg(session.environment().filesFolder()).arg(i);
        QDir().mkpath(session.environment().filesFolder());
        const cv::Mat frame = generatedmedia::scene(cv::Size(192, 128), i < 9 - row.otherShot ? 11 : 23);
        ASSERT_TRUE(cv::imwrite(paths.back().toStdString(), frame));
    }
    Workspace* workspace = session.adoptBurst(paths);
    ASSERT_TRUE(workspace && workspace->valid);
    workspace->frameSource->seek(4);
    session.window().PushButtonSelectImageNextClicked();
    ASSERT_EQ(workspace->currentFrame, 4);
    workspace->align = true;
    setRange(4, 4);
    {
        ModalScript script;
        script.messageBox(translate("RecommendedSavingHDRimage"), QMessageBox::No);
        compute();
        ASSERT_TRUE(waitUntilStateLeaves(workspace, StateStacking));
        EXPECT_TRUE(script.waitUntilAnswered());
    }
    EXPECT_EQ(workspace->state, StateEditing);
    const QString message = session.window().statusBar()->currentMessage();
    EXPECT_EQ(message.toStdString(),
              row.stacked ? translate("StackedFewerFrames").arg(row.stacked).arg(9).toStdString() : std::string());
}

INSTANTIATE_TEST_SUITE_P(Table, StackingRunAtACut,
                         ::testing::Values(ShotCut{"OneShot", 0, 0}, ShotCut{"CutAfterTheFifth", 4, 5},
                                           ShotCut{"CutAfterTheSixth", 3, 6}),
                         [](const ::testing::TestParamInfo<ShotCut>& info) { return std::string(info.param.name); });
