#include "GeneratedMedia.h"
#include "HandOffFile.h"
#include "ImageIO.h"
#include "ImagesSequence.h"
#include "LanguageEngine.h"
#include "ModalScript.h"
#include "RenderPipeline.h"
#include "SharpestImageSelection.h"
#include "StackingContext.h"
#include "TemporaryEnvironment.h"
#include "TestMedia.h"
#include "WindowSession.h"
#include "Workspace.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QProcess>
#include <QProgressBar>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <mutex>
#include <thread>

using windowtest::ModalScript;
using windowtest::WindowSession;

namespace {

// The real HDR photograph of the test media, reduced so that renders stay quick.
cv::Mat realLightImage()
{
    const QString path =
        testmedia::mediaFile("blender-data/usr/share/blender/datafiles/studiolights/world/courtyard.exr");
    cv::Mat image;
    if (path.isEmpty() || readImage(image, path.toStdString(), false).empty())
        return cv::Mat();
    cv::Mat small;
    cv::resize(image, small, cv::Size(320, 160), 0, 0, cv::INTER_AREA);
    return small;
}

// Chooses the folder in a directory dialog.
void chooseFolder(ModalScript& script, const QString& folder)
{
    script.expect(ModalScript::Kind::FileDialog, QString(), [folder](QWidget* modal) {
        auto* dialog = static_cast<QFileDialog*>(modal);
        dialog->setDirectory(folder);
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

// Answers the existing-file question, ticking its check box first when asked to.
void answerExisting(ModalScript& script, QMessageBox::StandardButton button, bool forTheOthers)
{
    script.expect(ModalScript::Kind::MessageBox, translate("SavingFileAlreadyExist"), [=](QWidget* modal) {
        auto* box = static_cast<QMessageBox*>(modal);
        if (forTheOthers)
            box->checkBox()->setChecked(true);
        box->button(button)->click();
    });
}

bool hasExiftool()
{
    return !QStandardPaths::findExecutable(QStringLiteral("exiftool")).isEmpty();
}

QString keywordsOf(const QString& file)
{
    QProcess tool;
    tool.start(QStringLiteral("exiftool"), {QStringLiteral("-s3"), QStringLiteral("-Keywords"), file});
    tool.waitForFinished(30000);
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

class ExportWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        light = realLightImage();
        if (light.empty())
            GTEST_SKIP() << "the real HDR photograph is not in the test media";
        session = std::make_unique<WindowSession>();
        out = session->environment().filesFolder() + "/out";
        QDir().mkpath(out);
    }

    // An editing workspace over the real phone video whose results are the titled tiles.
    Workspace* editPhoneVideo(const QStringList& titles)
    {
        const QString video = generatedmedia::phoneVideo();
        if (video.isEmpty())
            return nullptr;
        return edit(session->adoptVideo(video), titles);
    }

    Workspace* edit(Workspace* open, const QStringList& titles) { return edit(*session, open, titles); }

    Workspace* edit(WindowSession& in, Workspace* open, const QStringList& titles)
    {
        auto* row = in.find<QWidget>("scrollAreaWidgetContents_ProEditingSelection");
        for (int i = titles.size() - 1; i >= 0; --i) {
            SharpestImageSelection* tile = open->addImageTile(light, row);
            tile->pipeline().setSourceImage(light, true);
            tile->enterEditionMode(titles[i]);
        }
        open->selectTile(open->tiles.front());
        open->state = StateEditing;
        return open;
    }

    std::unique_ptr<WindowSession> session;
    QString out;
    cv::Mat light;
};

}  // namespace

TEST_F(ExportWindow, OneTileAsJpegTakesTheChosenNameWithTheSourceMetadata)
{
    Workspace* open = editPhoneVideo({"01"});
    if (!open)
        GTEST_SKIP() << "the real phone video is not in the test media";
    {
        ModalScript script;
        script.chooseFiles({out + "/Photo.JPG"});
        EXPECT_TRUE(session->window().PushButtonEditingExportClicked(open->tiles.front()));
    }
    const QString written = out + "/Photo.jpg";
    cv::Mat picture;
    EXPECT_EQ(readImage(picture, written.toStdString(), false).size(), light.size());
    EXPECT_EQ(open->tiles.front()->title(), "Photo");
    EXPECT_EQ(QSettings().value("UserParameters/savingFilterIndexForTMImage").toInt(), 2);
    EXPECT_EQ(open->state, StateEditing);
    EXPECT_FALSE(open->undoRedoManager.canUndo());
    if (hasExiftool()) {
        EXPECT_TRUE(keywordsOf(written).contains("Vellumbra")) << keywordsOf(written).toStdString();
    }
}

TEST_F(ExportWindow, AllTilesAsSixteenBitTiffIntoTheChosenFolder)
{
    Workspace* open = editPhoneVideo({"01", "02", "03"});
    if (!open)
        GTEST_SKIP() << "the real phone video is not in the test media";
    {
        ModalScript script;
        chooseFolder(script, out);
        script.saveOptions(0, 0);
        script.messageBox(translate("ExportAll"), QMessageBox::Ok);
        EXPECT_TRUE(session->window().PushButtonEditingExportClicked(nullptr));
    }
    for (const char* name : {"01", "02", "03"}) {
        cv::Mat picture;
        readImage(picture, QString("%1/%2.tif").arg(out, name).toStdString(), false);
        EXPECT_EQ(picture.depth(), CV_16U) << name;
        EXPECT_EQ(picture.size(), light.size()) << name;
        if (hasExiftool()) {
            EXPECT_TRUE(keywordsOf(QString("%1/%2.tif").arg(out, name)).contains("Vellumbra")) << name;
        }
    }
}

TEST_F(ExportWindow, ExistingFilesAreReplacedOrGetTheNextFreeNumber)
{
    struct Case {
        const char* name;
        QStringList titles;
        std::function<void(ModalScript&)> answers;
        QStringList expected;
    };
    const Case cases[] = {
        {"unique name for one tile", {"photo"},
         [&](ModalScript& s) {
             s.chooseFiles({out + "/photo.png"});
             s.saveOptions(-1, 0);
             answerExisting(s, QMessageBox::No, false);
         },
         {"photo.png", "photo-1.png"}},
        {"a repeated title takes the next free names unasked", {"same", "same", "same"},
         [&](ModalScript& s) {
             chooseFolder(s, out);
             s.saveOptions(6, 0);
             s.messageBox("same.png\nsame-1.png (\u201csame\u201d)\nsame-2.png (\u201csame\u201d)", QMessageBox::Ok);
         },
         {"photo.png", "photo-1.png", "same.png", "same-1.png", "same-2.png"}},
    };
    // One file is there before the first export.
    ASSERT_TRUE(writeImage((out + "/photo.png").toStdString(), cv::Mat(4, 4, CV_8UC3, cv::Scalar::all(9)), "", ""));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Workspace* open = edit(session->adoptPhoto(generatedmedia::writeBurst(session->environment().filesFolder(), 1, "png").paths[0]),
                               c.titles);
        {
            ModalScript script;
            c.answers(script);
            EXPECT_TRUE(session->window().PushButtonEditingExportClicked(c.titles.size() == 1 ? open->tiles[0] : nullptr));
        }
        QStringList files = QDir(out).entryList(QDir::Files);
        files.sort();
        QStringList expected = c.expected;
        expected.sort();
        EXPECT_EQ(files, expected);
        session->discardMedia();
    }
}

TEST_F(ExportWindow, AFailedWriteIsReportedAndClosingKeepsTheMedia)
{
    Workspace* open = edit(session->adoptPhoto(generatedmedia::writeBurst(session->environment().filesFolder(), 1, "png").paths[0]),
                           {"01", "02"});
    // A folder stands where the second file goes: its write fails even for a privileged user.
    ASSERT_TRUE(QDir().mkpath(out + "/02.jpg"));
    {
        ModalScript script;
        script.messageBox(translate("ExplClosingWorkspace2"), QMessageBox::Save);
        chooseFolder(script, out);
        script.saveOptions(2, 0);
        answerExisting(script, QMessageBox::Yes, false);
        script.messageBox("02.jpg", QMessageBox::Ok);
        script.messageBox("\n01.jpg", QMessageBox::Ok);
        EXPECT_FALSE(session->window().MenuActionCloseClicked());
    }
    EXPECT_EQ(session->workspace(), open);
    EXPECT_EQ(open->state, StateEditing);
    EXPECT_TRUE(QFile::exists(out + "/01.jpg"));

    // A folder that cannot be written to at all.
    if (QFile::setPermissions(out, QFileDevice::ReadOwner | QFileDevice::ExeOwner) && !QFile(out + "/x").open(QIODevice::WriteOnly)) {
        ModalScript script;
        chooseFolder(script, out);
        script.saveOptions(2, 0);
        script.messageBox(translate("SavingFileAlreadyExist"), QMessageBox::Yes);
        script.messageBox(translate("SavingFileAlreadyExist"), QMessageBox::Yes);
        script.messageBox("01.jpg", QMessageBox::Ok);
        EXPECT_FALSE(session->window().PushButtonEditingExportClicked(nullptr));
        EXPECT_EQ(session->workspace(), open);
    }
    QFile::setPermissions(out, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST_F(ExportWindow, BackingOutOfADialogExportsNothing)
{
    Workspace* open = edit(session->adoptPhoto(generatedmedia::writeBurst(session->environment().filesFolder(), 1, "png").paths[0]),
                           {"01", "02"});
    const std::function<void(ModalScript&)> scripts[] = {
        [](ModalScript& s) { s.cancelFileDialog(); },
        [&](ModalScript& s) {
            chooseFolder(s, out);
            s.saveOptions(0, 0, false);
        },
        [&](ModalScript& s) { s.chooseFiles({out + "/x.jpeg"}).messageBox(translate("ErrorExtension"), QMessageBox::Ok); },
        [&](ModalScript& s) { s.chooseFiles({out + "/x.png"}).saveOptions(-1, 0, false); },
    };
    for (size_t i = 0; i < std::size(scripts); ++i) {
        ModalScript script;
        scripts[i](script);
        EXPECT_FALSE(session->window().PushButtonEditingExportClicked(i < 2 ? nullptr : open->tiles[0])) << i;
    }
    EXPECT_TRUE(QDir(out).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(open->state, StateEditing);
}

TEST_F(ExportWindow, TheLightImageSavedAsExrReadsBackEqual)
{
    Workspace* open = session->adoptPhoto(generatedmedia::writeBurst(session->environment().filesFolder(), 1, "png").paths[0]);
    auto* context = new StackingContext();
    context->lightImage = light.clone();
    open->setStackingContext(context);
    EXPECT_TRUE(session->window().saveHDRimage().isEmpty()) << "outside the stacking state";
    open->state = StateStacking;
    QString saved;
    {
        ModalScript script;
        script.chooseFiles({out + "/light.exr"});
        saved = session->window().saveHDRimage();
    }
    EXPECT_EQ(saved, QFileInfo(out + "/light.exr").absoluteFilePath());
    EXPECT_EQ(open->savedResultName, "light");
    EXPECT_EQ(open->savedResultDepth, 32);
    EXPECT_EQ(QSettings().value("UserParameters/savingFilterIndexForHDRImage").toInt(), 4);
    cv::Mat back;
    readImage(back, saved.toStdString(), false);
    ASSERT_EQ(back.size(), light.size());
    ASSERT_EQ(back.type(), light.type());
    // Light above full scale included.
    EXPECT_EQ(cv::norm(back, light, cv::NORM_INF), 0.0);
}

TEST(HandOffSaves, FramesSavedInHandOffModeWriteTheirLines)
{
    windowtest::WindowSession environment;
    const QString folder = environment.environment().filesFolder();
    const generatedmedia::Clip clip = generatedmedia::writeClip(folder, 12, 6);
    const QString handOff = folder + "/handoff.txt";
    VellumbraV2 window(handOff, QString());
    window.adoptWorkspace(new Workspace(clip.path, true));
    struct Case {
        const char* name;
        QString file;
        QMessageBox::StandardButton answer;
        bool written;
    };
    const Case cases[] = {
        {"yes", folder + "/a.jpg", QMessageBox::Yes, true},
        {"no", folder + "/b.jpg", QMessageBox::No, false},
        {"yes again", folder + "/c.tga", QMessageBox::Yes, true},
    };
    QStringList expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModalScript script;
        script.chooseFiles({c.file});
        script.messageBox(translate("ImportToLR"), c.answer);
        window.saveCurrentFrame();
        if (c.written)
            expected << QString(c.file).replace('/', '\\');
    }
    QFile lines(handOff);
    ASSERT_TRUE(lines.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromLocal8Bit(lines.readAll()), expected.join('\n') + '\n');
    cv::Mat frame;
    EXPECT_FALSE(readImage(frame, (folder + "/b.jpg").toStdString(), false).empty());
}

TEST_F(ExportWindow, TitlesBecomeFileNamesInsideTheChosenFolder)
{
    edit(session->adoptPhoto(generatedmedia::writeBurst(session->environment().filesFolder(), 1, "png").paths[0]),
         {"../up", "a/b\\c", QString("tab\tname")});
    {
        ModalScript script;
        chooseFolder(script, out);
        script.saveOptions(6, 0);
        script.messageBox(translate("ExportAll"), QMessageBox::Ok);
        EXPECT_TRUE(session->window().PushButtonEditingExportClicked(nullptr));
    }
    QStringList files = QDir(out).entryList(QDir::Files);
    files.sort();
    EXPECT_EQ(files, (QStringList{"___up.png", "a_b_c.png", "tab_name.png"}));
    EXPECT_FALSE(QFile::exists(session->environment().filesFolder() + "/up.png"));
}

TEST_F(ExportWindow, CancellingTheRenderStopsTheExportAndReportsFailure)
{
    cv::resize(light, light, cv::Size(2400, 1200));
    Workspace* open =
        edit(session->adoptPhoto(generatedmedia::writeBurst(session->environment().filesFolder(), 1, "png").paths[0]),
             {"01", "02", "03"});
    // What the cancel button does in the export state, pressed until the render notices:
    // the shown pipeline's operator stops.
    QTimer cancel;
    QObject::connect(&cancel, &QTimer::timeout, [&] {
        if (open->state == StateExport && open->renderPipeline && open->renderPipeline->toneMapper())
            open->renderPipeline->toneMapper()->cancel = true;
    });
    cancel.start(1);
    {
        ModalScript script;
        chooseFolder(script, out);
        script.saveOptions(2, 0);
        EXPECT_FALSE(session->window().PushButtonEditingExportClicked(nullptr));
    }
    cancel.stop();
    EXPECT_TRUE(QDir(out).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(open->state, StateEditing);
}

namespace {

const QString kFullDisk = QStringLiteral("/dev/full");

// A clip open in the stacking state, its light image made: where the end of a
// stacking run asks to save it.
Workspace* stackedClip(WindowSession& session, const cv::Mat& light)
{
    const generatedmedia::Clip clip = generatedmedia::writeClip(session.environment().filesFolder(), 12, 6);
    Workspace* open = session.adoptVideo(clip.path);
    auto* context = new StackingContext();
    context->lightImage = light.clone();
    open->setStackingContext(context);
    open->state = 8;
    return open;
}

bool readable(const QString& path)
{
    cv::Mat picture;
    return !readImage(picture, path.toStdString(), false).empty();
}

}  // namespace

// Every save dialog as a user meets it: Save pressed on the name it proposes, a
// sub-folder clicked in the list. Each road's files land where the user saw them.
TEST_F(ExportWindow, ProposedNamesAreSavedAndThePickedFolderIsUsed)
{
    struct Road {
        const char* name;
        bool handOffMode;
        // Runs the road with files under `folder`; the files that must exist afterwards.
        std::function<QStringList(WindowSession&, ModalScript&, const QString& folder)> run;
    };
    const auto photoWithTiles = [this](WindowSession& s, const QStringList& titles) {
        return edit(s, s.adoptPhoto(generatedmedia::writeBurst(s.environment().filesFolder(), 1, "png").paths[0]), titles);
    };
    const Road roads[] = {
        {"light image", false,
         [&](WindowSession& s, ModalScript& script, const QString&) {
             stackedClip(s, light);
             QString proposed;
             script.acceptProposedName(&proposed);
             const QString saved = s.window().saveHDRimage();
             return QStringList{saved, proposed + ".hdr"};
         }},
        {"displayed frame", false,
         [&](WindowSession& s, ModalScript& script, const QString& folder) {
             const generatedmedia::Clip clip = generatedmedia::writeClip(folder, 12, 6);
             s.adoptVideo(clip.path, 4);
             QString proposed;
             script.acceptProposedName(&proposed).saveOptions(-1, -1);
             s.window().saveCurrentFrame();
             return QStringList{proposed + ".tif", folder + "/" + QFileInfo(clip.path).completeBaseName() + " (4).tif"};
         }},
        {"one tile", false,
         [&](WindowSession& s, ModalScript& script, const QString&) {
             Workspace* open = photoWithTiles(s, {"tile title"});
             QString proposed;
             script.acceptProposedName(&proposed).saveOptions(-1, -1);
             EXPECT_TRUE(s.window().PushButtonEditingExportClicked(open->tiles.front()));
             return QStringList{proposed, QFileInfo(proposed).absolutePath() + "/tile title.tif"};
         }},
        {"one tile, a name typed without extension", false,
         [&](WindowSession& s, ModalScript& script, const QString& folder) {
             Workspace* open = photoWithTiles(s, {"tile title"});
             script.chooseFiles({folder + "/typed"}).saveOptions(-1, -1);
             EXPECT_TRUE(s.window().PushButtonEditingExportClicked(open->tiles.front()));
             return QStringList{folder + "/typed.tif"};
         }},
        {"hand-off mode", true,
         [&](WindowSession& s, ModalScript& script, const QString& folder) {
             stackedClip(s, light);
             QString proposed;
             script.messageBox(translate("SatisfiedWithHDRImage"), QMessageBox::Yes)
                 .acceptProposedName(&proposed)
                 .messageBox(translate("CloseVellumbra"), QMessageBox::Yes);
             s.window().HDRprocessWellFinished(3);
             EXPECT_EQ(s.workspace(), nullptr) << "closed after the hand-off";
             QFile lines(folder + "/handoff.txt");
             EXPECT_TRUE(lines.open(QIODevice::ReadOnly));
             EXPECT_EQ(QString::fromUtf8(lines.readAll()), handOffLine(proposed + ".hdr"));
             return QStringList{proposed + ".hdr"};
         }},
        {"hand-off file on a full disk", true,
         [&](WindowSession& s, ModalScript& script, const QString&) {
             stackedClip(s, light);
             QString proposed;
             script.messageBox(translate("SatisfiedWithHDRImage"), QMessageBox::Yes)
                 .acceptProposedName(&proposed)
                 .messageBox(translate("ErrorHandOff").arg(kFullDisk), QMessageBox::Ok)
                 .messageBox(translate("HandOffFailedTitle"), QMessageBox::Yes);
             s.window().HDRprocessWellFinished(3);
             return QStringList{proposed + ".hdr"};
         }},
        {"export all into a sub-folder", false,
         [&](WindowSession& s, ModalScript& script, const QString& folder) {
             photoWithTiles(s, {"01", "02"});
             QDir(folder).mkpath("picked");
             script.chooseSubfolder(folder, "picked").saveOptions(2, 0).messageBox("\n01.jpg\n02.jpg", QMessageBox::Ok);
             EXPECT_TRUE(s.window().PushButtonEditingExportClicked(nullptr));
             EXPECT_EQ(QDir(folder).entryList({"*.jpg"}, QDir::Files), QStringList()) << "nothing beside it";
             return QStringList{folder + "/picked/01.jpg", folder + "/picked/02.jpg"};
         }},
    };
    session.reset();
    for (const Road& road : roads) {
        SCOPED_TRACE(road.name);
        windowtest::TemporaryEnvironment place;
        const QString folder = place.filesFolder();
        QDir().mkpath(folder);
        const QString handOff = QString(road.name).contains("full disk") ? kFullDisk : folder + "/handoff.txt";
        const auto roadSession =
            road.handOffMode ? std::make_unique<WindowSession>(handOff, "second") : std::make_unique<WindowSession>();
        QStringList expected;
        {
            ModalScript script;
            expected = road.run(*roadSession, script, folder);
        }
        for (const QString& file : expected) {
            EXPECT_TRUE(QFileInfo(file).isFile()) << file.toStdString();
            EXPECT_TRUE(readable(file)) << file.toStdString();
        }
    }
}

namespace {

// While it lives, the allocations of large images of one type on the export's
// threads fail as memory running out would: std::bad_alloc from inside the library.
class RunningOutOfMemory : public cv::MatAllocator {
public:
    RunningOutOfMemory(int type, size_t fromElements) : type(type), fromElements(fromElements)
    {
        cv::Mat::setDefaultAllocator(this);
    }
    ~RunningOutOfMemory() override { cv::Mat::setDefaultAllocator(previous); }

    cv::UMatData* allocate(int dims, const int* sizes, int asked, void* data, size_t* step, cv::AccessFlag flags,
                           cv::UMatUsageFlags usage) const override
    {
        size_t elements = 1;
        for (int i = 0; i < dims; ++i)
            elements *= static_cast<size_t>(sizes[i]);
        if (!data && asked == type && elements >= fromElements && std::this_thread::get_id() != window)
            throw std::bad_alloc();
        return cv::Mat::getStdAllocator()->allocate(dims, sizes, asked, data, step, flags, usage);
    }
    bool allocate(cv::UMatData* data, cv::AccessFlag flags, cv::UMatUsageFlags usage) const override
    {
        return cv::Mat::getStdAllocator()->allocate(data, flags, usage);
    }
    void deallocate(cv::UMatData* data) const override { cv::Mat::getStdAllocator()->deallocate(data); }

private:
    const int type;
    const size_t fromElements;
    const std::thread::id window = std::this_thread::get_id();
    cv::MatAllocator* const previous = cv::Mat::getDefaultAllocator();
};

}  // namespace

// A render or a write that throws ends as a failed write: the files are named in
// the error box, the program and the results stay, and the user stays in editing
// whatever the after-export choice says.
TEST_F(ExportWindow, AThrowingRenderOrWriteIsReportedAndTheResultsStay)
{
    cv::resize(light, light, cv::Size(800, 400));
    const size_t fullSize = static_cast<size_t>(light.total());
    struct Case {
        const char* name;
        int failingType;  // the full-size images that cannot be allocated, -1 none
        bool folderInTheWay;  // a folder stands where 02.jpg goes
        QStringList written, failed;
    };
    const Case cases[] = {
        {"renders run out of memory", CV_32FC3, false, {}, {"01.jpg", "02.jpg"}},
        {"writes run out of memory", CV_8UC3, false, {}, {"01.jpg", "02.jpg"}},
        {"one write cannot replace its file", -1, true, {"01.jpg"}, {"02.jpg"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        if (c.folderInTheWay)
            QDir(out).mkpath("02.jpg");
        Workspace* open = edit(
            session->adoptPhoto(generatedmedia::writeBurst(session->environment().filesFolder(), 1, "png").paths[0]),
            {"01", "02"});
        session->find<QComboBox>("comboBox_WhatAfterExport")->setCurrentIndex(1);
        {
            ModalScript script;
            chooseFolder(script, out);
            script.saveOptions(2, 0);
            if (c.folderInTheWay)
                answerExisting(script, QMessageBox::Yes, false);
            script.expect(ModalScript::Kind::MessageBox, translate("Error"), [&](QWidget* modal) {
                auto* box = static_cast<QMessageBox*>(modal);
                for (const QString& name : c.failed)
                    EXPECT_TRUE(box->text().contains(out + "/" + name)) << box->text().toStdString();
                for (const QString& name : c.written)
                    EXPECT_FALSE(box->text().contains(name)) << box->text().toStdString();
                box->button(QMessageBox::Ok)->click();
            });
            if (!c.written.isEmpty())
                script.messageBox(translate("ExportAll"), QMessageBox::Ok);
            std::unique_ptr<RunningOutOfMemory> shortage;
            if (c.failingType >= 0)
                shortage = std::make_unique<RunningOutOfMemory>(c.failingType, fullSize);
            EXPECT_FALSE(session->window().PushButtonEditingExportClicked(nullptr));
        }
        EXPECT_EQ(session->workspace(), open);
        EXPECT_EQ(open->state, 5);
        EXPECT_EQ(open->tiles.size(), 2u);
        for (const QString& name : c.written)
            EXPECT_TRUE(readable(out + "/" + name)) << name.toStdString();
        EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), c.written.size());
        session->discardMedia();
    }
}

TEST_F(ExportWindow, TheProgressNamesEachStepOfTheRender)
{
    cv::resize(light, light, cv::Size(2400, 1200));
    edit(session->adoptPhoto(generatedmedia::writeBurst(session->environment().filesFolder(), 1, "png").paths[0]),
         {"01", "02"});
    auto* progress = session->find<QProgressBar>("progressBar_Computing");
    QSet<QString> shown;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] { shown.insert(progress->format()); });
    watch.start(1);
    {
        ModalScript script;
        chooseFolder(script, out);
        script.saveOptions(2, 0);
        script.messageBox(translate("ExportAll"), QMessageBox::Ok);
        EXPECT_TRUE(session->window().PushButtonEditingExportClicked(nullptr));
    }
    watch.stop();
    QStringList steps;
    for (const char* key :
         {"ApplyRotation", "ApplyCrop", "ApplyToneMap", "ApplyingSharpenning", "ApplyingColorModifications"})
        steps << translate(key);
    QSet<QString> stepsShown;
    for (const QString& format : shown)
        for (const QString& step : steps)
            if (format.startsWith(step))
                stepsShown.insert(step);
    EXPECT_TRUE(stepsShown.contains(translate("ApplyToneMap")));
    EXPECT_GE(stepsShown.size(), 2) << QStringList(shown.values()).join(" | ").toStdString();
}
