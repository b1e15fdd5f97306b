#include "LanguageEngine.h"
#include "MatToQImage.h"
#include "MessageBoxes.h"
#include "TestFiles.h"
#include "TestMedia.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <memory>

namespace {

using BoxFunction = std::function<QMessageBox::StandardButton(QWidget*, const QString&, const QString&)>;

struct BoxCase
{
    const char* name;
    BoxFunction show;
    QMessageBox::Icon icon;
    std::map<QMessageBox::StandardButton, QString> labels;
    QMessageBox::StandardButton clicked;
};

struct SeenBox
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    std::map<QMessageBox::StandardButton, QString> labels;
    bool allPointingHand = true;
    bool fixedSizeHint = false;
};

// Waits for the modal box, records what it shows and clicks one of its buttons.
SeenBox runAndClick(const BoxFunction& show, QMessageBox::StandardButton toClick, QMessageBox::StandardButton& result)
{
    SeenBox seen;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        poll.stop();
        seen.icon = box->icon();
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.fixedSizeHint = box->windowFlags().testFlag(Qt::MSWindowsFixedSizeDialogHint);
        for (QAbstractButton* button : box->buttons()) {
            seen.labels[box->standardButton(button)] = button->text();
            seen.allPointingHand = seen.allPointingHand && button->cursor().shape() == Qt::PointingHandCursor;
        }
        box->button(toClick)->click();
    });
    poll.start();
    result = show(nullptr, "The title", "The text");
    return seen;
}

class MessageBoxes : public ::testing::TestWithParam<BoxCase>
{
protected:
    static void SetUpTestSuite()
    {
        root = testmedia::makeTempDir("boxes");
        testfiles::writeFile(root + "/T.txt", "#lang:English\n#V:1\nOk:=Fine\nYes:=Sure\nNo:=Nope\n"
                                              "Close:=Shut\nReturn:=Go back\n");
        LanguageEngine::setApplicationFolder(root.toStdString() + "/");
        LanguageEngine::setUserFolder(root.toStdString() + "/");
        LanguageEngine::init();
        LanguageEngine::setLanguage("English");
    }
    static void TearDownTestSuite() { QDir(root).removeRecursively(); }

    static QString root;
};

QString MessageBoxes::root;

TEST_P(MessageBoxes, ShowTranslatedButtonsAndReturnTheClickedOne)
{
    const BoxCase& c = GetParam();
    QMessageBox::StandardButton result = QMessageBox::NoButton;
    const SeenBox seen = runAndClick(c.show, c.clicked, result);
    EXPECT_EQ(result, c.clicked);
    EXPECT_EQ(seen.icon, c.icon);
    EXPECT_EQ(seen.title, "The title");
    EXPECT_EQ(seen.text, "The text");
    EXPECT_EQ(seen.labels, c.labels);
    EXPECT_TRUE(seen.allPointingHand);
    EXPECT_TRUE(seen.fixedSizeHint);
}

INSTANTIATE_TEST_SUITE_P(
    CommonUI, MessageBoxes,
    ::testing::Values(
        BoxCase{"Critical", showCriticalBox, QMessageBox::Critical, {{QMessageBox::Ok, "Fine"}}, QMessageBox::Ok},
        BoxCase{"Information", showInformationBox, QMessageBox::Information, {{QMessageBox::Ok, "Fine"}}, QMessageBox::Ok},
        BoxCase{"Warning", showWarningBox, QMessageBox::Warning, {{QMessageBox::Ok, "Fine"}}, QMessageBox::Ok},
        BoxCase{"CloseOrReturnClose", askCloseOrReturn, QMessageBox::Question,
                {{QMessageBox::Yes, "Shut"}, {QMessageBox::No, "Go back"}}, QMessageBox::Yes},
        BoxCase{"CloseOrReturnReturn", askCloseOrReturn, QMessageBox::Question,
                {{QMessageBox::Yes, "Shut"}, {QMessageBox::No, "Go back"}}, QMessageBox::No},
        BoxCase{"YesNo", askYesNo, QMessageBox::Question, {{QMessageBox::Yes, "Sure"}, {QMessageBox::No, "Nope"}},
                QMessageBox::No},
        BoxCase{"WarningYesNo", askWarningYesNo, QMessageBox::Warning,
                {{QMessageBox::Yes, "Sure"}, {QMessageBox::No, "Nope"}}, QMessageBox::Yes}),
    [](const ::testing::TestParamInfo<BoxCase>& info) { return std::string(info.param.name); });

