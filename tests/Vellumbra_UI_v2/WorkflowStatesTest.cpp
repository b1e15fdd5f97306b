#include "GeneratedMedia.h"
#include "ImagesSequence.h"
#include "LanguageEngine.h"
#include "ModalScript.h"
#include "RenderPipeline.h"
#include "ResizableFrame.h"
#include "ResizableLine.h"
#include "SharpestImageSelection.h"
#include "StackingContext.h"
#include "WindowSession.h"
#include "Workspace.h"

#include <QAction>
#include <QDockWidget>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <string>

using windowtest::ModalScript;
using windowtest::WindowSession;

namespace {

constexpr int kClipFrames = 12;

// The step whose press only refreshes the display, by state.
int ownStep(int state, bool sequence)
{
    switch (state) {
    case 1:
    case 2: return 1;
    case 4:
    case 8: return 2;
    case 5: return sequence ? 3 : 1;
    case 6: return 3;
    case 7: return sequence ? 4 : 2;
    default: return 1;
    }
}

class WorkflowWindow : public ::testing::Test {
protected:
    WindowSession session;
    const generatedmedia::Clip clip =
        generatedmedia::writeClip(session.environment().filesFolder(), kClipFrames, 6, cv::Size(96, 64));
    const QString photo = generatedmedia::writeBurst(session.environment().filesFolder(), 1, "png").paths.front();

    Workspace* open(bool sequence)
    {
        session.discardMedia();
        Workspace* workspace = sequence ? session.adoptVideo(clip.path) : session.adoptPhoto(photo);
        EXPECT_TRUE(workspace && workspace->valid);
        return workspace;
    }

    // Puts the media in a state the way the workflow does: set it, then refresh.
    void enter(int state, int tool = 0)
    {
        Workspace* workspace = session.workspace();
        workspace->state = state;
        workspace->tool = tool;
        session.window().changeStep(ownStep(state, workspace->isSequence));
    }

    // One change in the media's history, so that undo can act.
    void recordOneChange()
    {
        auto* slider = session.find<QSlider>("horizontalSlider_TMHue");
        session.workspace()->undoRedoManager.add(slider, &QAbstractSlider::setValue, 0, 5, "Undo on hue slider");
    }

    bool shown(const char* name) { return !session.find<QWidget>(name)->isHidden(); }
    bool enabled(const char* name) { return session.find<QWidget>(name)->isEnabled(); }
    bool actionOn(const char* name) { return session.find<QAction>(name)->isEnabled(); }
    QString page(const char* stack)
    {
        return session.find<QStackedWidget>(stack)->currentWidget()->objectName();
    }
    QString stepBar(const char* property)
    {
        return session.find<QFrame>("frame_TopMenu")->property(property).toString();
    }
};

}  // namespace

TEST_F(WorkflowWindow, WithoutMediaTheHomePageShows)
{
    EXPECT_EQ(page("stackedWidget_CentralWidget"), "page_CentralHome");
    EXPECT_EQ(stepBar("nbMenu"), "0");
    for (const char* action : {"actionOpen", "actionOpen_photo_for_tone_mapping", "actionOpen_photo_with_burst_mode"})
        EXPECT_TRUE(actionOn(action)) << action;
    EXPECT_TRUE(session.find<QMenu>("menuRecent_videos")->menuAction()->isEnabled());
    for (const char* action : {"actionClose", "actionUndo", "actionRedo", "actionShow_EXIF",
                               "actionHighlight_over_exposed_pixels", "actionHide_Show_histogram_panel"})
        EXPECT_FALSE(actionOn(action)) << action;
    EXPECT_FALSE(shown("frame_MainOptions"));
    EXPECT_FALSE(shown("frame_SecondOptions"));
    EXPECT_FALSE(shown("dockWidget_Histogram"));
    EXPECT_TRUE(session.window().MenuActionCloseClicked());
}

