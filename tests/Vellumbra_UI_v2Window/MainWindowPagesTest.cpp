#include "VellumbraResources.h"
#include "WindowTest.h"
#include "vellumbraV2.h"

#include <QDockWidget>
#include <QImage>
#include <QStackedWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct Page {
    const char* stack;
    int index;
    const char* name;  // of the test and of its screenshot
};

// Every central page and every left-panel page, the other stacks as the form leaves them.
const Page kPages[] = {
    {"stackedWidget_CentralWidget", 0, "Central0VersionChoice"},
    {"stackedWidget_CentralWidget", 1, "Central1Home"},
    {"stackedWidget_CentralWidget", 2, "Central2Video"},
    {"stackedWidget_VerticalDock", 0, "Left0Empty"},
    {"stackedWidget_VerticalDock", 1, "Left1SelectImage"},
    {"stackedWidget_VerticalDock", 2, "Left2DefineParams"},
    {"stackedWidget_VerticalDock", 3, "Left3Editing"},
    {"stackedWidget_VerticalDock", 4, "Left4Result"},
    {"stackedWidget_VerticalDock", 5, "Left5SimpleSelectImage"},
    {"stackedWidget_VerticalDock", 6, "Left6Exporting"},
};

void PrintTo(const Page& page, std::ostream* out)
{
    *out << page.name;
}

class MainWindowPages : public ::testing::TestWithParam<Page> {};

TEST_P(MainWindowPages, FitsTheScreenAndIsPhotographed)
{
    if (!windowtest::hasRealDisplay())
        GTEST_SKIP() << "no X display; test.sh runs these on its Xvfb";
    loadVellumbraResources();
    VellumbraV2 window;
    auto* stack = window.findChild<QStackedWidget*>(GetParam().stack);
    ASSERT_NE(stack, nullptr);
    stack->setCurrentIndex(GetParam().index);
    // The left panel is hidden while nothing is open; an open workspace shows it. The floating
    // histogram starts over the panel's top; out of the way there.
    if (stack->objectName() == QLatin1String("stackedWidget_VerticalDock")) {
        window.findChild<QWidget*>(QStringLiteral("frame_MainOptions"))->show();
        window.findChild<QDockWidget*>(QStringLiteral("dockWidget_Histogram"))->hide();
    }
    const QRect screen = windowtest::screenGeometry();
    window.setGeometry(screen);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    EXPECT_EQ(window.size(), screen.size());
    const QWidget* page = stack->currentWidget();
    EXPECT_TRUE(page->isVisible());
    EXPECT_TRUE(window.rect().contains(QRect(page->mapTo(&window, QPoint(0, 0)), page->size())));
    const QString path = windowtest::saveScreenshot(GetParam().name);
    ASSERT_FALSE(path.isEmpty());
    EXPECT_EQ(QImage(path).size(), screen.size());
}

INSTANTIATE_TEST_SUITE_P(EveryPage, MainWindowPages, ::testing::ValuesIn(kPages),
                         [](const ::testing::TestParamInfo<Page>& info) { return std::string(info.param.name); });

}  // namespace
