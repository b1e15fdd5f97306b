#include "GeneratedMedia.h"
#include "ImagesSequence.h"
#include "LanguageEngine.h"
#include "ModalScript.h"
#include "ProSharpestImageSelection.h"
#include "SharpestImageSelection.h"
#include "StackingContext.h"
#include "RealWindowJourney.h"
#include "WindowSession.h"
#include "WindowTest.h"
#include "Workspace.h"

#include <QCheckBox>
#include <QHoverEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

using windowtest::ModalScript;
using windowtest::WindowSession;

namespace {

struct Media {
    const char* name;
    // The media, or an empty path when it is not there.
    std::function<QString(WindowSession&)> path;
    int shownFrame;
    int around;  // frames before and after the chosen one
};

const Media kMedia[] = {
    {"GeneratedClip",
     [](WindowSession& s) {
         return generatedmedia::writeClip(s.environment().filesFolder(), 24, 12, cv::Size(640, 360)).path;
     },
     8, 2},
    {"PhoneVideo", [](WindowSession&) { return generatedmedia::phoneVideo(); }, 40, 4},
};

void PrintTo(const Media& media, std::ostream* out)
{
    *out << media.name;
}

class SearchAndStackingJourney : public windowtest::RealWindowJourney<::testing::TestWithParam<Media>> {
protected:
    void photograph(const char* step)
    {
        windowtest::photograph(QString("SearchAndStack%1_%2").arg(GetParam().name, step));
    }

};

}  // namespace

TEST_P(SearchAndStackingJourney, SearchTheSharpestFramesThenStackAroundOne)
{
    const QString path = GetParam().path(*session);
    if (path.isEmpty())
        GTEST_SKIP() << "the real phone video is not in the test media";
    Workspace* workspace = session->adoptVideo(path, GetParam().shownFrame);
    ASSERT_TRUE(workspace && workspace->valid);

    session->find<QSpinBox>("spinBox_FindSharpestImage")->setValue(6);
    session->find<QPushButton>("pushButton_FindSharpestImage")->click();
    const auto& tiles = ProSharpestImageSelection::tiles();
    ASSERT_FALSE(tiles.empty());
    EXPECT_EQ(tiles.front()->frameIndex(), GetParam().shownFrame);
    // The pointer over the sharpest tile shows its pin.
    ProSharpestImageSelection* sharpest = tiles.size() > 1 ? tiles[1] : tiles.front();
    // Sent as Qt delivers it: the X pointer's own hover events arrive late on a loaded display.
    const QPoint centre = sharpest->rect().center();
    QHoverEvent hover(QEvent::HoverEnter, centre, QPoint(-1, -1));
    QCoreApplication::sendEvent(sharpest, &hover);
    EXPECT_TRUE(sharpest->pinLabel()->isVisible());
    photograph("1CandidateTiles");

    // Stack around the sharpest frame, photographing the progress page mid-run.
    emit sharpest->onClick(sharpest->frameIndex());
    workspace->frameSource->seek(sharpest->frameIndex());
    session->find<QPushButton>("pushButton_SelectImageNext")->click();
    ASSERT_EQ(workspace->state, StateDefineParameters);
    session->find<QSpinBox>("spinBox_ImageStackingBefore")->setValue(GetParam().around);
    session->find<QSpinBox>("spinBox_ImageStackingAfter")->setValue(GetParam().around);
    session->find<QCheckBox>("checkBox_Align")->setChecked(true);
    workspace->align = true;
    workspace->autoAntighosting = true;
    photograph("2Parameters");

    // Photographed once the display has moved on from the first frame.
    auto* progress = session->find<QProgressBar>("progressBar_Computing");
    QString firstText;
    bool progressShot = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (progressShot || workspace->state != StateStacking || !workspace->stackingContext())
            return;
        if (firstText.isEmpty())
            firstText = progress->format();
        if (progress->format() == firstText)
            return;
        progressShot = true;
        EXPECT_EQ(session->find<QStackedWidget>("stackedWidget_CentralWidgetBottom")->currentWidget()->objectName(),
                  "page_ProgressBar");
        EXPECT_TRUE(progress->format().contains(QString(" of %1").arg(2 * GetParam().around + 1)));
        photograph("3StackingProgress");
    });
    watch.start(5);
    ModalScript script;
    script.expect(ModalScript::Kind::MessageBox, translate("RecommendedSavingHDRimage"), [&](QWidget* box) {
        photograph("4SaveQuestion");
        static_cast<QMessageBox*>(box)->button(QMessageBox::No)->click();
    });
    session->find<QPushButton>("pushButton_DefineParamsNext")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return workspace->state != StateStacking; }, 120000));
    EXPECT_TRUE(script.waitUntilAnswered());
    EXPECT_TRUE(progressShot);
    EXPECT_EQ(workspace->state, StateEditing);
    ASSERT_EQ(workspace->tiles.size(), 1u);
    EXPECT_EQ(workspace->stackedFrameCount, 2 * GetParam().around + 1);
    EXPECT_TRUE(workspace->tiles.front()->title().startsWith("Vb_"));
    photograph("5Editing");
}

INSTANTIATE_TEST_SUITE_P(EachMedia, SearchAndStackingJourney, ::testing::ValuesIn(kMedia),
                         [](const ::testing::TestParamInfo<Media>& info) { return std::string(info.param.name); });
