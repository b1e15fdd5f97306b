#include "ThumbnailStorage.h"

#include "AtomicWrite.h"
#include "Log.h"
#include "PixelOps.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QMap>
#include <QStandardPaths>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <stdexcept>

namespace {

constexpr int kStreamVersion = 12;
constexpr const char* kFileName = "thumbnails.bin";
constexpr const char* kSaveError = "Can't load or create thumbnails.bin file";
// A serialised string is at least its 32-bit length; a map entry adds the image's 32-bit null marker.
constexpr qint64 kMinStringBytes = 4;
constexpr qint64 kMinMapEntryBytes = 8;
// Far above a 500-pixel-wide thumbnail; keeps a forged header from allocating gigabytes.
constexpr qint64 kMaxImagePixels = 16 * 1024 * 1024;

void logLoadError(const std::string& message)
{
    logError("ThumbnailStorage::load", message);
}

// A container count that cannot fit in the bytes left is refused before anything is allocated.
bool readCount(QDataStream& stream, qint64 minEntryBytes, quint32& count)
{
    stream >> count;
    if (stream.status() != QDataStream::Ok)
        return false;
    return static_cast<qint64>(count) <= stream.device()->bytesAvailable() / minEntryBytes;
}

bool readKeys(QDataStream& stream, QStringList& keys)
{
    quint32 count = 0;
    if (!readCount(stream, kMinStringBytes, count))
        return false;
    for (quint32 i = 0; i < count; ++i) {
        QString key;
        stream >> key;
        if (stream.status() != QDataStream::Ok)
            return false;
        keys << key;
    }
    return true;
}

// The data stream's image form: a 32-bit null marker, then a PNG.
bool readImage(QDataStream& stream, QImage& image)
{
    qint32 notNull = 0;
    stream >> notNull;
    if (stream.status() != QDataStream::Ok)
        return false;
    if (!notNull)
        return true;
    QImageReader reader(stream.device(), "png");
    const QSize size = reader.size();
    if (!size.isValid() || static_cast<qint64>(size.width()) * size.height() > kMaxImagePixels)
        return false;
    image = reader.read();
    return !image.isNull();
}

bool readImages(QDataStream& stream, QMap<QString, QImage>& images)
{
    quint32 count = 0;
    if (!readCount(stream, kMinMapEntryBytes, count))
        return false;
    for (quint32 i = 0; i < count; ++i) {
        QString key;
        QImage image;
        stream >> key;
        if (stream.status() != QDataStream::Ok || !readImage(stream, image))
            return false;
        images.insert(key, image);
    }
    return true;
}

}  // namespace

ThumbnailStorage::ThumbnailStorage(QObject* parent)
    : QObject(parent)
{
}

ThumbnailStorage::~ThumbnailStorage() = default;

QString ThumbnailStorage::filePath()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QDir().mkpath(folder);
    return QDir(folder).filePath(kFileName);
}

bool ThumbnailStorage::load()
{
    const QString path = filePath();
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) {
        logLoadError("Can't create or load thumbnails file " + path.toStdString() + ": " +
                     file.errorString().toStdString());
        return false;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    keys.clear();
    images.clear();
    encoded.clear();
    if (bytes.isEmpty())
        return true;

    QDataStream stream(bytes);
    stream.setVersion(kStreamVersion);
    QStringList storedKeys;
    QMap<QString, QImage> storedImages;
    if (!readKeys(stream, storedKeys)) {
        logLoadError("The recent-file list of " + path.toStdString() + " is damaged; it is ignored");
        return true;
    }
    if (!readImages(stream, storedImages)) {
        logLoadError("The thumbnails of " + path.toStdString() + " are damaged; they are ignored");
        storedImages.clear();
    }

    // Only keys with an image, each once, at most kCapacity of them.
    for (const QString& key : storedKeys) {
        const QImage image = storedImages.value(key);
        if (keys.size() == kCapacity || keys.contains(key) || image.isNull())
            continue;
        keys << key;
        images[key] = std::make_unique<QImage>(image.convertToFormat(QImage::Format_RGB888));
    }
    if (keys.size() != storedKeys.size() || keys.size() != storedImages.size())
        logLoadError(path.toStdString() + " held " + std::to_string(storedKeys.size()) + " keys and " +
                     std::to_string(storedImages.size()) + " thumbnails; kept " + std::to_string(keys.size()));
    return true;
}

// Writes what `stream << keys << QMap<QString, QImage>` writes: the keys, then the
// map from its last key to its first, each image as a 32-bit not-null marker and its PNG.
void ThumbnailStorage::save() const
{
    QStringList sorted = keys;
    std::sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) { return b < a; });

    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(kStreamVersion);
    stream << keys << static_cast<quint32>(sorted.size());
    for (const QString& key : sorted) {
        QByteArray& png = encoded[key];
        if (png.isEmpty()) {
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            QImageWriter(&buffer, "png").write(*images.at(key));
        }
        stream << key << static_cast<qint32>(1);
        stream.writeRawData(png.constData(), png.size());
    }
    QString error;
    if (stream.status() == QDataStream::Ok && writeFileAtomically(filePath(), bytes, &error))
        return;
    logError("ThumbnailStorage::save", kSaveError + std::string(": ") + error.toStdString());
    throw std::runtime_error(kSaveError);
}

void ThumbnailStorage::add(const QString& key, const cv::Mat& image)
{
    if (image.empty() || image.dims != 2) {
        logError("ThumbnailStorage::add", "No image for " + key.toStdString());
        return;
    }
    const cv::Mat bytes = image.depth() == CV_8U ? image : convertBitDepth(image, 8);
    const int conversion = image.channels() == 1 ? cv::COLOR_GRAY2RGB
                           : image.channels() == 3 ? cv::COLOR_BGR2RGB
                           : image.channels() == 4 ? cv::COLOR_BGRA2RGB
                                                   : -1;
    if (bytes.depth() != CV_8U || conversion < 0) {
        logError("ThumbnailStorage::add", "Unsupported image type for " + key.toStdString());
        return;
    }
    // A very wide image still gets a thumbnail one row high.
    const int height = std::max(1, static_cast<int>(static_cast<float>(image.rows) * static_cast<float>(kThumbnailWidth) /
                                                         static_cast<float>(image.cols)));
    cv::Mat small;
    cv::Mat rgb;
    cv::resize(bytes, small, cv::Size(kThumbnailWidth, height), 0.0, 0.0, cv::INTER_LINEAR);
    cv::cvtColor(small, rgb, conversion);
    const QImage view(rgb.data, rgb.cols, rgb.rows, static_cast<int>(rgb.step), QImage::Format_RGB888);
    put(key, std::make_unique<QImage>(view.copy()));
}

void ThumbnailStorage::put(const QString& key, std::unique_ptr<QImage> image)
{
    images[key] = std::move(image);
    encoded.erase(key);
    keys.removeAll(key);
    keys.prepend(key);
    while (keys.size() > kCapacity) {
        const QString dropped = keys.takeLast();
        images.erase(dropped);
        encoded.erase(dropped);
    }
}

QImage* ThumbnailStorage::get(const QString& key) const
{
    const auto found = images.find(key);
    return found == images.end() ? nullptr : found->second.get();
}

void ThumbnailStorage::touch(const QString& key)
{
    const int index = keys.indexOf(key);
    if (index > 0)
        keys.move(index, 0);
}

void ThumbnailStorage::remove(const QString& key)
{
    if (keys.removeOne(key)) {
        images.erase(key);
        encoded.erase(key);
    }
}

QStringList ThumbnailStorage::order() const
{
    return keys;
}
