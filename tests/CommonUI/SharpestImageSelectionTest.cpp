#include "SharpestImageSelection.h"

#include "ImagesSequence.h"
#include "LanguageEngine.h"
#include "ProSharpestImageSelection.h"
#include "SharpnessCandidates.h"
#include "TileColours.h"
#include "TestFiles.h"
#include "TileTestSupport.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <vector>

namespace {

// ---- Helpers shared by both tile kinds -------------------------------------------------

struct PercentCase {
    std::vector<std::pair<float, int>> scores;
    std::vector<int> percents;
};

class SharpnessPercents : public ::testing::TestWithParam<PercentCase> {};

TEST_P(SharpnessPercents, AreScoresInPercentOfTheSharpestTruncated)
{
    const SharpnessCandidates candidates(GetParam().scores.begin(), GetParam().scores.end());
    EXPECT_EQ(sharpnessPercents(candidates), GetParam().percents);
}

INSTANTIATE_TEST_SUITE_P(SharpestImageSelection, SharpnessPercents,
                         ::testing::Values(PercentCase{{{12.5f, 7}}, {100}},
                                           // All-black frames score 0: the best still shows 100.
                                           PercentCase{{{0.0f, 7}}, {100}},
                                           PercentCase{{{0.0f, 3}, {40.0f, 4}}, {0, 100}},
                                           PercentCase{{{20.0f, 3}, {40.0f, 4}}, {50, 100}},
                                           PercentCase{{{1.0f, 0}, {2.0f, 5}, {3.0f, 2}}, {33, 66, 100}},
                                           PercentCase{{}, {}}));

struct TintCase {
    QRgb pixel;
    int tileNumber;
    QRgb expected;
};

class PinTint : public ::testing::TestWithParam<TintCase> {};

TEST_P(PinTint, AddsTheTileColourToVisiblePixelsOnly)
{
    QImage pin(3, 2, QImage::Format_ARGB32);
    pin.fill(GetParam().pixel);
    const QImage tinted = tintPin(pin, tileColour(GetParam().tileNumber));
    ASSERT_EQ(tinted.format(), QImage::Format_ARGB32);
    ASSERT_EQ(tinted.size(), pin.size());
    for (int y = 0; y < tinted.height(); ++y)
        for (int x = 0; x < tinted.width(); ++x)
            EXPECT_EQ(tinted.pixel(x, y), GetParam().expected) << std::hex << tinted.pixel(x, y);
}

INSTANTIATE_TEST_SUITE_P(SharpestImageSelection, PinTint,
                         ::testing::Values(TintCase{qRgba(200, 10, 30, 255), 0, qRgba(255, 12, 32, 255)},
                                           TintCase{qRgba(200, 10, 30, 0), 0, qRgba(200, 10, 30, 0)},
                                           TintCase{qRgba(0, 0, 0, 0), 3, qRgba(0, 0, 0, 0)},
                                           TintCase{qRgba(10, 160, 250, 128), 7, qRgba(12, 255, 255, 128)},
                                           TintCase{qRgba(1, 2, 3, 1), 14, qRgba(3, 52, 53, 1)},
                                           TintCase{qRgba(9, 9, 9, 255), 6, qRgba(11, 11, 11, 255)},
                                           TintCase{qRgba(200, 10, 30, 255), 15, qRgba(255, 12, 32, 255)}));

// ---- Candidate tiles --------------------------------------------------------------------

QString styleOf(SharpestImageSelection* tile)
{
    return tile->findChild<QLabel*>("label_SharpestImageSelected")->styleSheet();
}

class CandidateTileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        languageDir = testmedia::makeTempDir("candidate-language");
        testfiles::writeFile(languageDir + "/T.txt", "#lang:English\n#V:1\nGenericSharpText:=Sharpness %1 %\n");
        LanguageEngine::setApplicationFolder(languageDir.toStdString() + "/");
        LanguageEngine::setUserFolder(languageDir.toStdString() + "/");
        LanguageEngine::init();
        LanguageEngine::setLanguage("English");
    }
    static void TearDownTestSuite() { QDir(languageDir).removeRecursively(); }

    void SetUp() override
    {
        settingsDir = testmedia::makeTempDir("candidate-settings");
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir);
        QSettings(QStringLiteral("Orvane"), QStringLiteral("Vellumbra 3")).setValue("GeneralSettings/NbSharpenImages", 3);
        parent.resize(300, 900);
        auto* layout = new QVBoxLayout;
        layout->setContentsMargins(4, 4, 9, 4);
        parent.setLayout(layout);
    }

    void TearDown() override
    {
        QDir(settingsDir).removeRecursively();
        if (!photoDir.isEmpty())
            QDir(photoDir).removeRecursively();
    }

    // A burst of real photos, frame i blurred by sigmas[i] (0: sharp), kept until the tiles are gone.
    ImagesSequence* burst(const std::vector<double>& sigmas)
    {
        const cv::Mat photo = tiletest::realPhoto(400);
        if (photo.empty())
            return nullptr;
        photoDir = testmedia::makeTempDir("candidate-burst");
        QStringList files;
        for (size_t i = 0; i < sigmas.size(); ++i) {
            files << QString("%1/frame%2.png").arg(photoDir).arg(i);
            cv::imwrite(files.last().toStdString(), tiletest::blurred(photo, sigmas[i]));
        }
        burstFrames = std::make_unique<ImagesSequence>(files);
        return burstFrames.get();
    }

    template <typename T>
    T* child(SharpestImageSelection* tile, const char* name)
    {
        return tile->findChild<T*>(name);
    }

    QString percentText(SharpestImageSelection* tile)
    {
        return child<QLabel>(tile, "label_SharpestImageSelectionText")->text();
    }

    static QString languageDir;
    QString settingsDir;
    QString photoDir;
    // Declared before parent, so that the tiles (its children) that read it go first.
    std::unique_ptr<ImagesSequence> burstFrames;
    QWidget parent;
};

