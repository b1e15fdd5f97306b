#include "CommandLine.h"
#include "GeneratedMedia.h"
#include "ImagesSequence.h"
#include "LanguageEngine.h"
#include "MediaFiles.h"
#include "PresetImage.h"
#include "PresetStore.h"
#include "ModalScript.h"
#include "ThumbnailStorage.h"
#include "WindowSession.h"
#include "Workspace.h"

#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QRegularExpression>
#include <QStatusBar>
#include <QUrl>
#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>

using windowtest::ModalScript;
using windowtest::WindowSession;

namespace {

QString statusText(VellumbraV2& window)
{
    for (const QLabel* label : window.statusBar()->findChildren<QLabel*>())
        if (!label->text().isEmpty())
            return label->text();
    return QString();
}

QString writeJunk(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("not a picture, not a film");
    return path;
}

class MediaOpening : public ::testing::Test {
protected:
    WindowSession session;
    VellumbraV2& window = session.window();
    const QString folder = session.environment().filesFolder();

    QListWidget* recentList() { return session.find<QListWidget>("listWidget_RecentFilesThumbnails"); }
    QMenu* recentMenu() { return session.find<QMenu>("menuRecent_videos"); }
};

}  // namespace

TEST(MediaFiles, SuffixesDecideTheRoadInLowerCase)
{
    struct Case {
        const char* path;
        MediaKind kind;
        const char* displayName;
    };
    const Case cases[] = {
        {"/clips/CLIP.MOV", MediaKind::Video, "CLIP[.mov Video]"},
        {"/shots/photo.JPG", MediaKind::Photo, "photo[.jpg Video]"},
        {"/clips/holiday.final.MP4", MediaKind::Video, "holiday.final[.mp4 Video]"},
        {"/raw/IMG_0001.cr2", MediaKind::Photo, "IMG_0001[.cr2 Video]"},
        {"/clips/movie.m4v", MediaKind::Other, "movie[.m4v Video]"},
        {"/notes/readme", MediaKind::Other, "readme[. Video]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(mediaKindOf(c.path), c.kind);
        EXPECT_EQ(mediaDisplayName("Video", c.path), c.displayName);
    }
}

TEST(MediaStatusText, GivesTheSizeAndAVideosRateInHundredths)
{
    const struct {
        std::optional<double> fps;
        const char* text;
    } rows[] = {
        {std::nullopt, "1920x1080"}, {25.0, "1920x1080, 25fps"},       {14.9999, "1920x1080, 15fps"},
        {29.97, "1920x1080, 29.97fps"}, {30000.0 / 1001.0, "1920x1080, 29.97fps"}, {23.976, "1920x1080, 23.98fps"},
        {59.94, "1920x1080, 59.94fps"}, {27.0191, "1920x1080, 27.02fps"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(mediaStatusText(1920, 1080, row.fps).toStdString(), row.text);
}

TEST_F(MediaOpening, ThePhoneVideoOpensWithItsTitleSizeRateAndRecentEntry)
{
    const QString video = generatedmedia::phoneVideo();
    if (video.isEmpty())
        GTEST_SKIP() << "the real phone video is not in the test media";
    ASSERT_TRUE(window.openFile(video));
    Workspace* workspace = session.workspace();
    ASSERT_NE(workspace, nullptr);
    EXPECT_EQ(workspace->state, StateBrowse);
    EXPECT_EQ(window.windowTitle(), "Vellumbra  -  VID_20191220_170832[.mp4 " + translate("Video") + "]");
    // The rate as measured, rounded to hundredths.
    EXPECT_TRUE(QRegularExpression("^1920x1080, [0-9]+(\\.[0-9][0-9]?)?fps$").match(statusText(window)).hasMatch())
        << statusText(window).toStdString();

    ASSERT_EQ(recentList()->count(), 1);
    EXPECT_EQ(recentList()->item(0)->text(), video);
    EXPECT_FALSE(recentList()->item(0)->icon().isNull());
    ASSERT_EQ(recentMenu()->actions().size(), 1);
    EXPECT_EQ(recentMenu()->actions().front()->data().toString(), video);
    ThumbnailStorage stored;
    ASSERT_TRUE(stored.load());
    EXPECT_EQ(stored.order(), QStringList{video});
    ASSERT_NE(stored.get(video), nullptr);
    EXPECT_EQ(stored.get(video)->width(), ThumbnailStorage::kThumbnailWidth);
}

TEST_F(MediaOpening, ADroppedBurstPlaysSortedAndStaysOutOfTheRecentFiles)
{
    const generatedmedia::Burst burst = generatedmedia::writeBurst(folder, 5, "png");
    QList<QUrl> urls;
    for (int i : {3, 0, 4, 1, 2})
        urls << QUrl::fromLocalFile(burst.paths[i]);
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &drop);

    Workspace* workspace = session.workspace();
    ASSERT_NE(workspace, nullptr);
    EXPECT_TRUE(workspace->isSequence);
    EXPECT_EQ(workspace->state, StateBrowse);
    EXPECT_EQ(workspace->frameSource->frameCount, 5);
    for (int i = 0; i < 5; ++i) {
        cv::Mat frame;
        workspace->frameSource->getDisplayImageAt(frame, i, false, false);
        EXPECT_EQ(workspace->frameSource->currentFileName(), burst.paths[i]);
    }
    EXPECT_TRUE(window.windowTitle().endsWith("[.png " + translate("Images") + "]"));
    // Photos have no rate of their own.
    EXPECT_EQ(statusText(window), "192x128");
    EXPECT_EQ(recentList()->count(), 0);
    EXPECT_TRUE(recentMenu()->actions().isEmpty());
}

TEST_F(MediaOpening, OnePhotoOpensForEditing)
{
    const QString photo = generatedmedia::writeBurst(folder, 1, "png").paths.front();
    ASSERT_TRUE(window.openFile(photo));
    Workspace* workspace = session.workspace();
    ASSERT_NE(workspace, nullptr);
    EXPECT_EQ(workspace->state, StateEditing);
    EXPECT_FALSE(workspace->isSequence);
    EXPECT_EQ(workspace->tiles.size(), 1u);
    EXPECT_EQ(statusText(window), "192x128");
    EXPECT_TRUE(window.windowTitle().endsWith("[.png " + translate("Image") + "]"));
    ASSERT_EQ(recentList()->count(), 1);
    EXPECT_EQ(recentList()->item(0)->text(), photo);
}

TEST_F(MediaOpening, EachFailureGivesItsMessageAndOpensNothing)
{
    const QStringList burst = generatedmedia::writeBurst(folder, 2, "png").paths;
    const QString clip = generatedmedia::writeClip(folder, 4, 1, cv::Size(64, 48)).path;
    const QString missing = folder + "/gone.mp4";
    const QString album = folder + "/album";
    ASSERT_TRUE(QDir(folder).mkdir("album"));
    const QString bare = writeJunk(folder + "/readme");
    const QString loop = folder + "/loop.jpg";
    ASSERT_TRUE(QFile::link("loop.jpg", loop));
    const QString dangling = folder + "/dangling.png";
    ASSERT_TRUE(QFile::link("nowhere.png", dangling));
    const QString audio = folder + "/voice.mp4";
    ASSERT_EQ(QProcess::execute("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=440:duration=1",
                                           "-c:a", "aac", audio}),
              0);
    const QString broken = writeJunk(folder + "/broken.mp4");
    // Reading a pipe blocks until something writes to it: it must be refused unread.
    const QString pipe = folder + "/pipe.jpg";
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    auto start = [&](const QStringList& arguments) {
        window.openStartRequest(parseCommandLine(QStringList{"vellumbra"} + arguments));
        return session.workspace() != nullptr;
    };
    const QString brokenPhoto = writeJunk(folder + "/broken.png");
    auto text = [](const char* key, const QString& value) { return translate(key).replace("%1", value); };
    auto drop = [&](const QStringList& paths) {
        QList<QUrl> urls;
        for (const QString& path : paths)
            urls << (path.contains("://") ? QUrl(path) : QUrl::fromLocalFile(path));
        QMimeData data;
        data.setUrls(urls);
        // The drop reaches the window that accepted the drag's entry.
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &enter);
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &event);
        return session.workspace() != nullptr;
    };
    struct Case {
        const char* name;
        std::function<bool()> open;
        QString message;
        bool result;
        int state;  // 0: nothing open
    };
    const Case cases[] = {
        // The command line and a hand-off of one file open through openFile.
        {"missing file", [&] { return window.openFile(missing); }, text("ExplFileAbsent", missing), false, 0},
        {"folder", [&] { return window.openFile(album); }, text("ExplFolderNotMedia", album), false, 0},
        {"file without extension", [&] { return window.openFile(bare); }, text("ExplNoExtension", bare), false, 0},
        {"unknown suffix", [&] { return window.openFile(writeJunk(folder + "/notes.xyz")); },
         text("ExplErrorFile", "xyz"), false, 0},
        {"audio-only video", [&] { return window.openFile(audio); }, text("ExplanationErrorVideo", audio), false, 0},
        {"broken video", [&] { return window.openFile(broken); }, text("ExplanationErrorVideo", broken), false, 0},
        {"symbolic-link loop", [&] { return window.openFile(loop); }, text("ExplLinkUnreachable", loop), false, 0},
        {"dangling link", [&] { return window.openFile(dangling); }, text("ExplLinkUnreachable", dangling), false, 0},
        {"unreadable photo", [&] { return window.openFile(brokenPhoto); },
         translate("ExplErrorOpenOneImage") + "\n" + brokenPhoto, false, 0},
        {"named pipe", [&] { return window.openFile(pipe); }, text("ExplNotRegularFile", pipe), false, 0},
        {"device", [&] { return window.openFile("/dev/zero"); }, text("ExplNotRegularFile", "/dev/zero"), false, 0},
        // Starts that open nothing of what they were asked.
        {"several photos on the command line", [&] { return start({burst[0], burst[1]}); },
         translate("ExplOneFileOnly"), false, 0},
        {"hand-off without its count", [&] { return start({"-LrPlug", folder + "/handoff.txt", "second"}); },
         translate("ExplHandOffNoFiles"), false, 0},
        {"hand-off with a count that is no number", [&] { return start({"-LrPlug", "r.txt", "s", "two", burst[0]}); },
         translate("ExplHandOffNoFiles"), false, 0},
        // Bursts: a dialog's selection, several dropped files, a hand-off of several.
        {"a video in a burst", [&] { return window.openPhotoBurst({burst[0], clip, burst[1]}, true); },
         text("ExplanationErrorImage", "avi"), false, 0},
        {"a folder in a burst", [&] { return window.openPhotoBurst({burst[0], album}, true); },
         text("ExplFolderNotMedia", album), false, 0},
        {"a burst of one", [&] { return window.openPhotoBurst({burst[0]}, true); },
         translate("ExplanationSelectionBurstImages"), true, 5},
        {"hand-off burst without its first file", [&] { return window.openFilesFromCommandLine({missing, burst[0]}); },
         text("ExplFileAbsent", missing), false, 0},
        {"hand-off burst with a link loop", [&] { return window.openFilesFromCommandLine({burst[0], loop}); },
         text("ExplLinkUnreachable", loop), false, 0},
        {"a pipe in a burst", [&] { return window.openPhotoBurst({burst[0], pipe}, true); },
         text("ExplNotRegularFile", pipe), false, 0},
        // Drops.
        {"dropped folder", [&] { return drop({album}); }, text("ExplFolderNotMedia", album), false, 0},
        {"dropped burst with a file without extension", [&] { return drop({burst[0], bare, burst[1]}); },
         text("ExplNoExtension", bare), false, 0},
        {"dropped address", [&] { return drop({"https://example.invalid/shot.jpg"}); },
         text("ExplFileAbsent", "https://example.invalid/shot.jpg"), false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        session.discardMedia();
        ModalScript script;
        script.messageBox(c.message, QMessageBox::Ok);
        EXPECT_EQ(c.open(), c.result);
        EXPECT_TRUE(script.waitUntilAnswered());
        Workspace* workspace = session.workspace();
        EXPECT_EQ(workspace ? workspace->state : 0, c.state);
    }

    // The File menu's dialog and a recent entry lead to the same messages.
    session.discardMedia();
    {
        ModalScript script;
        script.chooseFiles({broken}).messageBox(text("ExplanationErrorVideo", broken), QMessageBox::Ok);
        window.MenuActionOpenClicked();
        EXPECT_TRUE(script.waitUntilAnswered());
    }
    ASSERT_TRUE(window.openFile(burst[1]));
    session.discardMedia();
    ASSERT_TRUE(QFile::remove(burst[1]));
    ASSERT_TRUE(QDir(folder).mkdir(QFileInfo(burst[1]).fileName()));
    {
        ModalScript script;
        script.messageBox(text("ExplFolderNotMedia", burst[1]), QMessageBox::Ok);
        recentMenu()->actions().at(0)->trigger();
        EXPECT_TRUE(script.waitUntilAnswered());
    }
    EXPECT_EQ(session.workspace(), nullptr);
}

