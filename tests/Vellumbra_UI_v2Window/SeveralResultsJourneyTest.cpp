#include "EditingTools.h"
#include "GeneratedMedia.h"
#include "ImageIO.h"
#include "ImagesSequence.h"
#include "LanguageEngine.h"
#include "ModalScript.h"
#include "PixelOps.h"
#include "RealWindowJourney.h"
#include "RenderPipeline.h"
#include "ResizableFrame.h"
#include "SharpestImageSelection.h"
#include "Workspace.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLCDNumber>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <map>

using windowtest::ModalScript;

namespace {

constexpr int kRunTimeoutMs = 180000;

// What a result looks like: its preview and its exported file.
struct Look {
    cv::Mat preview;
    QFileInfo file;
    cv::Scalar fileMean;
};

// Several moments of one clip stacked into one workspace, as a user makes them.
class SeveralResults : public windowtest::RealWindowJourney<> {
protected:
    void SetUp() override
    {
        RealWindowJourney::SetUp();
        if (IsSkipped())
            return;
        folder = session->environment().filesFolder();
        QDir().mkpath(folder);
        const QString clip = generatedmedia::writeClip(folder, 30, 15, cv::Size(320, 200)).path;
        window().openFile(clip);
        open = session->workspace();
        ASSERT_NE(open, nullptr);
    }

    void TearDown() override
    {
        if (session)
            session->discardMedia();
    }

    VellumbraV2& window() { return session->window(); }

    template <typename Widget>
    Widget* find(const char* name)
    {
        Widget* found = session->find<Widget>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    void photograph(const QString& step)
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        const QString name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        windowtest::photograph(QString("SeveralResults_%1_%2").arg(name, step));
    }

    // Back to the clip, the moment at `frame`, the range around it, Compute; the
    // script answers the run's questions.
    void stackMoment(int frame, int before, int after, ModalScript& script)
    {
        window().changeStep(1);
        window().showFrameIndex(frame);
        ASSERT_TRUE(QTest::qWaitFor([&] { return open->frameSource->getCurrentIndex() == frame; }, 10000));
        window().changeStep(2);
        ASSERT_EQ(open->state, StateDefineParameters);
        find<QSpinBox>("spinBox_ImageStackingBefore")->setValue(before);
        find<QSpinBox>("spinBox_ImageStackingAfter")->setValue(after);
        QTest::mouseClick(find<QPushButton>("pushButton_DefineParamsNext"), Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([&] { return open->state != StateStacking; }, kRunTimeoutMs));
        EXPECT_TRUE(script.waitUntilAnswered());
        ASSERT_EQ(open->state, StateEditing);
    }

    void stackMoment(int frame, int before, int after)
    {
        ModalScript script;
        script.messageBox(translate("RecommendedSavingHDRimage"), QMessageBox::No);
        stackMoment(frame, before, after, script);
    }

    // A click on the tile's picture, as the user selects a result.
    void select(SharpestImageSelection* tile)
    {
        QTest::mouseClick(tile->findChild<QLabel*>("label_SharpestImageSelected"), Qt::LeftButton);
        ASSERT_EQ(open->selectedTile, tile);
        EXPECT_TRUE(QTest::qWaitFor([&] { return open->state == StateEditing; }, kRunTimeoutMs));
    }

    // "Export all" into a new sub-folder picked in the folder dialog's list, as JPEG.
    std::map<SharpestImageSelection*, Look> exportAll(const QString& subfolder)
    {
        QDir(folder).mkdir(subfolder);
        {
            ModalScript script;
            script.chooseSubfolder(folder, subfolder);
            script.saveOptions(2, 0).messageBox(translate("ExportAll"), QMessageBox::Ok);
            EXPECT_TRUE(window().PushButtonEditingExportClicked(nullptr));
        }
        std::map<SharpestImageSelection*, Look> looks;
        for (SharpestImageSelection* tile : open->tiles) {
            select(tile);
            Look& look = looks[tile];
            look.preview = open->currentImage();
            look.file = QFileInfo(folder + "/" + subfolder + "/" + tile->title() + ".jpg");
            cv::Mat written;
            readImage(written, look.file.absoluteFilePath().toStdString(), false);
            EXPECT_FALSE(written.empty()) << look.file.filePath().toStdString();
            look.fileMean = written.empty() ? cv::Scalar() : cv::mean(written);
        }
        return looks;
    }

