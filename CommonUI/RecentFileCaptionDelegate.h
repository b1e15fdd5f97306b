#pragma once
#include <QStyledItemDelegate>

class QFontMetrics;

// The caption of a recent file that fits the width: the path as it is when it fits,
// else its folder shortened in the middle before the whole file name, else the file
// name alone shortened in the middle.
QString recentFileCaption(const QString& path, const QFontMetrics& metrics, int width);

// Draws the recent files' list items, whose texts are their paths, with these captions.
class RecentFileCaptionDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};
