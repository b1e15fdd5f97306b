#include "ShowGeneralSettings.h"

#include "DialogTestSupport.h"
#include "LanguageEngine.h"
#include "StartupValues.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QGuiApplication>
#include <QScreen>
#include <QSpinBox>
#include <QTemporaryDir>

#include <map>

namespace {

QSpinBox* spinBox(QWidget* dialog, const char* name) { return dialog->findChild<QSpinBox*>(name); }
QComboBox* languageBox(QWidget* dialog) { return dialog->findChild<QComboBox*>("ChoiceLanguageApplication"); }

class ShowGeneralSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { useShippedLanguages(); }
};

QRect screenArea() { return QGuiApplication::primaryScreen()->geometry(); }

void store(const QString& group, const std::map<QString, QVariant>& values)
{
    QSettings settings;
    settings.beginGroup(group);
    for (const auto& [key, value] : values)
        settings.setValue(key, value);
}

}  // namespace

TEST_F(ShowGeneralSettingsTest, GeometryIsRestoredOnTheScreen)
{
    const QRect screen = screenArea();
    struct Case {
        const char* what;
        std::map<QString, QVariant> stored;
        QPoint pos;  // (-1, -1): the untouched position
        QSize size;
    };
    const Case cases[] = {
        {"nothing stored", {}, {-1, -1}, {std::min(800, screen.width() - 100), std::min(600, screen.height() - 100)}},
        {"too far up-left", {{"posX", 20}, {"posY", 10}, {"width", 300}, {"height", 200}}, {100, 40}, {300, 200}},
        {"beyond the screen",
         {{"posX", 90000}, {"posY", 90000}, {"width", 300}, {"height", 200}},
         {screen.width() - 100, screen.height() - 100},
         {300, 200}},
        {"only posX", {{"posX", 300}, {"width", 300}, {"height", 200}}, {-1, -1}, {300, 200}},
        {"too large", {{"posX", 150}, {"posY", 60}, {"width", 5000}, {"height", 5000}}, {150, 60},
         {screen.width() - 100, screen.height() - 100}},
    };
    for (const Case& c : cases) {
        TemporarySettings temporary;
        store("DialogSettings", c.stored);
        ShowGeneralSettings untouched(nullptr);
        const QPoint defaultPos = untouched.pos();
        ShowGeneralSettings dialog(nullptr);
        EXPECT_EQ(dialog.pos(), c.pos == QPoint(-1, -1) ? defaultPos : c.pos) << c.what;
        EXPECT_EQ(dialog.size(), c.size) << c.what;
        EXPECT_EQ(dialog.maximumHeight(), screen.height()) << c.what;
    }
}

TEST_F(ShowGeneralSettingsTest, OpensWithTheQualityInForceAndStoredLimits)
{
    TemporarySettings temporary;
    store("GeneralSettings",
          {{"JPGQuality", 50}, {"PNGCompression", 7}, {"OverExposedLimit", 90}, {"UnderExposedLimit", 7},
           {"NbSharpenImages", 12}});
    // As start-up hands them over.
    setJpgQuality(50);
    setPngCompression(7);
    ShowGeneralSettings dialog(nullptr);
    EXPECT_EQ(spinBox(&dialog, "spinBox_JPEGQuality")->value(), 50);
    EXPECT_EQ(spinBox(&dialog, "spinBox_PNGQuality")->value(), 7);
    setJpgQuality(defaultJpgQuality());
    setPngCompression(defaultPngCompression());
    EXPECT_EQ(spinBox(&dialog, "spinBox_OverExposedLimit")->value(), 90);
    EXPECT_EQ(spinBox(&dialog, "spinBox_UnderExposedLimit")->value(), 7);
    EXPECT_EQ(spinBox(&dialog, "spinBox_NbSharpenImages")->value(), 12);

    TemporarySettings empty;
    ShowGeneralSettings fresh(nullptr);
    EXPECT_EQ(spinBox(&fresh, "spinBox_OverExposedLimit")->value(), 98);
    EXPECT_EQ(spinBox(&fresh, "spinBox_UnderExposedLimit")->value(), 2);
    EXPECT_EQ(spinBox(&fresh, "spinBox_NbSharpenImages")->value(), 3);
}