    QString folder;
    Workspace* open = nullptr;
};

double largestDifference(const cv::Scalar& a, const cv::Scalar& b)
{
    double largest = 0.0;
    for (int c = 0; c < 3; ++c)
        largest = std::max(largest, std::abs(a[c] - b[c]));
    return largest;
}

}  // namespace

TEST_F(SeveralResults, ANewStackingRunLeavesEveryEarlierResultAsItWasEdited)
{
    // Distinct frame counts give distinct result names, so each file names its result.
    const int moments[][3] = {{5, 1, 1}, {12, 1, 2}, {19, 2, 2}};
    for (const auto& moment : moments)
        stackMoment(moment[0], moment[1], moment[2]);
    ASSERT_EQ(open->tiles.size(), 3u);
    // New results come first: the first made is last.
    SharpestImageSelection* saturated = open->tiles[2];
    SharpestImageSelection* turned = open->tiles[1];
    SharpestImageSelection* untouched = open->tiles[0];

    select(saturated);
    find<QSlider>("horizontalSlider_TMSaturation")->setValue(75);
    select(turned);
    find<QSlider>("horizontalSlider_Rotation_2")->setValue(14);
    EXPECT_TRUE(QTest::qWaitFor([&] { return open->state == StateEditing; }, kRunTimeoutMs));
    window().PushButtonCropToolClicked();
    QLabel* picture = find<QLabel>("label_VideoPreview");
    picture->findChild<ResizableFrame*>()->setGeometry(picture->width() / 5, picture->height() / 4,
                                                      picture->width() / 2, picture->height() / 2);
    window().PushButtonApplyToolsClicked();
    EXPECT_TRUE(QTest::qWaitFor([&] { return open->state == StateEditing; }, kRunTimeoutMs));
    const cv::Rect crop = turned->pipeline().crop();
    ASSERT_GT(crop.width, 0);
    photograph("01Edited");
    const std::map<SharpestImageSelection*, Look> before = exportAll("before");

    stackMoment(24, 2, 3);
    ASSERT_EQ(open->tiles.size(), 4u);
    photograph("02FourthResult");
    // The panel shows the new result's own settings, not the last edited ones.
    EXPECT_EQ(find<QSlider>("horizontalSlider_Rotation_2")->value(), 0);
    EXPECT_EQ(find<QLCDNumber>("lcdNumber_Rotation_2")->intValue(), 0);

    EXPECT_EQ(saturated->preset().saturation, 75);
    EXPECT_EQ(rotationDegrees(turned->pipeline().rotation()), 14);
    EXPECT_EQ(turned->pipeline().crop(), crop);
    const std::map<SharpestImageSelection*, Look> after = exportAll("after");
    for (SharpestImageSelection* tile : {saturated, turned, untouched}) {
        SCOPED_TRACE(tile->title().toStdString());
        const Look& was = before.at(tile);
        const Look& is = after.at(tile);
        ASSERT_EQ(is.preview.size(), was.preview.size());
        EXPECT_LT(cv::norm(is.preview, was.preview, cv::NORM_L1) / is.preview.total(), 1.0);
        EXPECT_NEAR(double(is.file.size()), double(was.file.size()), was.file.size() * 0.01);
        EXPECT_LT(largestDifference(is.fileMean, was.fileMean), 0.5);
    }
    // The edits reached the files: the check above would have seen them go.
    EXPECT_GT(largestDifference(before.at(saturated).fileMean, before.at(untouched).fileMean), 2.0);
    select(turned);
    EXPECT_EQ(find<QSlider>("horizontalSlider_Rotation_2")->value(), 14);
    EXPECT_EQ(find<QLCDNumber>("lcdNumber_Rotation_2")->intValue(), 14);
    photograph("03EarlierResultKept");
}

