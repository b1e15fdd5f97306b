#include "GeneratedMedia.h"
#include "HandOffFile.h"
#include "ImageIO.h"
#include "ImagesSequence.h"
#include "LanguageEngine.h"
#include "ModalScript.h"
#include "Preset.h"
#include "PresetImage.h"
#include "ProSharpestImageSelection.h"
#include "RenderPipeline.h"
#include "ResizableFrame.h"
#include "ResizableLine.h"
#include "SharpestImageSelection.h"
#include "TestMedia.h"
#include "WindowSession.h"
#include "WindowTest.h"
#include "Workspace.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <memory>

using windowtest::ModalScript;
using windowtest::WindowSession;

namespace {

constexpr int kRunTimeoutMs = 180000;

// Shots of one real photograph, each moved by a few pixels, as a hand-held burst
// gives them; written as JPEG files in shot order.
QStringList realBurst(const QString& folder, int count)
{
    const QString photo = testmedia::mediaFile("mate-backgrounds/usr/share/backgrounds/mate/nature/Garden.jpg");
    const cv::Mat source = photo.isEmpty() ? cv::Mat() : cv::imread(photo.toStdString());
    if (source.empty())
        return {};
    QDir().mkpath(folder);
    const cv::Size shot(1280, 800);
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        const cv::Rect window(600 + 3 * i, 400 + 2 * (i % 3), shot.width, shot.height);
        const QString path = QString("%1/Burst_%2.jpg").arg(folder).arg(i + 1, 2, 10, QChar('0'));
        if (!cv::imwrite(path.toStdString(), source(window)))
            return {};
        paths << path;
    }
    return paths;
}

QString exifTag(const QString& file, const char* tag)
{
    QProcess tool;
    tool.start(QStringLiteral("exiftool"), {QStringLiteral("-s3"), QString("-%1").arg(tag), file});
    tool.waitForFinished(30000);
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

QStringList linesOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

// A folder that refuses new files, even to a privileged user.
QString unwritableFolder(const QString& parent)
{
    const QString folder = parent + "/locked";
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QFile probe(folder + "/probe");
    if (!probe.open(QIODevice::WriteOnly))
        return folder;
    probe.remove();
    return QStringLiteral("/proc");
}

class UserJourney : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!windowtest::hasRealDisplay())
            GTEST_SKIP() << "no X display; test.sh runs these on its Xvfb";
    }

    void TearDown() override
    {
        if (session)
            session->discardMedia();
    }

    void start(std::unique_ptr<WindowSession> made)
    {
        session = std::move(made);
        show();
        out = session->environment().filesFolder() + "/out";
        QDir().mkpath(out);
    }

    void show()
    {
        session->window().setGeometry(windowtest::screenGeometry());
        session->window().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&session->window()));
    }

    // An editing step is on show once its preset previews are in and laid out.
    void photograph(const QString& step)
    {
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                const Workspace* open = session->workspace();
                return !open || open->state != StateEditing || open->presetPreviewsShown();
            },
            kRunTimeoutMs));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        const QString name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        windowtest::photograph(QString("Journey_%1_%2").arg(name, step));
    }

    // The question box answered with the button, photographed first.
    void answer(ModalScript& script, const QString& text, QMessageBox::StandardButton button, const QString& step)
    {
        script.expect(ModalScript::Kind::MessageBox, text, [=](QWidget* box) {
            photograph(step);
            static_cast<QMessageBox*>(box)->button(button)->click();
        });
    }

    static void chooseFolder(ModalScript& script, const QString& folder)
    {
        script.expect(ModalScript::Kind::FileDialog, QString(), [folder](QWidget* modal) {
            auto* dialog = static_cast<QFileDialog*>(modal);
            dialog->setDirectory(folder);
            QMetaObject::invokeMethod(dialog, "accept");
        });
    }

    template <typename Widget>
    Widget* find(const char* name)
    {
        Widget* found = session->find<Widget>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    void click(const char* button) { QTest::mouseClick(find<QPushButton>(button), Qt::LeftButton); }

    // The parameters step's Compute, answered by the script until the run ends. The
    // answers may close the media: only the open one is read.
    void compute(ModalScript& script)
    {
        click("pushButton_DefineParamsNext");
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                const Workspace* open = session->workspace();
                return !open || open->state != StateStacking;
            },
            kRunTimeoutMs));
        EXPECT_TRUE(script.waitUntilAnswered());
    }

    // Drops the files on the window as a file manager does.
    void drop(const QStringList& paths)
    {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& path : paths)
            urls << QUrl::fromLocalFile(path);
        data.setUrls(urls);
        const QPoint at = session->window().rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&session->window(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&session->window(), &dropped);
    }

    // Drags the label along the timeline by dx pixels of the window.
    void dragMarker(QLabel* marker, int dx)
    {
        const QPoint from = marker->rect().center();
        QTest::mousePress(marker, Qt::LeftButton, Qt::NoModifier, from);
        const QPoint to = marker->mapTo(&session->window(), from) + QPoint(dx, 0);
        QMouseEvent move(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&session->window(), &move);
        QTest::mouseRelease(marker, Qt::LeftButton);
    }

    // Moves one end of the horizon line upwards, as a drag from that end.
    static void tiltHorizon(ResizableLine* line, int dy)
    {
        const QPoint end = line->p2();
        QMouseEvent hover(QEvent::MouseMove, end, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(line, &hover);
        QMouseEvent drag(QEvent::MouseMove, end - QPoint(0, dy), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(line, &drag);
    }

    std::unique_ptr<WindowSession> session;
    QString out;
};

}  // namespace

