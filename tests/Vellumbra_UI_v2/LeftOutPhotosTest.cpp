#include "GeneratedMedia.h"
#include "ImagesSequence.h"
#include "LanguageEngine.h"
#include "ModalScript.h"
#include "WindowSession.h"
#include "Workspace.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <functional>

using windowtest::ModalScript;
using windowtest::WindowSession;

namespace {

void truncateToHalf(const QString& path)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.resize(file.size() / 2));
}

// Bytes in the middle of the picture data overwritten with 0xFF (as a failing card
// leaves them), or the end marker left off.
void damageJpeg(const QString& path, bool overwrite)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    if (!overwrite) {
        ASSERT_TRUE(file.resize(file.size() - 2));
        return;
    }
    ASSERT_TRUE(file.seek(file.size() / 2));
    file.write(QByteArray(16, '\xFF'));
}

struct DamageCase {
    const char* name;
    // Damages the burst's members (in name order) after opening; returns what they are called.
    std::function<QStringList(const QStringList&)> damage;
    const char* extension = "png";
    bool chosenUnreadable = false;  // the chosen first photo: a run around the second is offered
};

QString nameOf(const QString& path)
{
    return QFileInfo(path).fileName();
}

class LeftOutPhotos : public ::testing::TestWithParam<DamageCase> {
};

// A burst of five stacked from its first photo: every member left out is named,
// and the light image is made of the others.
TEST_P(LeftOutPhotos, AreNamedAfterTheRunThatLeftThemOut)
{
    WindowSession session;
    const QStringList burst =
        generatedmedia::writeBurst(session.environment().filesFolder(), 5, GetParam().extension).paths;
    Workspace* workspace = session.adoptBurst(burst);
    ASSERT_TRUE(workspace && workspace->valid);
    const QStringList leftOut = GetParam().damage(burst);
    // Stepped onto, a photo that cannot be read is named as such, never shown as its neighbour.
    const QLabel* picture = session.find<QLabel>("label_VideoPreview");
    for (int i = 1; i < burst.size(); ++i) {
        session.window().showNextFrame();
        cv::Mat frame;
        const bool readable = !workspace->frameSource->getFrame(frame, i, false).empty();
        EXPECT_EQ(!picture->pixmap(Qt::ReturnByValue).isNull(), readable) << i;
        EXPECT_EQ(picture->text().contains(nameOf(burst[i])), !readable) << i;
        EXPECT_EQ(workspace->histogramImage.empty(), !readable) << i;
    }
    for (int i = 1; i < burst.size(); ++i)
        session.window().showPreviousFrame();
    session.window().PushButtonSelectImageNextClicked();
    ASSERT_EQ(workspace->state, 4);
    session.find<QSpinBox>("spinBox_ImageStackingBefore")->setValue(0);
    session.find<QSpinBox>("spinBox_ImageStackingAfter")->setValue(4);

    ModalScript script;
    if (GetParam().chosenUnreadable)
        script.messageBox(translate("ChosenPhotoUnreadable").arg(nameOf(burst[0]), nameOf(burst[1])), QMessageBox::Yes);
    if (!leftOut.isEmpty())
        script.messageBox(translate("ExplPhotosLeftOut").replace("%1", leftOut.join(", ")), QMessageBox::Ok);
    script.messageBox(translate("RecommendedSavingHDRimage"), QMessageBox::No);
    session.find<QPushButton>("pushButton_DefineParamsNext")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return workspace->state != 8; }, 60000));
    EXPECT_TRUE(script.waitUntilAnswered());
    EXPECT_EQ(workspace->state, 5);
    EXPECT_EQ(workspace->tiles.size(), 1u);
    // The result's name and the progress beside it count the photos stacked, not those walked.
    const int asked = GetParam().chosenUnreadable ? 4 : 5, stacked = asked - leftOut.size();
    EXPECT_EQ(workspace->stackedFrameCount, stacked);
    EXPECT_EQ(session.find<QWidget>("progressBar_Computing")->property("format").toString() ==
                  translate("StackedFewerFrames").arg(stacked).arg(asked), stacked < asked);
}

INSTANTIATE_TEST_SUITE_P(
    Bursts, LeftOutPhotos,
    ::testing::Values(DamageCase{"Sound", [](const QStringList&) { return QStringList(); }},
                      DamageCase{"TruncatedAndMisSized",
                                 [](const QStringList& burst) {
                                     truncateToHalf(burst[1]);
                                     cv::imwrite(burst[3].toStdString(), cv::Mat(64, 96, CV_8UC3, cv::Scalar(40, 80, 120)));
                                     return QStringList{nameOf(burst[1]), nameOf(burst[3])};
                                 }},
                      DamageCase{"GreyAmongColour",
                                 [](const QStringList& burst) {
                                     cv::imwrite(burst[2].toStdString(), cv::Mat(128, 192, CV_8UC1, cv::Scalar(90)));
                                     return QStringList{nameOf(burst[2])};
                                 }},
                      // Its decoders would fill the missing rows with grey and stack them.
                      DamageCase{"CutJpeg",
                                 [](const QStringList& burst) {
                                     truncateToHalf(burst[2]);
                                     return QStringList{nameOf(burst[2])};
                                 },
                                 "jpg"},
                      // Its decoder loses the rows after the damage and fills them with grey.
                      DamageCase{"OverwrittenMidScanJpeg",
                                 [](const QStringList& burst) {
                                     damageJpeg(burst[3], true);
                                     return QStringList{nameOf(burst[3])};
                                 },
                                 "jpg"},
                      DamageCase{"JpegWithoutEndMarker",
                                 [](const QStringList& burst) {
                                     damageJpeg(burst[3], false);
                                     return QStringList();
                                 },
                                 "jpg"},
                      DamageCase{"ChosenPhotoTruncated", [](const QStringList& burst) { truncateToHalf(burst[0]); return QStringList(); }, "png", true},
                      DamageCase{"GoneSinceOpening",
                                 [](const QStringList& burst) {
                                     QFile::remove(burst[4]);
                                     return QStringList{nameOf(burst[4])};
                                 }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
