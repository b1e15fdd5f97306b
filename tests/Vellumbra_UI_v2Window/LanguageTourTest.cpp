#include "GeneratedMedia.h"
#include "LanguageEngine.h"
#include "ModalScript.h"
#include "PresetStore.h"
#include "WindowSession.h"
#include "WindowTest.h"
#include "WorkflowStateTable.h"
#include "Workspace.h"

#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QTest>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

using windowtest::ModalScript;

namespace {

// The pages and dialogs a photographer meets, in each language of the interface, for
// whoever looks at the screenshots.
class LanguageTour : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        if (!windowtest::hasRealDisplay())
            GTEST_SKIP() << "no X display; test.sh runs these on its Xvfb";
        session = std::make_unique<windowtest::WindowSession>();
        // The preset lists are process-wide; this test's HOME starts without user presets.
        userPresets.clear();
        userPresetsLoaded = false;
        QSettings().setValue("GeneralSettings/ChosenLanguage", GetParam());
        VellumbraV2& window = session->restartWindow();
        window.setGeometry(windowtest::screenGeometry());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    void TearDown() override
    {
        if (session)
            session->discardMedia();
    }

    void photograph(const char* step) const
    {
        windowtest::photograph(QStringLiteral("Tour%1_%2").arg(GetParam(), step));
    }

    // Answers the next dialog of that kind and text after its photograph.
    void photographThen(ModalScript& script, ModalScript::Kind kind, const QString& text, const char* step,
                        std::function<void(QWidget*)> answer) const
    {
        script.expect(kind, text, [=](QWidget* modal) {
            photograph(step);
            answer(modal);
        });
    }

    template <typename Widget>
    Widget* find(const char* name) const
    {
        return session->find<Widget>(name);
    }

    std::unique_ptr<windowtest::WindowSession> session;
};

}  // namespace

TEST_P(LanguageTour, PagesAndDialogsOfOnePhotoAndOneBurst)
{
    VellumbraV2& window = session->window();
    // A photo deep in folders, under a long camera name.
    const QString folder = session->environment().filesFolder() + "/Holidays in Brittany/Day three, the harbour";
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString photo = folder + "/IMG_20240712_183455_harbour_at_dusk.png";
    ASSERT_TRUE(cv::imwrite(photo.toStdString(), generatedmedia::scene(cv::Size(960, 640), 5)));
    ASSERT_TRUE(window.openFile(photo));
    Workspace* open = session->workspace();
    ASSERT_NE(open, nullptr);
    ASSERT_EQ(open->state, StateEditing);
    EXPECT_TRUE(QTest::qWaitFor([&] { return open->presetPreviewsShown(); }, 60000));
    photograph("1PhotoEditing");

    auto* rotation = find<QSlider>("horizontalSlider_Rotation_2");
    rotation->setValue(-15);
    EXPECT_TRUE(QTest::qWaitFor([&] { return open->state == StateEditing; }, 60000));
    photograph("2RotatedMinus15");
    QTest::mouseClick(find<QPushButton>("pushButton_Crop_2"), Qt::LeftButton);
    photograph("3CropTool");
    QTest::mouseClick(find<QPushButton>("pushButton_CancelTool"), Qt::LeftButton);
    QTest::mouseClick(find<QPushButton>("pushButton_Horizon_2"), Qt::LeftButton);
    photograph("4HorizonTool");
    QTest::mouseClick(find<QPushButton>("pushButton_CancelTool"), Qt::LeftButton);
    EXPECT_EQ(open->state, StateEditing);

    {
        ModalScript script;
        photographThen(script, ModalScript::Kind::InputDialog, translate("ExplCreationPreset"), "5NewPreset",
                       [](QWidget* modal) {
                           QTest::keyClicks(modal->findChild<QLineEdit*>(), "Harbour");
                           QTest::mouseClick(modal->findChild<QPushButton*>("okButton"), Qt::LeftButton);
                       });
        QTest::mouseClick(find<QPushButton>("pushButton_UserPresetsNew"), Qt::LeftButton);
    }
    find<QTabWidget>("tabWidget_Presets")->setCurrentIndex(1);
    photograph("6UserPresets");
    {
        ModalScript script;
        photographThen(script, ModalScript::Kind::Dialog, translate("Settings"), "7Settings",
                       [](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
        window.showGeneralSettings();
    }
    {
        ModalScript script;
        photographThen(script, ModalScript::Kind::MessageBox, translate("ExplClosingWorkspace2"), "8CloseQuestion",
                       [](QWidget* modal) {
                           static_cast<QMessageBox*>(modal)->button(QMessageBox::Discard)->click();
                       });
        EXPECT_TRUE(window.MenuActionCloseClicked());
    }
    EXPECT_EQ(find<QListWidget>("listWidget_RecentFilesThumbnails")->count(), 1);
    photograph("9HomeWithRecentFile");

    const generatedmedia::Burst burst =
        generatedmedia::writeBurst(session->environment().filesFolder(), 3, "png", cv::Size(960, 640));
    ASSERT_TRUE(window.openPhotoBurst(burst.paths, true));
    photograph("10Burst");
}

INSTANTIATE_TEST_SUITE_P(EachLanguage, LanguageTour, ::testing::Values("English", "Francais"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });
