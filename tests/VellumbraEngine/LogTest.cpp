#include "Log.h"
#include "TestMedia.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <regex>
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

const std::string kStamp = R"(\d{2}/\d{2}/\d{4} \d{2}:\d{2}:\d{2})";

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
    const std::regex expected(kStamp + "\nERROR at function main => boom\n\n" +  //
                              kStamp + R"(\nDEBUG \(file file.cpp at line -12\) => state\n\n)" +  //
                              kStamp + R"(\nMESSAGE => DevIL version is different\.\.\.\n\n)" +  //
                              kStamp + "\nERROR at function  => \n\n");
    EXPECT_TRUE(std::regex_match(logText(), expected)) << logText();
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
    const std::string text = logText();
    EXPECT_EQ(text.find("first"), std::string::npos);
    EXPECT_TRUE(std::regex_match(text, std::regex(kStamp + "\nERROR at function second => entry\n\n")));
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

    const std::string text = logText();
    const std::regex entry(kStamp + R"(\nERROR at function thread(\d) => ([a-h])\2{49}(\d+)\n\n)");
    std::vector<int> nextIndex(kThreads, 0);
    int count = 0;
    auto it = std::sregex_iterator(text.begin(), text.end(), entry);
    std::size_t consumed = 0;
    for (; it != std::sregex_iterator(); ++it, ++count) {
        ASSERT_EQ(static_cast<std::size_t>(it->position()), consumed) << "garbage between entries";
        consumed += it->length();
        const int thread = std::stoi((*it)[1]);
        ASSERT_EQ((*it)[2].str()[0], char('a' + thread));
        EXPECT_EQ(std::stoi((*it)[3]), nextIndex[thread]++) << "entries of one thread stay in call order";
    }
    EXPECT_EQ(consumed, text.size());
    EXPECT_EQ(count, kThreads * kEntriesPerThread);
}