QString CandidateTileTest::languageDir;

TEST_F(CandidateTileTest, VideoTileStepsThroughTheSharperFramesInScoreOrder)
{
    ImagesSequence* const source = burst({2.0, 0.0, 1.0, 0.6, 0.0});
    if (!source)
        GTEST_SKIP() << "test media absent";
    auto* tile = new SharpestImageSelection(source, &parent);
    EXPECT_EQ(tile->frameIndex(), 0);
    EXPECT_EQ(tile->maximumWidth(), 291);
    EXPECT_EQ(child<QLabel>(tile, "label_SharpestImageSelected")->maximumHeight(),
              static_cast<int>(291 / source->aspectRatio));
    EXPECT_FALSE(child<QPushButton>(tile, "pushButton_Plus")->isEnabled());
    ASSERT_TRUE(tiletest::waitUntil([tile] { return tile->candidateCount() > 0; }));

    // Frames 1 to 3 lie in the window; frame 4 (as sharp as frame 1) does not.
    ASSERT_EQ(tile->candidateCount(), 4);
    EXPECT_TRUE(percentText(tile).startsWith("Sharpness "));
    EXPECT_NE(percentText(tile), "Sharpness 100 %");
    EXPECT_TRUE(child<QPushButton>(tile, "pushButton_Plus")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(tile, "pushButton_Minus")->isEnabled());

    QSignalSpy selecting(tile, &SharpestImageSelection::selecting);
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(child<QPushButton>(tile, "pushButton_Plus"), Qt::LeftButton);
    ASSERT_EQ(selecting.count(), 3);
    EXPECT_EQ(selecting[0][0].toInt(), 2);
    EXPECT_EQ(selecting[1][0].toInt(), 3);
    EXPECT_EQ(selecting[2][0].toInt(), 1);
    EXPECT_EQ(tile->frameIndex(), 1);
    EXPECT_EQ(percentText(tile), "Sharpness 100 %");
    EXPECT_FALSE(child<QPushButton>(tile, "pushButton_Plus")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(tile, "pushButton_Minus")->isEnabled());

    // A direct call at the last candidate stays there and selects it again.
    tile->PushButtonPlusClicked();
    EXPECT_EQ(tile->position(), 3);
    ASSERT_EQ(selecting.count(), 4);
    EXPECT_EQ(selecting[3][0].toInt(), 1);

    QTest::mouseClick(child<QPushButton>(tile, "pushButton_Minus"), Qt::LeftButton);
    EXPECT_EQ(tile->frameIndex(), 3);
    EXPECT_TRUE(child<QPushButton>(tile, "pushButton_Plus")->isEnabled());

    QSignalSpy removals(tile, &SharpestImageSelection::removeImage);
    QTest::mouseClick(child<QPushButton>(tile, "pushButton_Close"), Qt::LeftButton);
    ASSERT_EQ(removals.count(), 1);
    EXPECT_EQ(removals[0][0].value<SharpestImageSelection*>(), tile);

    parent.show();
    const QString dir = testmedia::makeTempDir("candidate-tile");
    ASSERT_TRUE(tile->grab().save(dir + "/candidate-tile.png"));
    std::cout << "candidate tile picture: " << (dir + "/candidate-tile.png").toStdString() << std::endl;
}

