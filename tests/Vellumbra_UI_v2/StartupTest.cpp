#include "EditingDefaults.h"
#include "EditingForm.h"
#include "EngineDefaults.h"
#include "ModalScript.h"
#include "ProcessDefaultsGuard.h"
#include "Preset.h"
#include "TemporaryEnvironment.h"
#include "WorkerCount.h"
#include "Workspace.h"
#include "vellumbraV2.h"

#include <QDir>
#include <QMenu>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QThread>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

using windowtest::ModalScript;
using windowtest::TemporaryEnvironment;

namespace {

// A shown window whose automatic update check (no service address: quiet) is over.
std::unique_ptr<VellumbraV2> startWindow(bool handOff = false)
{
    auto window = handOff ? std::make_unique<VellumbraV2>("result.txt", "second") : std::make_unique<VellumbraV2>();
    QSignalSpy checked(window.get(), &VellumbraV2::updateCheckFinished);
    EXPECT_TRUE(checked.wait(10000));
    return window;
}

template <typename T>
T* child(const QObject* window, const char* name)
{
    T* found = window->findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
}

QVariant setting(const QString& key)
{
    return QSettings().value(key);
}

class MainWindowStart : public ::testing::Test
{
    ProcessDefaultsGuard defaults;

protected:
    TemporaryEnvironment environment;
};

}  // namespace

TEST_F(MainWindowStart, FirstStartTakesTheFormDefaultsAndWritesItsKeys)
{
    const auto window = startWindow();

    EXPECT_EQ(window->size(), QSize(1155, 858));
    EXPECT_FALSE(window->startupFailed());
    EXPECT_EQ(setting("UserParameters/savingFilterIndexForHDRImage").toInt(), 1);
    EXPECT_EQ(setting("UserParameters/savingFilterIndexForTMImage").toInt(), 0);
    EXPECT_TRUE(setting("UserParameters/ShowUpdates").toBool());
    EXPECT_FALSE(setting("UserParameters/isFirstRunVersion").toBool());
    EXPECT_FALSE(child<QAction>(window.get(), "actionHighlight_over_exposed_pixels")->isChecked());
    EXPECT_EQ(toneMappingWorkerCount(), std::max(1, QThread::idealThreadCount() - 1));
    EXPECT_TRUE(QDir(environment.dataFolder() + "/Presets").exists());
    EXPECT_TRUE(QDir(environment.dataFolder() + "/Lang").exists());

    // The render settings the form's editing panel stands for.
    EXPECT_FLOAT_EQ(engineDefaults.params[0][0], 0.5f);
    EXPECT_FLOAT_EQ(engineDefaults.params[0][1], -0.5f);
    EXPECT_FLOAT_EQ(engineDefaults.params[1][0], 0.875f);
    EXPECT_FLOAT_EQ(engineDefaults.params[4][2], 1525.0f);
    EXPECT_FLOAT_EQ(engineDefaults.params[2][1], 5.0f);
    EXPECT_FLOAT_EQ(engineDefaults.params[2][2], 0.25f);
    EXPECT_FLOAT_EQ(engineDefaults.strength, 0.5f);
    EXPECT_FLOAT_EQ(engineDefaults.sharpeningAmount, 0.5f);
    EXPECT_EQ(engineDefaults.sharpeningRadius, 7);
    EXPECT_EQ(presetDefaults.sharpeningRadius, 3);
    EXPECT_EQ(workspaceDefaults.framesBefore, child<QSpinBox>(window.get(), "spinBox_ImageStackingBefore")->value());
    EXPECT_EQ(workspaceDefaults.qualityIndex, 0);
}

TEST_F(MainWindowStart, LaterStartsReadTheStoredKeysAndTurnAnnouncementsBackOn)
{
    {
        QSettings settings;
        settings.setValue("MainWindow/width", 900);
        settings.setValue("MainWindow/height", 700);
        settings.setValue("UserParameters/savingFilterIndexForHDRImage", 4);
        settings.setValue("UserParameters/ShowUpdates", false);
        settings.setValue("UserParameters/isFirstRunVersion", false);
        settings.setValue("UserParameters/highlightUnderExposed", true);
    }
    const auto window = startWindow();

    EXPECT_EQ(window->size(), QSize(900, 700));
    EXPECT_EQ(setting("UserParameters/savingFilterIndexForHDRImage").toInt(), 4);
    EXPECT_TRUE(setting("UserParameters/ShowUpdates").toBool());
    EXPECT_FALSE(setting("UserParameters/isFirstRunVersion").toBool());
    EXPECT_TRUE(child<QAction>(window.get(), "actionHighlight_under_exposed_pixels")->isChecked());
}

