#include "ApplicationStyleSheet.h"
#include "ProSharpestImageSelection.h"
#include "Repolish.h"
#include "SaveForm.h"
#include "SharpestImageSelection.h"
#include "ShowGeneralSettings.h"
#include "WindowTest.h"
#include "vellumbraV2.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QLinearGradient>
#include <QPainter>
#include <QStackedWidget>
#include <QTest>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

namespace {

// What the window shows at one step of the workflow; -1 hides the stack.
struct WindowState {
    const char* name;  // of the test and of its screenshot
    const char* nbMenu;
    const char* selectMenu;
    int central;
    int leftPanel;
    int bottom;
    bool editingPanel;
};

void PrintTo(const WindowState& state, std::ostream* out)
{
    *out << state.name;
}

const WindowState kStates[] = {
    {"StyleHome", "0", "1", 1, -1, -1, false},
    {"StyleStep1Select", "4", "1", 2, 1, 0, false},
    {"StyleStep2CreateHdr", "4", "2", 2, 2, 0, false},
    {"StyleStep3Edit", "4", "3", 2, 3, 2, true},
    {"StyleStep4Export", "4", "4", 2, 6, 1, false},
};

// A landscape drawn here: sky, sun and hills.
cv::Mat landscape()
{
    cv::Mat picture(540, 960, CV_8UC3);
    for (int y = 0; y < picture.rows; ++y)
        picture.row(y).setTo(cv::Scalar(230 - y / 4, 170 - y / 5, 90 + y / 8));
    cv::circle(picture, {700, 160}, 60, cv::Scalar(170, 230, 255), cv::FILLED, cv::LINE_AA);
    std::vector<cv::Point> hills{{0, 540}, {0, 380}, {220, 300}, {480, 400}, {760, 310}, {960, 380}, {960, 540}};
    cv::fillPoly(picture, std::vector<std::vector<cv::Point>>{hills}, cv::Scalar(40, 90, 50), cv::LINE_AA);
    return picture;
}

QPixmap toPixmap(const cv::Mat& bgr, const QSize& box)
{
    const QImage image(bgr.data, bgr.cols, bgr.rows, static_cast<int>(bgr.step), QImage::Format_BGR888);
    return QPixmap::fromImage(image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

class StyledWindowScreenshots : public ::testing::TestWithParam<WindowState> {
protected:
    void SetUp() override
    {
        if (!windowtest::hasRealDisplay())
            GTEST_SKIP() << "no X display; test.sh runs these on its Xvfb";
        applyApplicationStyleSheet(*qApp);
        window = std::make_unique<VellumbraV2>();
    }
    void TearDown() override
    {
        ProSharpestImageSelection::deleteAll();
        window.reset();
        qApp->setStyleSheet(QString());
    }
    template <class W = QWidget>
    W* child(const char* name)
    {
        W* widget = window->findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    void showPage(const char* stackName, int index)
    {
        auto* stack = child<QStackedWidget>(stackName);
        stack->setVisible(index >= 0);
        if (index >= 0)
            stack->setCurrentIndex(index);
    }
    // What the window's construction hides once and for all.
    void hideAsAtStart()
    {
        for (const char* name : {"listWidget_RecentFiles", "stackedWidget_ModeIcon",
                                 "frame_LoadingIcone", "frame_TM4_Gamma", "frame_TM3_Gamma",
                                 "frame_TMSharpeningThreshold", "frame_SelectedImageTop", "label_zoomIn",
                                 "label_zoomOut", "checkBox_UseThisMode", "checkBox_FastPreview",
                                 "checkBox_AutoAntighostingP2", "dockWidget_Histogram", "frame_ToolsBottom"})
            child(name)->hide();
    }
    void fillWithMedia(const cv::Mat& picture)
    {
        auto* frames = child("scrollAreaWidgetContents_ProSharpestImageSelection");
        for (int frame : {12, 31, 47})
            new ProSharpestImageSelection(frames, child("Panel_LectureTop2"), picture, frame,
                                          QStringLiteral("Frame %1").arg(frame));
        ProSharpestImageSelection::tiles()[1]->setProperty("isSelected", true);
        repolish(frames);

        auto* results = child("scrollAreaWidgetContents_ProEditingSelection");
        auto* tile = new SharpestImageSelection(picture, results);
        tile->enterEditionMode(QStringLiteral("HDR 1"));
        tile->setProperty("isSelected", true);
        repolish(results);
    }

    std::unique_ptr<VellumbraV2> window;
};

TEST_P(StyledWindowScreenshots, WearsTheSheetOnTheWholeScreen)
{
    const WindowState& state = GetParam();
    const cv::Mat picture = landscape();
    hideAsAtStart();
    const QRect screen = windowtest::screenGeometry();
    window->setGeometry(screen);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));

    auto* bar = child("frame_TopMenu");
    bar->setProperty("nbMenu", state.nbMenu);
    bar->setProperty("selectMenu", state.selectMenu);
    repolish(bar);
    showPage("stackedWidget_CentralWidget", state.central);
    showPage("stackedWidget_VerticalDock", state.leftPanel);
    child("frame_MainOptions")->setVisible(state.leftPanel >= 0);
    showPage("stackedWidget_CentralWidgetBottom", state.bottom);
    child("frame_SecondOptions")->setVisible(state.editingPanel);
    if (state.central == 2)
        fillWithMedia(picture);
    QApplication::processEvents();
    auto* preview = child<QLabel>("label_VideoPreview");
    preview->setPixmap(toPixmap(picture, preview->size()));

    const QString path = windowtest::saveScreenshot(state.name);
    ASSERT_FALSE(path.isEmpty());
    const QImage shot(path);
    ASSERT_EQ(shot.size(), screen.size());
    // The light strip across the top and the dark window below it.
    const QWidget* strip = child("frame_BGTop");
    EXPECT_EQ(shot.pixelColor(strip->mapTo(window.get(), strip->rect().center())), QColor("#f7f7f7"));
    const QWidget* central = child("frame_Central");
    EXPECT_EQ(shot.pixelColor(central->mapTo(window.get(), QPoint(2, central->height() / 2))), QColor("#141414"));
}

// Dialogs made with the window as parent wear the sheet too.
TEST_F(StyledWindowScreenshots, DialogsOverTheWindowWearTheSheet)
{
    hideAsAtStart();
    window->setGeometry(windowtest::screenGeometry());
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    SaveForm saveOptions(window.get(), true);
    const int depths[] = {8, 16, 32};
    saveOptions.fillOutputDepths(depths, 3, 16);
    ShowGeneralSettings settings(window.get());
    // Side by side within the screen, whatever its size.
    const QRect screen = windowtest::screenGeometry();
    saveOptions.move(screen.width() / 8, screen.height() / 4);
    settings.move(screen.width() / 2, screen.height() / 10);
    for (QDialog* dialog : {static_cast<QDialog*>(&saveOptions), static_cast<QDialog*>(&settings)}) {
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
        auto* ok = dialog->findChild<QPushButton*>("okButton");
        ASSERT_NE(ok, nullptr);
        EXPECT_GE(ok->width(), 4 * QFontMetrics(ok->font()).height() - 1);
        // Every row whole: a dialog held at its form's size clipped the last one.
        for (const QComboBox* box : dialog->findChildren<QComboBox*>())
            EXPECT_TRUE(box->parentWidget()->rect().contains(box->geometry())) << box->objectName().toStdString();
    }
    EXPECT_FALSE(windowtest::saveScreenshot("StyleDialogs").isEmpty());
}

INSTANTIATE_TEST_SUITE_P(EveryStep, StyledWindowScreenshots, ::testing::ValuesIn(kStates),
                         [](const ::testing::TestParamInfo<WindowState>& info) { return std::string(info.param.name); });

}  // namespace
