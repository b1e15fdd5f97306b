#include "LanguageEngine.h"
#include "TestFiles.h"
#include "TestMedia.h"

#include <QDir>

#include <gtest/gtest.h>

#include <cstring>

using testfiles::countInLog;
using testfiles::writeFile;

namespace {

class LanguageEngineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        root = testmedia::makeTempDir("lang");
        QDir(root).mkpath("app");
        QDir(root).mkpath("user");
        testfiles::useLogIn(root);
    }
    void TearDown() override { QDir(root).removeRecursively(); }

    QString appFile(const QString& name) const { return root + "/app/" + name; }
    QString userFile(const QString& name) const { return root + "/user/" + name; }

    // Rescans both folders and makes the named language current.
    void start(const std::string& language = "English")
    {
        LanguageEngine::setApplicationFolder(root.toStdString() + "/app/");
        LanguageEngine::setUserFolder(root.toStdString() + "/user/");
        LanguageEngine::init();
        LanguageEngine::setLanguage(language);
    }

    QString root;
};

QByteArray languageFile(const char* name, const char* version, const char* entries)
{
    return QByteArray("#lang:") + name + "\n#V:" + version + "\n" + entries;
}

struct HeaderCase
{
    const char* contents;
    const char* name;
    const char* version;
};

class ReadHeader : public LanguageEngineTest, public ::testing::WithParamInterface<HeaderCase>
{
};

TEST_P(ReadHeader, NameAndVersionOnlyFromTwoValidHeaderLines)
{
    const HeaderCase& c = GetParam();
    writeFile(appFile("x.txt"), QByteArray(c.contents, static_cast<int>(std::strlen(c.contents))));
    const auto header = LanguageEngine::readHeader(appFile("x.txt").toStdString());
    EXPECT_EQ(header.first, c.name);
    EXPECT_EQ(header.second, c.version);
}

INSTANTIATE_TEST_SUITE_P(LanguageEngine, ReadHeader,
                         ::testing::Values(HeaderCase{"#lang:English\n#V:1.0\nOk:=OK\n", "English", "1.0"},
                                           HeaderCase{"#lang:English\r\n#V:1.2\r\n", "English", "1.2"},
                                           HeaderCase{"#lang: Dutch \n#V: 2 \n", " Dutch ", " 2 "},
                                           HeaderCase{"#lang:\n#V:1.0\n", "", ""},
                                           HeaderCase{"#lang:English\n#V:\n", "", ""},
                                           HeaderCase{"#lang:English\n", "", ""},
                                           HeaderCase{"#V:1.0\n#lang:English\n", "", ""},
                                           HeaderCase{"", "", ""},
                                           HeaderCase{"\x89PNG\r\n\x1a\n\x01\x02", "", ""}));

TEST_F(LanguageEngineTest, ReadHeaderOfMissingFileIsEmpty)
{
    EXPECT_EQ(LanguageEngine::readHeader(appFile("absent.txt").toStdString()), std::make_pair(std::string(), std::string()));
}

TEST_F(LanguageEngineTest, DictionarySplitsAtFirstSeparatorAndKeepsFirstOccurrence)
{
    writeFile(appFile("d.txt"), languageFile("English", "1", "a:=b:=c\r\n"
                                                             " spaced := value \n"
                                                             "# comment:=ignored\n"
                                                             "no separator here\n"
                                                             "\n"
                                                             ":=empty key\n"
                                                             "dup:=first\n"
                                                             "dup:=second\n"
                                                             "last:=no newline"));
    const auto dictionary = LanguageEngine::loadDictionary(appFile("d.txt").toStdString());
    const LanguageEngine::Dictionary expected = {
        {"a", "b:=c"}, {" spaced ", " value "}, {"", "empty key"}, {"dup", "first"}, {"last", "no newline"}};
    EXPECT_EQ(dictionary, expected);
}

struct VersionCase
{
    const char* a;
    const char* b;
    bool newer;
};

class VersionComparison : public ::testing::TestWithParam<VersionCase>
{
};

TEST_P(VersionComparison, ComparesFirstFourNumericComponents)
{
    EXPECT_EQ(LanguageEngine::isNewerVersion(GetParam().a, GetParam().b), GetParam().newer)
        << GetParam().a << " vs " << GetParam().b;
}

