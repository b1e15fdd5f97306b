#include "RecentFileCaptionDelegate.h"

#include <QApplication>
#include <QFontMetrics>
#include <gtest/gtest.h>

namespace {

const QString kLongName = "VID_20240712_183455_holiday_in_brittany.mp4";

struct CaptionRow {
    const char* name;
    QString path;
    QString widthOf;  // the caption has the width of this text, and extra pixels
    int extra;
    QString start;  // what the caption begins and ends with
    QString end;
};

void PrintTo(const CaptionRow& row, std::ostream* out)
{
    *out << row.name;
}

const CaptionRow kRows[] = {
    {"FittingPathStaysWhole", "/home/anna/clip.mp4", "/home/anna/clip.mp4", 0, "/home/anna/clip.mp4", ""},
    {"LongFolderIsShortenedBeforeTheName", "/home/anna/Pictures/2024/Holidays/Brittany/Day three/" + kLongName,
     "/home/anna/…/" + kLongName, 4, "/home/", "/" + kLongName},
    {"FolderOnePixelShortIsShortened", "/home/anna/" + kLongName, "/home/anna/" + kLongName, -1, "/h", "/" + kLongName},
    {"NameWiderThanTheCaptionIsShortenedInItsMiddle", "/home/anna/" + kLongName, "VID_20240712", 0, "VID", ".mp4"},
    {"NameWithoutFolder", kLongName, "VID_20240712", 0, "VID", ".mp4"},
};

class RecentFileCaption : public ::testing::TestWithParam<CaptionRow> {};

TEST_P(RecentFileCaption, KeepsTheFileNameWholeWhereItFits)
{
    const CaptionRow& row = GetParam();
    const QFontMetrics metrics(QApplication::font());
    const int width = metrics.horizontalAdvance(row.widthOf) + row.extra;
    const QString caption = recentFileCaption(row.path, metrics, width);
    EXPECT_LE(metrics.horizontalAdvance(caption), width) << caption.toStdString();
    EXPECT_TRUE(caption.startsWith(row.start)) << caption.toStdString();
    EXPECT_TRUE(caption.endsWith(row.end)) << caption.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Table, RecentFileCaption, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<CaptionRow>& info) { return std::string(info.param.name); });

}  // namespace
