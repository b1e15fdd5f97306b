#include "FileExtensions.h"
#include "FileFilter.h"
#include "LanguageEngine.h"
#include "ProcessDefaultsGuard.h"
#include "TemporaryEnvironment.h"
#include "vellumbraV2.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QGroupBox>
#include <QMenu>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTabWidget>
#include <gtest/gtest.h>

#include <map>

using windowtest::TemporaryEnvironment;

namespace {

using Texts = std::map<QString, QString>;  // "objectName property" -> text

// Every text a user can read on the objects under root.
Texts readableTexts(const QObject* root)
{
    Texts texts;
    const auto put = [&texts](const QObject* object, const char* what, const QString& text) {
        if (!text.isEmpty())
            texts[object->objectName() + ' ' + what] = text;
    };
    for (const QObject* object : root->findChildren<QObject*>()) {
        if (object->objectName().isEmpty() || object->objectName().startsWith("qt_"))
            continue;
        if (auto* widget = qobject_cast<const QWidget*>(object)) {
            put(widget, "tip", widget->toolTip());
            put(widget, "name", widget->accessibleName());
        }
        if (auto* label = qobject_cast<const QLabel*>(object))
            put(label, "text", label->text());
        if (auto* button = qobject_cast<const QAbstractButton*>(object))
            put(button, "text", button->text());
        if (auto* group = qobject_cast<const QGroupBox*>(object))
            put(group, "title", group->title());
        if (auto* dock = qobject_cast<const QDockWidget*>(object))
            put(dock, "title", dock->windowTitle());
        if (auto* action = qobject_cast<const QAction*>(object))
            put(action, "text", action->text());
        if (auto* menu = qobject_cast<const QMenu*>(object))
            put(menu, "title", menu->title());
        if (auto* combo = qobject_cast<const QComboBox*>(object))
            for (int i = 0; i < combo->count(); ++i)
                put(combo, qPrintable(QString("item %1").arg(i)), combo->itemText(i));
        if (auto* tabs = qobject_cast<const QTabWidget*>(object))
            for (int i = 0; i < tabs->count(); ++i)
                put(tabs, qPrintable(QString("tab %1").arg(i)), tabs->tabText(i));
    }
    return texts;
}

// Two languages whose every text names its language and its key.
class InterfaceTexts : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::string applicationLang = QFile::encodeName(QCoreApplication::applicationDirPath() + "/Lang/").toStdString();
        const QString userLang = environment.dataFolder() + "/Lang/";
        ASSERT_TRUE(QDir().mkpath(userLang));
        const auto keys = LanguageEngine::loadDictionary(applicationLang + "English.txt");
        ASSERT_FALSE(keys.empty());
        // Newer languages than the installed ones take their places.
        writeLanguage(userLang + "English.txt", "English", "99", "EN ", keys);
        writeLanguage(userLang + "Francais.txt", "Francais", "99", "FR ", keys);
        LanguageEngine::setApplicationFolder(applicationLang);
        LanguageEngine::setUserFolder(QFile::encodeName(userLang).toStdString());
        LanguageEngine::init();
        LanguageEngine::setLanguage("English");
    }

    void TearDown() override
    {
        LanguageEngine::setUserFolder(QFile::encodeName(QCoreApplication::applicationDirPath() + "/Lang/").toStdString());
        LanguageEngine::init();
        LanguageEngine::setLanguage("English");
    }

    static void writeLanguage(const QString& path, const char* name, const char* version, const QString& prefix,
                              const LanguageEngine::Dictionary& keys)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("#lang:") + name + "\n#V:" + version + "\n");
        // Each text keeps the placeholders of the installed one, so that filled-in texts still work.
        const QRegularExpression placeholder("%\\d");
        for (const auto& [key, installed] : keys) {
            QString text = prefix + QString::fromStdString(key);
            auto found = placeholder.globalMatch(QString::fromStdString(installed));
            while (found.hasNext())
                text += ' ' + found.next().captured();
            file.write(QByteArray::fromStdString(key) + ":=" + text.toUtf8() + "\n");
        }
    }

    static Texts windowTexts(const QString& language)
    {
        QSettings().setValue("GeneralSettings/ChosenLanguage", language);
        VellumbraV2 window;
        return readableTexts(&window);
    }

    ProcessDefaultsGuard defaults;
    TemporaryEnvironment environment;
};

}  // namespace

// Form texts that no language key replaces: numbers and placeholders that media
// fill in, the loading percentages, pages and buttons the window never shows with
// these texts, the titles of the two steps a window without media hides, and the toolkit's own
// scroll buttons of the tab bar.
const QStringList kNotLanguageTexts = {
    "label_CurrentFrameNumber", "label_CurrentFrameNumber_2", "label_CursorSelectorFlag",
    "label_CurrentTime_CurrentImageIndex", "label_EndTime_CurrentImageName", "label_Loading0", "label_Loading10",
    "label_Loading20", "label_Loading30", "label_Loading40", "label_Loading50", "label_Loading60", "label_Loading70",
    "label_Loading80", "label_Loading90", "label_Loading100", "label_SelectModeBasicTitle",
    "label_SelectModeClassicTitle", "label_SelectModeProTitle", "checkBox_UseThisMode",
    "pushButton_BASICCLASSICSelectImageNext", "pushButton_ResultReToneMapImage", "pushButton_ResultSaveImage",
    "pushButton_ResultToneMapAgain", "pushButton_ApplyTool", "pushButton_CancelTool", "label_Step3", "label_Step4",
    "ScrollLeftButton", "ScrollRightButton"};

