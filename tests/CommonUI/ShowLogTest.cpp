#include "ShowLog.h"

#include "DialogTestSupport.h"
#include "LanguageEngine.h"
#include "Log.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <string>

namespace {

const std::string kLogName = "VellumbraLog.txt";

// Points the log into a fresh folder for one test and back afterwards.
class ShowLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string previous = logFilePath();
        previousDirectory = previous.substr(0, previous.size() - kLogName.size());
        ASSERT_TRUE(folder.isValid());
        useShippedLanguages();
        ASSERT_TRUE(setLogDirectory(folder.path().toStdString() + "/"));
    }
    void TearDown() override { setLogDirectory(previousDirectory); }

    QString logPath() const { return QString::fromStdString(logFilePath()); }
    void writeLog(const QByteArray& contents) const
    {
        QFile file(logPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }

    TemporarySettings settings;
    QTemporaryDir folder;
    std::string previousDirectory;
};

// Closes a message box with its Ok button, noting its text.
ModalDriver closeMessageBox(QString& text)
{
    return ModalDriver([&text](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr) << modal->objectName().toStdString();
        text = box->text();
        box->button(QMessageBox::Ok)->click();
    });
}

}  // namespace

TEST_F(ShowLogTest, MissingOrEmptyLogShowsOnlyTheInformationBox)
{
    for (bool exists : {false, true}) {
        // Built first: its texts may log missing translations.
        ShowLog dialog(nullptr);
        ASSERT_TRUE(resetLogFile());
        if (exists)
            writeLog("");
        QString text;
        ModalDriver driver = closeMessageBox(text);
        EXPECT_EQ(dialog.exec(), 0);
        EXPECT_NE(driver.modal(), &dialog);
        EXPECT_EQ(text, translate("EmptyLog"));
        if (exists) {
            EXPECT_TRUE(QFile::exists(logPath()));  // an empty log is kept
        }
        EXPECT_TRUE(QSettings().allKeys().isEmpty());
    }
}

TEST_F(ShowLogTest, UnreadableLogShowsTheCriticalBox)
{
    // A folder in the log's place exists but cannot be read as a file.
    ShowLog dialog(nullptr);
    ASSERT_TRUE(resetLogFile());
    ASSERT_TRUE(QDir().mkpath(logPath()));
    QString text;
    ModalDriver driver = closeMessageBox(text);
    EXPECT_EQ(dialog.exec(), 0);
    EXPECT_EQ(text, translate("ErrorWhileOpeningLogFile"));
}

TEST_F(ShowLogTest, CloseKeepsTheLogAndResetDeletesIt)
{
    struct Case {
        const char* button;
        int result;
        bool kept;
    };
    for (const Case& c : {Case{"cancelButton", QDialog::Rejected, true}, Case{"okButton", QDialog::Accepted, false}}) {
        logError("ShowLogTest", "first entry");
        ShowLog dialog(nullptr);
        QString shown;
        ModalDriver driver([&](QWidget* modal) {
            shown = modal->findChild<QPlainTextEdit*>("plainTextEdit_Content")->toPlainText();
            clickButton(modal, c.button);
        });
        EXPECT_EQ(dialog.exec(), c.result) << c.button;
        EXPECT_EQ(driver.modal(), &dialog);
        EXPECT_TRUE(shown.contains("ERROR at function ShowLogTest => first entry")) << shown.toStdString();
        EXPECT_EQ(QFile::exists(logPath()), c.kept) << c.button;

        QSettings settings;
        EXPECT_EQ(settings.value("ShowLogDialog/width").toInt(), dialog.width()) << c.button;
        EXPECT_EQ(settings.value("ShowLogDialog/height").toInt(), dialog.height()) << c.button;
        EXPECT_TRUE(settings.contains("ShowLogDialog/posX"));
        EXPECT_TRUE(settings.contains("ShowLogDialog/posY"));
    }
    logError("ShowLogTest", "after the reset");
    EXPECT_TRUE(QFile::exists(logPath()));
}

TEST_F(ShowLogTest, VeryLargeLogShowsItsTailFromALineStart)
{
    QByteArray contents;
    for (int i = 0; contents.size() < 3 * 1024 * 1024; ++i)
        contents += "line " + QByteArray::number(i) + " \xc3\xa9t\xc3\xa9\n";
    const QByteArray lastLine = contents.mid(contents.lastIndexOf('\n', contents.size() - 2) + 1).trimmed();
    ShowLog dialog(nullptr);
    writeLog(contents);
    QString shown;
    ModalDriver driver([&](QWidget* modal) {
        shown = modal->findChild<QPlainTextEdit*>("plainTextEdit_Content")->toPlainText();
        clickButton(modal, "cancelButton");
    });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_LE(shown.toUtf8().size(), 1024 * 1024);
    EXPECT_GT(shown.toUtf8().size(), 512 * 1024);
    EXPECT_TRUE(shown.startsWith("line ")) << shown.left(40).toStdString();
    EXPECT_TRUE(shown.trimmed().endsWith(QString::fromUtf8(lastLine)));
    EXPECT_FALSE(shown.contains(QChar::ReplacementCharacter));
}

TEST_F(ShowLogTest, GeometryComesFromItsOwnGroup)
{
    QSettings().setValue("ShowLogDialog/width", 450);
    QSettings().setValue("ShowLogDialog/height", 350);
    QSettings().setValue("ShowLogDialog/posX", 20);
    QSettings().setValue("ShowLogDialog/posY", 10);
    ShowLog dialog(nullptr);
    EXPECT_EQ(dialog.size(), QSize(450, 350));
    EXPECT_EQ(dialog.pos(), QPoint(100, 40));
    EXPECT_EQ(dialog.windowTitle(), translate("ShowingLogFile"));
}

TEST_F(ShowLogTest, Screenshot)
{
    logError("ShowLogTest::Screenshot", "a sample entry");
    logDebug("a debug entry", "ShowLogTest.cpp", 1);
    ShowLog dialog(nullptr);
    bool saved = false;
    ModalDriver driver([&saved](QWidget* modal) {
        saved = saveScreenshot(modal, "ShowLog");
        expectControlsDrawnInside(modal);
        clickButton(modal, "cancelButton");
    });
    dialog.exec();
    EXPECT_TRUE(saved);
}
