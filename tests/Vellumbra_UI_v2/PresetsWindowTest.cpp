#include "GeneratedMedia.h"
#include "LanguageEngine.h"
#include "ModalScript.h"
#include "PresetImage.h"
#include "PresetStore.h"
#include "PresetTileSettings.h"
#include "RenderPipeline.h"
#include "SharpestImageSelection.h"
#include "WindowSession.h"
#include "Workspace.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using windowtest::ModalScript;
using windowtest::WindowSession;

namespace {

std::vector<std::string> userPresetNames()
{
    std::vector<std::string> names;
    for (const Preset* preset : userPresets)
        names.emplace_back(preset->name);
    return names;
}

std::vector<QString> userTileNames(const Workspace& open)
{
    std::vector<QString> names;
    for (const PresetImage* tile : open.userPresetTiles)
        names.push_back(tile->name());
    return names;
}

// Ticks the user presets at the indices in the removal dialog, then presses OK or Cancel.
void removePresets(ModalScript& script, std::vector<int> ticked, bool accept)
{
    script.expect(ModalScript::Kind::Dialog, translate("RemovingPresets"), [=](QWidget* modal) {
        const auto boxes = modal->findChildren<QCheckBox*>();
        for (int index : ticked)
            boxes.at(index)->setChecked(true);
        auto* dialog = static_cast<QDialog*>(modal);
        accept ? dialog->accept() : dialog->reject();
    });
}

class PresetsWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        session = std::make_unique<WindowSession>();
        // The lists are process-wide; this test's HOME starts without user presets.
        userPresets.clear();
        userPresetsLoaded = false;
        const generatedmedia::Burst photo =
            generatedmedia::writeBurst(session->environment().filesFolder(), 1, "png");
        open = session->adoptPhoto(photo.paths[0]);
        SharpestImageSelection* tile =
            open->addImageTile(generatedmedia::scene(cv::Size(96, 64), 3),
                               session->find<QWidget>("scrollAreaWidgetContents_ProEditingSelection"));
        tile->pipeline().setSourceImage(tile->image(), true);
        if (!defaultPresetsLoaded)
            loadDefaultPresets();
        session->window().buildDefaultPresetTiles(defaultPresets);
        session->window().buildUserPresetTiles(userPresets);
        open->selectTile(tile);
        open->previewSelectionInPresets();
    }

    void create(const QString& name)
    {
        ModalScript script;
        script.inputText(name);
        session->window().newUserPreset();
    }

    int rowSpacers() const
    {
        const QLayout* row = session->find<QWidget>("scrollArea_UserPresets_Contents")->layout();
        int spacers = 0;
        for (int i = 0; i < row->count(); ++i)
            spacers += row->itemAt(i)->spacerItem() ? 1 : 0;
        return spacers;
    }

    QByteArray userFile() const
    {
        QFile file(session->environment().dataFolder() + "/Presets/user.xml");
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    std::unique_ptr<WindowSession> session;
    Workspace* open = nullptr;
};

}  // namespace

TEST_F(PresetsWindow, TheFactoryRowShowsEveryPresetAndTheResultsTakeTheFirst)
{
    ASSERT_GE(defaultPresets.size(), 6u);
    EXPECT_EQ(open->state, StateEditing);
    ASSERT_EQ(open->factoryPresetTiles.size(), defaultPresets.size());
    for (size_t i = 0; i < defaultPresets.size(); ++i)
        EXPECT_EQ(open->factoryPresetTiles[i]->preset(), defaultPresets[i]);
    const Preset& first = *defaultPresets.front();
    const PresetSettings& taken = open->tiles.front()->preset();
    EXPECT_EQ(taken.TMalgo, first.TMalgo);
    EXPECT_EQ(taken.contrast, first.contrast);
    EXPECT_EQ(open->tiles.front()->pipeline().contrast(), pipelineFor(first)->contrast());
    EXPECT_TRUE(open->userPresetTiles.empty());
}