TEST_F(UserJourney, PhoneVideoFromAFrameToAnExportedJpeg)
{
    const QString video = generatedmedia::phoneVideo();
    if (video.isEmpty())
        GTEST_SKIP() << "the real phone video is not in the test media";
    start(std::make_unique<WindowSession>());
    VellumbraV2& window = session->window();

    window.openFile(video);
    Workspace* open = session->workspace();
    ASSERT_NE(open, nullptr);
    ImagesSequence* frames = open->frameSource.get();
    EXPECT_EQ(open->state, StateBrowse);
    // The floating histogram leaves the menus and the left panel uncovered.
    const QRect histogram = find<QDockWidget>("dockWidget_Histogram")->frameGeometry();
    for (QWidget* covered : {static_cast<QWidget*>(window.menuBar()), find<QWidget>("frame_MainOptions")})
        EXPECT_FALSE(histogram.intersects(QRect(covered->mapToGlobal(QPoint(0, 0)), covered->size())))
            << covered->objectName().toStdString();
    photograph("01Opened");

    window.showFrameIndex(24);
    EXPECT_TRUE(QTest::qWaitFor([&] { return frames->getCurrentIndex() == 24; }, 10000));
    photograph("02Frame24");

    find<QSpinBox>("spinBox_FindSharpestImage")->setValue(6);
    click("pushButton_FindSharpestImage");
    const auto& candidates = ProSharpestImageSelection::tiles();
    ASSERT_FALSE(candidates.empty());
    ProSharpestImageSelection* picked = candidates.back();
    photograph("03SharpestFrames");
    QTest::mouseClick(picked, Qt::LeftButton);
    const int chosen = picked->frameIndex();
    EXPECT_TRUE(QTest::qWaitFor([&] { return frames->getCurrentIndex() == chosen; }, 10000));
    photograph("04Picked");

    click("pushButton_SelectImageNext");
    ASSERT_EQ(open->state, StateDefineParameters);
    EXPECT_EQ(open->currentFrame, chosen);
    auto* before = find<QSpinBox>("spinBox_ImageStackingBefore");
    auto* after = find<QSpinBox>("spinBox_ImageStackingAfter");
    before->setValue(4);
    after->setValue(4);
    EXPECT_EQ(frames->firstIndex, std::max(0, chosen - 4));
    EXPECT_EQ(frames->lastIndex, std::min(frames->frameCount - 1, chosen + 4));
    photograph("05RangeBySpinBoxes");
    const int lastBeforeDrag = frames->lastIndex;
    dragMarker(find<QLabel>("label_TrimEndPlayingBar"), -find<QLabel>("label_ForegroundMidPlayingBar")->width() / 3);
    EXPECT_LT(frames->lastIndex, lastBeforeDrag);
    EXPECT_EQ(after->value(), frames->lastIndex - open->currentFrame);
    photograph("06RangeByTrimMarker");

    find<QCheckBox>("checkBox_Align")->setChecked(true);
    const QString light = out + "/light.exr";
    const int stacked = before->value() + after->value() + 1;
    {
        ModalScript script;
        answer(script, translate("RecommendedSavingHDRimage"), QMessageBox::Yes, "07SaveQuestion");
        script.chooseFiles({light});
        compute(script);
    }
    ASSERT_EQ(open->state, StateEditing);
    EXPECT_EQ(open->stackedFrameCount, stacked);
    cv::Mat saved;
    EXPECT_EQ(readImage(saved, light.toStdString(), false).depth(), CV_32F);
    photograph("08Editing");

    auto* saturation = find<QSlider>("horizontalSlider_TMSaturation");
    const int saturationAtStart = saturation->value();
    saturation->setValue(saturationAtStart + 30);
    photograph("09ColourSlider");
    auto* operatorSlider = find<QSlider>("horizontalSlider_TMAlpha");
    const int operatorAtStart = operatorSlider->value();
    operatorSlider->setValue(operatorAtStart + 20);
    EXPECT_TRUE(QTest::qWaitFor([&] { return open->state == StateEditing; }, kRunTimeoutMs));
    photograph("10OperatorSlider");
    find<QAction>("actionUndo")->trigger();
    EXPECT_EQ(operatorSlider->value(), operatorAtStart);
    find<QAction>("actionRedo")->trigger();
    EXPECT_EQ(operatorSlider->value(), operatorAtStart + 20);
    photograph("11UndoRedo");

    QLabel* picture = find<QLabel>("label_VideoPreview");
    window.PushButtonCropToolClicked();
    auto* frame = picture->findChild<ResizableFrame*>();
    ASSERT_NE(frame, nullptr);
    frame->setGeometry(picture->width() / 8, picture->height() / 8, picture->width() * 3 / 4, picture->height() * 3 / 4);
    photograph("12CropTool");
    window.PushButtonApplyToolsClicked();
    EXPECT_EQ(open->state, StateEditing);
    EXPECT_GT(open->renderPipeline->crop().width, 0);
    window.PushButtonHorizonToolClicked();
    auto* horizon = picture->findChild<ResizableLine*>();
    ASSERT_NE(horizon, nullptr);
    tiltHorizon(horizon, picture->height() / 20);
    photograph("13HorizonTool");
    window.PushButtonApplyToolsClicked();
    EXPECT_EQ(open->state, StateEditing);
    EXPECT_NE(find<QSlider>("horizontalSlider_Rotation_2")->value(), 0);
    photograph("14CroppedAndLevelled");

    QTest::mouseDClick(saturation, Qt::LeftButton, Qt::NoModifier, saturation->rect().center());
    EXPECT_EQ(saturation->value(), saturationAtStart);

    {
        ModalScript script;
        script.inputText("Evening");
        click("pushButton_UserPresetsNew");
    }
    ASSERT_EQ(open->userPresetTiles.size(), 1u);
    EXPECT_STREQ(open->userPresetTiles.front()->preset()->name, "Evening");
    ASSERT_GT(open->factoryPresetTiles.size(), 1u);
    PresetImage* factory = open->factoryPresetTiles[1];
    QTest::mouseClick(factory->findChild<QLabel*>("label_ImageReferenced"), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return open->state == StateEditing; }, kRunTimeoutMs));
    EXPECT_EQ(saturation->value(), factory->preset()->saturation);
    photograph("15Presets");

    const QString exported = out + "/Result.jpg";
    {
        ModalScript script;
        script.chooseFiles({exported});
        EXPECT_TRUE(window.PushButtonEditingExportClicked(open->tiles.front()));
    }
    cv::Mat written;
    EXPECT_FALSE(readImage(written, exported.toStdString(), false).empty());
    if (!QStandardPaths::findExecutable(QStringLiteral("exiftool")).isEmpty()) {
        EXPECT_EQ(exifTag(exported, "CreateDate"), exifTag(video, "CreateDate"));
    }
    photograph("16Exported");

    {
        ModalScript script;
        answer(script, translate("ExplClosingWorkspace2"), QMessageBox::Discard, "17CloseQuestion");
        find<QAction>("actionClose")->trigger();
    }
    EXPECT_EQ(session->workspace(), nullptr);
    photograph("18Home");
}

