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
        bool written;
    } cases[] = {
        {folder.filePath("new.txt"), true},
        {folder.filePath("earlier.txt"), true},
        {"/dev/full", false},  // the disk is full
        {folder.filePath("missing/handoff.txt"), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(appendHandOffLine(c.handOff, "/photos/result.tif"), c.written) << c.handOff.toStdString();
        if (!c.written)
            continue;
        QFile file(c.handOff);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll().endsWith("\\photos\\result.tif\n")) << c.handOff.toStdString();
    }
}