TEST_F(WorkflowWindow, EachStateShowsItsPagesStepAndActions)
{
    struct Case {
        int from, state, tool;
        bool sequence;
        const char* selectMenu;
        const char* dockPage;
        const char* bottomPage;
        bool mainOptions, secondShown, secondEnabled, undo, exif, toneCurve, highlight, videoMenu;
        bool progressPanel, stopHint;
    };
    const Case cases[] = {
        {1, 1, 0, true, "1", "page_PRO_SelectImage", "page_TimeLine", true, false, true, true, false, false, true,
         true, false, false},
        {1, 2, 0, true, "1", "page_PRO_SelectImage", "page_ProgressBar", false, false, true, true, true, false,
         false, false, true, false},
        {1, 4, 0, true, "2", "page_PRO_DefineParams", "page_TimeLine", true, false, true, true, false, false, true,
         true, false, false},
        {4, 8, 0, true, "2", "page_PRO_DefineParams", "page_ProgressBar", false, false, true, false, true, false,
         false, false, true, true},
        {5, 5, 0, true, "3", "page_PRO_Editing", "page_TM", true, true, true, true, false, false, true, false, false,
         false},
        {5, 5, 0, false, "1", "page_PRO_Editing", "page_TM", true, true, true, true, false, false, true, false, false,
         false},
        {5, 6, 1, true, "3", "page_PRO_Editing", "page_TM", false, true, false, true, false, false, true, false, false,
         false},
        {5, 6, 2, false, "1", "page_PRO_Editing", "page_TM", false, true, false, true, false, false, true, false,
         false, false},
        {5, 7, 0, true, "4", "page_Exporting", "page_ProgressBar", true, false, true, false, true, true, false, false,
         true, false},
        {5, 7, 0, false, "2", "page_Exporting", "page_ProgressBar", true, false, true, false, true, true, false, false,
         true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "state " << c.state << " tool " << c.tool << " sequence " << c.sequence);
        Workspace* workspace = open(c.sequence);
        ASSERT_NE(workspace, nullptr);
        recordOneChange();
        enter(c.from);
        enter(c.state, c.tool);
        EXPECT_EQ(stepBar("nbMenu"), c.sequence ? "4" : "2");
        EXPECT_EQ(stepBar("selectMenu"), c.selectMenu);
        EXPECT_EQ(page("stackedWidget_CentralWidget"), "page_Video");
        EXPECT_EQ(page("stackedWidget_VerticalDock"), c.dockPage);
        EXPECT_EQ(page("stackedWidget_CentralWidgetBottom"), c.bottomPage);
        EXPECT_EQ(enabled("frame_MainOptions"), c.mainOptions);
        EXPECT_EQ(shown("frame_SecondOptions"), c.secondShown);
        EXPECT_EQ(enabled("frame_SecondOptions"), c.secondEnabled);
        EXPECT_EQ(enabled("frame_BottomPresets"), c.secondEnabled);
        EXPECT_TRUE(actionOn("actionClose"));
        EXPECT_TRUE(actionOn("actionHide_Show_histogram_panel"));
        EXPECT_EQ(actionOn("actionUndo"), c.undo);
        EXPECT_FALSE(actionOn("actionRedo"));
        EXPECT_EQ(actionOn("actionShow_EXIF"), c.exif);
        EXPECT_EQ(actionOn("actionShow_tone_curve"), c.toneCurve);
        EXPECT_EQ(actionOn("actionHighlight_over_exposed_pixels"), c.highlight);
        EXPECT_EQ(actionOn("actionHighlight_under_exposed_pixels"), c.highlight);
        EXPECT_EQ(session.find<QMenu>("menuVideo")->menuAction()->isEnabled(), c.videoMenu);
        if (c.progressPanel) {
            EXPECT_TRUE(enabled("Panel_ProgressBar"));
            EXPECT_EQ(shown("label_ByClickingStop"), c.stopHint);
        }
        if (c.sequence && c.from != 5) {
            EXPECT_EQ(shown("label_TrimStartPlayingBar"), c.state == 4 || c.state == 8);
        }
        if (c.state == 6) {
            EXPECT_TRUE(shown("frame_ToolsBottom"));
            EXPECT_FALSE(shown("frame_BeforeAfter"));
            auto* preview = session.find<QLabel>("label_VideoPreview");
            EXPECT_EQ(!preview->findChild<ResizableFrame*>()->isHidden(), c.tool == 1);
            EXPECT_EQ(!preview->findChild<ResizableLine*>()->isHidden(), c.tool == 2);
        }
        if (c.state == 5) {
            EXPECT_FALSE(shown("frame_ToolsBottom"));
            EXPECT_TRUE(shown("frame_BeforeAfter"));
        }
    }
}