TEST_F(UserJourney, DroppedBurstExportedAsSixteenBitTiffBesideExistingFiles)
{
    start(std::make_unique<WindowSession>());
    const QStringList burst = realBurst(session->environment().filesFolder() + "/burst", 5);
    if (burst.isEmpty())
        GTEST_SKIP() << "the real photograph is not in the test media";

    drop(burst);
    Workspace* open = session->workspace();
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->burstPaths.size(), 5);
    EXPECT_EQ(open->state, StateBrowse);
    photograph("01Dropped");

    // Two results: the whole burst, then the middle three shots.
    const int ranges[][2] = {{2, 2}, {1, 1}};
    int result = 0;
    for (const auto& range : ranges) {
        session->window().showFrameIndex(2);
        EXPECT_TRUE(QTest::qWaitFor([&] { return open->frameSource->getCurrentIndex() == 2; }, 10000));
        session->window().changeStep(2);
        ASSERT_EQ(open->state, StateDefineParameters);
        find<QSpinBox>("spinBox_ImageStackingBefore")->setValue(range[0]);
        find<QSpinBox>("spinBox_ImageStackingAfter")->setValue(range[1]);
        find<QCheckBox>("checkBox_Align")->setChecked(true);
        photograph(QString("0%1Parameters").arg(2 + 2 * result));
        ModalScript script;
        script.messageBox(translate("RecommendedSavingHDRimage"), QMessageBox::No);
        compute(script);
        ASSERT_EQ(open->state, StateEditing);
        EXPECT_EQ(open->stackedFrameCount, range[0] + range[1] + 1);
        photograph(QString("0%1Result").arg(3 + 2 * result++));
    }
    ASSERT_EQ(open->tiles.size(), 2u);

    // Both names are taken already: one answer serves the two files.
    QStringList existing;
    for (SharpestImageSelection* tile : open->tiles) {
        existing << out + "/" + tile->title() + ".tif";
        ASSERT_TRUE(writeImage(existing.back().toStdString(), cv::Mat(8, 8, CV_8UC3, cv::Scalar::all(7)), "", ""));
    }
    {
        ModalScript script;
        chooseFolder(script, out);
        script.saveOptions(0, 0);
        script.expect(ModalScript::Kind::MessageBox, translate("SavingFileAlreadyExist"), [&](QWidget* modal) {
            auto* box = static_cast<QMessageBox*>(modal);
            box->checkBox()->setChecked(true);
            photograph("06NameTaken");
            box->button(QMessageBox::No)->click();
        });
        answer(script, translate("ExportAll"), QMessageBox::Ok, "07FilesWritten");
        EXPECT_TRUE(session->window().PushButtonEditingExportClicked(nullptr));
    }
    for (const QString& taken : existing) {
        cv::Mat kept, added;
        EXPECT_EQ(readImage(kept, taken.toStdString(), false).cols, 8) << taken.toStdString();
        const QString unique = QString(taken).replace(".tif", "-1.tif");
        readImage(added, unique.toStdString(), false);
        EXPECT_EQ(added.depth(), CV_16U) << unique.toStdString();
        EXPECT_EQ(added.cols, 1280) << unique.toStdString();
    }
    photograph("07Exported");
}

