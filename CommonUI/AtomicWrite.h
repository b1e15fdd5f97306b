#pragma once
#include <QByteArray>
#include <QString>

// Replaces the file with the bytes through a temporary file and a rename, so a
// failure (full disk, size limit) leaves the previous file whole. On failure
// returns false and, when error is given, the reason.
bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr);