INSTANTIATE_TEST_SUITE_P(LanguageEngine, VersionComparison,
                         ::testing::Values(VersionCase{"1.2", "1.10", true}, VersionCase{"1.10", "1.2", false},
                                           VersionCase{"1.2", "1.2.0.0", false}, VersionCase{"1.2.0.0", "1.2", false},
                                           VersionCase{"1.2.3.4.1", "1.2.3.4.9", false},
                                           VersionCase{"1.2.3.4.9", "1.2.3.4.1", false},
                                           VersionCase{"1", "1.0.0.1", true}, VersionCase{"", "0", false},
                                           VersionCase{"1.x", "1.1", true}, VersionCase{"1a", "1", false},
                                           VersionCase{"99999999999999999999", "1", false},
                                           VersionCase{"1", "99999999999999999999", true},
                                           VersionCase{"2147483647", "99999999999", false}));

TEST_F(LanguageEngineTest, NewerUserFileReplacesApplicationFileOnlyWhenStrictlyNewer)
{
    writeFile(appFile("en.txt"), languageFile("English", "1.2", "Word:=application\n"));
    writeFile(userFile("en.txt"), languageFile("English", "1.10", "Word:=user\n"));
    start();
    EXPECT_EQ(LanguageEngine::lookup("Word"), "user");

    writeFile(userFile("en.txt"), languageFile("English", "1.2.0.0", "Word:=user\n"));
    start();
    EXPECT_EQ(LanguageEngine::lookup("Word"), "application");
}

struct NewerUserFileCase
{
    const char* name;
    int userKeys;       // of the ten shipped keys, the first ones the user's file holds
    bool lends;         // the user's file answers the keys it holds
};

class NewerUserFile : public LanguageEngineTest, public ::testing::WithParamInterface<NewerUserFileCase>
{
};

TEST_P(NewerUserFile, LendsOnlyTheKeysItHasUnlessItMissesMostOfThem)
{
    const NewerUserFileCase& c = GetParam();
    for (const char* language : {"English", "Francais"}) {
        SCOPED_TRACE(language);
        QByteArray shipped;
        QByteArray user;
        for (int key = 0; key < 10; ++key) {
            shipped += QByteArray("Key") + QByteArray::number(key) + ":=shipped\n";
            if (key < c.userKeys)
                user += QByteArray("Key") + QByteArray::number(key) + ":=user\n";
        }
        writeFile(appFile("lang.txt"), languageFile(language, "1.0", shipped));
        writeFile(userFile("lang.txt"), languageFile(language, "1.1", user));
        testfiles::useLogIn(root);
        start(language);

        for (int key = 0; key < 10; ++key)
            EXPECT_EQ(LanguageEngine::lookup("Key" + std::to_string(key)), c.lends && key < c.userKeys ? "user" : "shipped")
                << key;
        const LanguageEngine::LanguageList expected = {{language, c.lends ? "1.1" : "1.0"}};
        EXPECT_EQ(LanguageEngine::availableLanguages(), expected);
        EXPECT_EQ(countInLog("Ignoring " + userFile("lang.txt").toStdString()), c.lends ? 0 : 1);
    }
}

