#include "ThumbnailStorage.h"
#include "TestFiles.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <QFileInfo>

#include <functional>
#include <stdexcept>

using testfiles::countInLog;
using testfiles::readFile;
using testfiles::writeFile;

namespace {

cv::Mat colourImage(int width, int height, const cv::Scalar& bgr)
{
    return cv::Mat(height, width, CV_8UC3, bgr);
}

QString keyOf(int i)
{
    return QString("/media/clip %1.mp4").arg(i);
}

QByteArray streamBytes(const std::function<void(QDataStream&)>& write)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(12);
    write(stream);
    return bytes;
}

class ThumbnailStorageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Test programs run in parallel: each gets its own data folder.
        QStandardPaths::setTestModeEnabled(true);
        applicationName = QCoreApplication::applicationName();
        QCoreApplication::setApplicationName(applicationName + "-" + QString::number(QCoreApplication::applicationPid()));
        path = ThumbnailStorage::filePath();
        QFile::remove(path);
        testfiles::useLogIn(QFileInfo(path).absolutePath());
    }
    void TearDown() override
    {
        QDir(QFileInfo(path).absolutePath()).removeRecursively();
        QCoreApplication::setApplicationName(applicationName);
    }

    // A fresh store loaded from the file.
    std::unique_ptr<ThumbnailStorage> reloaded()
    {
        auto store = std::make_unique<ThumbnailStorage>();
        EXPECT_TRUE(store->load());
        return store;
    }

    // Every key has a thumbnail, no key twice, at most ten.
    static void expectConsistent(const ThumbnailStorage& store)
    {
        QStringList keys = store.order();
        EXPECT_LE(keys.size(), ThumbnailStorage::kCapacity);
        EXPECT_EQ(keys.removeDuplicates(), 0);
        for (const QString& key : keys)
            EXPECT_NE(store.get(key), nullptr) << key.toStdString();
    }

    QString path;
    QString applicationName;
};

TEST_F(ThumbnailStorageTest, EleventhEntryEvictsTheOldest)
{
    ThumbnailStorage store;
    for (int i = 0; i < 11; ++i)
        store.add(keyOf(i), colourImage(40, 30, cv::Scalar(i, i, i)));
    const QStringList order = store.order();
    ASSERT_EQ(order.size(), 10);
    EXPECT_EQ(order.first(), keyOf(10));
    EXPECT_EQ(order.last(), keyOf(1));
    EXPECT_EQ(store.get(keyOf(0)), nullptr);
}

struct SizeCase
{
    int width;
    int height;
    int thumbnailHeight;
};

class ThumbnailSize : public ThumbnailStorageTest, public ::testing::WithParamInterface<SizeCase>
{
};

TEST_P(ThumbnailSize, WidthIsFiveHundredAndHeightTruncated)
{
    ThumbnailStorage store;
    store.add("k", colourImage(GetParam().width, GetParam().height, cv::Scalar(0, 0, 0)));
    const QImage* thumbnail = store.get("k");
    ASSERT_NE(thumbnail, nullptr);
    EXPECT_EQ(thumbnail->size(), QSize(500, GetParam().thumbnailHeight));
    EXPECT_EQ(thumbnail->format(), QImage::Format_RGB888);
}

INSTANTIATE_TEST_SUITE_P(ThumbnailStorage, ThumbnailSize,
                         ::testing::Values(SizeCase{1000, 750, 375}, SizeCase{1000, 751, 375},
                                           SizeCase{100, 100, 500}, SizeCase{3000, 2, 1}, SizeCase{9000, 3, 1}));

TEST_F(ThumbnailStorageTest, ThumbnailIsRedGreenBlueAndCallerImageIsUntouched)
{
    cv::Mat image = colourImage(64, 48, cv::Scalar(200, 100, 10));
    const cv::Mat before = image.clone();
    ThumbnailStorage store;
    store.add("k", image);
    EXPECT_EQ(cv::norm(image, before, cv::NORM_INF), 0.0);
    EXPECT_EQ(store.get("k")->pixel(250, 100), qRgb(10, 100, 200));

    cv::Mat grey16(48, 64, CV_16UC1, cv::Scalar(65535));
    store.add("grey", grey16);
    ASSERT_NE(store.get("grey"), nullptr);
    EXPECT_EQ(store.get("grey")->pixel(0, 0), qRgb(255, 255, 255));

    store.add("empty", cv::Mat());
    store.add("twoChannels", cv::Mat(4, 4, CV_8UC2));
    EXPECT_EQ(store.order(), (QStringList{"grey", "k"}));
}

