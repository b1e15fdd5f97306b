#include "GeneratedMedia.h"
#include "HoverReadout.h"
#include "ImagesSequence.h"
#include "LanguageEngine.h"
#include "ModalScript.h"
#include "WindowSession.h"
#include "Workspace.h"

#include <QDockWidget>
#include <QLabel>
#include <QMainWindow>
#include <QResizeEvent>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QTest>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

using windowtest::ModalScript;
using windowtest::WindowSession;

namespace {

class WindowEvents : public ::testing::Test {
protected:
    WindowSession session;
    VellumbraV2& window = session.window();
    const QString folder = session.environment().filesFolder();

    void openPhoto() { ASSERT_TRUE(window.openFile(generatedmedia::writeBurst(folder, 1, "png").paths.front())); }
    void openClip() { ASSERT_TRUE(window.openFile(generatedmedia::writeClip(folder, 8, 3, cv::Size(96, 64)).path)); }
    bool send(QObject* target, QEvent& event) { return QCoreApplication::sendEvent(target, &event); }
    void doubleClick(QWidget* widget, const QPoint& at)
    {
        QMouseEvent event(QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        send(widget, event);
    }
};

}  // namespace

TEST(HoverReadout, MapsThroughTheShownImageAndNeverLeavesIt)
{
    struct Case {
        const char* name;
        QPoint mouse;
        QSize label;
        cv::Size image;
        cv::Point expected;
    };
    const Case cases[] = {
        {"full-hd shown at half size", {100, 50}, {960, 540}, {1920, 1080}, {200, 100}},
        {"right and bottom edges", {960, 540}, {960, 540}, {1920, 1080}, {1919, 1079}},
        {"outside to the left", {-4, -1}, {960, 540}, {1920, 1080}, {0, 0}},
        {"a smaller burst frame", {960, 540}, {960, 540}, {96, 64}, {95, 63}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<cv::Point> pixel = hoverPixel(c.mouse, c.label, c.image);
        ASSERT_TRUE(pixel.has_value());
        EXPECT_EQ(*pixel, c.expected);
    }
    EXPECT_FALSE(hoverPixel({1, 1}, {0, 0}, {10, 10}).has_value());
    EXPECT_FALSE(hoverPixel({1, 1}, {10, 10}, {0, 0}).has_value());

    const cv::Mat colour(4, 4, CV_8UC3, cv::Scalar(10, 20, 30));
    const cv::Mat deep(4, 4, CV_16UC3, cv::Scalar(0, 65535, 257));
    const cv::Mat grey(4, 4, CV_8UC1, cv::Scalar(7));
    EXPECT_EQ(hoverReadout(colour, {1, 2}, true), "x: 1   y: 2   R: 30  G: 20  B: 10");
    EXPECT_EQ(hoverReadout(deep, {3, 3}, true), "x: 3   y: 3   R: 1  G: 255  B: 0");
    EXPECT_EQ(hoverReadout(grey, {1, 2}, true), "x: 1   y: 2 ");
    EXPECT_EQ(hoverReadout(colour, {1, 2}, false), "x: 1   y: 2 ");
}

TEST_F(WindowEvents, HoverOverABurstFrameSmallerThanTheFirstReadsItsOwnEdge)
{
    const QStringList burst = generatedmedia::writeBurst(folder, 2, "png").paths;
    ASSERT_TRUE(cv::imwrite(burst[1].toStdString(), generatedmedia::scene(cv::Size(96, 64), 5)));
    ASSERT_TRUE(window.openPhotoBurst(burst, true));
    window.showNextFrame();
    ASSERT_EQ(session.workspace()->currentImage().cols, 96);
    auto* preview = session.find<QLabel>("label_VideoPreview");
    QHoverEvent move(QEvent::HoverMove, QPointF(preview->width(), preview->height()), QPointF(0, 0));
    send(preview, move);
    EXPECT_TRUE(window.statusBar()->currentMessage().startsWith("x: 95   y: 63   R: "))
        << window.statusBar()->currentMessage().toStdString();
    QHoverEvent leave(QEvent::HoverLeave, QPointF(-1, -1), QPointF(0, 0));
    send(preview, leave);
    EXPECT_TRUE(window.statusBar()->currentMessage().isEmpty());
}

TEST_F(WindowEvents, ADoubleClickPutsASliderBackWhereTheWindowBuiltIt)
{
    openPhoto();
    const char* const editing[] = {
        "horizontalSlider_TMAlpha", "horizontalSlider_TMBeta", "horizontalSlider_TM2_Alpha",
        "horizontalSlider_TM3_Alpha", "horizontalSlider_TM3_Beta", "horizontalSlider_TM3_Gamma",
        "horizontalSlider_TM4_Alpha", "horizontalSlider_TM4_Beta", "horizontalSlider_TM4_Gamma",
        "horizontalSlider_TMStrength", "horizontalSlider_TMExposition", "horizontalSlider_TMContrast",
        "horizontalSlider_TMHighlights", "horizontalSlider_TMShadows", "horizontalSlider_TMWhites",
        "horizontalSlider_TMBlacks", "horizontalSlider_TMHue", "horizontalSlider_TMSaturation",
        "horizontalSlider_TMVibrance", "horizontalSlider_TMBlackClip", "horizontalSlider_TMWhiteClip",
        "horizontalSlider_TMSharpeningAmount", "horizontalSlider_TMSharpeningRadius",
        "horizontalSlider_TMSharpeningThreshold"};
    // Opening the photo already set the panel to the image's own settings.
    QMainWindow bareForm;
    Ui_VellumbraClass startForm;
    startForm.setupUi(&bareForm);
    for (const char* name : editing) {
        SCOPED_TRACE(name);
        auto* slider = session.find<QSlider>(name);
        ASSERT_NE(slider, nullptr);
        const int built = bareForm.findChild<QSlider*>(name)->value();
        slider->setValue(slider->value() == slider->maximum() ? slider->minimum() : slider->maximum());
        doubleClick(slider, QPoint(2, slider->height() / 2));
        EXPECT_EQ(slider->value(), built);
    }
    EXPECT_EQ(session.find<QSlider>("horizontalSlider_TM3_Gamma")->value(), -40);
    EXPECT_EQ(session.find<QSlider>("horizontalSlider_TM4_Beta")->value(), -50);
    EXPECT_EQ(session.find<QSlider>("horizontalSlider_TMSharpeningRadius")->value(), 3);

    session.discardMedia();
    openClip();
    for (const char* name : {"horizontalSlider_VideoSpeed", "horizontalSlider_VideoBrightness",
                             "horizontalSlider_VideoSpeed_Pro", "horizontalSlider_VideoBrightness_Pro"}) {
        SCOPED_TRACE(name);
        auto* slider = session.find<QSlider>(name);
        slider->setValue(slider->minimum());
        ASSERT_NE(slider->value(), 0);
        doubleClick(slider, QPoint(2, slider->height() / 2));
        EXPECT_EQ(slider->value(), 0);
    }
    EXPECT_EQ(session.workspace()->videoBrightness, 0);
    EXPECT_EQ(session.workspace()->videoSpeed, 0);
}

TEST_F(WindowEvents, TheWheelScrollsThePresetStrips)
{
    openPhoto();
    struct Case {
        const char* contents;
        const char* area;
        QPoint delta;
        int expected;
        bool consumed;
    };
    const Case cases[] = {
        {"scrollAreaWidgetContents_BottomPresets", "scrollArea_BottomPresets", {0, -120}, 620, true},
        {"scrollAreaWidgetContents_BottomPresets", "scrollArea_BottomPresets", {0, 120}, 380, true},
        {"scrollAreaWidgetContents_BottomPresets", "scrollArea_BottomPresets", {0, 0}, 500, false},
        {"scrollArea_UserPresets_Contents", "scrollArea_UserPresets", {0, -120}, 515, true},
        {"scrollArea_UserPresets_Contents", "scrollArea_UserPresets", {3, 0}, 500, false},
        {"scrollArea_UserPresets_Contents", "scrollArea_UserPresets", {0, 2000}, 250, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.contents) + " " + std::to_string(c.delta.y()));
        QScrollBar* bar = session.find<QScrollArea>(c.area)->horizontalScrollBar();
        bar->setRange(0, 1000);
        bar->setValue(500);
        QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), c.delta, Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        EXPECT_EQ(window.eventFilter(session.find<QWidget>(c.contents), &wheel), c.consumed);
        EXPECT_EQ(bar->value(), c.expected);
    }
}