TEST_F(InterfaceTexts, NoTextOfTheFormStaysEnglishInFrench)
{
    QMainWindow bare;
    Ui_VellumbraClass form;
    form.setupUi(&bare);
    const Texts english = readableTexts(&bare);
    const Texts french = windowTexts("Francais");

    for (const auto& [where, formText] : english) {
        const auto shown = french.find(where);
        if (shown != french.end() && shown->second == formText && !kNotLanguageTexts.contains(where.section(' ', 0, 0)))
            ADD_FAILURE() << where.toStdString() << " keeps \"" << formText.toStdString() << '"';
    }
    for (const auto& [where, text] : french)
        EXPECT_FALSE(text.contains("EN ")) << where.toStdString() << ": " << text.toStdString();
}

TEST_F(InterfaceTexts, ChoosingAnotherLanguageChangesEveryTextOfTheWindow)
{
    const Texts english = windowTexts("English");
    const Texts french = windowTexts("Francais");
    int translated = 0;
    for (const auto& [where, text] : english) {
        if (!text.contains("EN "))
            continue;
        ++translated;
        const auto shown = french.find(where);
        ASSERT_NE(shown, french.end()) << where.toStdString();
        EXPECT_EQ(shown->second, QString(text).replace("EN ", "FR ")) << where.toStdString();
    }
    EXPECT_GT(translated, 200);
    EXPECT_EQ(french.at("comboBox_Quality item 0"), "FR Fast");
    EXPECT_EQ(french.at("comboBox_Quality item 2"), "FR Slow");
}

TEST_F(InterfaceTexts, UnknownLanguageKeepsTheCurrentOne)
{
    const Texts texts = windowTexts("Klingon");
    EXPECT_EQ(texts.at("actionOpen text"), "EN OpenAVideo");
    EXPECT_EQ(texts.at("menuHelp title"), "EN Help");
}

TEST(FileFilter, ListsEachFormatThenTheGroupThenAllFiles)
{
    const char* const extensions[] = {"tif", "jpg"};
    const std::string names[] = {"TIFF", "JPEG"};
    EXPECT_EQ(buildFileFilter(extensions, 2, "Images", names),
              "TIFF (*.tif);;JPEG (*.jpg);;Images (*.tif *.jpg);;All Files (*.*)");
    EXPECT_EQ(buildFileFilter(extensions, 1, "Images"), "Images (*.tif);;All Files (*.*)");
    EXPECT_EQ(buildFileFilter(videoExtensions, videoExtensionCount, "Videos"),
              "Videos (*.avi *.mov *.mp4 *.mpg *.mpeg *.wmv *.mkv *.mts *.mxf);;All Files (*.*)");

    const QString photos = buildFileFilter(imageExtensions, imageExtensionCount, "Photos");
    EXPECT_TRUE(photos.startsWith("Photos (*.tif *.jpg *.png *.psd *.bmp *.hdr *.3fr")) << photos.toStdString();
    EXPECT_TRUE(photos.endsWith("*.dpx *.exr *.gif *.tga);;All Files (*.*)")) << photos.toStdString();
    EXPECT_EQ(photos.count("*."), imageExtensionCount + 1);
}

// Each shipped language beside English: every English key, with the same
// placeholders, so a filled-in text neither loses its value nor warns.
class ShippedLanguage : public ::testing::TestWithParam<const char*> {};

TEST_P(ShippedLanguage, HoldsEveryEnglishKeyWithItsPlaceholders)
{
    const QString folder = QCoreApplication::applicationDirPath() + "/Lang/";
    const auto english = LanguageEngine::loadDictionary(QFile::encodeName(folder + "English.txt").toStdString());
    const auto translated = LanguageEngine::loadDictionary(QFile::encodeName(folder + GetParam()).toStdString());
    ASSERT_FALSE(english.empty());
    const QRegularExpression placeholder("%%|%\\d|%p|%d");
    const auto placeholders = [&](const std::string& text) {
        QStringList found;
        auto match = placeholder.globalMatch(QString::fromStdString(text));
        while (match.hasNext())
            found << match.next().captured();
        found.sort();
        return found;
    };
    for (const auto& [key, text] : english) {
        const auto other = translated.find(key);
        if (other == translated.end()) {
            ADD_FAILURE() << GetParam() << " lacks " << key;
            continue;
        }
        EXPECT_EQ(placeholders(other->second), placeholders(text)) << key;
        EXPECT_FALSE(other->second.empty()) << key;
    }
}

INSTANTIATE_TEST_SUITE_P(BesideEnglish, ShippedLanguage, ::testing::Values("Francais.txt"));
