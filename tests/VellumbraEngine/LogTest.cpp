#include "Log.h"
#include "TestMedia.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <cctype>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string readAll(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

constexpr std::size_t kStampLength = 19;

// True when text holds a "MM/DD/YYYY hh:mm:ss" stamp at pos.
bool isStampAt(const std::string& text, std::size_t pos)
{
    const std::string shape = "dd/dd/dddd dd:dd:dd";
    if (text.size() < pos + shape.size())
        return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const char c = text[pos + i];
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(c)) : c != shape[i])
            return false;
    }
    return true;
}

// Splits the log into entry texts, checking that each starts with a stamp and
// ends with an empty line. Returns false on anything between or inside entries.
bool splitEntries(const std::string& text, std::vector<std::string>& entries)
{
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (!isStampAt(text, pos))
            return false;
        const std::size_t end = text.find("\n\n", pos + kStampLength + 1);
        if (end == std::string::npos)
            return false;
        entries.push_back(text.substr(pos + kStampLength, end + 2 - pos - kStampLength));
        pos = end + 2;
    }
    return true;
}

class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousPath = logFilePath();
        directory = testmedia::makeTempDir("vb-log").toStdString() + "/";
        ASSERT_TRUE(setLogDirectory(directory));
    }
    void TearDown() override
    {
        const std::string path = previousPath;
        const std::string dir = path.substr(0, path.size() - std::string("VellumbraLog.txt").size());
        setLogDirectory(dir);
        QDir(QString::fromStdString(directory)).removeRecursively();
    }
    std::string logText() const { return readAll(directory + "VellumbraLog.txt"); }

    std::string previousPath;
    std::string directory;
};

}  // namespace

TEST_F(LogTest, EntryKindsHaveTheirExactText)
{
    logError("main", "boom");
    logDebug("state", "file.cpp", -12);
    logDevILVersionMismatch();
    logError("", "");
    std::vector<std::string> entries;
    ASSERT_TRUE(splitEntries(logText(), entries)) << logText();
    EXPECT_EQ(entries, (std::vector<std::string>{"\nERROR at function main => boom\n\n",
                                                 "\nDEBUG (file file.cpp at line -12) => state\n\n",
                                                 "\nMESSAGE => DevIL version is different...\n\n",
                                                 "\nERROR at function  => \n\n"}));
}

TEST_F(LogTest, TimeStampIsMonthFirstLocalTime)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    logError("where", "what");
    char expectedDate[48];
    std::snprintf(expectedDate, sizeof expectedDate, "%02d/%02d/%04d", local.tm_mon + 1, local.tm_mday,
                  local.tm_year + 1900);
    EXPECT_EQ(logText().substr(0, 10), expectedDate);
}

TEST_F(LogTest, DirectoryIsGluedWithoutSeparator)
{
    const std::string withoutSlash = directory.substr(0, directory.size() - 1);
    ASSERT_TRUE(setLogDirectory(withoutSlash));
    EXPECT_EQ(logFilePath(), withoutSlash + "VellumbraLog.txt");
    ASSERT_TRUE(setLogDirectory(directory));
    EXPECT_EQ(logFilePath(), directory + "VellumbraLog.txt");
}

TEST_F(LogTest, OverlongDirectoryIsRefusedAndPreviousPathKept)
{
    const std::string before = logFilePath();
    EXPECT_FALSE(setLogDirectory(std::string(284, 'd')));  // 284 + 16 = 300 > 299
    EXPECT_EQ(logFilePath(), before);
    EXPECT_TRUE(setLogDirectory(std::string(283, 'd')));   // exactly 299 fits
    EXPECT_EQ(logFilePath().size(), 299u);
    setLogDirectory(directory);
}

TEST_F(LogTest, DeletedOrResetLogIsCreatedAgain)
{
    logError("first", "entry");
    ASSERT_TRUE(resetLogFile());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(logFilePath())));
    EXPECT_TRUE(resetLogFile()) << "resetting a missing log is not a failure";
    logError("second", "entry");
    std::vector<std::string> entries;
    ASSERT_TRUE(splitEntries(logText(), entries)) << logText();
    EXPECT_EQ(entries, std::vector<std::string>{"\nERROR at function second => entry\n\n"});
}

TEST_F(LogTest, UnwritableDirectoryLosesEntrySilently)
{
    ASSERT_TRUE(setLogDirectory("/nonexistent-dir/for/vellumbra/"));
    logError("where", "lost");  // must neither throw nor crash
    setLogDirectory(directory);
    EXPECT_TRUE(logText().empty());
}

TEST_F(LogTest, ConcurrentWritersNeverInterleaveInsideAnEntry)
{
    constexpr int kThreads = 8;
    constexpr int kEntriesPerThread = 200;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < kEntriesPerThread; ++i)
                logError("thread" + std::to_string(t), std::string(50, char('a' + t)) + std::to_string(i));
        });
    }
    for (auto& writer : writers)
        writer.join();

    std::vector<std::string> entries;
    ASSERT_TRUE(splitEntries(logText(), entries)) << "garbage between or inside entries";
    ASSERT_EQ(entries.size(), std::size_t(kThreads * kEntriesPerThread));
    std::vector<int> nextIndex(kThreads, 0);
    const std::string prefix = "\nERROR at function thread";
    for (const std::string& entry : entries) {
        ASSERT_EQ(entry.compare(0, prefix.size(), prefix), 0) << entry;
        const int thread = entry[prefix.size()] - '0';
        ASSERT_TRUE(thread >= 0 && thread < kThreads) << entry;
        const std::string expectedStart = prefix + std::to_string(thread) + " => " + std::string(50, char('a' + thread));
        ASSERT_EQ(entry.compare(0, expectedStart.size(), expectedStart), 0) << entry;
        const std::string index = entry.substr(expectedStart.size(), entry.size() - expectedStart.size() - 2);
        EXPECT_EQ(std::stoi(index), nextIndex[thread]++) << "entries of one thread stay in call order";
    }
}
