#include "ApplicationStyleSheet.h"
#include "Repolish.h"
#include "vellumbraV2.h"

#include <QApplication>
#include <QFrame>
#include <gtest/gtest.h>

namespace {

// The real window, styled the way the program styles it: the sheet is on the
// application before the window is made, and taken off again afterwards.
struct StyledMainWindow {
    StyledMainWindow()
    {
        applyApplicationStyleSheet(*qApp);
        window = std::make_unique<VellumbraV2>();
        window->resize(1600, 900);
        window->show();
        QApplication::processEvents();
    }
    ~StyledMainWindow()
    {
        window.reset();
        qApp->setStyleSheet(QString());
    }

    std::unique_ptr<VellumbraV2> window;
};

struct StepBarCase {
    const char* nbMenu;
    const char* selectMenu;
    int shown;        // steps with room, from the left
    int highlighted;  // step painted in the accent, 0 for none
};

void PrintTo(const StepBarCase& c, std::ostream* out)
{
    *out << "nbMenu " << c.nbMenu << " selectMenu " << c.selectMenu;
}

class StepBarStyle : public ::testing::TestWithParam<StepBarCase> {
protected:
    QFrame* frame(const QString& name) const { return styled.window->findChild<QFrame*>(name); }
    QFrame* step(int number) const { return frame(QStringLiteral("frame_TopMenu%1").arg(number)); }
    // The colour a step shows just below its top edge, clear of its label's text.
    QColor topOf(const QImage& shot, QFrame* frame) const
    {
        const QPoint at = frame->mapTo(styled.window.get(), QPoint(frame->width() / 2, 2));
        return shot.pixelColor(at);
    }

    StyledMainWindow styled;
};

TEST_P(StepBarStyle, ShowsTheCountedStepsAndHighlightsTheSelectedOne)
{
    const StepBarCase& c = GetParam();
    QFrame* bar = frame("frame_TopMenu");
    ASSERT_NE(bar, nullptr);
    bar->setProperty("nbMenu", c.nbMenu);
    bar->setProperty("selectMenu", c.selectMenu);
    repolish(bar);
    QApplication::processEvents();
    const QImage shot = styled.window->grab().toImage();

    for (int number = 1; number <= 4; ++number) {
        SCOPED_TRACE(number);
        QFrame* stepFrame = step(number);
        ASSERT_NE(stepFrame, nullptr);
        EXPECT_EQ(stepFrame->width() > 0, number <= c.shown);
        if (number > c.shown)
            continue;
        const QColor top = topOf(shot, stepFrame);
        if (number == c.highlighted)
            EXPECT_TRUE(top.red() > 80 && top.green() < 40 && top.blue() < 40) << top.name().toStdString();
        else
            EXPECT_TRUE(top.red() > 200 && top.red() == top.green() && top.green() == top.blue())
                << top.name().toStdString();
    }
    // The separator after each step goes with the step after it.
    for (int number = 2; number <= 4; ++number) {
        SCOPED_TRACE(number);
        QFrame* separator = frame(QStringLiteral("frame_BGTopLeftTriangle_%1").arg(number));
        ASSERT_NE(separator, nullptr);
        EXPECT_EQ(separator->width() > 0, number <= c.shown);
    }
}

TEST_P(StepBarStyle, RoundsTheBottomRightCornerOfTheLastStepShownOnly)
{
    const StepBarCase& c = GetParam();
    if (c.shown == 0)
        GTEST_SKIP() << "no step shown";
    QFrame* bar = frame("frame_TopMenu");
    bar->setProperty("nbMenu", c.nbMenu);
    repolish(bar);
    QApplication::processEvents();
    const QImage shot = styled.window->grab().toImage();
    const int em = QFontMetrics(bar->font()).height();
    for (int number = 1; number <= c.shown; ++number) {
        SCOPED_TRACE(number);
        QFrame* stepFrame = step(number);
        // Just inside the bottom-right corner, above the step's bottom margin.
        const QPoint corner(stepFrame->width() - 2, stepFrame->height() - qRound(0.5 * em) - 2);
        const QColor colour = shot.pixelColor(stepFrame->mapTo(styled.window.get(), corner));
        if (number == c.shown)
            EXPECT_LT(colour.value(), 60) << colour.name().toStdString();
        else
            EXPECT_GT(colour.value(), 100) << colour.name().toStdString();
    }
}

const StepBarCase kStepBarCases[] = {
    {"4", "1", 4, 1}, {"4", "2", 4, 2}, {"4", "3", 4, 3}, {"4", "4", 4, 4},
    {"2", "1", 2, 1}, {"2", "2", 2, 2},
    {"2", "4", 2, 0},  // a step beyond the count has no room to be painted
    {"0", "1", 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Table, StepBarStyle, ::testing::ValuesIn(kStepBarCases));

}  // namespace
