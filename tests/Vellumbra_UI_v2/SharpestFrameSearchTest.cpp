#include "GeneratedMedia.h"
#include "ImagesSequence.h"
#include "LanguageEngine.h"
#include "ModalScript.h"
#include "ProSharpestImageSelection.h"
#include "WindowSession.h"
#include "Workspace.h"

#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <gtest/gtest.h>

#include <vector>

using windowtest::WindowSession;

namespace {

class SharpestFrameSearch : public ::testing::Test {
protected:
    WindowSession session;

    Workspace* openAt(const generatedmedia::Clip& clip, int frame)
    {
        Workspace* workspace = session.adoptVideo(clip.path, frame);
        EXPECT_TRUE(workspace && workspace->valid);
        return workspace;
    }

    void search(int halfWidth)
    {
        session.find<QSpinBox>("spinBox_FindSharpestImage")->setValue(halfWidth);
        session.find<QPushButton>("pushButton_FindSharpestImage")->click();
    }

    static QString textOf(ProSharpestImageSelection* tile)
    {
        return tile->findChild<QLabel*>("label_ImageRightReferencedText")->text();
    }

    static QString percentText(int percent) { return translate("GenericSharpText").arg(percent); }

    int listedNotes() const
    {
        int notes = 0;
        for (QLabel* label : session.find<QWidget>("scrollAreaWidgetContents_ProSharpestImageSelection")
                                 ->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
            notes += label->text() == translate("NoProSharpenerImages");
        return notes;
    }
};

}  // namespace

TEST_F(SharpestFrameSearch, ListsTheSharperFramesSharpestFirstWithTheirPins)
{
    const auto clip = generatedmedia::writeClip(session.environment().filesFolder(), 24, 12);
    Workspace* workspace = openAt(clip, 8);
    search(6);
    EXPECT_EQ(workspace->state, StateBrowse);

    // Frames 9 to 14 are sharper than 8; 13 and 14 look like 11 and 10 and count once.
    const std::vector<int> expectedFrames = {8, 12, 11, 10, 9};
    const auto& tiles = ProSharpestImageSelection::tiles();
    ASSERT_EQ(tiles.size(), expectedFrames.size());
    auto* pinParent = session.find<QWidget>("Panel_LectureTop2");
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(tiles[i]->frameIndex(), expectedFrames[i]);
        ASSERT_NE(tiles[i]->pinLabel(), nullptr);
        EXPECT_EQ(tiles[i]->pinLabel()->parentWidget(), pinParent);
        EXPECT_EQ(tiles[i]->parentWidget()->objectName(),
                  i == 0 ? "frame_SelectedImage" : "scrollAreaWidgetContents_ProSharpestImageSelection");
    }
    EXPECT_EQ(textOf(tiles[1]), percentText(100));
    EXPECT_NE(textOf(tiles[0]), percentText(100));
    EXPECT_FALSE(session.find<QWidget>("frame_SelectedImageTop")->isHidden());
    EXPECT_EQ(listedNotes(), 0);
}

TEST_F(SharpestFrameSearch, AUniformClipListsTheShownFrameAloneAtFullScore)
{
    const auto clip = generatedmedia::writeUniformClip(session.environment().filesFolder(), 10);
    Workspace* workspace = openAt(clip, 5);
    search(4);
    EXPECT_EQ(workspace->state, StateBrowse);
    const auto& tiles = ProSharpestImageSelection::tiles();
    ASSERT_EQ(tiles.size(), 1u);
    EXPECT_EQ(tiles[0]->frameIndex(), 5);
    EXPECT_EQ(textOf(tiles[0]), percentText(100));
    EXPECT_EQ(listedNotes(), 1);
}

TEST_F(SharpestFrameSearch, CancelReturnsToBrowsingWithNoTiles)
{
    const auto clip = generatedmedia::writeClip(session.environment().filesFolder(), 24, 12);
    Workspace* workspace = openAt(clip, 8);
    search(6);
    ASSERT_FALSE(ProSharpestImageSelection::tiles().empty());

    // The press lands while the window shows the search's progress page.
    auto* cancel = session.find<QPushButton>("pushButton_ComputingCancel");
    int stateWhenPressed = 0;
    QTimer::singleShot(0, cancel, [&] {
        stateWhenPressed = workspace->state;
        cancel->click();
    });
    search(10);
    EXPECT_EQ(stateWhenPressed, 2);
    EXPECT_EQ(workspace->state, StateBrowse);
    EXPECT_TRUE(ProSharpestImageSelection::tiles().empty());

    // The next search starts afresh.
    search(6);
    EXPECT_EQ(ProSharpestImageSelection::tiles().size(), 5u);
}

TEST_F(SharpestFrameSearch, ClosingTheMediaDuringASearchEndsIt)
{
    const auto clip = generatedmedia::writeClip(session.environment().filesFolder(), 24, 12);
    openAt(clip, 8);
    QTimer::singleShot(0, &session.window(), [&] { EXPECT_TRUE(session.window().MenuActionCloseClicked()); });
    search(10);
    EXPECT_EQ(session.workspace(), nullptr);
    EXPECT_TRUE(ProSharpestImageSelection::tiles().empty());
}
