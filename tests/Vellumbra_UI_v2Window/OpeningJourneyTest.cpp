#include "GeneratedMedia.h"
#include "ImagesSequence.h"
#include "RealWindowJourney.h"
#include "WindowSession.h"
#include "WindowTest.h"
#include "Workspace.h"

#include <QDockWidget>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>

using windowtest::WindowSession;

namespace {

class OpeningJourney : public windowtest::RealWindowJourney<> {
protected:
    void photograph(const char* step)
    {
        windowtest::photograph(QString("Opening_%1").arg(step));
    }

};

}  // namespace

TEST_F(OpeningJourney, ThePhoneVideoOpensPlaysAndShowsItsTimeline)
{
    const QString video = generatedmedia::phoneVideo();
    if (video.isEmpty())
        GTEST_SKIP() << "the real phone video is not in the test media";
    VellumbraV2& window = session->window();
    ASSERT_TRUE(window.openFile(video));
    Workspace* workspace = session->workspace();
    ASSERT_NE(workspace, nullptr);
    ImagesSequence* frames = workspace->frameSource.get();
    EXPECT_EQ(workspace->state, StateBrowse);
    photograph("1VideoPage");

    // A short run of playback, paused from inside the loop at its eighth frame.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (frames->getCurrentIndex() >= 8) {
            watch.stop();
            window.playPauseVideo();
        }
    });
    watch.start(5);
    window.playPauseVideo();
    EXPECT_GE(frames->getCurrentIndex(), 8);
    EXPECT_LT(frames->getCurrentIndex(), frames->frameCount - 1);
    photograph("2AfterPlaying");

    // The parameters step shows the trim markers and the chosen-frame flag.
    window.showFrameIndex(frames->frameCount / 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return frames->getCurrentIndex() == frames->frameCount / 2; }, 10000));
    QTest::mouseClick(session->find<QPushButton>("pushButton_SelectImageNext"), Qt::LeftButton);
    ASSERT_EQ(workspace->state, StateDefineParameters);
    session->find<QSpinBox>("spinBox_ImageStackingBefore")->setValue(5);
    session->find<QSpinBox>("spinBox_ImageStackingAfter")->setValue(8);
    window.CursorDClicked(frames->frameCount / 4);
    EXPECT_EQ(frames->firstIndex, workspace->currentFrame - 5);
    EXPECT_EQ(frames->lastIndex, workspace->currentFrame + 8);
    auto* start = session->find<QLabel>("label_TrimStartPlayingBar");
    auto* end = session->find<QLabel>("label_TrimEndPlayingBar");
    EXPECT_TRUE(start->isVisible());
    EXPECT_LT(start->x(), end->x());
    photograph("3Timeline");
    session->discardMedia();
    EXPECT_EQ(session->find<QListWidget>("listWidget_RecentFilesThumbnails")->count(), 1);
    photograph("4HomeWithRecentFile");
}