TEST_F(WorkflowWindow, StepTitlesFollowTheKindOfMedia)
{
    const QString step1 = session.find<QLabel>("label_Step1")->text();
    EXPECT_EQ(step1, translate("Step").arg(1) + translate("PROOnlyTMStep1"));
    open(true);
    EXPECT_EQ(session.find<QLabel>("label_Step1")->text(), translate("PROStep1"));
    EXPECT_EQ(session.find<QLabel>("label_Step4")->text(), translate("PROStep4"));
    EXPECT_EQ(stepBar("nbMenu"), "4");
    ASSERT_TRUE(session.window().MenuActionCloseClicked());
    open(false);
    EXPECT_EQ(session.find<QLabel>("label_Step2")->text(), translate("Step").arg(2) + translate("PROOnlyTMStep2"));
    EXPECT_EQ(stepBar("nbMenu"), "2");
}

TEST_F(WorkflowWindow, HandOffModeShowsTwoStepsWhateverTheMedia)
{
    VellumbraV2 handOff(session.environment().filesFolder() + "/result.txt", QString());
    for (bool sequence : {true, false}) {
        SCOPED_TRACE(sequence);
        EXPECT_TRUE(handOff.MenuActionCloseClicked());
        handOff.adoptWorkspace(sequence ? new Workspace(clip.path, true) : new Workspace(photo, false));
        auto* topMenu = handOff.findChild<QFrame*>("frame_TopMenu");
        EXPECT_EQ(topMenu->property("nbMenu").toString(), "2");
        EXPECT_EQ(handOff.findChild<QLabel*>("label_Step1")->text(), translate("PROStep1"));
        EXPECT_EQ(handOff.findChild<QLabel*>("label_Step2")->text(), translate("PROStep2"));
        handOff.currentWorkspace()->state = StateBrowse;
    }
    EXPECT_TRUE(handOff.MenuActionCloseClicked());
}