TEST_F(ThumbnailStorageTest, ReAddTouchAndRemoveKeepOneEntryPerKey)
{
    ThumbnailStorage store;
    for (int i = 0; i < 3; ++i)
        store.add(keyOf(i), colourImage(10, 10, cv::Scalar(i, 0, 0)));
    store.add(keyOf(0), colourImage(10, 10, cv::Scalar(0, 0, 99)));
    EXPECT_EQ(store.order(), (QStringList{keyOf(0), keyOf(2), keyOf(1)}));
    EXPECT_EQ(qBlue(store.get(keyOf(0))->pixel(0, 0)), 0);
    EXPECT_EQ(qRed(store.get(keyOf(0))->pixel(0, 0)), 99);

    store.touch("absent");
    store.remove("absent");
    EXPECT_EQ(store.order(), (QStringList{keyOf(0), keyOf(2), keyOf(1)}));
    store.touch(keyOf(1));
    EXPECT_EQ(store.order(), (QStringList{keyOf(1), keyOf(0), keyOf(2)}));
    store.remove(keyOf(0));
    EXPECT_EQ(store.order(), (QStringList{keyOf(1), keyOf(2)}));
    EXPECT_EQ(store.get(keyOf(0)), nullptr);
}

TEST_F(ThumbnailStorageTest, SavedStoreLoadsWithSameOrderAndImages)
{
    {
        ThumbnailStorage store;
        for (int i = 0; i < 4; ++i)
            store.add(keyOf(i), colourImage(80 + i, 60, cv::Scalar(10 * i, 20, 30)));
        store.touch(keyOf(1));
        store.save();
    }
    ThumbnailStorage original;
    for (int i = 0; i < 4; ++i)
        original.add(keyOf(i), colourImage(80 + i, 60, cv::Scalar(10 * i, 20, 30)));
    original.touch(keyOf(1));

    const auto loaded = reloaded();
    EXPECT_EQ(loaded->order(), original.order());
    for (const QString& key : original.order()) {
        ASSERT_NE(loaded->get(key), nullptr);
        EXPECT_EQ(*loaded->get(key), *original.get(key)) << key.toStdString();
    }
}

TEST_F(ThumbnailStorageTest, MissingFileGivesEmptyStoreAndCreatesTheFile)
{
    const auto store = reloaded();
    EXPECT_TRUE(store->order().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(path));
    EXPECT_EQ(QFileInfo(path).size(), 0);
}

