#include "GeneratedMedia.h"
#include "LanguageEngine.h"
#include "WindowSession.h"
#include "WindowTest.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <map>

namespace {

struct DialogLanguage {
    const char* language;  // of the interface
    const char* lookIn;    // the toolkit's own label over the folder choice
};

void PrintTo(const DialogLanguage& row, std::ostream* out)
{
    *out << row.language;
}

const DialogLanguage kLanguages[] = {{"English", "Look in:"}, {"Francais", "Voir dans :"}};

// Pixels of the middle of a picture that stand out from its commonest colour: a
// picture or a text drawn on the button's plain background.
int inkPixels(const QImage& picture)
{
    const QRect middle(picture.width() / 5, picture.height() / 5, picture.width() * 3 / 5, picture.height() * 3 / 5);
    std::map<QRgb, int> counts;
    for (int y = middle.top(); y <= middle.bottom(); ++y)
        for (int x = middle.left(); x <= middle.right(); ++x)
            ++counts[picture.pixel(x, y)];
    const QColor background(
        std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) { return a.second < b.second; })->first);
    int ink = 0;
    for (int y = middle.top(); y <= middle.bottom(); ++y)
        for (int x = middle.left(); x <= middle.right(); ++x) {
            const QColor pixel(picture.pixel(x, y));
            ink += std::abs(pixel.lightness() - background.lightness()) > 60 ? 1 : 0;
        }
    return ink;
}

class FileDialogUnderTheSheet : public ::testing::TestWithParam<DialogLanguage> {};

TEST_P(FileDialogUnderTheSheet, DrawsEveryToolbarPictureAndReadableButtonsInTheInterfaceLanguage)
{
    if (!windowtest::hasRealDisplay())
        GTEST_SKIP() << "no X display; test.sh runs these on its Xvfb";
    const DialogLanguage& row = GetParam();
    windowtest::WindowSession session;
    QSettings().setValue("GeneralSettings/ChosenLanguage", row.language);
    VellumbraV2& window = session.restartWindow();
    window.setGeometry(windowtest::screenGeometry());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QString folder = session.environment().filesFolder();
    generatedmedia::writeBurst(folder, 3, "png");

    QFileDialog dialog(&window, translate("OpenImage"), folder, "Images (*.png)");
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.move(window.geometry().center() - QPoint(300, 200));
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_EQ(dialog.findChild<QLabel*>("lookInLabel")->text().toStdString(), row.lookIn);
    for (const char* name :
         {"backButton", "forwardButton", "toParentButton", "newFolderButton", "listModeButton", "detailModeButton"}) {
        auto* button = dialog.findChild<QToolButton*>(name);
        ASSERT_NE(button, nullptr) << name;
        EXPECT_GE(inkPixels(button->grab().toImage()), 12) << name << " shows no picture";
    }
    // Nothing chosen yet: the open button is disabled, its text still legible.
    QPushButton* open = dialog.findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Open);
    ASSERT_FALSE(open->isEnabled());
    EXPECT_GE(inkPixels(open->grab().toImage()), 20) << "the disabled open button's text cannot be read";
    windowtest::photograph(QStringLiteral("FileDialog%1").arg(row.language));
}

INSTANTIATE_TEST_SUITE_P(EachLanguage, FileDialogUnderTheSheet, ::testing::ValuesIn(kLanguages),
                         [](const ::testing::TestParamInfo<DialogLanguage>& info) {
                             return std::string(info.param.language);
                         });

}  // namespace