TEST_F(CandidateTileTest, NoSharperFrameShowsOneHundredAndNoStep)
{
    ImagesSequence* const source = burst({0.0, 1.5, 3.0});
    if (!source)
        GTEST_SKIP() << "test media absent";
    auto* tile = new SharpestImageSelection(source, &parent);
    ASSERT_TRUE(tiletest::waitUntil([tile] { return tile->candidateCount() > 0; }));
    EXPECT_EQ(tile->candidateCount(), 1);
    EXPECT_EQ(percentText(tile), "Sharpness 100 %");
    EXPECT_FALSE(child<QPushButton>(tile, "pushButton_Plus")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(tile, "pushButton_Minus")->isEnabled());
}

TEST_F(CandidateTileTest, DeletingATileWhileItsSearchRunsIsClean)
{
    ImagesSequence* const source = burst({0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0});
    if (!source)
        GTEST_SKIP() << "test media absent";
    for (int i = 0; i < 3; ++i)
        delete new SharpestImageSelection(source, &parent);
    EXPECT_EQ(parent.layout()->count(), 0);
    // Whatever the searches queued before they were stopped goes to no tile.
    QCoreApplication::sendPostedEvents();
}

TEST_F(CandidateTileTest, StillImageTileKeepsItsLightAndSearchesNothing)
{
    cv::Mat image(200, 400, CV_32FC3, cv::Scalar(7.5f, 0.f, 0.25f));
    auto* tile = new SharpestImageSelection(image, &parent);
    image.setTo(cv::Scalar::all(0));
    EXPECT_EQ(tile->image().type(), CV_32FC3);
    EXPECT_EQ(tile->image().at<cv::Vec3f>(0, 0), cv::Vec3f(7.5f, 0.f, 0.25f));
    EXPECT_EQ(tile->frameIndex(), -1);
    EXPECT_EQ(tile->pinLabel(), nullptr);
    EXPECT_EQ(child<QLabel>(tile, "label_SharpestImageSelected")->maximumHeight(), 145);
    QSignalSpy selecting(tile, &SharpestImageSelection::selecting);
    tile->PushButtonPlusClicked();
    tile->PushButtonMinusClicked();
    EXPECT_EQ(selecting.count(), 0);
    EXPECT_EQ(tile->candidateCount(), 0);
    EXPECT_EQ(parent.layout()->indexOf(tile), 0);
    auto* hdr = new SharpestImageSelection(cv::Mat(20, 40, CV_32FC3, cv::Scalar::all(0.002)), &parent, SourceKind::SceneReferred);
    EXPECT_GT(child<QLabel>(hdr, "label_SharpestImageSelected")->pixmap(Qt::ReturnByValue).toImage().pixelColor(0, 0).value(), 20);
}

TEST_F(CandidateTileTest, TilesFifteenApartShareTheirBorderColour)
{
    const cv::Mat image(20, 20, CV_8UC3, cv::Scalar::all(90));
    std::vector<SharpestImageSelection*> tiles;
    for (int i = 0; i < 16; ++i)
        tiles.push_back(new SharpestImageSelection(image, &parent));
    EXPECT_EQ(styleOf(tiles[0]), styleOf(tiles[15]));
    for (int i = 1; i < 15; ++i)
        EXPECT_NE(styleOf(tiles[0]), styleOf(tiles[static_cast<size_t>(i)]));
    const QColor colour = tileColour(tiles[0]->tileNumber());
    EXPECT_EQ(styleOf(tiles[0]),
              QString("border-color: rgb(%1, %2, %3)").arg(colour.red()).arg(colour.green()).arg(colour.blue()));
}

