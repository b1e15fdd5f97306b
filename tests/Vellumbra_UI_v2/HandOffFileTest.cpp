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

}  // namespace

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

TEST(HandOffFile, ALineThatCannotBeWrittenIsReportedAsSuch)
{
    QTemporaryDir folder;
    writeFile(folder.filePath("earlier.txt"), "C:\\earlier.tif\n");
    const struct {
        QString handOff;
        QString saved;
        QByteArray line;  // empty: nothing written
    } cases[] = {
        {folder.filePath("new.txt"), "/photos/result.tif", "\\photos\\result.tif\n"},
        {folder.filePath("earlier.txt"), "/photos/result.tif", "\\photos\\result.tif\n"},
        {"/dev/full", "/photos/result.tif", ""},  // the disk is full
        {folder.filePath("missing/handoff.txt"), "/photos/result.tif", ""},
        // A line break would split the path in two; a tab stays on its line.
        {folder.filePath("newline.txt"), "/photos/two\nlines.tif", ""},
        {folder.filePath("return.txt"), "/photos/two\rlines.tif", ""},
        {folder.filePath("tab.txt"), "/photos/one\tline.tif", "\\photos\\one\tline.tif\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(appendHandOffLine(c.handOff, c.saved), !c.line.isEmpty()) << c.handOff.toStdString();
        QFile file(c.handOff);
        if (c.line.isEmpty()) {
            EXPECT_TRUE(!file.exists() || c.handOff.startsWith("/dev")) << c.handOff.toStdString();
            continue;
        }
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll().endsWith(c.line)) << c.handOff.toStdString();
    }
}
