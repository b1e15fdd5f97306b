#include "StyledMainWindow.h"

#include <QFontMetrics>

namespace {

// A size the sheet fixes, in em of the widget's own font; -1 where it fixes nothing.
struct FixedSize {
    const char* name;
    double width;
    double height;
};

void PrintTo(const FixedSize& size, std::ostream* out)
{
    *out << size.name;
}

const FixedSize kFixedSizes[] = {
    {"pushButton_PlayPause", 1.1, 1.5},
    {"pushButton_Next", 1.1, 1.5},
    {"pushButton_Previous", 1.1, 1.5},
    {"pushButton_ToBegin", 1.4, 1.5},
    {"pushButton_ToEnd", 1.4, 1.5},
    {"pushButton_ImageStacking_Before", 0.6, 1.5},
    {"pushButton_Crop", 2.5, 2.5},
    {"pushButton_Horizon", 2.5, 2.5},
    {"pushButton_UserPresetsNew", 2.5, 2.5},
    {"pushButton_UserPresetsModify", 0, 0},  // present but never seen
    {"label_QuestionQuality", 1.5, 1.5},
    {"label_QuestionSaveMarks", 1.5, 1.5},
    {"label_CursorPlayingBar", 1.2, 2},
    {"label_TrimStartPlayingBar", 0.6, 1.5},
    {"label_ExternLeftPlayingBar", 0.2, 1.5},
    {"line_CursorSelectorFlag", 0.15, 3},
    {"label_zoomIn", 2.5, 2.5},
    {"stackedWidget_LoadingIcone", 15, 5},
    {"label_ModeIconBasic", 4, 4},
    {"label_IconSelectModePro", 8, 8},
    {"frame_TopTopMenu", -1, 3},
    {"Panel_LectureTop", -1, 6},
};

class FormSizesStyle : public ::testing::TestWithParam<FixedSize> {};

TEST_P(FormSizesStyle, SheetFixesTheSizeInEm)
{
    StyledMainWindow styled;
    QWidget* widget = styled.child(GetParam().name);
    ASSERT_NE(widget, nullptr);
    widget->ensurePolished();
    const int em = QFontMetrics(widget->font()).height();
    if (GetParam().width >= 0) {
        const int width = qRound(GetParam().width * em);
        EXPECT_EQ(widget->minimumWidth(), width);
        EXPECT_EQ(widget->maximumWidth(), width);
    }
    if (GetParam().height >= 0) {
        const int height = qRound(GetParam().height * em);
        EXPECT_EQ(widget->minimumHeight(), height);
        EXPECT_EQ(widget->maximumHeight(), height);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, FormSizesStyle, ::testing::ValuesIn(kFixedSizes),
                         [](const ::testing::TestParamInfo<FixedSize>& info) { return std::string(info.param.name); });

}  // namespace
