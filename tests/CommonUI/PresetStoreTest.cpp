#include "PresetStore.h"
#include "Log.h"
#include "TestFiles.h"
#include "TestMedia.h"

#include <QDir>
#include <QFileInfo>

#include <tinyxml2.h>

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include <sys/fsuid.h>
#include <unistd.h>

using testfiles::countInLog;
using testfiles::readFile;
using testfiles::writeFile;

namespace {

auto settingsOf(const PresetSettings& s)
{
    return std::tie(s.applyTM, s.TMalgo, s.alpha, s.beta, s.gamma, s.blackClip, s.whiteClip, s.strength, s.exposure,
                    s.contrast, s.highlights, s.shadows, s.whites, s.blacks, s.hue, s.saturation, s.vibrance,
                    s.applySharpening, s.sharpeningAmount, s.sharpeningRadius, s.sharpeningThreshold);
}

std::vector<std::string> namesOf(const std::vector<Preset*>& presets)
{
    std::vector<std::string> names;
    for (const Preset* preset : presets)
        names.emplace_back(preset->name);
    return names;
}

Preset* numberedPreset(const std::string& name, int base)
{
    return new Preset(name, false, 2, base + 1, base + 2, base + 3, base + 4, base + 5, base + 6, base + 7, base + 8,
                      base + 9, base + 10, base + 11, base + 12, base + 13, base + 14, base + 15, false, base + 16,
                      base + 17, base + 18);
}

class PresetStore : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = testmedia::makeTempDir("presets");
        testfiles::useLogIn(dir);
        setDefaultPresetsDir(dir.toStdString() + "/");
        setUserPresetsDir(dir.toStdString() + "/");
        userPresets.clear();
        takeUserPresetsRepair();
    }
    void TearDown() override
    {
        presetDefaults = PresetSettings();
        QDir(dir).removeRecursively();
    }

    QString userFile() const { return dir + "/user.xml"; }

    QString dir;
};

TEST_F(PresetStore, AppendedPresetReadsBackWithAllFields)
{
    appendUserPreset(numberedPreset("Mine", 100));
    appendUserPreset(new Preset("Negative", true, 4, -1, -2, -3, -4, -5, -6, -7, -8, -9, -10, -11, -12, -13, -14, -15,
                                true, 0, 0, -16));
    ASSERT_EQ(userPresets.size(), 2u);
    const Preset mine = *userPresets[0];
    const Preset negative = *userPresets[1];

    loadUserPresets();
    EXPECT_TRUE(userPresetsLoaded);
    ASSERT_EQ(namesOf(userPresets), (std::vector<std::string>{"Mine", "Negative"}));
    EXPECT_EQ(settingsOf(*userPresets[0]), settingsOf(mine));
    EXPECT_EQ(settingsOf(*userPresets[1]), settingsOf(negative));
    EXPECT_EQ(userPresets[0]->TMalgo, 2);
}

TEST_F(PresetStore, WrittenFileHasOnePresetElementWithChildrenInOrder)
{
    appendUserPreset(numberedPreset("Order", 0));
    tinyxml2::XMLDocument document;
    ASSERT_EQ(document.LoadFile(userFile().toStdString().c_str()), tinyxml2::XML_SUCCESS);
    const tinyxml2::XMLElement* preset = document.FirstChildElement();
    ASSERT_NE(preset, nullptr);
    EXPECT_STREQ(preset->Name(), "preset");
    EXPECT_EQ(preset->NextSiblingElement(), nullptr);
    std::vector<std::string> children;
    for (const tinyxml2::XMLElement* child = preset->FirstChildElement(); child; child = child->NextSiblingElement())
        children.emplace_back(child->Name());
    const std::vector<std::string> expected = {
        "name",  "applyTM",  "TMalgo",     "alpha",   "beta",   "gamma",  "blackClip",
        "whiteClip", "strength", "exposure", "contrast", "highlights", "shadows", "whites",
        "blacks", "hue", "saturation", "vibrance", "applySharpening", "sharpeningAmount", "sharpeningRadius",
        "sharpeningThreshold"};
    EXPECT_EQ(children, expected);
    EXPECT_STREQ(preset->FirstChildElement("applyTM")->GetText(), "false");
    EXPECT_STREQ(preset->FirstChildElement("whiteClip")->GetText(), "5");
}

