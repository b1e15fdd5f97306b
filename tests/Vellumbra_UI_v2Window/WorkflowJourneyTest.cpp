#include "GeneratedMedia.h"
#include "LanguageEngine.h"
#include "ModalScript.h"
#include "RealWindowJourney.h"
#include "WindowSession.h"
#include "WindowTest.h"
#include "Workspace.h"

#include <QAction>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>

using windowtest::ModalScript;
using windowtest::WindowSession;

namespace {

struct Media {
    const char* name;
    // Installs the media into the session (opening by the menus comes with its own work).
    std::function<Workspace*(WindowSession&)> open;
};

const Media kMedia[] = {
    {"GeneratedClip",
     [](WindowSession& s) {
         return s.adoptVideo(generatedmedia::writeClip(s.environment().filesFolder(), 24, 12).path);
     }},
    {"GeneratedBurst",
     [](WindowSession& s) {
         return s.adoptBurst(generatedmedia::writeBurst(s.environment().filesFolder(), 5, "tif").paths);
     }},
    {"PhoneVideo",
     [](WindowSession& s) {
         const QString path = generatedmedia::phoneVideo();
         return path.isEmpty() ? nullptr : s.adoptVideo(path);
     }},
};

void PrintTo(const Media& media, std::ostream* out)
{
    *out << media.name;
}

class WorkflowJourney : public windowtest::RealWindowJourney<::testing::TestWithParam<Media>> {
protected:
    void photograph(const char* step)
    {
        windowtest::photograph(QString("Journey%1_%2").arg(GetParam().name, step));
    }

    // Answers the close question with the button, photographing the box first.
    void answerClose(ModalScript& script, QMessageBox::StandardButton button, const char* step)
    {
        script.expect(ModalScript::Kind::MessageBox, translate("ExplClosingWorkspace2"), [=](QWidget* box) {
            photograph(step);
            static_cast<QMessageBox*>(box)->button(button)->click();
        });
    }

    Workspace* openAndGoToParameters()
    {
        Workspace* workspace = GetParam().open(*session);
        if (!workspace)
            return nullptr;
        EXPECT_TRUE(workspace->valid);
        EXPECT_EQ(workspace->state, StateBrowse);
        photograph("1Opened");
        QTest::mouseClick(session->find<QPushButton>("pushButton_SelectImageNext"), Qt::LeftButton);
        EXPECT_EQ(workspace->state, StateDefineParameters);
        EXPECT_EQ(session->find<QStackedWidget>("stackedWidget_VerticalDock")->currentWidget()->objectName(),
                  "page_PRO_DefineParams");
        photograph("2Parameters");
        return workspace;
    }

};

}  // namespace

TEST_P(WorkflowJourney, OpenGoToTheStackingStepAndCloseWithEachAnswer)
{
    Workspace* workspace = openAndGoToParameters();
    if (!workspace)
        GTEST_SKIP() << "the real phone video is not in the test media";
    QAction* close = session->find<QAction>("actionClose");

    // From the parameters step the media closes without a question.
    {
        ModalScript script;
        close->trigger();
    }
    EXPECT_EQ(session->workspace(), nullptr);
    photograph("3ClosedFromParameters");

    // Back in, and on to editing through a stacking run.
    workspace = openAndGoToParameters();
    ASSERT_NE(workspace, nullptr);
    {
        ModalScript script;
        script.expect(ModalScript::Kind::MessageBox, translate("RecommendedSavingHDRimage"), [=](QWidget* box) {
            photograph("3bSaveQuestion");
            static_cast<QMessageBox*>(box)->button(QMessageBox::No)->click();
        });
        session->window().changeStep(3);
        EXPECT_TRUE(QTest::qWaitFor([&] { return workspace->state != StateStacking; }, 120000));
        EXPECT_TRUE(script.waitUntilAnswered());
    }
    EXPECT_EQ(workspace->state, StateEditing);
    session->window().changeStep(3);
    photograph("4Editing");
    {
        ModalScript script;
        answerClose(script, QMessageBox::Cancel, "5CloseQuestion");
        close->trigger();
    }
    EXPECT_EQ(session->workspace(), workspace);
    {
        // An export that does not succeed keeps the media: here its save dialog is backed out of.
        ModalScript script;
        answerClose(script, QMessageBox::Save, "6CloseExport");
        script.cancelFileDialog();
        close->trigger();
    }
    EXPECT_EQ(session->workspace(), workspace);
    {
        ModalScript script;
        answerClose(script, QMessageBox::Discard, "7CloseDiscard");
        close->trigger();
    }
    EXPECT_EQ(session->workspace(), nullptr);
    EXPECT_EQ(session->find<QStackedWidget>("stackedWidget_CentralWidget")->currentWidget()->objectName(),
              "page_CentralHome");
    photograph("8Home");
}

INSTANTIATE_TEST_SUITE_P(EachMedia, WorkflowJourney, ::testing::ValuesIn(kMedia),
                         [](const ::testing::TestParamInfo<Media>& info) { return std::string(info.param.name); });