TEST_F(MainWindowStart, HandOffWindowKeepsTwoStepsAndNoOpening)
{
    const auto plain = startWindow();
    const auto handOff = startWindow(true);

    struct Case {
        const char* what;
        std::function<bool(const VellumbraV2*)> shown;
    };
    const auto widgetShown = [](const char* name) {
        return [name](const VellumbraV2* w) { return !child<QWidget>(w, name)->isHidden(); };
    };
    const auto inFileMenu = [](const char* name) {
        return [name](const VellumbraV2* w) {
            return child<QMenu>(w, "menuFile")->actions().contains(child<QAction>(w, name));
        };
    };
    const Case cases[] = {
        {"home page", widgetShown("frame_Home")},
        {"third step", widgetShown("frame_TopMenu3")},
        {"fourth step", widgetShown("frame_TopMenu4")},
        {"open", inFileMenu("actionOpen")},
        {"open burst", inFileMenu("actionOpen_photo_with_burst_mode")},
        {"open photo", inFileMenu("actionOpen_photo_for_tone_mapping")},
        {"close", inFileMenu("actionClose")},
        {"recent files", [](const VellumbraV2* w) { return child<QMenu>(w, "menuRecent_videos")->menuAction()->isVisible(); }},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(c.shown(plain.get())) << c.what;
        EXPECT_FALSE(c.shown(handOff.get())) << c.what;
    }
}