TEST_F(PresetStore, MissingOrUnparsableFieldsKeepDefaultsAndNamesFallBackToPosition)
{
    presetDefaults.exposure = 7;
    presetDefaults.sharpeningAmount = 12;
    writeFile(dir + "/default.xml", "<preset><name>First</name><exposure>3</exposure></preset>\n"
                                    "<preset><contrast>5</contrast><sharpeningAmount>lots</sharpeningAmount></preset>\n"
                                    "<other><name>Third</name><applyTM>maybe</applyTM><TMalgo>1</TMalgo>"
                                    "<TMAlgo>3</TMAlgo></other>\n"
                                    "<preset><name></name><TMalgo>9</TMalgo></preset>\n"
                                    "<preset><name>Low</name><TMalgo>-3</TMalgo></preset>\n");
    loadDefaultPresets();
    EXPECT_TRUE(defaultPresetsLoaded);
    ASSERT_EQ(namesOf(defaultPresets), (std::vector<std::string>{"First", "2", "Third", "", "Low"}));
    EXPECT_EQ(defaultPresets[0]->exposure, 3);
    EXPECT_EQ(defaultPresets[1]->exposure, 7);
    EXPECT_EQ(defaultPresets[1]->contrast, 5);
    EXPECT_EQ(defaultPresets[1]->sharpeningAmount, 12);
    EXPECT_TRUE(defaultPresets[2]->applyTM);
    EXPECT_EQ(defaultPresets[2]->TMalgo, 3);
    EXPECT_EQ(defaultPresets[3]->TMalgo, 4);
    EXPECT_EQ(defaultPresets[4]->TMalgo, 0);
}

TEST_F(PresetStore, NamesAreCutToTheFieldAtACharacterBoundary)
{
    const std::string longName(80, 'n');
    EXPECT_EQ(std::string(Preset(longName, true, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, true, 0, 0, 0).name),
              std::string(49, 'n'));
    Preset accented;
    accented.setName(std::string(48, 'a') + "\xc3\xa9");
    EXPECT_EQ(std::string(accented.name), std::string(48, 'a'));

    writeFile(userFile(), QByteArray("<preset><name>") + QByteArray(200, 'x') + "</name></preset>");
    loadUserPresets();
    ASSERT_EQ(userPresets.size(), 1u);
    EXPECT_EQ(std::string(userPresets[0]->name), std::string(49, 'x'));
}

TEST_F(PresetStore, DeletingTheLastPresetLeavesAFileThatReadsAsEmpty)
{
    appendUserPreset(numberedPreset("Only", 0));
    deleteUserPresetFromFile(0);
    EXPECT_TRUE(userPresets.empty());
    EXPECT_TRUE(QFileInfo::exists(userFile()));

    loadUserPresets();
    EXPECT_TRUE(userPresets.empty());
    appendUserPreset(numberedPreset("Again", 0));
    EXPECT_FALSE(QFileInfo::exists(userFile() + ".corrupt"));
    loadUserPresets();
    EXPECT_EQ(namesOf(userPresets), (std::vector<std::string>{"Again"}));
    EXPECT_EQ(countInLog("ERROR"), 0);
}

TEST_F(PresetStore, DeleteRemovesTheIndexedPresetFromListAndFile)
{
    for (const char* name : {"A", "B", "C"})
        appendUserPreset(numberedPreset(name, 0));
    deleteUserPresetFromFile(1);
    EXPECT_EQ(namesOf(userPresets), (std::vector<std::string>{"A", "C"}));
    for (int outside : {-1, 2, 99})
        deleteUserPresetFromFile(outside);
    EXPECT_EQ(namesOf(userPresets), (std::vector<std::string>{"A", "C"}));
    loadUserPresets();
    EXPECT_EQ(namesOf(userPresets), (std::vector<std::string>{"A", "C"}));
}