TEST_F(ThumbnailStorageTest, FileFromPlainDataStreamCodeIsReconciled)
{
    QImage red(500, 20, QImage::Format_RGB32);
    red.fill(Qt::red);
    QImage blue(500, 30, QImage::Format_RGB888);
    blue.fill(Qt::blue);
    QStringList keys = {"a", "noImage", "b", "a"};
    QMap<QString, QImage> images = {{"a", red}, {"b", blue}, {"orphan", red}};
    for (int i = 0; i < 12; ++i) {
        keys << keyOf(i);
        images.insert(keyOf(i), red);
    }
    writeFile(path, streamBytes([&](QDataStream& s) { s << keys << images; }));

    const auto store = reloaded();
    expectConsistent(*store);
    const QStringList expected = QStringList{"a", "b"} + QStringList{keyOf(0), keyOf(1), keyOf(2), keyOf(3),
                                                                     keyOf(4), keyOf(5), keyOf(6), keyOf(7)};
    EXPECT_EQ(store->order(), expected);
    EXPECT_EQ(store->get("b")->size(), QSize(500, 30));
    EXPECT_EQ(store->get("a")->pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(store->get("a")->format(), QImage::Format_RGB888);
    EXPECT_EQ(store->get("orphan"), nullptr);
}

TEST_F(ThumbnailStorageTest, TruncatedFilesLoadWithoutCrashing)
{
    ThumbnailStorage store;
    for (int i = 0; i < 3; ++i)
        store.add(keyOf(i), colourImage(100, 100, cv::Scalar(i, 2 * i, 3 * i)));
    store.save();
    const QByteArray whole = readFile(path);
    const std::vector<int> lengths = {1, 3, 4, 10, 40, whole.size() / 2, whole.size() - 100, whole.size() - 1};
    for (int length : lengths) {
        writeFile(path, whole.left(length));
        const auto loaded = reloaded();
        expectConsistent(*loaded);
        // What survives is whole: cutting only a final PNG trailer may leave every picture readable.
        for (const QString& key : loaded->order())
            EXPECT_EQ(*loaded->get(key), *store.get(key)) << length;
        if (length <= whole.size() / 2) {
            EXPECT_TRUE(loaded->order().isEmpty()) << length;
        }
    }
    EXPECT_GE(countInLog("damaged"), static_cast<int>(lengths.size()) - 1);
}

TEST_F(ThumbnailStorageTest, HugeCountsAndGarbageAreRefusedBeforeAllocating)
{
    const QImage small(500, 10, QImage::Format_RGB888);
    const std::vector<QByteArray> files = {
        streamBytes([](QDataStream& s) { s << quint32(0xFFFFFFFF); }),
        streamBytes([](QDataStream& s) { s << quint32(0x7FFFFFFF) << QString("a"); }),
        streamBytes([&](QDataStream& s) { s << QStringList{"a"} << quint32(0xFFFFFFFF) << QString("a") << small; }),
        streamBytes([](QDataStream& s) { s << quint32(1) << quint32(0x7FFFFFFE); }),
        streamBytes([](QDataStream& s) { s << QStringList{"a"} << quint32(1) << QString("a") << qint32(1) << quint32(0); }),
    };
    cv::Mat noise(1, 4096, CV_8UC1);
    cv::RNG(1234).fill(noise, cv::RNG::UNIFORM, 0, 256);
    std::vector<QByteArray> all = files;
    all.emplace_back(reinterpret_cast<const char*>(noise.data), noise.cols);
    for (std::size_t i = 0; i < all.size(); ++i) {
        writeFile(path, all[i]);
        const auto loaded = reloaded();
        expectConsistent(*loaded);
        EXPECT_TRUE(loaded->order().isEmpty()) << i;
    }
}

TEST_F(ThumbnailStorageTest, FailedSaveThrowsAndKeepsThePreviousFile)
{
    ThumbnailStorage store;
    store.add(keyOf(0), colourImage(50, 50, cv::Scalar(1, 2, 3)));
    store.save();
    const QByteArray before = readFile(path);
    for (int i = 1; i < 6; ++i) {
        cv::Mat noise(300, 300, CV_8UC3);
        cv::randu(noise, cv::Scalar::all(0), cv::Scalar::all(256));
        store.add(keyOf(i), noise);
    }
    {
        testfiles::ScopedFileSizeLimit limit(static_cast<rlim_t>(before.size() + 4096));
        try {
            store.save();
            ADD_FAILURE() << "save did not throw";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "Can't load or create thumbnails.bin file");
        }
    }
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(store.order().size(), 6);
}

TEST_F(ThumbnailStorageTest, LoadReportsAFileThatCannotBeOpened)
{
    ASSERT_TRUE(QDir().mkpath(path));
    ThumbnailStorage store;
    EXPECT_FALSE(store.load());
    EXPECT_EQ(countInLog("Can't create or load thumbnails file"), 1);
    QDir(path).removeRecursively();
}

}  // namespace

TEST_F(ThumbnailStorageTest, EverySaveWritesWhatPlainDataStreamCodeWrites)
{
    ThumbnailStorage store;
    for (int i = 0; i < 3; ++i)
        store.add(keyOf(2 - i), colourImage(90, 60, cv::Scalar(40 * i, 20, 30)));
    // Saves in a row: after a replaced thumbnail, a touch and a removal.
    const std::function<void()> changes[] = {
        [] {},
        [&] { store.add(keyOf(1), colourImage(90, 60, cv::Scalar(200, 100, 0))); },
        [&] { store.touch(keyOf(2)); },
        [&] { store.remove(keyOf(0)); },
    };
    for (const auto& change : changes) {
        change();
        store.save();
        QMap<QString, QImage> images;
        for (const QString& key : store.order())
            images.insert(key, *store.get(key));
        EXPECT_EQ(readFile(path), streamBytes([&](QDataStream& s) { s << store.order() << images; }));
    }
    EXPECT_EQ(reloaded()->get(keyOf(1))->pixel(0, 0), qRgb(0, 100, 200));
}