TEST_F(UserJourney, OnePhotoEditedThenExportAllIntoALockedFolderKeepsItOpen)
{
    const QString photo = testmedia::mediaFile("forensics-samples-files/usr/share/forensics-samples/original-files/pic1/IMG_1054.JPG");
    if (photo.isEmpty())
        GTEST_SKIP() << "the real photo is not in the test media";
    start(std::make_unique<WindowSession>());

    session->window().openFile(photo);
    Workspace* open = session->workspace();
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->state, StateEditing);
    EXPECT_EQ(find<QFrame>("frame_TopMenu")->property("nbMenu").toString(), "2");
    EXPECT_EQ(find<QLabel>("label_Step1")->text(), translate("Step").arg(1) + translate("PROOnlyTMStep1"));
    EXPECT_EQ(find<QLabel>("label_Step2")->text(), translate("Step").arg(2) + translate("PROOnlyTMStep2"));
    photograph("01TwoSteps");

    find<QSlider>("horizontalSlider_TMExposition")->setValue(25);
    find<QSlider>("horizontalSlider_TMVibrance")->setValue(40);
    photograph("02Edited");

    const QString locked = unwritableFolder(out);
    {
        ModalScript script;
        answer(script, translate("ExplClosingWorkspace2"), QMessageBox::Save, "03CloseQuestion");
        chooseFolder(script, locked);
        script.saveOptions(2, 0);
        answer(script, locked, QMessageBox::Ok, "04CannotWrite");
        EXPECT_FALSE(session->window().MenuActionCloseClicked());
    }
    EXPECT_EQ(session->workspace(), open);
    EXPECT_EQ(open->state, StateEditing);
    photograph("05StillOpen");
}