INSTANTIATE_TEST_SUITE_P(LanguageEngine, NewerUserFile,
                         ::testing::Values(NewerUserFileCase{"Complete", 10, true},
                                           NewerUserFileCase{"Partial", 6, true},
                                           NewerUserFileCase{"Half", 5, true},
                                           NewerUserFileCase{"MostMissing", 4, false},
                                           NewerUserFileCase{"NearlyEmpty", 1, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LanguageEngineTest, EqualVersionsInOneFolderResolveByFileNameOrder)
{
    writeFile(appFile("b.txt"), languageFile("English", "1", "Word:=from b\n"));
    writeFile(appFile("a.txt"), languageFile("English", "1", "Word:=from a\n"));
    start();
    EXPECT_EQ(LanguageEngine::lookup("Word"), "from a");
}

TEST_F(LanguageEngineTest, MalformedFilesAndMissingFolderAreSkippedWithLogEntries)
{
    writeFile(appFile("good.txt"), languageFile("English", "1", "Ok:=OK\n"));
    writeFile(appFile("empty.txt"), "");
    writeFile(appFile("binary.txt"), QByteArray("\x00\x01\xff\xfe\x00garbage", 12));
    writeFile(appFile("headeronly.txt"), languageFile("German", "1", ""));
    writeFile(appFile("upper.TXT"), languageFile("French", "1", "Ok:=D'accord\n"));
    writeFile(appFile("notes.md"), languageFile("Spanish", "1", "Ok:=Vale\n"));
    QDir(root + "/user").removeRecursively();
    start();

    const LanguageEngine::LanguageList expected = {{"English", "1"}};
    EXPECT_EQ(LanguageEngine::availableLanguages(), expected);
    EXPECT_EQ(countInLog("empty.txt: not a language file"), 1);
    EXPECT_EQ(countInLog("binary.txt: not a language file"), 1);
    EXPECT_EQ(countInLog("headeronly.txt: no entries"), 1);
    EXPECT_EQ(countInLog("user/ does not exist"), 1);
    EXPECT_EQ(LanguageEngine::lookup("Ok"), "OK");
}

TEST_F(LanguageEngineTest, LanguagesAreListedInByteOrderWithTheirVersions)
{
    writeFile(appFile("1.txt"), languageFile("alpha", "3", "k:=v\n"));
    writeFile(appFile("2.txt"), languageFile("Zulu", "2", "k:=v\n"));
    writeFile(userFile("3.txt"), languageFile("English", "1.5", "k:=v\n"));
    start();
    const LanguageEngine::LanguageList expected = {{"English", "1.5"}, {"Zulu", "2"}, {"alpha", "3"}};
    EXPECT_EQ(LanguageEngine::availableLanguages(), expected);
}

TEST_F(LanguageEngineTest, MissingKeyFallsBackToEnglishThenToKeyWithOneLogEntryPerLookup)
{
    writeFile(appFile("en.txt"), languageFile("English", "1", "Both:=english both\nOnlyEnglish:=english only\n"));
    writeFile(appFile("fr.txt"), languageFile("French", "1", "Both:=les deux\n"));
    start("French");

    EXPECT_EQ(LanguageEngine::lookup("Both"), "les deux");
    EXPECT_EQ(LanguageEngine::lookup("OnlyEnglish"), "english only");
    EXPECT_EQ(LanguageEngine::lookup("OnlyEnglish"), "english only");
    EXPECT_EQ(LanguageEngine::lookup("Nowhere"), "Nowhere");
    EXPECT_EQ(countInLog("Traduction inexistante (French) : OnlyEnglish"), 2);
    EXPECT_EQ(countInLog("Traduction inexistante (French) : Nowhere"), 1);
    EXPECT_EQ(countInLog("Traduction inexistante (French) : Both"), 0);
    EXPECT_EQ(countInLog("DEBUG (file CommonUI\\LanguageEngine at line 193)"), 3);
}

TEST_F(LanguageEngineTest, WithoutEnglishTheByteWiseFirstLanguageIsTheDefault)
{
    writeFile(appFile("1.txt"), languageFile("alpha", "1", "Key:=from alpha\n"));
    writeFile(appFile("2.txt"), languageFile("Beta", "1", "Key:=from Beta\n"));
    writeFile(appFile("3.txt"), languageFile("Zulu", "1", "Other:=z\n"));
    start("Zulu");
    EXPECT_EQ(LanguageEngine::lookup("Key"), "from Beta");
}

TEST_F(LanguageEngineTest, UnknownLanguageLeavesCurrentOneAndVanishedFileEmptiesIt)
{
    writeFile(appFile("en.txt"), languageFile("English", "1", "Key:=english\n"));
    writeFile(appFile("fr.txt"), languageFile("French", "1", "Key:=french\n"));
    start("French");
    LanguageEngine::setLanguage("Klingon");
    EXPECT_EQ(LanguageEngine::lookup("Key"), "french");

    QFile::remove(appFile("fr.txt"));
    LanguageEngine::setLanguage("French");
    EXPECT_EQ(LanguageEngine::lookup("Key"), "english");
}

TEST_F(LanguageEngineTest, NoLanguageAtAllAnswersKeys)
{
    start();
    EXPECT_TRUE(LanguageEngine::availableLanguages().empty());
    EXPECT_EQ(LanguageEngine::lookup("SomeKey"), "SomeKey");
}

TEST_F(LanguageEngineTest, TranslateDecodesUtf8)
{
    writeFile(appFile("de.txt"), languageFile("English", "1", "Greeting:=Gr\xc3\xbc\xc3\x9f" "e\r\n"));
    start();
    EXPECT_EQ(translate("Greeting"), QString::fromUtf8(u8"Grüße"));
}

TEST_F(LanguageEngineTest, ShippedEnglishFileHoldsTheCommonKeys)
{
    const QString lang = QFileInfo(QString(__FILE__)).absolutePath() + "/../../Lang/";
    const auto header = LanguageEngine::readHeader((lang + "English.txt").toStdString());
    EXPECT_EQ(header.first, "English");
    const auto dictionary = LanguageEngine::loadDictionary((lang + "English.txt").toStdString());
    for (const char* key : {"Ok", "Yes", "No", "Close", "Return", "Cancel", "Error", "ShowingLogFile", "EmptyLog",
                            "ErrorWhileOpeningLogFile", "ResetLogFile", "SavingOptions", "GenericSharpText",
                            "Fast", "Medium", "Slow", "TIFFimg", "TGAimg", "PresetNeutral"})
        EXPECT_EQ(dictionary.count(key), 1u) << key;
}

}  // namespace
