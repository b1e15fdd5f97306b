#pragma once
#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QStringList>

#include <opencv2/core.hpp>

#include <map>
#include <memory>

// Recently opened media, most recent first, with a 500-pixel-wide thumbnail
// each, kept in "thumbnails.bin" in the per-user application data folder.
class ThumbnailStorage : public QObject
{
    Q_OBJECT

public:
    static constexpr int kCapacity = 10;
    static constexpr int kThumbnailWidth = 500;

    explicit ThumbnailStorage(QObject* parent = nullptr);
    ~ThumbnailStorage() override;

    // Reads the file, creating an empty one when there is none. A damaged file
    // leaves the store with what could be read whole. False (logged) when the
    // file can neither be opened nor created; the caller decides what follows.
    bool load();
    // Writes the file atomically; throws std::runtime_error on failure.
    void save() const;

    // Stores a thumbnail of a blue-green-red image as the most recent entry.
    void add(const QString& key, const cv::Mat& image);
    // The store keeps ownership; null when the key is unknown.
    QImage* get(const QString& key) const;
    void touch(const QString& key);
    void remove(const QString& key);
    QStringList order() const;

    static QString filePath();

private:
    void put(const QString& key, std::unique_ptr<QImage> image);

    QStringList keys;
    std::map<QString, std::unique_ptr<QImage>> images;
    // Each thumbnail's PNG as the file holds it, made on its first save: saving
    // after every opening then writes ten thumbnails without encoding them again.
    mutable std::map<QString, QByteArray> encoded;
};