TEST_F(WorkflowWindow, StepPressesMoveBetweenStatesOrRefuse)
{
    // ExportBackedOut: the export's save dialog was cancelled; the export had
    // already emptied the undo history.
    enum Check { Nothing, ChosenRange, WholeSequence, RangeKept, RunStarted, ExportBackedOut };
    struct Case {
        int state, tool;
        bool sequence;
        int step;
        const char* box;  // key of the expected message, or null
        int expectedState, expectedTool;
        Check check;
    };
    const Case cases[] = {
        {1, 0, true, 1, nullptr, 1, 0, Nothing},
        {1, 0, true, 2, nullptr, 4, 0, ChosenRange},
        {1, 0, true, 3, "OperationNotAllowed", 1, 0, Nothing},
        {1, 0, true, 4, "OperationNotAllowed", 1, 0, Nothing},
        {2, 0, true, 1, nullptr, 2, 0, Nothing},
        {2, 0, true, 2, "WaitEndProcess", 2, 0, Nothing},
        {2, 0, true, 4, "WaitEndProcess", 2, 0, Nothing},
        {4, 0, true, 1, nullptr, 1, 0, WholeSequence},
        {4, 0, true, 2, nullptr, 4, 0, RangeKept},
        // No frame was chosen: the run keeps nothing and ends as cancelled.
        {4, 0, true, 3, "ExplNothingStacked", 4, 0, RunStarted},
        {4, 0, true, 4, "OperationNotAllowed", 4, 0, RangeKept},
        {5, 0, true, 1, nullptr, 1, 0, WholeSequence},
        {5, 0, true, 2, nullptr, 4, 0, RangeKept},
        {5, 0, true, 3, nullptr, 5, 0, RangeKept},
        {5, 0, false, 1, nullptr, 5, 0, Nothing},
        {6, 1, true, 3, nullptr, 6, 1, RangeKept},
        {6, 1, true, 1, nullptr, 1, 0, WholeSequence},
        {6, 2, true, 2, nullptr, 4, 0, RangeKept},
        {6, 2, true, 4, nullptr, 5, 0, ExportBackedOut},
        {6, 1, false, 1, nullptr, 5, 0, Nothing},
        {7, 0, true, 4, nullptr, 7, 0, RangeKept},
        {7, 0, true, 1, "WaitEndProcess", 7, 0, RangeKept},
        {7, 0, false, 2, nullptr, 7, 0, Nothing},
        {7, 0, false, 1, "WaitEndProcess", 7, 0, Nothing},
        {8, 0, true, 2, nullptr, 8, 0, RangeKept},
        {8, 0, true, 1, "WaitEndProcess", 8, 0, RangeKept},
        {8, 0, true, 3, "WaitEndProcess", 8, 0, RangeKept},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "state " << c.state << " tool " << c.tool << " sequence " << c.sequence
                                        << " step " << c.step);
        Workspace* workspace = open(c.sequence);
        ASSERT_NE(workspace, nullptr);
        auto* before = session.find<QSpinBox>("spinBox_ImageStackingBefore");
        auto* after = session.find<QSpinBox>("spinBox_ImageStackingAfter");
        before->setMaximum(20);
        after->setMaximum(20);
        before->setValue(2);
        after->setValue(3);
        if (c.sequence) {
            workspace->frameSource->seek(5);
            workspace->frameSource->firstIndex = 4;
            workspace->frameSource->lastIndex = 9;
        }
        SharpestImageSelection* tile = workspace->addImageTile(cv::Mat(8, 8, CV_8UC3, cv::Scalar::all(90)), nullptr);
        workspace->selectTile(tile);
        workspace->savedResultName = "saved";
        recordOneChange();
        enter(c.state, c.tool);
        {
            ModalScript script;
            if (c.box)
                script.messageBox(translate(c.box), QMessageBox::Ok);
            if (c.check == ExportBackedOut)
                script.cancelFileDialog();
            session.window().changeStep(c.step);
            EXPECT_TRUE(c.check != RunStarted || script.waitUntilAnswered());
        }
        EXPECT_EQ(workspace->state, c.expectedState);
        EXPECT_EQ(workspace->tool, c.expectedTool);
        switch (c.check) {
        case ChosenRange:
            EXPECT_EQ(workspace->currentFrame, 5);
            EXPECT_EQ(workspace->frameSource->firstIndex, 3);
            EXPECT_EQ(workspace->frameSource->lastIndex, 8);
            EXPECT_FALSE(workspace->undoRedoManager.canUndo());
            break;
        case WholeSequence:
            EXPECT_EQ(workspace->frameSource->firstIndex, 0);
            EXPECT_EQ(workspace->frameSource->lastIndex, kClipFrames - 1);
            EXPECT_TRUE(workspace->savedResultName.isEmpty());
            EXPECT_FALSE(workspace->undoRedoManager.canUndo());
            EXPECT_EQ(workspace->renderPipeline, nullptr);
            EXPECT_FALSE(session.find<QLabel>("label_QuestionSaveMarks")->isHidden());
            break;
        case RangeKept:
            EXPECT_EQ(workspace->frameSource->firstIndex, 4);
            EXPECT_EQ(workspace->frameSource->lastIndex, 9);
            EXPECT_TRUE(workspace->undoRedoManager.canUndo());
            EXPECT_EQ(workspace->renderPipeline == nullptr, c.expectedState == 4 && c.state != 4 && c.state != 8);
            break;
        case Nothing:
            EXPECT_TRUE(workspace->undoRedoManager.canUndo());
            break;
        case RunStarted:
            EXPECT_EQ(workspace->frameSource->firstIndex, 4);
            EXPECT_EQ(workspace->frameSource->lastIndex, 9);
            EXPECT_FALSE(workspace->undoRedoManager.canUndo());
            EXPECT_EQ(workspace->stackingContext(), nullptr);
            EXPECT_EQ(workspace->tiles.size(), 1u);  // the test's own; the run added none
            break;
        case ExportBackedOut:
            EXPECT_EQ(workspace->frameSource->firstIndex, 4);
            EXPECT_FALSE(workspace->undoRedoManager.canUndo());
            break;
        }
    }
}