// Blue, green, red and alpha bytes of the first pixel, as they lie in memory.
std::array<int, 4> firstPixelBytes(const cv::Mat& image)
{
    std::unique_ptr<QImage> display(matToQImage(image));
    if (!display)
        return {-1, -1, -1, -1};
    EXPECT_EQ(display->format(), QImage::Format_RGB32);
    const uchar* bytes = display->constBits();
    return {bytes[0], bytes[1], bytes[2], bytes[3]};
}

struct PixelCase
{
    const char* name;
    cv::Mat image;
    std::array<int, 4> bgra;
};

class MatToQImagePixels : public ::testing::TestWithParam<PixelCase>
{
};

TEST_P(MatToQImagePixels, ScaleTruncateAndSaturateEachChannel)
{
    EXPECT_EQ(firstPixelBytes(GetParam().image), GetParam().bgra);
}

INSTANTIATE_TEST_SUITE_P(
    CommonUI, MatToQImagePixels,
    ::testing::Values(
        PixelCase{"Bytes", cv::Mat(1, 1, CV_8UC3, cv::Scalar(10, 20, 30)), {10, 20, 30, 255}},
        PixelCase{"Grey", cv::Mat(1, 1, CV_8UC1, cv::Scalar(77)), {77, 77, 77, 255}},
        PixelCase{"FourChannelsDropAlpha", cv::Mat(1, 1, CV_8UC4, cv::Scalar(1, 2, 3, 4)), {1, 2, 3, 255}},
        PixelCase{"SignedBytesAsTheyLie", cv::Mat(1, 1, CV_8SC3, cv::Scalar(-1, 5, 127)), {255, 5, 127, 255}},
        PixelCase{"SixteenBitLevels", cv::Mat(1, 1, CV_16UC3, cv::Scalar(65535, 65534, 257)), {255, 254, 1, 255}},
        PixelCase{"SixteenBitBelowOneLevel", cv::Mat(1, 1, CV_16UC3, cv::Scalar(256, 0, 513)), {0, 0, 1, 255}},
        PixelCase{"FloatTruncated", cv::Mat(1, 1, CV_32FC3, cv::Scalar(0.5, 1.0, 0.0)), {127, 255, 0, 255}},
        PixelCase{"FloatJustBelowALevel", cv::Mat(1, 1, CV_32FC3, cv::Scalar(0.999, 2.0 / 255 - 1e-4, 0.25)),
                  {254, 1, 63, 255}},
        PixelCase{"FloatOutOfRangeSaturates", cv::Mat(1, 1, CV_32FC3, cv::Scalar(-0.5, 7.0, 1e30)), {0, 255, 255, 255}},
        PixelCase{"FloatNaNIsBlack", cv::Mat(1, 1, CV_32FC1, cv::Scalar(std::nan(""))), {0, 0, 0, 255}}),
    [](const ::testing::TestParamInfo<PixelCase>& info) { return std::string(info.param.name); });

TEST(MatToQImage, UnsupportedImagesGiveNull)
{
    for (const cv::Mat& image : {cv::Mat(), cv::Mat(0, 5, CV_8UC3), cv::Mat(2, 2, CV_8UC2, cv::Scalar(1, 2)),
                                 cv::Mat(2, 2, CV_64FC3, cv::Scalar(0.5, 0.5, 0.5))}) {
        std::unique_ptr<QImage> display(matToQImage(image));
        EXPECT_EQ(display, nullptr) << image.type() << " " << image.cols << "x" << image.rows;
    }
}

TEST(MatToQImage, RegionOfLargerImageConvertsLikeItsCopy)
{
    cv::Mat big(40, 60, CV_16UC3);
    cv::randu(big, cv::Scalar::all(0), cv::Scalar::all(65535));
    const cv::Mat region = big(cv::Rect(7, 5, 31, 17));
    ASSERT_FALSE(region.isContinuous());
    std::unique_ptr<QImage> fromRegion(matToQImage(region));
    std::unique_ptr<QImage> fromCopy(matToQImage(region.clone()));
    ASSERT_NE(fromRegion, nullptr);
    ASSERT_NE(fromCopy, nullptr);
    EXPECT_EQ(fromRegion->size(), QSize(31, 17));
    EXPECT_EQ(*fromRegion, *fromCopy);
    const cv::Vec3w corner = region.at<cv::Vec3w>(16, 30);
    EXPECT_EQ(fromRegion->pixel(30, 16), qRgb(corner[2] / 257, corner[1] / 257, corner[0] / 257));
}

}  // namespace