TEST_F(PresetStore, CorruptUserFileIsKeptAsideWhenAPresetIsAppended)
{
    const QByteArray corrupt = "<preset><name>Half written";
    writeFile(userFile(), corrupt);
    loadUserPresets();
    EXPECT_TRUE(userPresets.empty());

    appendUserPreset(numberedPreset("New", 0));
    EXPECT_EQ(readFile(userFile() + ".corrupt"), corrupt);
    loadUserPresets();
    EXPECT_EQ(namesOf(userPresets), (std::vector<std::string>{"New"}));

    writeFile(userFile(), corrupt);
    appendUserPreset(numberedPreset("Newer", 0));
    EXPECT_EQ(readFile(userFile() + ".corrupt.1"), corrupt);
    EXPECT_EQ(countInLog("could not be parsed; kept as"), 2);
}

// A stray NUL (one flipped bit of an indentation space) ends tinyxml2's parse early
// with success; the file must still count as damaged, not be saved over in part.
TEST_F(PresetStore, FileWithANulByteIsSetAsideWhole)
{
    for (const char* name : {"A", "B"})
        appendUserPreset(numberedPreset(name, 0));
    QByteArray damaged = readFile(userFile());
    damaged[damaged.indexOf("<preset>", 1) - 1] = '\0';
    writeFile(userFile(), damaged);
    loadUserPresets();
    EXPECT_EQ(namesOf(userPresets), (std::vector<std::string>{"A", "B"}));

    EXPECT_TRUE(appendUserPreset(numberedPreset("Fresh", 0)));
    EXPECT_EQ(readFile(userFile() + ".corrupt"), damaged);
    loadUserPresets();
    EXPECT_EQ(namesOf(userPresets), (std::vector<std::string>{"A", "B", "Fresh"}));
    EXPECT_EQ(countInLog("cannot be parsed"), 1);
    EXPECT_EQ(countInLog("could not be parsed; kept as"), 1);
}

struct DamageCase
{
    const char* name;
    QByteArray contents;
    std::vector<std::string> kept;
};

class PresetStoreDamaged : public PresetStore, public ::testing::WithParamInterface<DamageCase>
{
};

TEST_P(PresetStoreDamaged, IsSetAsideOnLoadingAndWhatCanBeReadIsKept)
{
    const DamageCase& c = GetParam();
    writeFile(userFile(), c.contents);
    loadUserPresets();
    EXPECT_EQ(namesOf(userPresets), c.kept);
    EXPECT_EQ(readFile(userFile() + ".corrupt"), c.contents);
    const std::optional<UserPresetsRepair> repair = takeUserPresetsRepair();
    ASSERT_TRUE(repair.has_value());
    EXPECT_EQ(repair->setAsidePath, userFile().toStdString() + ".corrupt");
    EXPECT_EQ(repair->keptCount, static_cast<int>(c.kept.size()));
    EXPECT_FALSE(takeUserPresetsRepair().has_value());

    // The kept presets are in user.xml: the next load and addition keep them, quietly.
    loadUserPresets();
    EXPECT_EQ(namesOf(userPresets), c.kept);
    ASSERT_TRUE(appendUserPreset(numberedPreset("Next", 0)));
    loadUserPresets();
    std::vector<std::string> afterAddition = c.kept;
    afterAddition.emplace_back("Next");
    EXPECT_EQ(namesOf(userPresets), afterAddition);
    EXPECT_FALSE(takeUserPresetsRepair().has_value());
    EXPECT_FALSE(QFileInfo::exists(userFile() + ".corrupt.1"));
}

const QByteArray kWhole = "<preset><name>A</name><exposure>4</exposure></preset>\n";