TEST_F(WorkflowWindow, ClosingAsksWhatTheStateNeedsAndObeysTheAnswer)
{
    enum Answer { NoQuestion, Save, Discard, Cancel, Yes, No };
    struct Case {
        int state, tool;
        Answer answer;
        bool closed;
    };
    const Case cases[] = {
        {1, 0, NoQuestion, true}, {4, 0, NoQuestion, true}, {2, 0, NoQuestion, true},
        {8, 0, NoQuestion, true}, {5, 0, Cancel, false},    {5, 0, Discard, true},
        {5, 0, Save, false},      {6, 1, Cancel, false},    {6, 2, Discard, true},
        {6, 1, Save, false},      {7, 0, Yes, true},        {7, 0, No, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "state " << c.state << " tool " << c.tool << " answer " << c.answer);
        Workspace* workspace = open(true);
        ASSERT_NE(workspace, nullptr);
        enter(c.state, c.tool);
        // The run keeps its context after it ends, as in hand-off mode: the close
        // waits for the worker, not for the context to go.
        int requestAtWorkerEnd = -1;
        if (c.state == 8) {
            auto* context = new StackingContext;
            context->running = true;
            workspace->setStackingContext(context);
            QTimer::singleShot(100, [context, &requestAtWorkerEnd] {
                requestAtWorkerEnd = context->request;
                context->running = false;
            });
        }
        bool closed = false;
        {
            ModalScript script;
            switch (c.answer) {
            case Save:
                // The media holds no result, so the export has nothing to write.
                script.messageBox(translate("ExplClosingWorkspace2"), QMessageBox::Save)
                    .messageBox(translate("PleaseChooseFrame"), QMessageBox::Ok);
                break;
            case Discard: script.messageBox(translate("ExplClosingWorkspace2"), QMessageBox::Discard); break;
            case Cancel: script.messageBox(translate("ExplClosingWorkspace2"), QMessageBox::Cancel); break;
            case Yes: script.messageBox(translate("ExplClosingWorkspaceDuringExport"), QMessageBox::Yes); break;
            case No: script.messageBox(translate("ExplClosingWorkspaceDuringExport"), QMessageBox::No); break;
            case NoQuestion: break;
            }
            closed = session.window().MenuActionCloseClicked();
        }
        EXPECT_EQ(closed, c.closed);
        EXPECT_EQ(session.workspace() == nullptr, c.closed);
        if (c.state == 8) {
            EXPECT_EQ(requestAtWorkerEnd, StackingContext::RequestCancel);
        }
        if (c.closed) {
            EXPECT_EQ(page("stackedWidget_CentralWidget"), "page_CentralHome");
            EXPECT_FALSE(actionOn("actionClose"));
        } else if (c.answer == Save) {
            // A failed export keeps the media, out of the tool.
            EXPECT_EQ(workspace->state, StateEditing);
            EXPECT_EQ(workspace->tool, 0);
        } else {
            EXPECT_EQ(workspace->state, c.state);
        }
        if (!c.closed) {
            ModalScript script;
            script.messageBox(QString(), c.state == 7 ? QMessageBox::Yes : QMessageBox::Discard);
            EXPECT_TRUE(session.window().MenuActionCloseClicked());
        }
    }
}