TEST_F(WindowEvents, HistogramDockIgnoresTitleDoubleClicksAndRemembersBeingClosed)
{
    openClip();
    auto* dock = session.find<QDockWidget>("dockWidget_Histogram");
    ASSERT_TRUE(dock->isVisible());
    const bool floating = dock->isFloating();
    doubleClick(dock, QPoint(10, 5));
    QMouseEvent title(QEvent::NonClientAreaMouseButtonDblClick, QPoint(10, 5), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    send(dock, title);
    EXPECT_EQ(dock->isFloating(), floating);

    dock->close();
    EXPECT_FALSE(QSettings().value("MainWindow/histogramDockWidgetIsShown", true).toBool());
    window.MenuActionShowHistogramClicked();
    EXPECT_TRUE(dock->isVisible());
    EXPECT_TRUE(QSettings().value("MainWindow/histogramDockWidgetIsShown").toBool());
}

TEST_F(WindowEvents, TheOKeyShowsTheUneditedImageForHalfASecond)
{
    openPhoto();
    auto* logo = session.find<QWidget>("frame_BeforeAfterLogo");
    QTest::keyPress(&window, Qt::Key_O);
    EXPECT_TRUE(logo->property("onHov").toBool());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !logo->property("onHov").toBool(); }, 5000));
    QTest::keyPress(&window, Qt::Key_P);
    EXPECT_FALSE(logo->property("onHov").toBool());
}