TEST_F(CandidateTileTest, PressesSelectInSelectionModeAndClickInEditionMode)
{
    auto* tile = new SharpestImageSelection(cv::Mat(20, 30, CV_8UC3, cv::Scalar::all(50)), &parent);
    QSignalSpy selecting(tile, &SharpestImageSelection::selecting);
    QSignalSpy clicks(tile, &SharpestImageSelection::onClick);
    QLabel* picture = child<QLabel>(tile, "label_SharpestImageSelected");

    QTest::mousePress(picture, Qt::LeftButton);
    ASSERT_EQ(selecting.count(), 1);
    EXPECT_EQ(selecting[0][0].toInt(), -1);
    EXPECT_EQ(clicks.count(), 0);
    tile->enterEditionMode("Photo");
    QTest::mousePress(picture, Qt::LeftButton);
    EXPECT_EQ(selecting.count(), 1);
    ASSERT_EQ(clicks.count(), 1);
    EXPECT_EQ(clicks[0][0].value<SharpestImageSelection*>(), tile);
    picture->setEnabled(false);
    QTest::mousePress(picture, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
}

TEST_F(CandidateTileTest, EditedTitleIsCommittedByEnterAndKeptByEditionMode)
{
    auto* tile = new SharpestImageSelection(cv::Mat(20, 30, CV_8UC3, cv::Scalar::all(50)), &parent);
    auto* bottom = child<QStackedWidget>(tile, "stackedWidget_SharpestImageSelectionBottom");
    EXPECT_EQ(bottom->currentWidget()->objectName(), "page_SelectionMode");
    tile->enterEditionMode("IMG_0001");
    EXPECT_EQ(tile->mode(), SharpestImageSelection::EditionMode);
    EXPECT_EQ(child<QLabel>(tile, "label_SharpestImageEditionText")->text(), "IMG_0001");

    parent.show();
    parent.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&parent));
    EXPECT_TRUE(child<QFrame>(tile, "frame_Close")->isHidden());
    QTest::mousePress(child<QLabel>(tile, "label_SharpestImageEditionText"), Qt::LeftButton);
    EXPECT_EQ(bottom->currentWidget()->objectName(), "page_EditingTitle");
    auto* edit = child<QLineEdit>(tile, "lineEdit_Title");
    ASSERT_TRUE(edit->hasFocus());
    edit->clear();
    QTest::keyClicks(edit, "Harbour at dusk");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_FALSE(edit->hasFocus());
    EXPECT_EQ(child<QLabel>(tile, "label_SharpestImageEditionText")->text(), "Harbour at dusk");
    EXPECT_EQ(bottom->currentWidget()->objectName(), "page_EditionMode");

    tile->leaveEditionMode();
    EXPECT_FALSE(child<QFrame>(tile, "frame_Close")->isHidden());
    EXPECT_FALSE(tile->property("isSelected").toBool());
    tile->enterEditionMode("IMG_0001");
    EXPECT_EQ(tile->title(), "Harbour at dusk");
}

// ---- Frame tiles ------------------------------------------------------------------------

class FrameTileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ProSharpestImageSelection::deleteAll();
        list = std::make_unique<QWidget>();
        list->resize(300, 600);
        auto* layout = new QVBoxLayout;
        layout->setContentsMargins(0, 0, 10, 0);
        list->setLayout(layout);
        pins = std::make_unique<QWidget>();
    }

    void TearDown() override { ProSharpestImageSelection::deleteAll(); }

    ProSharpestImageSelection* makeTile(const cv::Mat& image, int frame, QWidget* parent = nullptr)
    {
        return new ProSharpestImageSelection(parent ? parent : list.get(), pins.get(), image, frame,
                                             QString("Frame %1").arg(frame));
    }

    std::unique_ptr<QWidget> list;
    std::unique_ptr<QWidget> pins;
};

