#include "ExportFormats.h"

#include "FileFilter.h"
#include "Utilities.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <utility>

namespace exportformats {

const char* const nameKeys[kFormatCount] = {"TIFFimg", "HDRimg", "JPEGimg", "DPXimg", "EXRimg", "PSDimg", "PNGimg",
                                            "BMPimg",  "GIFimg", "PGMimg",  "PPMimg", "PDFimg", "TGAimg"};

const int depthRows[kFormatCount][kDepthSlots] = {
    {16, 8, 32}, {32, -1, -1}, {8, -1, -1}, {16, -1, -1}, {32, -1, -1}, {8, 16, -1}, {8, 16, -1},
    {8, -1, -1}, {8, -1, -1},  {8, -1, -1}, {8, -1, -1},  {8, -1, -1},  {8, -1, -1}};

int formatOfExtension(const QString& extension)
{
    return indexOfString(exportExtensions, kFormatCount, extension.toLatin1().constData());
}

int formatOfFileName(const QString& fileName)
{
    const QFileInfo info(fileName);
    if (!info.fileName().contains(QLatin1Char('.')))
        return -1;
    return formatOfExtension(info.suffix().toLower());
}

int checkedFormat(int stored, int fallback)
{
    return stored >= 0 && stored < kFormatCount ? stored : fallback;
}

std::vector<int> depthsOf(int format)
{
    std::vector<int> depths;
    for (int depth : depthRows[format])
        if (depth > 0)
            depths.push_back(depth);
    return depths;
}

QString formatFilter(const QString& displayName, int format)
{
    return QStringLiteral("%1 (*.%2)").arg(displayName, QString::fromLatin1(exportExtensions[format]));
}

QString withFilterExtension(const QString& fileName, const QString& selectedFilter)
{
    // "clip (41)" or "holiday.2023 (41)" name no extension; "photo.jpeg" names one the list lacks.
    static const QRegularExpression extension(QStringLiteral("\\.[A-Za-z0-9]+$"));
    QString name = fileName;
    // As other systems do, trailing dots are no part of a name.
    while (name.endsWith(QLatin1Char('.')) && !QFileInfo(name).fileName().isEmpty())
        name.chop(1);
    const QString appended = filterExtension(selectedFilter);
    if (QFileInfo(name).fileName().contains(extension) || appended.isEmpty())
        return name;
    return name + QStringLiteral(".") + appended;
}

}  // namespace exportformats

void quickSort(int* values, int first, int last, const std::function<bool(int, int)>& less)
{
    while (first < last) {
        const int middle = (first + last) / 2;
        std::swap(values[middle], values[last]);
        const int pivot = values[last];
        int store = first;
        for (int i = first; i < last; ++i)
            if (less(values[i], pivot))
                std::swap(values[i], values[store++]);
        std::swap(values[store], values[last]);
        quickSort(values, first, store - 1, less);
        first = store + 1;
    }
}

QString safeFileTitle(const QString& title)
{
    static const QString kRefused = QStringLiteral("/\\:*?\"<>|");
    QString safe;
    for (const QChar c : title)
        safe += (c.category() == QChar::Other_Control || kRefused.contains(c)) ? QLatin1Char('_') : c;
    safe.replace(QStringLiteral(".."), QStringLiteral("__"));
    // A leading dot would hide the file; trailing dots and spaces are dropped by some systems.
    if (safe.startsWith(QLatin1Char('.')))
        safe[0] = QLatin1Char('_');
    while (safe.endsWith(QLatin1Char(' ')) || safe.endsWith(QLatin1Char('.')))
        safe.chop(1);
    return safe.trimmed().isEmpty() ? QStringLiteral("_") : safe;
}

QString uniqueTarget(const QString& base, const QString& extension, const std::function<bool(const QString&)>& taken)
{
    QString target = base + extension;
    for (int k = 1; taken(target); ++k)
        target = base + QStringLiteral("-%1").arg(k) + extension;
    return target;
}
