#include "ResizableFrame.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>

#include <vector>

namespace {

struct FrameOnPreview {
    explicit FrameOnPreview(QSize size = {800, 600})
    {
        preview.resize(size);
        frame = new ResizableFrame(&preview);
    }
    QWidget preview;
    ResizableFrame* frame;
};

void send(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, at, button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void hover(QWidget* widget, QPoint at) { send(widget, QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton); }

// Hovers and presses at `from`, then moves through `path` with the left button held.
void drag(QWidget* widget, QPoint from, const std::vector<QPoint>& path)
{
    hover(widget, from);
    send(widget, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    for (QPoint to : path)
        send(widget, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
}

}  // namespace

TEST(ResizableFrame, StartsOnTheMiddleHalfOfItsParent)
{
    FrameOnPreview view;
    EXPECT_EQ(view.frame->geometry(), QRect(200, 150, 400, 300));
}

TEST(ResizableFrame, NineZonesPickTheirCursorAndDragRule)
{
    struct Case {
        const char* zone;
        QPoint hoverAt;
        Qt::CursorShape cursor;
        QPoint dragTo;
        QRect result;
    };
    // Frame (100, 100) 200 x 100 in an 800 x 600 parent; points are local to the frame.
    const Case cases[] = {
        {"top-left", {4, 4}, Qt::SizeFDiagCursor, {-6, -16}, {90, 80, 210, 120}},
        {"left", {4, 50}, Qt::SizeHorCursor, {14, 50}, {110, 100, 190, 100}},
        {"bottom-left", {4, 96}, Qt::SizeBDiagCursor, {-6, 120}, {90, 100, 210, 120}},
        {"bottom", {100, 96}, Qt::SizeVerCursor, {100, 130}, {100, 100, 200, 130}},
        {"bottom-right", {196, 96}, Qt::SizeFDiagCursor, {250, 150}, {100, 100, 250, 150}},
        {"right", {196, 50}, Qt::SizeHorCursor, {150, 50}, {100, 100, 150, 100}},
        {"top-right", {196, 4}, Qt::SizeBDiagCursor, {220, -16}, {100, 80, 220, 120}},
        {"top", {100, 4}, Qt::SizeVerCursor, {100, 24}, {100, 120, 200, 80}},
        {"inside", {100, 50}, Qt::SizeAllCursor, {130, 70}, {130, 120, 200, 100}},
    };
    for (const Case& c : cases) {
        FrameOnPreview view;
        view.frame->setGeometryClamped(100, 100, 200, 100);
        hover(view.frame, c.hoverAt);
        EXPECT_EQ(view.frame->cursor().shape(), c.cursor) << c.zone;
        drag(view.frame, c.hoverAt, {c.dragTo});
        EXPECT_EQ(view.frame->geometry(), c.result) << c.zone;
    }
}

TEST(ResizableFrame, ZoneBordersAreEightPixelsWide)
{
    struct Case {
        QPoint at;
        Qt::CursorShape cursor;
    };
    // Frame 200 x 100: borders at x <= 8, x >= 192, y <= 8, y >= 92.
    const Case cases[] = {
        {{8, 50}, Qt::SizeHorCursor},  {{9, 50}, Qt::SizeAllCursor},  {{192, 50}, Qt::SizeHorCursor},
        {{191, 50}, Qt::SizeAllCursor}, {{100, 8}, Qt::SizeVerCursor}, {{100, 9}, Qt::SizeAllCursor},
        {{100, 92}, Qt::SizeVerCursor}, {{100, 91}, Qt::SizeAllCursor}, {{8, 8}, Qt::SizeFDiagCursor},
        {{9, 9}, Qt::SizeAllCursor},   {{192, 92}, Qt::SizeFDiagCursor}, {{8, 92}, Qt::SizeBDiagCursor},
    };
    for (const Case& c : cases) {
        FrameOnPreview view;
        view.frame->setGeometryClamped(100, 100, 200, 100);
        hover(view.frame, c.at);
        EXPECT_EQ(view.frame->cursor().shape(), c.cursor) << c.at.x() << "," << c.at.y();
    }
}

TEST(ResizableFrame, CornerDragFollowsThePointerOverSeveralMoves)
{
    FrameOnPreview view;
    view.frame->setGeometryClamped(100, 100, 200, 100);
    // The frame moves under the pointer, so each event arrives at the same local point.
    drag(view.frame, {4, 4}, {{-6, -6}, {-6, -6}});
    EXPECT_EQ(view.frame->geometry(), QRect(80, 80, 220, 120));
    // The bottom-right corner takes the pointer's local position as the new size.
    drag(view.frame, {216, 116}, {{226, 126}, {236, 136}});
    EXPECT_EQ(view.frame->geometry(), QRect(80, 80, 236, 136));
}

TEST(ResizableFrame, StaysInsideTheParentAndAtLeastTenPixels)
{
    struct Case {
        const char* what;
        QPoint from;
        QPoint to;
        QRect result;
    };
    const Case cases[] = {
        {"moved past the top-left", {100, 50}, {-1000, -1000}, {0, 0, 200, 100}},
        {"moved past the bottom-right", {100, 50}, {5000, 5000}, {600, 500, 200, 100}},
        {"shrunk from the bottom-right", {196, 96}, {2, 2}, {100, 100, 10, 10}},
        {"shrunk from the top-left", {4, 4}, {195, 95}, {291, 191, 10, 10}},
        {"grown past the parent", {196, 96}, {5000, 5000}, {100, 100, 700, 500}},
    };
    for (const Case& c : cases) {
        FrameOnPreview view;
        view.frame->setGeometryClamped(100, 100, 200, 100);
        drag(view.frame, c.from, {c.to});
        EXPECT_EQ(view.frame->geometry(), c.result) << c.what;
    }
}

TEST(ResizableFrame, SetGeometryClampedKeepsTheRectangleInside)
{
    struct Case {
        QRect asked;
        QRect result;
    };
    const Case cases[] = {
        {{-5, -5, 50, 50}, {0, 0, 50, 50}},
        {{795, 595, 50, 50}, {790, 590, 10, 10}},
        {{100, 100, 5000, 5000}, {100, 100, 700, 500}},
        {{100, 100, 3, -4}, {100, 100, 10, 10}},
    };
    for (const Case& c : cases) {
        FrameOnPreview view;
        view.frame->setGeometryClamped(c.asked.x(), c.asked.y(), c.asked.width(), c.asked.height());
        EXPECT_EQ(view.frame->geometry(), c.result);
    }
}

TEST(ResizableFrame, ParentSmallerThanTheMinimumHoldsTheFrameInside)
{
    for (QSize size : {QSize(5, 5), QSize(0, 0), QSize(9, 30)}) {
        FrameOnPreview view(size);
        for (QPoint to : {QPoint(50, 50), QPoint(-50, -50)}) {
            drag(view.frame, {2, 2}, {to});
            const QRect g = view.frame->geometry();
            EXPECT_GE(g.x(), 0);
            EXPECT_GE(g.y(), 0);
            EXPECT_LE(g.x() + g.width(), size.width());
            EXPECT_LE(g.y() + g.height(), size.height());
        }
    }
}

TEST(ResizableFrame, RightButtonAndUnhoveredDragsLeaveItAlone)
{
    FrameOnPreview view;
    const QRect start = view.frame->geometry();
    // A press before any hover has no zone.
    send(view.frame, QEvent::MouseButtonPress, {100, 100}, Qt::LeftButton, Qt::LeftButton);
    send(view.frame, QEvent::MouseMove, {150, 150}, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(view.frame->geometry(), start);

    hover(view.frame, {100, 100});
    send(view.frame, QEvent::MouseButtonPress, {100, 100}, Qt::RightButton, Qt::RightButton);
    send(view.frame, QEvent::MouseMove, {150, 150}, Qt::NoButton, Qt::RightButton);
    EXPECT_EQ(view.frame->geometry(), start);
}