TEST_F(FrameTileTest, ThumbnailKeepsTheAspectOfPortraitAndLandscapeFrames)
{
    const cv::Mat photo = tiletest::realPhoto(300);
    const cv::Mat portrait = photo.empty() ? cv::Mat(300, 200, CV_8UC3, cv::Scalar(10, 90, 200)) : cv::Mat(photo.t());
    ProSharpestImageSelection* upright = makeTile(portrait, 4);
    ProSharpestImageSelection* wide = makeTile(cv::Mat(100, 400, CV_8UC3, cv::Scalar::all(128)), 5);
    EXPECT_EQ(upright->maximumWidth(), 290);
    auto* thumbnail = upright->findChild<QLabel*>("label_ImageRightReferenced");
    EXPECT_EQ(thumbnail->maximumWidth(), 145);
    EXPECT_EQ(thumbnail->maximumHeight(),
              static_cast<int>(145 / (static_cast<float>(portrait.cols) / static_cast<float>(portrait.rows))));
    EXPECT_GT(thumbnail->maximumHeight(), 145);
    EXPECT_EQ(wide->findChild<QLabel*>("label_ImageRightReferenced")->maximumHeight(), 36);
    EXPECT_EQ(upright->findChild<QLabel*>("label_ImageRightReferencedText")->text(), "Frame 4");
    EXPECT_EQ(upright->pinLabel()->parentWidget(), pins.get());
    EXPECT_TRUE(upright->pinLabel()->isHidden());
    EXPECT_TRUE(upright->pinLabel()->property("Pin").toBool());
}

TEST_F(FrameTileTest, DeleteAllAfterTheParentDeletedSomeTiles)
{
    QWidget otherList;
    otherList.setLayout(new QVBoxLayout);
    const cv::Mat image(40, 60, CV_8UC3, cv::Scalar::all(70));
    makeTile(image, 1);
    makeTile(image, 2);
    ProSharpestImageSelection* kept = makeTile(image, 3, &otherList);
    QPointer<QLabel> keptPin = kept->pinLabel();
    ASSERT_EQ(ProSharpestImageSelection::tiles().size(), 3u);
    list.reset();
    ASSERT_EQ(ProSharpestImageSelection::tiles().size(), 1u);
    EXPECT_EQ(ProSharpestImageSelection::tiles().front(), kept);
    ProSharpestImageSelection::deleteAll();
    EXPECT_TRUE(ProSharpestImageSelection::tiles().empty());
    EXPECT_TRUE(otherList.findChildren<ProSharpestImageSelection*>().isEmpty());
    EXPECT_TRUE(keptPin.isNull());
    ProSharpestImageSelection::deleteAll();
}

TEST_F(FrameTileTest, PinsParentDeletedFirstLeavesTheTileSafe)
{
    ProSharpestImageSelection* tile = makeTile(cv::Mat(40, 60, CV_8UC3, cv::Scalar::all(70)), 9);
    pins.reset();
    EXPECT_EQ(tile->pinLabel(), nullptr);
    QHoverEvent enter(QEvent::HoverEnter, QPointF(5, 5), QPointF(-1, -1));
    QCoreApplication::sendEvent(tile, &enter);
    delete tile;
    EXPECT_TRUE(ProSharpestImageSelection::tiles().empty());
}

TEST_F(FrameTileTest, HoverShowsThePinAndPressReportsTheFrame)
{
    ProSharpestImageSelection* tile = makeTile(cv::Mat(40, 60, CV_8UC3, cv::Scalar::all(70)), 12);
    QSignalSpy pinMoves(tile, &ProSharpestImageSelection::movePin);
    QSignalSpy clicks(tile, &ProSharpestImageSelection::onClick);
    QHoverEvent enter(QEvent::HoverEnter, QPointF(5, 5), QPointF(-1, -1));
    QCoreApplication::sendEvent(tile, &enter);
    EXPECT_FALSE(tile->pinLabel()->isHidden());
    ASSERT_EQ(pinMoves.count(), 1);
    EXPECT_EQ(pinMoves[0][0].value<QWidget*>(), tile->pinLabel());
    EXPECT_EQ(pinMoves[0][1].toInt(), 12);
    QHoverEvent leave(QEvent::HoverLeave, QPointF(-1, -1), QPointF(5, 5));
    QCoreApplication::sendEvent(tile, &leave);
    EXPECT_TRUE(tile->pinLabel()->isHidden());
    QTest::mousePress(tile, Qt::LeftButton);
    ASSERT_EQ(clicks.count(), 1);
    EXPECT_EQ(clicks[0][0].toInt(), 12);
}

}  // namespace

TEST(PinTint, EmbeddedPinPictureLoads)
{
    const QImage pin = tintedPin(0);
    ASSERT_FALSE(pin.isNull()) << "the embedded pin picture or the SVG image plug-in is missing";
    EXPECT_GT(pin.width(), 8);
}