TEST_F(UserJourney, PluginHandOffOfThreePhotos)
{
    // The catalogue's own folder, where the plug-in reads what was saved.
    QTemporaryDir catalogue;
    const QString handOffFile = catalogue.path() + "/handoff.txt";
    start(std::make_unique<WindowSession>(handOffFile, QString("second")));
    const QStringList photos = realBurst(session->environment().filesFolder() + "/photos", 3);
    if (photos.isEmpty())
        GTEST_SKIP() << "the real photograph is not in the test media";
    const bool quitOnClose = QGuiApplication::quitOnLastWindowClosed();
    QGuiApplication::setQuitOnLastWindowClosed(false);
    VellumbraV2& window = session->window();

    window.openFilesFromCommandLine(photos);
    Workspace* open = session->workspace();
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->burstPaths.size(), 3);
    photograph("01Opened");

    const auto stackAndSave = [&](const QString& light, QMessageBox::StandardButton closeOrReturn, const QString& step) {
        window.showFrameIndex(1);
        EXPECT_TRUE(QTest::qWaitFor([&] { return open->frameSource->getCurrentIndex() == 1; }, 10000));
        click("pushButton_SelectImageNext");
        ASSERT_EQ(open->state, StateDefineParameters);
        find<QSpinBox>("spinBox_ImageStackingBefore")->setValue(1);
        find<QSpinBox>("spinBox_ImageStackingAfter")->setValue(1);
        ModalScript script;
        answer(script, translate("SatisfiedWithHDRImage"), QMessageBox::Yes, step + "Satisfied");
        script.chooseFiles({light});
        answer(script, translate("CloseVellumbra"), closeOrReturn, step + "CloseOrReturn");
        compute(script);
        EXPECT_TRUE(linesOf(handOffFile).contains(handOffLine(light).trimmed())) << light.toStdString();
    };

    stackAndSave(out + "/first.exr", QMessageBox::No, "02");
    open = session->workspace();
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->burstPaths, photos);
    EXPECT_EQ(open->state, StateBrowse);
    photograph("03Returned");

    const QString frame = out + "/frame.jpg";
    {
        ModalScript script;
        script.chooseFiles({frame});
        answer(script, translate("ImportToLR"), QMessageBox::Yes, "04ImportFrame");
        window.saveCurrentFrame();
    }
    EXPECT_TRUE(QFile::exists(frame));
    EXPECT_TRUE(linesOf(handOffFile).contains(handOffLine(frame).trimmed()));

    stackAndSave(out + "/second.exr", QMessageBox::Yes, "05");
    EXPECT_EQ(session->workspace(), nullptr);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(linesOf(handOffFile).size(), 3);
    QGuiApplication::setQuitOnLastWindowClosed(quitOnClose);
}

TEST_F(UserJourney, InstallerRunInFrenchThenTheNextStartSpeaksFrench)
{
    start(std::make_unique<WindowSession>());
    EXPECT_EQ(find<QMenu>("menuFile")->title(), "File");
    photograph("01English");

    QProcess installer;
    installer.start(VB_APPLICATION_PATH, {"-ii", "Francais"});
    ASSERT_TRUE(installer.waitForFinished(30000));
    EXPECT_EQ(installer.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(installer.exitCode(), 0);

    session->restartWindow();
    show();
    struct Shown {
        const char* widget;
        QString text;
    };
    const Shown french[] = {
        {"menuFile", "Fichier"},
        {"menuHelp", "Aide"},
        {"label_DropFiles", "Déposez vos fichiers ici"},
        {"pushButton_OpenVideo", "Ouvrir un fichier"},
        {"label_RecentFilesTitle", "Fichiers récents"},
    };
    for (const Shown& s : french) {
        QObject* widget = session->find<QObject>(s.widget);
        ASSERT_NE(widget, nullptr) << s.widget;
        const QString shown = widget->property(qobject_cast<QMenu*>(widget) ? "title" : "text").toString();
        EXPECT_EQ(shown, s.text) << s.widget;
    }
    photograph("02French");

    // Later tests speak English again.
    LanguageEngine::setLanguage("English");
}
