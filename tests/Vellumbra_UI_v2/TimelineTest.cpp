#include "ExposureMarks.h"
#include "GeneratedMedia.h"
#include "ImagesSequence.h"
#include "SharpestImageSelection.h"
#include "TimelineGeometry.h"
#include "WindowSession.h"
#include "Workspace.h"

#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>

using windowtest::WindowSession;

namespace {

constexpr int kClipFrames = 12;

class TimelineWindow : public ::testing::Test {
protected:
    WindowSession session;
    VellumbraV2& window = session.window();
    const generatedmedia::Clip clip =
        generatedmedia::writeClip(session.environment().filesFolder(), kClipFrames, 6, cv::Size(96, 64));

    ImagesSequence* openClip()
    {
        EXPECT_TRUE(window.openFile(clip.path));
        return session.workspace() ? session.workspace()->frameSource.get() : nullptr;
    }
    QString frameLabel() { return session.find<QLabel>("label_CurrentFrameNumber")->text(); }
    bool waitForFrame(ImagesSequence* frames, int index)
    {
        return QTest::qWaitFor([&] { return frames->getCurrentIndex() == index; }, 10000);
    }
};

}  // namespace

TEST(TimelineGeometry, PlacesEveryMarkWithoutDividingByZero)
{
    struct Case {
        const char* name;
        QRect bar;
        int frame, count, width;
        QPoint cursor, start, end, pin;
    };
    const Case cases[] = {
        {"101 frames on 500 pixels", QRect(20, 8, 500, 12), 50, 101, 10, {265, 17}, {260, 8}, {270, 8}, {265, -1}},
        {"first frame", QRect(20, 8, 500, 12), 0, 101, 10, {15, 17}, {10, 8}, {20, 8}, {15, -1}},
        {"last frame", QRect(20, 8, 500, 12), 100, 101, 10, {515, 17}, {510, 8}, {520, 8}, {515, -1}},
        {"one frame", QRect(20, 8, 500, 12), 0, 1, 10, {15, 17}, {10, 8}, {20, 8}, {15, -1}},
        {"zero-wide bar", QRect(20, 8, 0, 12), 3, 7, 10, {15, 17}, {10, 8}, {20, 8}, {15, -1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(timeline::cursorPosition(c.bar, c.frame, c.count, c.width), c.cursor);
        EXPECT_EQ(timeline::trimStartPosition(c.bar, c.frame, c.count, c.width), c.start);
        EXPECT_EQ(timeline::trimEndPosition(c.bar, c.frame, c.count), c.end);
        EXPECT_EQ(timeline::pinPosition(c.bar, c.frame, c.count, c.width, true), c.pin);
        EXPECT_EQ(timeline::pinPosition(c.bar, c.frame, c.count, c.width, false).y(), 17);
    }
}

TEST(TimelineGeometry, MapsPressesAndDragsToFramesOfThePlaybackRange)
{
    struct Case {
        int x, stripWidth, first, last, pressed, dragged;
    };
    const Case cases[] = {
        {100, 200, 10, 19, 15, 15}, {0, 200, 10, 19, 10, 10},  {199, 200, 10, 19, 19, 19},
        {250, 200, 10, 19, 19, 22}, {-20, 200, 10, 19, 10, 9}, {5, 0, 4, 4, 4, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        EXPECT_EQ(timeline::frameAtPress(c.x, c.stripWidth, c.first, c.last), c.pressed);
        EXPECT_EQ(timeline::frameAtDrag(c.x + 30, 30, c.stripWidth, c.first, c.last), c.dragged);
    }
}

TEST(ExposureMarks, PaintsPixelsPastTheLimits)
{
    struct Case {
        const char* name;
        cv::Mat pixel;
        bool over, under;
        cv::Vec3b expected;
    };
    const Case cases[] = {
        {"bright", cv::Mat(1, 1, CV_8UC3, cv::Scalar(250, 250, 250)), true, true, {150, 150, 255}},
        {"at the upper threshold", cv::Mat(1, 1, CV_8UC3, cv::Scalar(249, 249, 249)), true, true, {150, 150, 255}},
        {"just below it", cv::Mat(1, 1, CV_8UC3, cv::Scalar(248, 249, 249)), true, true, {248, 249, 249}},
        {"dark", cv::Mat(1, 1, CV_8UC3, cv::Scalar(5, 5, 5)), true, true, {0, 0, 110}},
        {"just above the lower one", cv::Mat(1, 1, CV_8UC3, cv::Scalar(6, 6, 6)), true, true, {6, 6, 6}},
        {"bright, only dark marked", cv::Mat(1, 1, CV_8UC3, cv::Scalar(250, 250, 250)), false, true, {250, 250, 250}},
        {"dark grey", cv::Mat(1, 1, CV_8UC1, cv::Scalar(3)), true, true, {0, 0, 110}},
        {"mid grey", cv::Mat(1, 1, CV_8UC1, cv::Scalar(128)), true, true, {128, 128, 128}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cv::Mat picture = c.pixel.clone();
        markExposure(picture, 98, 2, c.over, c.under);
        ASSERT_EQ(picture.type(), CV_8UC3);
        EXPECT_EQ(picture.at<cv::Vec3b>(0, 0), c.expected);
    }
}

TEST_F(TimelineWindow, PlaysPausesStepsAndJumps)
{
    ImagesSequence* frames = openClip();
    ASSERT_NE(frames, nullptr);
    auto* play = session.find<QPushButton>("pushButton_PlayPause");

    // Played to the end of the range, the loop returns and the button is back.
    window.playPauseVideo();
    EXPECT_EQ(frames->getCurrentIndex(), kClipFrames - 1);
    EXPECT_EQ(frameLabel(), QString::number(kClipFrames - 1));
    EXPECT_FALSE(play->property("SecondState").toBool());

    // At the end, play starts over; a press inside the loop pauses it.
    QTimer::singleShot(0, &window, [&] {
        EXPECT_TRUE(play->property("SecondState").toBool());
        window.playPauseVideo();
    });
    window.playPauseVideo();
    EXPECT_EQ(frames->getCurrentIndex(), 1);

    window.showNextFrame();
    EXPECT_EQ(frames->getCurrentIndex(), 2);
    window.showPreviousFrame();
    window.showPreviousFrame();
    EXPECT_EQ(frames->getCurrentIndex(), 0);

    // Ten jumps in a row: labels and cursor follow each, one decode at the end.
    auto* cursor = session.find<QLabel>("label_CursorPlayingBar");
    int lastX = cursor->x();
    for (int frame = 2; frame < kClipFrames; ++frame) {
        window.showFrameIndex(frame);
        EXPECT_EQ(frameLabel(), QString::number(frame));
        EXPECT_GT(cursor->x(), lastX);
        lastX = cursor->x();
    }
    EXPECT_EQ(frames->getCurrentIndex(), 0);
    EXPECT_TRUE(waitForFrame(frames, kClipFrames - 1));

    window.showBeginFrame();
    EXPECT_TRUE(waitForFrame(frames, 0));
}

TEST_F(TimelineWindow, NavigationWaitsForTheBrowsingStates)
{
    ImagesSequence* frames = openClip();
    ASSERT_NE(frames, nullptr);
    session.workspace()->state = StateEditing;
    window.showNextFrame();
    window.showFrameIndex(5);
    window.playPauseVideo();
    EXPECT_EQ(frames->getCurrentIndex(), 0);
    // A jump that was let through shows its number at once.
    EXPECT_EQ(frameLabel(), "0");

    // A jump pending when a run starts is not decoded under the run.
    session.workspace()->state = StateBrowse;
    window.showFrameIndex(7);
    session.workspace()->state = StateSharpestSearch;
    window.TimerTimeoutShowFrameIndex();
    EXPECT_EQ(frames->getCurrentIndex(), 0);
}

TEST_F(TimelineWindow, FramesBeforePastTheShownFrameMoveTheDisplayAndKeepTheRange)
{
    ImagesSequence* frames = openClip();
    ASSERT_NE(frames, nullptr);
    frames->seek(6);
    QTest::mouseClick(session.find<QPushButton>("pushButton_SelectImageNext"), Qt::LeftButton);
    ASSERT_EQ(session.workspace()->state, 4);
    auto* before = session.find<QSpinBox>("spinBox_ImageStackingBefore");
    auto* after = session.find<QSpinBox>("spinBox_ImageStackingAfter");
    EXPECT_EQ(before->maximum(), 6);
    EXPECT_EQ(after->maximum(), kClipFrames - 1 - 6);

    // Frame 6 chosen and shown: two before starts the range at 4, shown frame kept.
    before->setValue(2);
    after->setValue(3);
    EXPECT_EQ(frames->firstIndex, 4);
    EXPECT_EQ(frames->lastIndex, 9);

    // Showing frame 4, then one frame before: the start passes the shown frame, so
    // the display moves to frame 5 while the range keeps starting at 4.
    window.showFrameIndex(4);
    ASSERT_TRUE(waitForFrame(frames, 4));
    before->setValue(1);
    EXPECT_EQ(frames->firstIndex, 4);
    EXPECT_TRUE(waitForFrame(frames, 5));

    // The stacking buttons take the counts from the shown frame.
    window.showFrameIndex(8);
    ASSERT_TRUE(waitForFrame(frames, 8));
    window.PushButtonImageStacking_AfterClicked();
    EXPECT_EQ(after->value(), 2);
    window.PushButtonImageStacking_BeforeClicked();
    EXPECT_EQ(before->value(), 0);
    EXPECT_TRUE(session.workspace()->undoRedoManager.canUndo());
}

TEST_F(TimelineWindow, PinsTakeFourFramesAndARightPressFreesOne)
{
    ImagesSequence* frames = openClip();
    ASSERT_NE(frames, nullptr);
    for (int frame : {1, 3, 5, 7, 9})
        window.CursorDClicked(frame);
    std::vector<QLabel*> shown;
    for (QLabel* label : session.find<QWidget>("Panel_LectureTop2")->findChildren<QLabel*>())
        if (label->property("Pin1").isValid() || label->property("Pin2").isValid() ||
            label->property("Pin3").isValid() || label->property("Pin4").isValid())
            if (!label->isHidden())
                shown.push_back(label);
    ASSERT_EQ(shown.size(), 4u);
    std::sort(shown.begin(), shown.end(), [](QLabel* a, QLabel* b) { return a->x() < b->x(); });
    EXPECT_LT(shown.front()->x(), shown.back()->x());

    QTest::mousePress(shown.front(), Qt::RightButton);
    EXPECT_TRUE(shown.front()->isHidden());
    window.CursorDClicked(11);
    EXPECT_FALSE(shown.front()->isHidden());
    EXPECT_GT(shown.front()->x(), shown.back()->x());

    // Closing the media frees all four for the next one.
    session.discardMedia();
    for (QLabel* pin : shown)
        EXPECT_TRUE(pin->isHidden());
    openClip();
    window.CursorDClicked(2);
    EXPECT_EQ(std::count_if(shown.begin(), shown.end(), [](QLabel* pin) { return !pin->isHidden(); }), 1);
}

TEST_F(TimelineWindow, AGrabbedFrameBecomesATileWithItsMarkerOnTheTimeline)
{
    ImagesSequence* frames = openClip();
    ASSERT_NE(frames, nullptr);
    window.showNextFrame();
    window.grabCurrentFrame();
    Workspace* workspace = session.workspace();
    ASSERT_EQ(workspace->tiles.size(), 1u);
    SharpestImageSelection* tile = workspace->tiles.front();
    EXPECT_EQ(tile->frameIndex(), 1);
    ASSERT_NE(tile->pinLabel(), nullptr);
    EXPECT_EQ(tile->pinLabel()->parentWidget(), session.find<QWidget>("Panel_LectureTop2"));
    EXPECT_FALSE(tile->pinLabel()->isHidden());

    // Its close button takes it away once the click is over.
    QTest::mouseClick(tile->findChild<QPushButton*>("pushButton_Close"), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return workspace->tiles.empty(); }, 5000));
}

TEST_F(TimelineWindow, APressAndADragOnTheTimelineShowTheirFrames)
{
    ImagesSequence* frames = openClip();
    ASSERT_NE(frames, nullptr);
    auto* strip = session.find<QLabel>("label_ForegroundMidPlayingBar");
    ASSERT_GT(strip->width(), kClipFrames);
    const int press = 3;
    QTest::mousePress(strip, Qt::LeftButton, Qt::NoModifier,
                      QPoint(strip->width() * press / kClipFrames + 1, strip->height() / 2));
    EXPECT_EQ(frameLabel(), QString::number(press));
    const int drag = 9;
    const QPoint inWindow = strip->mapTo(&window, QPoint(strip->width() * drag / kClipFrames + 1, 0));
    QMouseEvent move(QEvent::MouseMove, inWindow, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &move);
    EXPECT_EQ(frameLabel(), QString::number(drag));
    EXPECT_TRUE(waitForFrame(frames, drag));

    QTest::mouseRelease(strip, Qt::LeftButton);
    const QPoint later = strip->mapTo(&window, QPoint(2, 0));
    QMouseEvent afterRelease(QEvent::MouseMove, later, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &afterRelease);
    EXPECT_EQ(frameLabel(), QString::number(drag));
}