TEST_F(SeveralResults, EachResultKeepsANameOfItsOwnFromItsSaveToExportAllOnClosing)
{
    QStringList saved;
    for (const int frame : {6, 20}) {
        ModalScript script;
        script.messageBox(translate("RecommendedSavingHDRimage"), QMessageBox::Yes);
        QString proposed;
        script.acceptProposedName(&proposed);
        stackMoment(frame, 1, 1, script);
        // The light image's format is HDR until another is chosen.
        saved << proposed + ".hdr";
        script.acceptProposedName().saveOptions(-1, -1);
        EXPECT_TRUE(window().PushButtonEditingExportClicked(open->tiles.front()));
    }
    ASSERT_EQ(saved.size(), 2);
    const QFileInfo first(saved[0]);
    const QString second = first.absolutePath() + "/" + first.completeBaseName() + "-1." + first.suffix();
    EXPECT_EQ(saved[1].toStdString(), second.toStdString());
    for (const QString& path : {saved[0], second}) {
        cv::Mat light;
        EXPECT_EQ(readImage(light, path.toStdString(), false).depth(), CV_32F) << path.toStdString();
    }
    EXPECT_EQ(open->tiles.front()->title(), QFileInfo(second).completeBaseName());

    // The displayed frame, saved twice as proposed: the same question, the same default.
    window().changeStep(1);
    QStringList frames;
    for (int i = 0; i < 2; ++i) {
        ModalScript script;
        QString proposed;
        script.acceptProposedName(&proposed);
        if (i == 1)
            script.messageBox(translate("SavingFileAlreadyExist"), QMessageBox::No);
        script.saveOptions(-1, -1);
        window().saveCurrentFrame();
        EXPECT_TRUE(script.waitUntilAnswered());
        frames << proposed + ".tif";
    }
    const QFileInfo frame(frames[0]);
    EXPECT_TRUE(frame.exists());
    EXPECT_TRUE(QFileInfo::exists(frame.absolutePath() + "/" + frame.completeBaseName() + "-1." + frame.suffix()));
    // Two results more, not saved: each a title and look of its own. Close > Export all into the folder
    // asks, by name, only about the two exported before, and replaces nothing written in the run.
    stackMoment(12, 1, 1);
    stackMoment(24, 2, 3);
    std::map<QString, cv::Mat> previews;
    for (size_t i = 0; i < open->tiles.size(); ++i) {
        select(open->tiles[i]);
        find<QSlider>("horizontalSlider_TMExposition")->setValue(60 - 40 * int(i));
        previews[open->tiles[i]->title()] = open->currentImage();
    }
    QStringList shown;
    ModalScript closing;
    closing.messageBox(translate("ExplClosingWorkspace2"), QMessageBox::Save).acceptProposedName().saveOptions(0, 0);
    for (const char* step : {"01Asked", "02Asked", "03FilesWritten"})
        closing.expect(ModalScript::Kind::MessageBox, QString(), [&, step](QWidget* modal) {
            shown << static_cast<QMessageBox*>(modal)->text();
            photograph(step);
            static_cast<QMessageBox*>(modal)->done(QMessageBox::Yes);
        });
    EXPECT_TRUE(window().MenuActionCloseClicked());
    ASSERT_EQ(shown.size(), 3);
    const QString path = first.absolutePath() + "/%1.tif", secondTitle = QFileInfo(second).completeBaseName();
    for (const QString& title : {secondTitle, first.completeBaseName()})
        EXPECT_EQ(shown.takeFirst(), translate("SavingResultAlreadyExistText").arg(title, path.arg(title)));
    EXPECT_EQ(shown.takeFirst().count('\n'), 4);
    // Each file, reduced to the previews' size, within 3 % RMSE of its own result's and of no other.
    for (const auto& [title, preview] : previews) {
        cv::Mat written;
        ASSERT_FALSE(readImage(written, path.arg(title).toStdString(), false).empty()) << title.toStdString();
        cv::resize(convertBitDepth(written, 8), written, preview.size(), 0, 0, cv::INTER_AREA);
        for (const auto& [other, look] : previews)
            EXPECT_EQ(cv::norm(written, convertBitDepth(look, 8)) / std::sqrt(3.0 * look.total()) < 0.03 * 255,
                      other == title) << title.toStdString() << ", " << other.toStdString();
    }
}