INSTANTIATE_TEST_SUITE_P(
    Kinds, PresetStoreDamaged,
    ::testing::Values(
        DamageCase{"CutShortInTheSecond", kWhole + "<preset><name>B</name><expo", {"A"}},
        DamageCase{"CutShortInTheFirst", "<preset><name>Half written", {}},
        DamageCase{"UnclosedChildInTheMiddle",
                   kWhole + "<preset><name>B</name><exposure>3</preset>\n<preset><name>C</name></preset>\n",
                   {"A", "C"}},
        DamageCase{"NulByteInsideOne", kWhole + QByteArray("<preset><name>B\0</name></preset>\n", 33) +
                                           "<preset><name>C</name></preset>\n",
                   {"A", "C"}},
        DamageCase{"GarbageAfterTheLast", kWhole + "<preset><name>B</name></preset>\n<<<\x01\xff", {"A", "B"}},
        DamageCase{"NotXmlAtAll", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), {}}),
    [](const auto& info) { return std::string(info.param.name); });

enum class Unreadable { FolderInItsPlace, NoPermission };

// File modes do not stop root: while it lives, this thread's file accesses are
// checked as nobody's (root's file capabilities drop with its filesystem user id).
// The folder and the log must then be open to others.
class ScopedAccessAsNobody
{
public:
    explicit ScopedAccessAsNobody(const QString& folder)
    {
        if (geteuid() != 0)
            return;
        const auto everyone = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                              QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                              QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
        QFile::setPermissions(folder, everyone);
        QFile log(QString::fromStdString(logFilePath()));
        log.open(QIODevice::Append);
        log.setPermissions(everyone);
        constexpr uid_t kNobody = 65534;
        previous = static_cast<uid_t>(setfsuid(kNobody));
        dropped = true;
    }
    ~ScopedAccessAsNobody()
    {
        if (dropped)
            setfsuid(previous);
    }
    ScopedAccessAsNobody(const ScopedAccessAsNobody&) = delete;
    ScopedAccessAsNobody& operator=(const ScopedAccessAsNobody&) = delete;

private:
    uid_t previous = 0;
    bool dropped = false;
};

class PresetStoreUnreadable : public PresetStore, public ::testing::WithParamInterface<Unreadable>
{
};

TEST_P(PresetStoreUnreadable, FileIsLeftAloneAndNothingIsAppendedOrDeleted)
{
    appendUserPreset(numberedPreset("Mine", 0));
    const QByteArray before = readFile(userFile());
    if (GetParam() == Unreadable::FolderInItsPlace) {
        QFile::rename(userFile(), dir + "/moved.xml");
        QDir(dir).mkdir("user.xml");
    } else {
        QFile::setPermissions(userFile(), QFileDevice::Permissions());
    }

    {
        std::optional<ScopedAccessAsNobody> nobody;
        if (GetParam() == Unreadable::NoPermission)
            nobody.emplace(dir);
        EXPECT_FALSE(appendUserPreset(numberedPreset("New", 0)));
        EXPECT_FALSE(deleteUserPresetFromFile(0));
    }
    EXPECT_EQ(namesOf(userPresets), (std::vector<std::string>{"Mine"}));
    EXPECT_FALSE(QFileInfo::exists(userFile() + ".corrupt"));
    EXPECT_EQ(countInLog("cannot be read"), 2);

    if (GetParam() == Unreadable::NoPermission) {
        QFile::setPermissions(userFile(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        EXPECT_EQ(readFile(userFile()), before);
    } else {
        EXPECT_TRUE(QFileInfo(userFile()).isDir());
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, PresetStoreUnreadable,
                         ::testing::Values(Unreadable::FolderInItsPlace, Unreadable::NoPermission));

TEST_F(PresetStore, DeleteLeavesAnUnreadableFileAlone)
{
    const QByteArray corrupt = "<preset><name>Half written";
    writeFile(userFile(), corrupt);
    deleteUserPresetFromFile(0);
    EXPECT_EQ(readFile(userFile()), corrupt);
    EXPECT_EQ(countInLog("Error while loading user presets"), 1);

    appendUserPreset(numberedPreset("Listed", 0));
    QFile::remove(userFile());
    deleteUserPresetFromFile(0);
    EXPECT_TRUE(userPresets.empty());
    EXPECT_FALSE(QFileInfo::exists(userFile()));
    EXPECT_EQ(countInLog("Error while loading user presets"), 2);
    EXPECT_EQ(countInLog("does not exist"), 1);
}

TEST_F(PresetStore, FailedSaveKeepsThePreviousFile)
{
    appendUserPreset(numberedPreset("Kept", 0));
    const QByteArray before = readFile(userFile());
    {
        testfiles::ScopedFileSizeLimit limit(static_cast<rlim_t>(before.size() + 100));
        appendUserPreset(numberedPreset("Lost", 0));
    }
    EXPECT_EQ(readFile(userFile()), before);
    EXPECT_EQ(countInLog("Error while saving user presets"), 1);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden).filter("user.xml").size(), 1);
}

TEST_F(PresetStore, MissingFilesGiveEmptyListsAndOnlyTheFactoryOneIsLogged)
{
    loadUserPresets();
    EXPECT_TRUE(userPresets.empty());
    EXPECT_EQ(countInLog("ERROR"), 0);
    loadDefaultPresets();
    EXPECT_TRUE(defaultPresets.empty());
    EXPECT_EQ(countInLog("Error while loading presets => XML file " + dir.toStdString() + "/default.xml does not exist"), 1);
}

TEST_F(PresetStore, ShippedFactoryFileHoldsAPreset)
{
    setDefaultPresetsDir(QFileInfo(QString(__FILE__)).absolutePath().toStdString() + "/../../Presets/");
    loadDefaultPresets();
    ASSERT_FALSE(defaultPresets.empty());
    EXPECT_STREQ(defaultPresets[0]->name, "PresetNatural");
    EXPECT_EQ(countInLog("ERROR"), 0);
}

}  // namespace

// Whatever becomes of a user file that cannot be used as it is, the user is told once,
// and the presets that could be read stay on show.
TEST_F(PresetStore, UnusableUserFilesAreToldOnceAndTheirReadablePresetsShown)
{
    using Outcome = UserPresetsRepair::Outcome;
    const QByteArray damaged = kWhole + "<preset><name>B</name><expo";
    const struct {
        const char* name;
        bool folderInItsPlace;
        bool readOnlyFolder;
        Outcome outcome;
        std::vector<std::string> shown;
    } cases[] = {
        {"damaged", false, false, Outcome::SetAside, {"A"}},
        {"damaged in a read-only folder", false, true, Outcome::KeptInMemory, {"A"}},
        {"a folder in its place", true, false, Outcome::Unreadable, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = dir + "/" + c.name;
        QDir().mkpath(folder);
        setUserPresetsDir(folder.toStdString() + "/");
        const QString file = folder + "/user.xml";
        if (c.folderInItsPlace)
            QDir().mkpath(file);
        else
            writeFile(file, damaged);
        if (c.readOnlyFolder)
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                              QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther);
        for (int load = 0; load < 2; ++load) {
            std::optional<ScopedAccessAsNobody> nobody;
            if (c.readOnlyFolder)
                nobody.emplace(dir);
            loadUserPresets();
            EXPECT_EQ(namesOf(userPresets), c.shown);
            const std::optional<UserPresetsRepair> repair = takeUserPresetsRepair();
            if (load == 1) {
                EXPECT_FALSE(repair.has_value()) << "told once";
                continue;
            }
            ASSERT_TRUE(repair.has_value());
            EXPECT_EQ(repair->outcome, c.outcome);
            EXPECT_EQ(repair->filePath, file.toStdString());
            EXPECT_EQ(repair->keptCount, static_cast<int>(c.shown.size()));
        }
        if (c.readOnlyFolder) {
            EXPECT_EQ(readFile(file), damaged) << "left as it was";
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        }
    }
}