TEST_F(WindowEvents, ThePreviewMenuOffersSavingOnlyWhileBrowsing)
{
    openPhoto();
    window.customMenuRequested(QPoint(5, 5));
    EXPECT_TRUE(window.findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly).isEmpty());
    session.discardMedia();
    openClip();
    window.customMenuRequested(QPoint(5, 5));
    const QList<QMenu*> menus = window.findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_EQ(menus.size(), 1);
    ASSERT_EQ(menus.front()->actions().size(), 1);
    EXPECT_EQ(menus.front()->actions().front()->text(), translate("SaveTheCurrentImage"));
    menus.front()->close();
}

TEST_F(WindowEvents, ClosingWritesTheWindowPlaceUnlessTheUserKeepsTheMedia)
{
    openPhoto();
    {
        ModalScript script;
        script.messageBox(translate("ExplClosingWorkspace2"), QMessageBox::Cancel);
        EXPECT_FALSE(window.close());
        EXPECT_TRUE(script.waitUntilAnswered());
    }
    EXPECT_FALSE(QSettings().contains("MainWindow/maximized"));

    session.discardMedia();
    window.resize(1000, 700);
    EXPECT_TRUE(window.close());
    QSettings settings;
    EXPECT_FALSE(settings.value("MainWindow/maximized").toBool());
    EXPECT_EQ(settings.value("MainWindow/width").toInt(), 1000);
    EXPECT_EQ(settings.value("MainWindow/height").toInt(), 700);
    EXPECT_TRUE(settings.contains("MainWindow/posX"));
    EXPECT_TRUE(settings.contains("MainWindow/histogramDockWidgetPos"));
}

TEST_F(WindowEvents, AResizeShowsANewPictureOrPlaceAndLeavesTheSameOneAlone)
{
    openClip();
    auto* picture = session.find<QLabel>("label_VideoPreview");
    auto key = [&] { return picture->pixmap(Qt::ReturnByValue).cacheKey(); };
    auto resized = [&] {
        QResizeEvent event(window.size(), window.size());
        send(&window, event);
    };
    resized();
    const qint64 first = key();
    resized();
    EXPECT_EQ(key(), first);

    // A frame read behind the display's back is what the next resize shows.
    cv::Mat frame;
    session.workspace()->frameSource->getDisplayImageAt(frame, 3, false, false);
    resized();
    const qint64 moved = key();
    EXPECT_NE(moved, first);

    const QSize before = picture->size();
    window.resize(window.width() - 300, window.height() - 200);
    QCoreApplication::processEvents();
    EXPECT_NE(key(), moved);
    EXPECT_LT(picture->width(), before.width());
}
