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
#include <QLineEdit>
#include <QPushButton>
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
    EXPECT_FALSE(userFile().contains("Mine"));
    EXPECT_TRUE(userFile().contains("<name>2</name>"));
    {
        ModalScript script;
        removePresets(script, {0}, true);
        session->window().removeUserPreset();
    }
    EXPECT_TRUE(open->userPresetTiles.empty());
    {
        ModalScript script;
        script.messageBox(translate("ExplErrorPreset"), QMessageBox::Ok);
        session->window().removeUserPreset();
    }
}

TEST_F(PresetsWindow, APresetNameFieldTakesFiftyCharacters)
{
    ModalScript script;
    script.expect(ModalScript::Kind::InputDialog, translate("ExplCreationPreset"), [](QWidget* modal) {
        auto* field = modal->findChild<QLineEdit*>();
        ASSERT_NE(field, nullptr);
        field->setText(QString(51, 'x'));
        EXPECT_EQ(field->text().size(), 50);
        static_cast<QDialog*>(modal)->reject();
    });
    session->window().newUserPreset();
    EXPECT_TRUE(userPresets.empty());
}
