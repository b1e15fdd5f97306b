#include "GeneratedMedia.h"
#include "RealWindowJourney.h"
#include "WindowTest.h"
#include "Workspace.h"

#include <QDir>
#include <QDockWidget>
#include <QMenuBar>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

namespace {

// The floating histogram beside the editing step of a photo, as the window grows or
// starts again with a place kept from before.
class HistogramClearance : public windowtest::RealWindowJourney<> {
protected:
    void TearDown() override
    {
        if (session)
            session->discardMedia();
    }

    void openPhoto(VellumbraV2& window)
    {
        const QString folder = session->environment().filesFolder();
        QDir().mkpath(folder);
        const QString photo = folder + "/photo.png";
        ASSERT_TRUE(cv::imwrite(photo.toStdString(), generatedmedia::scene(cv::Size(900, 600), 4)));
        window.openFile(photo);
        ASSERT_NE(session->workspace(), nullptr);
        ASSERT_TRUE(QTest::qWaitFor([&] { return dock(window)->isVisible(); }, 10000));
    }

    static QDockWidget* dock(VellumbraV2& window) { return window.findChild<QDockWidget*>("dockWidget_Histogram"); }

    // The controls the histogram covers, by object name.
    static QStringList covered(VellumbraV2& window)
    {
        QCoreApplication::processEvents();
        const QRect histogram = dock(window)->frameGeometry();
        QStringList names;
        for (const char* name : {"frame_MainOptions", "frame_SecondOptions", "horizontalSlider_Rotation_2",
                                 "pushButton_Horizon"}) {
            const QWidget* control = window.findChild<QWidget*>(name);
            if (control && control->isVisible() &&
                histogram.intersects(QRect(control->mapToGlobal(QPoint(0, 0)), control->size())))
                names << name;
        }
        if (histogram.intersects(QRect(window.menuBar()->mapToGlobal(QPoint(0, 0)), window.menuBar()->size())))
            names << "menu bar";
        return names;
    }

    // The controls the histogram covers once the window has taken `place` and laid
    // itself out there: the window system answers when it will.
    static QStringList coveredAt(VellumbraV2& window, const QRect& place)
    {
        window.setGeometry(place);
        const bool clear = QTest::qWaitFor([&] { return window.geometry() == place && covered(window).isEmpty(); });
        return clear ? QStringList() : covered(window);
    }
};

}  // namespace

TEST_F(HistogramClearance, AMaximisedWindowLeavesTheEditingPanelsUncovered)
{
    VellumbraV2& window = session->window();
    const QRect screen = windowtest::screenGeometry();
    window.setGeometry(screen.x() + 200, screen.y() + 150, 1300, 800);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    openPhoto(window);
    EXPECT_EQ(covered(window).join(", ").toStdString(), "");

    EXPECT_EQ(coveredAt(window, screen).join(", ").toStdString(), "");
    windowtest::photograph("HistogramClearance_Maximised");
    EXPECT_EQ(coveredAt(window, QRect(screen.x() + 200, screen.y() + 150, 1300, 800)).join(", ").toStdString(), "");
    windowtest::photograph("HistogramClearance_Restored");
}

TEST_F(HistogramClearance, APlaceKeptFromBeforeIsLeftOnlyWhenItCoversNoControl)
{
    struct Case {
        const char* name;
        QPoint stored;  // from the screen's top left
        bool kept;
    };
    const QRect screen = windowtest::screenGeometry();
    const Case cases[] = {
        // Just below the menus, over the left panel's rotation and horizon controls.
        {"over the left panel", QPoint(10, 40), false},
        // Over the middle of the picture: the user's choice stands.
        {"over the picture", QPoint(screen.width() / 2 - 150, screen.height() / 2), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        session->discardMedia();
        QSettings().setValue("MainWindow/histogramDockWidgetPos", screen.topLeft() + c.stored);
        VellumbraV2& window = session->restartWindow();
        window.setGeometry(screen);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        openPhoto(window);
        EXPECT_EQ(covered(window).join(", ").toStdString(), "");
        EXPECT_EQ(dock(window)->pos() == screen.topLeft() + c.stored, c.kept);
        windowtest::photograph(QString("HistogramClearance_Restored_%1").arg(c.kept));
    }
}