TEST_F(ShowGeneralSettingsTest, AcceptStoresEveryKeyAndTheGeometry)
{
    TemporarySettings temporary;
    ShowGeneralSettings dialog(nullptr);
    ModalDriver driver([](QWidget* modal) {
        spinBox(modal, "spinBox_JPEGQuality")->setValue(80);
        spinBox(modal, "spinBox_PNGQuality")->setValue(6);
        spinBox(modal, "spinBox_OverExposedLimit")->setValue(95);
        spinBox(modal, "spinBox_UnderExposedLimit")->setValue(5);
        spinBox(modal, "spinBox_NbSharpenImages")->setValue(9);
        clickButton(modal, "okButton");
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(driver.modal(), &dialog);

    QSettings settings;
    EXPECT_EQ(settings.value("GeneralSettings/JPGQuality").toInt(), 80);
    EXPECT_EQ(settings.value("GeneralSettings/PNGCompression").toInt(), 6);
    // The writer uses them from now on.
    EXPECT_EQ(jpgQuality(), 80);
    EXPECT_EQ(pngCompression(), 6);
    setJpgQuality(defaultJpgQuality());
    setPngCompression(defaultPngCompression());
    EXPECT_EQ(settings.value("GeneralSettings/OverExposedLimit").toInt(), 95);
    EXPECT_EQ(settings.value("GeneralSettings/UnderExposedLimit").toInt(), 5);
    EXPECT_EQ(settings.value("GeneralSettings/NbSharpenImages").toInt(), 9);
    EXPECT_EQ(settings.value("DialogSettings/width").toInt(), dialog.width());
    EXPECT_EQ(settings.value("DialogSettings/height").toInt(), dialog.height());
    EXPECT_EQ(settings.value("DialogSettings/posX").toInt(), dialog.x());
    EXPECT_EQ(settings.value("DialogSettings/posY").toInt(), dialog.y());
}

TEST_F(ShowGeneralSettingsTest, RejectStoresNothing)
{
    TemporarySettings temporary;
    ShowGeneralSettings dialog(nullptr);
    ModalDriver driver([](QWidget* modal) {
        spinBox(modal, "spinBox_OverExposedLimit")->setValue(60);
        languageBox(modal)->setCurrentIndex(languageBox(modal)->count() - 1);
        clickButton(modal, "cancelButton");
    });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_TRUE(QSettings().allKeys().isEmpty()) << QSettings().allKeys().join(",").toStdString();
    EXPECT_FALSE(dialog.languageChanged());
}

TEST_F(ShowGeneralSettingsTest, LanguageChangeIsReportedAndStoredOnlyWhenItDiffers)
{
    // English and a copy of it under another name.
    QTemporaryDir languages;
    QByteArray english = testfiles::readFile(shippedLanguageFolder() + "English.txt");
    testfiles::writeFile(languages.filePath("English.txt"), english);
    testfiles::writeFile(languages.filePath("Deutsch.txt"), english.replace("#lang:English", "#lang:Deutsch"));
    useLanguagesIn(languages.path() + "/");

    struct Case {
        QString stored;  // null: nothing stored, which reads as English
        QString chosen;
        bool changed;
    };
    const Case cases[] = {
        {"Deutsch", "Deutsch", false}, {"Deutsch", "English", true}, {QString(), "English", true},
        {"Klingon", "Deutsch", true},
    };
    for (const Case& c : cases) {
        TemporarySettings settings;
        // As the main window does at start-up: the stored choice, if known, becomes current.
        LanguageEngine::setLanguage("English");
        if (!c.stored.isNull()) {
            store("GeneralSettings", {{"ChosenLanguage", c.stored}});
            LanguageEngine::setLanguage(c.stored.toStdString());
        }
        ShowGeneralSettings dialog(nullptr);
        EXPECT_EQ(languageBox(&dialog)->count(), 2);
        EXPECT_EQ(languageBox(&dialog)->currentText(), c.stored == "Deutsch" ? "Deutsch" : "English")
            << "the box shows the engine's current language";
        ModalDriver driver([&c](QWidget* modal) {
            languageBox(modal)->setCurrentText(c.chosen);
            clickButton(modal, "okButton");
        });
        ASSERT_EQ(dialog.exec(), QDialog::Accepted);
        EXPECT_EQ(dialog.languageChanged(), c.changed) << c.chosen.toStdString();
        EXPECT_EQ(QSettings().value("GeneralSettings/ChosenLanguage").toString(), c.chosen);
    }
}

TEST_F(ShowGeneralSettingsTest, AcceptWithNoLanguageKeepsTheStoredOne)
{
    TemporarySettings temporary;
    store("GeneralSettings", {{"ChosenLanguage", "English"}});
    ShowGeneralSettings dialog(nullptr);
    ModalDriver driver([](QWidget* modal) {
        languageBox(modal)->clear();
        clickButton(modal, "okButton");
    });
    ASSERT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_FALSE(dialog.languageChanged());
    EXPECT_EQ(QSettings().value("GeneralSettings/ChosenLanguage").toString(), "English");
}

TEST_F(ShowGeneralSettingsTest, Screenshot)
{
    TemporarySettings temporary;
    ShowGeneralSettings dialog(nullptr);
    dialog.resize(443, 393);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), translate("Settings"));
    EXPECT_TRUE(saveScreenshot(&dialog, "ShowGeneralSettings"));
}
