#include "RecentFileCaptionDelegate.h"

#include <QFontMetrics>

namespace {

// Room the style keeps on either side of an item's text.
constexpr int kTextMargin = 4;

}  // namespace

QString recentFileCaption(const QString& path, const QFontMetrics& metrics, int width)
{
    if (metrics.horizontalAdvance(path) <= width)
        return path;
    const int lastSlash = path.lastIndexOf(QLatin1Char('/'));
    const QString name = path.mid(lastSlash + 1);
    const QString tail = QLatin1Char('/') + name;
    const int tailWidth = metrics.horizontalAdvance(tail);
    if (lastSlash < 0 || tailWidth >= width)
        return metrics.elidedText(name, Qt::ElideMiddle, width);
    return metrics.elidedText(path.left(lastSlash), Qt::ElideMiddle, width - tailWidth) + tail;
}

void RecentFileCaptionDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->text = recentFileCaption(option->text, option->fontMetrics, option->rect.width() - 2 * kTextMargin);
}