TEST_F(PresetsWindow, UserPresetsAreCreatedNamedAndRemovedWithTheirFile)
{
    create("Mine");
    create("");
    // 50 two-byte characters do not fit the 49 bytes of a name: cut between characters.
    create(QString(50, QChar(0x00E9)));
    const std::string cut = QString(24, QChar(0x00E9)).toUtf8().toStdString();
    EXPECT_EQ(userPresetNames(), (std::vector<std::string>{"Mine", "2", cut}));
    EXPECT_EQ(userTileNames(*open), (std::vector<QString>{"Mine", "2", QString::fromStdString(cut)}));
    EXPECT_TRUE(userFile().contains("<name>Mine</name>"));
    EXPECT_TRUE(userFile().contains(QByteArray::fromStdString("<name>" + cut + "</name>")));
    const int spacersWithThree = rowSpacers();

    {
        ModalScript script;
        removePresets(script, {0}, false);
        session->window().removeUserPreset();
    }
    EXPECT_EQ(userPresetNames().size(), 3u);
    {
        ModalScript script;
        removePresets(script, {0, 2}, true);
        session->window().removeUserPreset();
    }
    EXPECT_EQ(userPresetNames(), (std::vector<std::string>{"2"}));
    EXPECT_EQ(userTileNames(*open), (std::vector<QString>{"2"}));
    // Each removed tile takes its spacer along: no gap is left in the row.
    EXPECT_EQ(rowSpacers(), spacersWithThree - 2);
    EXPECT_FALSE(userFile().contains("Mine"));
    EXPECT_TRUE(userFile().contains("<name>2</name>"));
    {
        ModalScript script;
        removePresets(script, {0}, true);
        session->window().removeUserPreset();
    }
    EXPECT_TRUE(open->userPresetTiles.empty());
    EXPECT_EQ(rowSpacers(), spacersWithThree - 3);
    {
        ModalScript script;
        script.messageBox(translate("ExplErrorPreset"), QMessageBox::Ok);
        session->window().removeUserPreset();
    }
}

// The new-preset dialog answered as a user does: typing, then a button or a key.
struct NameAnswer {
    const char* name;
    QString typed;
    const char* pressed;  // object name of the button, or "Return" / "Escape"
    std::vector<std::string> presets;
};

void PrintTo(const NameAnswer& answer, std::ostream* out)
{
    *out << answer.name;
}

class NewPresetDialogAnswers : public PresetsWindow, public ::testing::WithParamInterface<NameAnswer> {};

TEST_P(NewPresetDialogAnswers, NameTheNewPresetOrLeaveItUnmade)
{
    const NameAnswer& answer = GetParam();
    ModalScript script;
    script.expect(ModalScript::Kind::InputDialog, translate("ExplCreationPreset"), [&](QWidget* modal) {
        EXPECT_EQ(modal->windowTitle(), translate("CreationPreset"));
        auto* field = modal->findChild<QLineEdit*>();
        ASSERT_NE(field, nullptr);
        QTest::keyClicks(field, answer.typed);
        EXPECT_EQ(field->text(), answer.typed.left(50));
        const QString pressed = QString::fromLatin1(answer.pressed);
        if (pressed == "Return" || pressed == "Escape") {
            QTest::keyClick(field, pressed == "Return" ? Qt::Key_Return : Qt::Key_Escape);
            return;
        }
        auto* button = modal->findChild<QPushButton*>(pressed);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), translate(pressed == "okButton" ? "Ok" : "Cancel"));
        QTest::mouseClick(button, Qt::LeftButton);
    });
    session->window().newUserPreset();
    EXPECT_EQ(userPresetNames(), answer.presets);
    EXPECT_EQ(open->userPresetTiles.size(), answer.presets.size());
}

INSTANTIATE_TEST_SUITE_P(
    Table, NewPresetDialogAnswers,
    ::testing::Values(NameAnswer{"Ok", "Dusk", "okButton", {"Dusk"}}, NameAnswer{"Cancel", "Dusk", "cancelButton", {}},
                      NameAnswer{"Return", "Dusk", "Return", {"Dusk"}}, NameAnswer{"Escape", "Dusk", "Escape", {}},
                      NameAnswer{"Blank", "", "okButton", {"1"}}, NameAnswer{"Spaces", "  ", "okButton", {"  "}},
                      NameAnswer{"FiftyOne", QString(51, 'x'), "okButton", {std::string(49, 'x')}},
                      NameAnswer{"Fifty", QString(50, 'y'), "okButton", {std::string(49, 'y')}}),
    [](const ::testing::TestParamInfo<NameAnswer>& info) { return std::string(info.param.name); });