TEST_F(MainWindowStart, FourHiddenPinsWaitOverTheTimeline)
{
    const auto window = startWindow();
    const QWidget* timeline = child<QWidget>(window.get(), "Panel_LectureTop2");
    for (int i = 1; i <= 4; ++i) {
        const QByteArray property = "Pin" + QByteArray::number(i);
        QLabel* pin = nullptr;
        for (QLabel* label : timeline->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
            if (label->property(property.constData()).toBool())
                pin = label;
        ASSERT_NE(pin, nullptr) << property.constData();
        EXPECT_TRUE(pin->isHidden());
        EXPECT_EQ(pin->minimumSize(), QSize(10, 20));
        EXPECT_FALSE(pin->pixmap(Qt::ReturnByValue).isNull());
    }
}

TEST_F(MainWindowStart, UnusableThumbnailFileStopsTheStartWithAMessage)
{
    // A folder where the file should be can be neither read nor replaced.
    ASSERT_TRUE(QDir().mkpath(environment.dataFolder() + "/thumbnails.bin"));
    ModalScript script;
    script.messageBox("thumbnail", QMessageBox::Ok);
    const VellumbraV2 window;
    EXPECT_TRUE(window.startupFailed());
    EXPECT_FALSE(window.isVisible());
}

TEST(EditingDefaults, EachSliderPositionGivesItsRenderSetting)
{
    using Ui = Ui_VellumbraClass;
    struct Case {
        const char* slider;
        std::function<void(Ui&)> set;
        std::function<float(const EngineDefaults&)> get;
        float expected;
    };
    const Case cases[] = {
        {"saturation -50", [](Ui& ui) { ui.horizontalSlider_TMSaturation->setValue(-50); }, [](const EngineDefaults& d) { return d.saturation; }, 0.5f},
        {"saturation +50", [](Ui& ui) { ui.horizontalSlider_TMSaturation->setValue(50); }, [](const EngineDefaults& d) { return d.saturation; }, 3.0f},
        {"vibrance -20", [](Ui& ui) { ui.horizontalSlider_TMVibrance->setValue(-20); }, [](const EngineDefaults& d) { return d.vibrance; }, -0.1f},
        {"vibrance +20", [](Ui& ui) { ui.horizontalSlider_TMVibrance->setValue(20); }, [](const EngineDefaults& d) { return d.vibrance; }, 1.4f},
        {"contrast 0", [](Ui& ui) { ui.horizontalSlider_TMContrast->setValue(0); }, [](const EngineDefaults& d) { return d.contrast; }, 1.0f},
        {"hue 100", [](Ui& ui) { ui.horizontalSlider_TMHue->setValue(100); }, [](const EngineDefaults& d) { return d.hue; }, 0.5f},
        {"exposure -150", [](Ui& ui) { ui.horizontalSlider_TMExposition->setRange(-150, 0); ui.horizontalSlider_TMExposition->setValue(-150); }, [](const EngineDefaults& d) { return d.exposure; }, -1.5f},
        {"white clip 100", [](Ui& ui) { ui.horizontalSlider_TMWhiteClip->setValue(100); }, [](const EngineDefaults& d) { return d.whiteClip; }, 0.15f},
        {"strength -100", [](Ui& ui) { ui.horizontalSlider_TMStrength->setValue(-100); }, [](const EngineDefaults& d) { return d.strength; }, 0.0f},
        {"TM3 alpha 50", [](Ui& ui) { ui.horizontalSlider_TM3_Alpha->setValue(50); }, [](const EngineDefaults& d) { return d.params[4][0]; }, 0.75f},
        {"TM3 beta 0", [](Ui& ui) { ui.horizontalSlider_TM3_Beta->setValue(0); }, [](const EngineDefaults& d) { return d.params[4][1]; }, 1.0f},
        {"TM4 alpha 30", [](Ui& ui) { ui.horizontalSlider_TM4_Alpha->setValue(30); }, [](const EngineDefaults& d) { return d.params[2][0]; }, 6.5f},
        {"radius 5", [](Ui& ui) { ui.horizontalSlider_TMSharpeningRadius->setValue(5); }, [](const EngineDefaults& d) { return float(d.sharpeningRadius); }, 11.0f},
        {"threshold 25", [](Ui& ui) { ui.horizontalSlider_TMSharpeningThreshold->setValue(25); }, [](const EngineDefaults& d) { return d.sharpeningThreshold; }, 0.25f},
        {"operator 7",
         [](Ui& ui) {
             while (ui.comboBox_TM->count() <= 7)
                 ui.comboBox_TM->addItem(QString());
             ui.comboBox_TM->setCurrentIndex(7);
         },
         [](const EngineDefaults& d) { return float(d.TMalgo); }, 4.0f},
    };
    for (const Case& c : cases) {
        EditingForm form;
        c.set(form.ui);
        EXPECT_NEAR(c.get(engineDefaultsFrom(form.ui)), c.expected, 1e-5f) << c.slider;
    }
}

TEST(EditingDefaults, PresetRecordsStartFromThePositionsThemselves)
{
    EditingForm form;
    form.ui.horizontalSlider_TMAlpha->setValue(50);
    form.ui.horizontalSlider_TMSaturation->setValue(-50);
    form.ui.horizontalSlider_TMSharpeningAmount->setValue(50);
    form.ui.horizontalSlider_TMSharpeningRadius->setValue(3);
    form.ui.groupBox_Sharpening->setChecked(false);
    const PresetSettings preset = presetDefaultsFrom(form.ui);
    EXPECT_EQ(preset.alpha, 0);
    EXPECT_EQ(preset.TMalgo, 0);
    EXPECT_EQ(preset.saturation, -50);
    EXPECT_EQ(preset.sharpeningAmount, 50);
    EXPECT_EQ(preset.sharpeningRadius, 3);
    EXPECT_FALSE(preset.applySharpening);
}

TEST(InstallerRun, WritesTheLanguageEveryTimeAndTheVersionKeysOncePerVersion)
{
    TemporaryEnvironment environment;
    const QString store = environment.home() + "/config/Orvane/Vellumbra 3.conf";
    const auto runInstaller = [&](const QString& language) {
        QProcess process;
        process.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        process.start(VB_APPLICATION_PATH, {"-ii", language, "ignored"});
        EXPECT_TRUE(process.waitForFinished(30000)) << language.toStdString();
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
    };
    struct Case {
        const char* what;
        QString storedVersion;  // before the run; empty: as the previous run left it
        bool versionKeysWritten;
    };
    const Case cases[] = {
        {"fresh installation", "", true},
        {"same version again", "", false},
        {"older version installed", "3.1.0", true},
    };
    for (const Case& c : cases) {
        {
            QSettings settings(store, QSettings::IniFormat);
            if (!c.storedVersion.isEmpty())
                settings.setValue("UserParameters/currentVersion", c.storedVersion);
            settings.setValue("UserParameters/DoNotShowUpdates", true);
            settings.setValue("UserParameters/isFirstRunVersion", false);
        }
        const QString language = QString("Language of %1").arg(c.what);
        runInstaller(language);
        const QSettings settings(store, QSettings::IniFormat);
        EXPECT_EQ(settings.value("GeneralSettings/ChosenLanguage").toString(), language) << c.what;
        EXPECT_EQ(settings.value("UserParameters/currentVersion").toString(), "3.2.0") << c.what;
        EXPECT_EQ(settings.value("UserParameters/DoNotShowUpdates").toBool(), !c.versionKeysWritten) << c.what;
        EXPECT_EQ(settings.value("UserParameters/isFirstRunVersion").toBool(), c.versionKeysWritten) << c.what;
    }
    // No window was ever built: it would have made its data folder.
    EXPECT_FALSE(QDir(environment.dataFolder()).exists());
}
