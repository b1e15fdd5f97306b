#include "ResizableLine.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPixmap>

#include <memory>

namespace {

// A visible preview inside a window, so resizes reach the line's event filter at once.
struct LineOnPreview {
    explicit LineOnPreview(QSize size)
    {
        window.resize(2000, 1500);
        preview = new QWidget(&window);
        preview->resize(size);
        line = new ResizableLine(preview);
        window.show();
    }
    QWidget window;
    QWidget* preview;
    ResizableLine* line;
};

void moveMouse(QWidget* widget, QPoint position, Qt::MouseButtons buttons)
{
    QMouseEvent event(QEvent::MouseMove, position, Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void press(QWidget* widget, QPoint position)
{
    QMouseEvent event(QEvent::MouseButtonPress, position, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// Hovers at `grab`, then drags to `to` with the left button.
void dragEnd(ResizableLine* line, QPoint grab, QPoint to)
{
    moveMouse(line, grab, Qt::NoButton);
    press(line, grab);
    moveMouse(line, to, Qt::LeftButton);
}

}  // namespace

TEST(ResizableLine, DefaultEndsLieAcrossTheMiddleHalfOfTheParent)
{
    LineOnPreview view({800, 600});
    EXPECT_EQ(view.line->p1(), QPoint(-1, -1));
    EXPECT_TRUE(view.line->pixmap(Qt::ReturnByValue).isNull());
    view.line->showDefault();
    EXPECT_EQ(view.line->p1(), QPoint(200, 300));
    EXPECT_EQ(view.line->p2(), QPoint(600, 300));
    EXPECT_EQ(view.line->geometry(), QRect(0, 0, 800, 600));
    EXPECT_EQ(view.line->pixmap(Qt::ReturnByValue).size(), QSize(800, 600));
}

TEST(ResizableLine, ResizingTheParentKeepsTheEndsOnTheSameImagePoints)
{
    struct Case {
        QSize to;
        QPoint p1, p2;
    };
    const Case cases[] = {
        {{1600, 1200}, {400, 600}, {1200, 600}},
        {{400, 300}, {100, 150}, {300, 150}},
        {{800, 1200}, {200, 600}, {600, 600}},
    };
    for (const Case& c : cases) {
        LineOnPreview view({800, 600});
        view.line->showDefault();
        view.preview->resize(c.to);
        EXPECT_EQ(view.line->p1(), c.p1) << c.to.width() << "x" << c.to.height();
        EXPECT_EQ(view.line->p2(), c.p2) << c.to.width() << "x" << c.to.height();
        EXPECT_EQ(view.line->size(), c.to);
    }
}

TEST(ResizableLine, HiddenLineIgnoresParentResizes)
{
    LineOnPreview view({800, 600});
    view.line->showDefault();
    view.line->hide();
    view.preview->resize(1600, 1200);
    EXPECT_EQ(view.line->p1(), QPoint(200, 300));
}

TEST(ResizableLine, ParentShrunkToNothingAndBackKeepsEndsInside)
{
    LineOnPreview view({800, 600});
    view.line->showDefault();
    view.preview->resize(0, 0);
    EXPECT_EQ(view.line->p1(), QPoint(0, 0));
    EXPECT_EQ(view.line->p2(), QPoint(0, 0));
    view.preview->resize(100, 50);
    for (QPoint end : {view.line->p1(), view.line->p2()}) {
        EXPECT_GE(end.x(), 0);
        EXPECT_LT(end.x(), 100);
        EXPECT_GE(end.y(), 0);
        EXPECT_LT(end.y(), 50);
    }
}

TEST(ResizableLine, HoverPicksAnEndWithinTenManhattan)
{
    struct Case {
        QPoint at;
        bool grabsAnEnd;
    };
    // Ends at (200, 300) and (600, 300).
    const Case cases[] = {
        {{210, 300}, true}, {{205, 305}, true}, {{211, 300}, false}, {{206, 305}, false},
        {{600, 290}, true}, {{593, 297}, true}, {{600, 289}, false}, {{400, 300}, false},
    };
    for (const Case& c : cases) {
        LineOnPreview view({800, 600});
        view.line->showDefault();
        moveMouse(view.line, c.at, Qt::NoButton);
        EXPECT_EQ(view.line->testAttribute(Qt::WA_SetCursor), c.grabsAnEnd) << c.at.x() << "," << c.at.y();
        if (c.grabsAnEnd) {
            EXPECT_EQ(view.line->cursor().shape(), Qt::SizeAllCursor);
        }
    }
}

TEST(ResizableLine, DragMovesTheHoveredEndWithinTheWidget)
{
    struct Case {
        QPoint grab, to;
        QPoint p1, p2;
    };
    const Case cases[] = {
        {{200, 300}, {100, 50}, {100, 50}, {600, 300}},
        {{600, 300}, {700, 550}, {200, 300}, {700, 550}},
        {{200, 300}, {-50, 900}, {0, 600}, {600, 300}},     // clamped to the widget
        {{200, 300}, {590, 300}, {200, 300}, {600, 300}},   // 10 from the other end: refused
        {{600, 300}, {215, 305}, {200, 300}, {600, 300}},   // 20 from the other end: refused
        {{600, 300}, {221, 300}, {200, 300}, {221, 300}},   // 21: accepted
        {{400, 300}, {100, 100}, {200, 300}, {600, 300}},   // nothing grabbed
    };
    for (const Case& c : cases) {
        LineOnPreview view({800, 600});
        view.line->showDefault();
        dragEnd(view.line, c.grab, c.to);
        EXPECT_EQ(view.line->p1(), c.p1) << c.to.x() << "," << c.to.y();
        EXPECT_EQ(view.line->p2(), c.p2) << c.to.x() << "," << c.to.y();
    }
}

TEST(ResizableLine, FirstEndWinsWhenBothAreNear)
{
    LineOnPreview view({40, 40});
    view.line->showDefault();
    ASSERT_EQ(view.line->p1(), QPoint(10, 20));
    ASSERT_EQ(view.line->p2(), QPoint(30, 20));
    // Both ends are 10 away from (20, 20); the drag must move the first one.
    moveMouse(view.line, {20, 20}, Qt::NoButton);
    moveMouse(view.line, {5, 39}, Qt::LeftButton);
    EXPECT_EQ(view.line->p1(), QPoint(5, 39));
    EXPECT_EQ(view.line->p2(), QPoint(30, 20));
}

TEST(ResizableLine, StyleSheetSetsTheLookAndTheLineIsDrawnWithIt)
{
    LineOnPreview view({200, 100});
    view.line->setStyleSheet("ResizableLine { qproperty-lineColor: #ff0000; qproperty-lineThickness: 5; }");
    view.line->ensurePolished();
    view.line->setProperty("lineStyle", QVariant::fromValue(Qt::DashLine));
    EXPECT_EQ(view.line->lineColor(), QColor(255, 0, 0));
    EXPECT_EQ(view.line->lineThickness(), 5);
    EXPECT_EQ(view.line->lineStyle(), Qt::DashLine);

    view.line->showDefault();
    const QImage picture = view.line->pixmap(Qt::ReturnByValue).toImage();
    EXPECT_EQ(picture.pixelColor(0, 0).alpha(), 0);
    EXPECT_EQ(picture.pixelColor(50, 50), QColor(255, 0, 0));       // first end, under its circle's centre line
    EXPECT_EQ(picture.pixelColor(150, 40), QColor(255, 0, 0));      // top of the second end's circle
    EXPECT_EQ(picture.pixelColor(100, 80).alpha(), 0);
}