TEST_F(MediaOpening, ARecentEntryWhoseFileIsGoneLeavesTheListsWithAMessage)
{
    const QStringList photos = generatedmedia::writeBurst(folder, 2, "png").paths;
    for (const QString& photo : photos) {
        ASSERT_TRUE(window.openFile(photo));
        session.discardMedia();
    }
    ASSERT_EQ(recentList()->count(), 2);
    EXPECT_EQ(recentList()->item(0)->text(), photos[1]);
    ASSERT_TRUE(QFile::remove(photos[0]));
    {
        ModalScript script;
        script.messageBox(translate("ExplMediaAbsent").replace("%1", photos[0]), QMessageBox::Ok);
        recentMenu()->actions().at(1)->trigger();
        EXPECT_TRUE(script.waitUntilAnswered());
    }
    EXPECT_EQ(session.workspace(), nullptr);
    ASSERT_EQ(recentList()->count(), 1);
    EXPECT_EQ(recentMenu()->actions().size(), 1);

    // The file still there opens from its thumbnail.
    window.ListItemRecentFilesThumbnailsClicked(recentList()->item(0));
    ASSERT_NE(session.workspace(), nullptr);
    EXPECT_EQ(session.workspace()->mediaPath, photos[1]);
}

TEST_F(MediaOpening, ADamagedPresetsFileIsReportedWithItsCopyAndItsReadablePresetsShown)
{
    const QString userFile = session.environment().dataFolder() + "/Presets/user.xml";
    QFile file(userFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<preset><name>Kept</name><exposure>20</exposure></preset>\n<preset><name>Cut</name><expo");
    file.close();
    userPresets.clear();
    userPresetsLoaded = false;

    const QString photo = generatedmedia::writeBurst(folder, 1, "png").paths.front();
    {
        ModalScript script;
        script.messageBox(translate("ExplDamagedPresets").replace("%1", userFile + ".corrupt").replace("%2", "1"),
                          QMessageBox::Ok);
        ASSERT_TRUE(window.openFile(photo));
        EXPECT_TRUE(script.waitUntilAnswered());
    }
    Workspace* workspace = session.workspace();
    ASSERT_NE(workspace, nullptr);
    ASSERT_EQ(workspace->userPresetTiles.size(), 1u);
    EXPECT_STREQ(workspace->userPresetTiles.front()->preset()->name, "Kept");

    // Reported once: the next photo finds a sound file.
    session.discardMedia();
    userPresetsLoaded = false;
    ASSERT_TRUE(window.openFile(photo));
    EXPECT_EQ(session.workspace()->userPresetTiles.size(), 1u);
}