TEST_F(WorkflowWindow, GoingOnFromTheChosenFrameTiesTheSpinBoxesToThePlaybackRange)
{
    struct Case {
        int shown, before, after;
        int first, last, beforeMaximum, afterMaximum;
    };
    const Case cases[] = {
        {6, 2, 2, 4, 8, 6, 5},
        {0, 3, 3, 0, 3, 0, 11},
        {11, 4, 1, 7, 11, 11, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        Workspace* workspace = open(true);
        ASSERT_NE(workspace, nullptr);
        auto* before = session.find<QSpinBox>("spinBox_ImageStackingBefore");
        auto* after = session.find<QSpinBox>("spinBox_ImageStackingAfter");
        before->setMaximum(20);
        after->setMaximum(20);
        before->setValue(c.before);
        after->setValue(c.after);
        workspace->frameSource->seek(c.shown);
        recordOneChange();
        session.window().PushButtonSelectImageNextClicked();
        EXPECT_EQ(workspace->state, StateDefineParameters);
        EXPECT_EQ(workspace->currentFrame, c.shown);
        EXPECT_EQ(session.find<QLabel>("label_CursorSelectorFlag")->text(), QString::number(c.shown));
        EXPECT_EQ(workspace->frameSource->firstIndex, c.first);
        EXPECT_EQ(workspace->frameSource->lastIndex, c.last);
        EXPECT_EQ(before->maximum(), c.beforeMaximum);
        EXPECT_EQ(after->maximum(), c.afterMaximum);
        EXPECT_FALSE(workspace->undoRedoManager.canUndo());
        EXPECT_TRUE(session.find<QLabel>("label_QuestionSaveMarks")->isHidden());

        // A range dragged on the timeline comes back into the spin boxes.
        workspace->frameSource->firstIndex = std::max(0, c.shown - 1);
        workspace->frameSource->lastIndex = kClipFrames - 1;
        session.window().updateStackingRange(false);
        EXPECT_EQ(before->value(), c.shown - std::max(0, c.shown - 1));
        EXPECT_EQ(after->value(), kClipFrames - 1 - c.shown);
    }
}

TEST_F(WorkflowWindow, UndoAndRedoActionsAreEnabledExactlyWhenTheyCanAct)
{
    open(false);
    auto* hue = session.find<QSlider>("horizontalSlider_TMHue");
    auto* undo = session.find<QAction>("actionUndo");
    auto* redo = session.find<QAction>("actionRedo");
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_FALSE(redo->isEnabled());
    const int start = hue->value();
    hue->setValue(start + 10);
    session.workspace()->undoRedoManager.add(hue, &QAbstractSlider::setValue, start, start + 10, "Undo on hue slider");
    EXPECT_TRUE(undo->isEnabled());
    undo->trigger();
    EXPECT_EQ(hue->value(), start);
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_TRUE(redo->isEnabled());
    redo->trigger();
    EXPECT_EQ(hue->value(), start + 10);
    enter(7);
    EXPECT_FALSE(undo->isEnabled());
    enter(5);
    EXPECT_TRUE(undo->isEnabled());
    ModalScript script;
    script.messageBox(translate("ExplClosingWorkspace2"), QMessageBox::Discard);
    EXPECT_TRUE(session.window().MenuActionCloseClicked());
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_FALSE(redo->isEnabled());
}
