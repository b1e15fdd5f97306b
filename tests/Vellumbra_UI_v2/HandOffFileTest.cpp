#include "HandOffFile.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

TEST(HandOffFile, LinesUseBackslashesAndAreAppended)
{
    QTemporaryDir folder;
    const QString handOff = folder.filePath("handoff.txt");
    const struct {
        const char* saved;
        const char* line;
    } cases[] = {
        {"/home/ann/photos/Vb_clip (A8_Ma_Fa5).tif", "\\home\\ann\\photos\\Vb_clip (A8_Ma_Fa5).tif\n"},
        {"C:/Users/ann/result.hdr", "C:\\Users\\ann\\result.hdr\n"},
        {"already\\windows.exr", "already\\windows.exr\n"},
    };
    QByteArray expected;
    for (const auto& c : cases) {
        EXPECT_EQ(handOffLine(c.saved), QString(c.line));
        EXPECT_TRUE(appendHandOffLine(handOff, c.saved));
        expected += c.line;
    }
    EXPECT_EQ(contentOf(handOff), expected);
    EXPECT_FALSE(appendHandOffLine(folder.filePath("missing/handoff.txt"), "/a.tif"));
}

TEST(HandOffFile, OnlyAFileWrittenByTheSaveCounts)
{
    QTemporaryDir folder;
    const QDateTime before = QDateTime::currentDateTime();
    writeFile(folder.filePath("written.tif"), "pixels");
    writeFile(folder.filePath("empty.tif"), "");
    writeFile(folder.filePath("old.tif"), "pixels");
    QFile old(folder.filePath("old.tif"));
    ASSERT_TRUE(old.open(QIODevice::ReadWrite));
    ASSERT_TRUE(old.setFileTime(before.addSecs(-3600), QFileDevice::FileModificationTime));
    old.close();
    const struct {
        const char* name;
        bool expected;
    } cases[] = {{"written.tif", true}, {"empty.tif", false}, {"old.tif", false}, {"never.tif", false}, {"", false}};
    for (const auto& c : cases)
        EXPECT_EQ(fileWrittenSince(folder.filePath(c.name), before), c.expected) << c.name;
}
