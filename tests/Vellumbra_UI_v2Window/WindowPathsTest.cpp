#include "GeneratedMedia.h"
#include "ImageIO.h"
#include "ImagesSequence.h"
#include "LanguageEngine.h"
#include "Log.h"
#include "ModalScript.h"
#include "PixelOps.h"
#include "RealWindowJourney.h"
#include "RenderPipeline.h"
#include "SharpestImageSelection.h"
#include "StackingContext.h"
#include "WindowSession.h"
#include "WindowTest.h"
#include "Workspace.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <functional>
#include <utility>

using windowtest::ModalScript;

namespace {

constexpr int kRunTimeoutMs = 120000;

// The file view the dialog shows, list or details.
QAbstractItemView* fileView(QFileDialog* dialog)
{
    for (const char* name : {"listView", "treeView"})
        if (auto* view = dialog->findChild<QAbstractItemView*>(name); view && view->isVisible())
            return view;
    return nullptr;
}

// Presses the dialog's own accepting button (Open, Choose or Save).
void pressAccept(QFileDialog* dialog)
{
    auto* buttons = dialog->findChild<QDialogButtonBox*>("buttonBox");
    ASSERT_NE(buttons, nullptr);
    QPushButton* accept = buttons->button(QDialogButtonBox::Open);
    if (!accept)
        accept = buttons->button(QDialogButtonBox::Save);
    ASSERT_NE(accept, nullptr);
    ASSERT_TRUE(accept->isEnabled());
    QTest::mouseClick(accept, Qt::LeftButton);
}

// Picks the entries in the dialog's view as a user does (the first by a click, the
// others with Ctrl held), once its folder is listed, then accepts.
void pickInView(QFileDialog* dialog, const QStringList& paths)
{
    dialog->setDirectory(QFileInfo(paths.front()).absolutePath());
    QAbstractItemView* view = fileView(dialog);
    ASSERT_NE(view, nullptr);
    auto* model = qobject_cast<QFileSystemModel*>(view->model());
    ASSERT_NE(model, nullptr);
    for (int i = 0; i < paths.size(); ++i) {
        QModelIndex entry;
        ASSERT_TRUE(QTest::qWaitFor([&] {
            entry = model->index(paths[i]);
            return entry.isValid() && !view->visualRect(entry).isEmpty();
        })) << paths[i].toStdString();
        view->scrollTo(entry);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, i == 0 ? Qt::NoModifier : Qt::ControlModifier,
                          view->visualRect(entry).center());
    }
    pressAccept(dialog);
}

// Types the name into the dialog's name field, then presses its accepting button.
void typeName(QFileDialog* dialog, const QString& path)
{
    dialog->setDirectory(QFileInfo(path).absolutePath());
    auto* field = dialog->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(field, nullptr);
    field->selectAll();
    QTest::keyClicks(field, QFileInfo(path).fileName());
    pressAccept(dialog);
}

// A click on the box's indicator, where a user aims.
void clickIndicator(QCheckBox* box)
{
    QStyleOptionButton option;
    option.initFrom(box);
    const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, indicator.center());
}

cv::Mat asMat(const QImage& image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    cv::Mat wrapped(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar*>(rgb.constBits()),
                    static_cast<size_t>(rgb.bytesPerLine()));
    cv::Mat bgr;
    cv::cvtColor(wrapped, bgr, cv::COLOR_RGB2BGR);
    return bgr;
}

int pixelsOfColour(const cv::Mat& picture, const cv::Scalar& bgr)
{
    cv::Mat same;
    cv::inRange(picture, bgr, bgr, same);
    return cv::countNonZero(same);
}

double sharpness(const cv::Mat& image)
{
    cv::Mat eight = convertBitDepth(image, 8), grey, edges;
    cv::cvtColor(eight, grey, cv::COLOR_BGR2GRAY);
    cv::Laplacian(grey, edges, CV_64F);
    cv::Scalar mean, deviation;
    cv::meanStdDev(edges, mean, deviation);
    return deviation[0] * deviation[0];
}

const cv::Scalar kOverMark(150, 150, 255);
const cv::Scalar kUnderMark(0, 0, 110);

// A save that ends in an error box: the name typed into the save dialog and the box's text key.
struct SaveFailure {
    const char* name;
    QString target;
    const char* key;
};

class WindowPath;

struct Path {
    const char* name;
    void (WindowPath::*walk)();
};

void PrintTo(const Path& path, std::ostream* out)
{
    *out << path.name;
}

class WindowPath : public windowtest::RealWindowJourney<::testing::TestWithParam<Path>> {
public:
    void stackingOptionsReachTheRun();
    void exportButtonWritesTheShownPicture();
    void exportAllWritesIntoTheChosenSubFolder();
    void openVideoFromTheFileMenu();
    void openBurstFromTheFileMenu();
    void openPhotoFromTheFileMenu();
    void exposureMarksFollowTheViewMenu();
    void settingsDialogChangesTheMarks();
    void logViewerShowsTheLog();
    void trimMarkersDragTheStackingRange();
    void timelinePressAndDoubleClickPinAFrame();
    void beforeAfterHoverShowsTheUneditedPicture();
    void savingTheFrameReportsEachFailure();
    void savingTheLightImageReportsEachFailure();
    void handOffThatCannotBeWrittenIsReported();

protected:
    void SetUp() override
    {
        RealWindowJourney::SetUp();
        if (!session)
            return;
        folder = session->environment().filesFolder() + "/media";
        QDir().mkpath(folder);
    }

    void TearDown() override
    {
        if (session)
            session->discardMedia();
    }

    VellumbraV2& window() { return session->window(); }
    Workspace* open() { return session->workspace(); }

    template <typename Widget>
    Widget* find(const char* name)
    {
        Widget* found = session->find<Widget>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    void click(const char* button) { QTest::mouseClick(find<QPushButton>(button), Qt::LeftButton); }

    // Opens the menu of the menu bar and clicks the action in it.
    void chooseFromMenu(const char* menuName, const char* actionName)
    {
        QMenu* menu = find<QMenu>(menuName);
        QAction* action = find<QAction>(actionName);
        QMenuBar* bar = window().menuBar();
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->actionGeometry(menu->menuAction()).center());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
        QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(action).center());
    }

    // The picture the window shows, as its label holds it.
    cv::Mat shownPicture() { return asMat(find<QLabel>("label_VideoPreview")->pixmap(Qt::ReturnByValue).toImage()); }

    void photograph(const char* step)
    {
        windowtest::photograph(QString("Path_%1_%2").arg(GetParam().name, step));
    }

    // A photo whose top-left quarter is burnt out and bottom-right quarter black.
    QString extremesPhoto()
    {
        cv::Mat photo = generatedmedia::scene(cv::Size(240, 160), 3);
        photo(cv::Rect(0, 0, 120, 80)).setTo(cv::Scalar::all(255));
        photo(cv::Rect(120, 80, 120, 80)).setTo(cv::Scalar::all(0));
        const QString path = folder + "/extremes.png";
        EXPECT_TRUE(cv::imwrite(path.toStdString(), photo));
        return path;
    }

    // The photo opened for editing, its picture rendered and its previews shown.
    Workspace* editPhoto(const QString& path)
    {
        EXPECT_TRUE(window().openFile(path));
        Workspace* opened = open();
        EXPECT_TRUE(opened && opened->state == StateEditing && opened->selectedTile);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !open() || open()->presetPreviewsShown(); }, kRunTimeoutMs));
        return opened;
    }

    Workspace* clipAtParameters(int frames, int chosen)
    {
        Workspace* opened = session->adoptVideo(generatedmedia::writeClip(folder, frames, chosen).path, chosen);
        click("pushButton_SelectImageNext");
        EXPECT_EQ(opened->state, StateDefineParameters);
        return opened;
    }

    // Compute, the save question answered No; the run's result becomes the selected tile.
    void computeWithoutSaving()
    {
        ModalScript script;
        script.messageBox(translate("RecommendedSavingHDRimage"), QMessageBox::No);
        click("pushButton_DefineParamsNext");
        ASSERT_TRUE(QTest::qWaitFor([&] { return open()->state == StateEditing; }, kRunTimeoutMs));
        EXPECT_TRUE(script.waitUntilAnswered());
    }

    // The save dialog takes the target, the depth is asked when the type is known, and
    // the error box is acknowledged.
    static void expectSaveFailure(ModalScript& script, const SaveFailure& failure)
    {
        script.expect(ModalScript::Kind::FileDialog, QString(), [target = failure.target](QWidget* modal) {
            typeName(static_cast<QFileDialog*>(modal), target);
        });
        if (QString(failure.key) == "ErrorWritingImages")
            script.saveOptions(-1, 0);
        script.messageBox(translate(failure.key).section("%1", 0, 0), QMessageBox::Ok);
    }

    QString folder;
};

void WindowPath::stackingOptionsReachTheRun()
{
    const generatedmedia::Burst burst = generatedmedia::writeBurst(folder, 5, "png");
    Workspace* opened = session->adoptBurst(burst.paths);
    click("pushButton_SelectImageNext");
    ASSERT_EQ(opened->state, StateDefineParameters);

    auto* align = find<QCheckBox>("checkBox_Align");
    auto* automatic = find<QCheckBox>("checkBox_AutoAntighostingP2");
    auto* power = find<QSlider>("horizontalSlider_AntighostingP2");
    auto* quality = find<QComboBox>("comboBox_Quality");
    const bool wasAligned = opened->align;
    const bool wasAutomatic = opened->autoAntighosting;
    const int oldPower = opened->antighostingPower;
    const int oldQuality = opened->qualityIndex;
    opened->undoRedoManager.clear();

    clickIndicator(align);
    // The form keeps the automatic power out of sight; its toggle still reaches the workspace.
    automatic->click();
    power->setFocus();
    QTest::keyClick(power, Qt::Key_PageUp);
    quality->setFocus();
    QTest::keyClick(quality, Qt::Key_Down);
    photograph("OptionsSet");
    EXPECT_EQ(opened->align, !wasAligned);
    EXPECT_EQ(opened->autoAntighosting, !wasAutomatic);
    EXPECT_EQ(opened->antighostingPower, power->value());
    EXPECT_NE(opened->antighostingPower, oldPower);
    EXPECT_EQ(opened->qualityIndex, quality->currentIndex());
    EXPECT_NE(opened->qualityIndex, oldQuality);
    EXPECT_EQ(opened->undoRedoManager.undoCount(), 4);

    for (int i = 0; i < 4; ++i)
        window().MenuActionUndoClicked();
    EXPECT_EQ(opened->align, wasAligned);
    EXPECT_EQ(opened->autoAntighosting, wasAutomatic);
    EXPECT_EQ(opened->antighostingPower, oldPower);
    EXPECT_EQ(opened->qualityIndex, oldQuality);
    for (int i = 0; i < 4; ++i)
        window().MenuActionRedoClicked();
    EXPECT_EQ(opened->align, !wasAligned);

    // Each antighosting mode by its radio button; the run below takes the last, no ghost removal.
    for (const auto& [radio, mode] : {std::pair{"radioButton_HighAntighosting", 100},
                                      std::pair{"radioButton_MediumAntighosting", 80},
                                      std::pair{"radioButton_LongExposure", 0}}) {
        QTest::mouseClick(find<QRadioButton>(radio), Qt::LeftButton, Qt::NoModifier, QPoint(6, 6));
        EXPECT_EQ(opened->antighostingMode, mode) << radio;
    }
    // Without ghost removal, the shaken shots stack sharper aligned than as they lie.
    if (!align->isChecked())
        clickIndicator(align);
    ASSERT_TRUE(opened->align);
    computeWithoutSaving();
    ASSERT_EQ(opened->tiles.size(), 1u);
    // The result's name carries the power and quality chosen.
    const QString title = opened->tiles.front()->title();
    const QString powerPart = opened->autoAntighosting ? "a" : QString::number(opened->antighostingPower / 10);
    EXPECT_TRUE(title.contains("_M" + powerPart + ("_" + quality->currentText()).left(3))) << title.toStdString();
    const cv::Mat aligned = opened->tiles.front()->image().clone();
    photograph("AlignedResult");

    QTest::mouseClick(find<QLabel>("label_Step2"), Qt::LeftButton);
    ASSERT_EQ(opened->state, StateDefineParameters);
    clickIndicator(align);
    ASSERT_FALSE(opened->align);
    computeWithoutSaving();
    ASSERT_EQ(opened->tiles.size(), 2u);
    const cv::Mat asTheyLie = opened->tiles.front()->image();
    EXPECT_GT(sharpness(aligned), 1.5 * sharpness(asTheyLie));
}

void WindowPath::exportButtonWritesTheShownPicture()
{
    Workspace* opened = editPhoto(extremesPhoto());
    ASSERT_NE(opened, nullptr);
    ModalScript script;
    script.expect(ModalScript::Kind::FileDialog, QString(), [](QWidget* modal) {
        pressAccept(static_cast<QFileDialog*>(modal));
    });
    script.saveOptions(-1, 0);
    click("pushButton_ProEditingExport");
    EXPECT_TRUE(script.waitUntilAnswered());
    EXPECT_EQ(opened->state, StateEditing);

    QStringList written = QDir(folder).entryList({"extremes.*"}, QDir::Files);
    written.removeAll("extremes.png");
    ASSERT_EQ(written.size(), 1) << QDir(folder).entryList().join(' ').toStdString();
    cv::Mat file;
    readImage(file, (folder + "/" + written.front()).toStdString(), false);
    RenderPipeline reference;
    reference.copySettings(*opened->renderPipeline);
    reference.setSourceImage(opened->selectedTile->image(), true);
    const cv::Mat expected = convertBitDepth(reference.renderFull(), 8);
    ASSERT_EQ(file.size(), expected.size());
    EXPECT_LT(cv::norm(file, expected, cv::NORM_INF), 2.0);
}

void WindowPath::exportAllWritesIntoTheChosenSubFolder()
{
    Workspace* opened = editPhoto(extremesPhoto());
    ASSERT_NE(opened, nullptr);
    // A second result, as a second stacking run leaves it.
    SharpestImageSelection* second =
        opened->addImageTile(opened->image, find<QWidget>("scrollAreaWidgetContents_ProEditingSelection"));
    second->pipeline().setSourceImage(opened->image, true);
    second->enterEditionMode("second");
    const QString chosen = folder + "/chosen";
    QDir().mkpath(chosen);

    ModalScript script;
    script.messageBox(translate("ExplClosingWorkspace2"), QMessageBox::Save);
    script.expect(ModalScript::Kind::FileDialog, QString(), [&](QWidget* modal) {
        photograph("FolderDialog");
        pickInView(static_cast<QFileDialog*>(modal), {chosen});
    });
    script.saveOptions(-1, 0);
    script.messageBox(translate("ExportAll"), QMessageBox::Ok);
    chooseFromMenu("menuFile", "actionClose");
    EXPECT_TRUE(script.waitUntilAnswered());
    EXPECT_EQ(open(), nullptr);
    EXPECT_EQ(QDir(chosen).entryList(QDir::Files).size(), 2) << QDir(chosen).entryList().join(' ').toStdString();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{"extremes.png"});
}

void WindowPath::openVideoFromTheFileMenu()
{
    const generatedmedia::Clip clip = generatedmedia::writeClip(folder, 12, 6);
    ModalScript script;
    script.expect(ModalScript::Kind::FileDialog, QString(), [&](QWidget* modal) {
        pickInView(static_cast<QFileDialog*>(modal), {clip.path});
    });
    chooseFromMenu("menuFile", "actionOpen");
    EXPECT_TRUE(script.waitUntilAnswered());
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(open()->state, StateBrowse);
    EXPECT_EQ(open()->mediaPath, clip.path);
    EXPECT_EQ(open()->frameSource->frameCount, clip.frames);
    cv::Mat first;
    open()->frameSource->getFrame(first, 0, false);
    EXPECT_EQ(open()->image.size(), first.size());
    EXPECT_FALSE(shownPicture().empty());
    photograph("Opened");
}

void WindowPath::openBurstFromTheFileMenu()
{
    const generatedmedia::Burst burst = generatedmedia::writeBurst(folder, 3, "png");
    ModalScript script;
    script.expect(ModalScript::Kind::FileDialog, QString(), [&](QWidget* modal) {
        pickInView(static_cast<QFileDialog*>(modal), burst.paths);
    });
    chooseFromMenu("menuFile", "actionOpen_photo_with_burst_mode");
    EXPECT_TRUE(script.waitUntilAnswered());
    ASSERT_NE(open(), nullptr);
    EXPECT_TRUE(open()->isSequence);
    EXPECT_EQ(open()->state, StateBrowse);
    EXPECT_EQ(open()->frameSource->frameCount, 3);
    EXPECT_FALSE(shownPicture().empty());
    photograph("Opened");
}

void WindowPath::openPhotoFromTheFileMenu()
{
    const QString photo = extremesPhoto();
    ModalScript script;
    script.expect(ModalScript::Kind::FileDialog, QString(), [&](QWidget* modal) {
        pickInView(static_cast<QFileDialog*>(modal), {photo});
    });
    chooseFromMenu("menuFile", "actionOpen_photo_for_tone_mapping");
    EXPECT_TRUE(script.waitUntilAnswered());
    ASSERT_NE(open(), nullptr);
    EXPECT_FALSE(open()->isSequence);
    EXPECT_EQ(open()->state, StateEditing);
    ASSERT_NE(open()->selectedTile, nullptr);
    // The rendered photo: its black quarter stays dark, its burnt quarter bright.
    const cv::Mat shown = open()->currentImage();
    ASSERT_FALSE(shown.empty());
    const cv::Mat eight = convertBitDepth(shown, 8);
    EXPECT_GT(cv::mean(eight(cv::Rect(0, 0, eight.cols / 2, eight.rows / 2)))[0], 200.0);
    EXPECT_LT(cv::mean(eight(cv::Rect(eight.cols / 2, eight.rows / 2, eight.cols / 2, eight.rows / 2)))[0], 40.0);
    photograph("Opened");
}

void WindowPath::exposureMarksFollowTheViewMenu()
{
    // Browsing shows the frames as they are: the burnt quarter stays at full scale.
    const QString photo = extremesPhoto();
    const QString copy = folder + "/extremes2.png";
    QFile::copy(photo, copy);
    session->adoptBurst({photo, copy});
    const cv::Mat unmarked = shownPicture();
    ASSERT_EQ(pixelsOfColour(unmarked, kOverMark) + pixelsOfColour(unmarked, kUnderMark), 0);
    QSettings stored;

    chooseFromMenu("menuView", "actionHighlight_over_exposed_pixels");
    const cv::Mat over = shownPicture();
    EXPECT_GT(pixelsOfColour(over, kOverMark), over.total() / 8);
    EXPECT_EQ(pixelsOfColour(over, kUnderMark), 0);
    EXPECT_TRUE(stored.value("UserParameters/highlightOverExposed").toBool());

    chooseFromMenu("menuView", "actionHighlight_under_exposed_pixels");
    const cv::Mat both = shownPicture();
    EXPECT_GT(pixelsOfColour(both, kUnderMark), both.total() / 8);
    EXPECT_EQ(pixelsOfColour(both, kOverMark), pixelsOfColour(over, kOverMark));
    EXPECT_TRUE(stored.value("UserParameters/highlightUnderExposed").toBool());
    photograph("BothMarked");

    chooseFromMenu("menuView", "actionHighlight_over_exposed_pixels");
    chooseFromMenu("menuView", "actionHighlight_under_exposed_pixels");
    EXPECT_EQ(cv::norm(shownPicture(), unmarked, cv::NORM_INF), 0.0);
    EXPECT_FALSE(stored.value("UserParameters/highlightOverExposed").toBool());
    EXPECT_FALSE(stored.value("UserParameters/highlightUnderExposed").toBool());
}

void WindowPath::settingsDialogChangesTheMarks()
{
    ASSERT_NE(editPhoto(extremesPhoto()), nullptr);
    chooseFromMenu("menuView", "actionHighlight_over_exposed_pixels");
    const int marked = pixelsOfColour(shownPicture(), kOverMark);

    ModalScript script;
    script.expect(ModalScript::Kind::Dialog, QString(), [&](QWidget* dialog) {
        auto* limit = dialog->findChild<QSpinBox*>("spinBox_OverExposedLimit");
        ASSERT_NE(limit, nullptr);
        limit->selectAll();
        QTest::keyClicks(limit, "60");
        photograph("Settings");
        QTest::mouseClick(dialog->findChild<QPushButton*>("okButton"), Qt::LeftButton);
    });
    chooseFromMenu("menuEdit", "actionSettingsMenu");
    EXPECT_TRUE(script.waitUntilAnswered());
    EXPECT_EQ(QSettings().value("GeneralSettings/OverExposedLimit").toInt(), 60);
    EXPECT_GT(pixelsOfColour(shownPicture(), kOverMark), marked);

    // Cancel keeps the limit.
    ModalScript cancelled;
    cancelled.expect(ModalScript::Kind::Dialog, QString(), [](QWidget* dialog) {
        auto* limit = dialog->findChild<QSpinBox*>("spinBox_OverExposedLimit");
        limit->selectAll();
        QTest::keyClicks(limit, "90");
        QTest::mouseClick(dialog->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
    });
    chooseFromMenu("menuEdit", "actionSettingsMenu");
    EXPECT_TRUE(cancelled.waitUntilAnswered());
    EXPECT_EQ(QSettings().value("GeneralSettings/OverExposedLimit").toInt(), 60);
}

void WindowPath::logViewerShowsTheLog()
{
    logError("WindowPath", "an entry the viewer shows");
    ModalScript script;
    QString shownText;
    script.expect(ModalScript::Kind::Dialog, QString(), [&](QWidget* dialog) {
        auto* content = dialog->findChild<QPlainTextEdit*>("plainTextEdit_Content");
        ASSERT_NE(content, nullptr);
        shownText = content->toPlainText();
        photograph("Log");
        QTest::mouseClick(dialog->findChild<QPushButton*>("okButton"), Qt::LeftButton);
    });
    // The Help menu leaves the viewer out; its action stays the window's way to it.
    find<QAction>("actionShow_log")->trigger();
    EXPECT_TRUE(script.waitUntilAnswered());
    EXPECT_TRUE(shownText.contains("an entry the viewer shows")) << shownText.toStdString();
}

void WindowPath::trimMarkersDragTheStackingRange()
{
    Workspace* opened = clipAtParameters(20, 10);
    ImagesSequence* frames = opened->frameSource.get();
    auto* before = find<QSpinBox>("spinBox_ImageStackingBefore");
    auto* after = find<QSpinBox>("spinBox_ImageStackingAfter");
    QLabel* strip = find<QLabel>("label_ForegroundMidPlayingBar");
    // The middle of the frame's slice of the strip, in the window. The strip spans the
    // playback range; a frame before it lies left of the strip, where the slices go on.
    const auto pointOfFrame = [&](int frame, QWidget* onLevelOf) {
        const int first = frames->firstIndex, last = frames->lastIndex;
        const double slice = static_cast<double>(strip->width()) / (last - first + 1);
        const double offset = frame - first + (frame >= first ? 0.5 : -0.5);
        const int x = strip->mapTo(&window(), QPoint(0, 0)).x() + static_cast<int>(offset * slice);
        return QPoint(x, onLevelOf->mapTo(&window(), onLevelOf->rect().center()).y());
    };
    // Pressed on the widget, dragged over the window to the frame, released there.
    const auto drag = [&](QWidget* pressed, int toFrame) {
        QTest::mousePress(pressed, Qt::LeftButton, Qt::NoModifier, pressed->rect().center());
        const QPoint target = pointOfFrame(toFrame, pressed);
        QMouseEvent move(QEvent::MouseMove, target, window().mapToGlobal(target), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(&window(), &move);
        QTest::mouseRelease(&window(), Qt::LeftButton, Qt::NoModifier, target);
    };
    struct Trim {
        const char* marker;
        int toFrame;
        QSpinBox* box;
        int count;
    };
    for (const Trim& trim : {Trim{"label_TrimStartPlayingBar", 7, before, 3}, Trim{"label_TrimEndPlayingBar", 11, after, 1}}) {
        SCOPED_TRACE(trim.marker);
        drag(find<QLabel>(trim.marker), trim.toFrame);
        EXPECT_EQ(trim.box->value(), trim.count);
    }
    EXPECT_EQ(opened->framesBefore, 3);
    EXPECT_EQ(opened->framesAfter, 1);
    EXPECT_EQ(frames->firstIndex, 7);
    EXPECT_EQ(frames->lastIndex, 11);
    photograph("Dragged");

    // The cursor dragged within the range shows the frame under it.
    drag(find<QLabel>("label_CursorPlayingBar"), 8);
    EXPECT_TRUE(QTest::qWaitFor([&] { return frames->getCurrentIndex() == 8; }));
    EXPECT_EQ(opened->currentFrame, 10);
}

void WindowPath::timelinePressAndDoubleClickPinAFrame()
{
    Workspace* opened = session->adoptVideo(generatedmedia::writeClip(folder, 20, 10).path, 0);
    ImagesSequence* frames = opened->frameSource.get();
    QLabel* strip = find<QLabel>("label_ForegroundMidPlayingBar");
    // A press on the strip shows the frame under it.
    const int slice = strip->width() / 20;
    QTest::mousePress(strip, Qt::LeftButton, Qt::NoModifier, QPoint(slice * 15 + slice / 2, strip->height() / 2));
    QTest::mouseRelease(&window(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return frames->getCurrentIndex() == 15; }));
    cv::Mat expected;
    frames->getFrame(expected, 15, false);
    EXPECT_EQ(open()->currentImage().size(), expected.size());

    // A double-click on the cursor pins the frame; a double-click on the pin brings it back.
    QLabel* cursor = find<QLabel>("label_CursorPlayingBar");
    QTest::mouseDClick(cursor, Qt::LeftButton, Qt::NoModifier, cursor->rect().center());
    QLabel* pin = nullptr;
    for (QLabel* label : find<QWidget>("Panel_LectureTop2")->findChildren<QLabel*>())
        if (label->property("Pin1").toBool())
            pin = label;
    ASSERT_NE(pin, nullptr);
    EXPECT_TRUE(pin->isVisible());
    photograph("Pinned");
    window().showFrameIndex(3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return frames->getCurrentIndex() == 3; }));
    QTest::mouseDClick(pin, Qt::LeftButton, Qt::NoModifier, pin->rect().center());
    EXPECT_TRUE(QTest::qWaitFor([&] { return frames->getCurrentIndex() == 15; }));
    EXPECT_EQ(opened->state, StateBrowse);
}

void WindowPath::beforeAfterHoverShowsTheUneditedPicture()
{
    Workspace* opened = editPhoto(extremesPhoto());
    ASSERT_NE(opened, nullptr);
    auto* exposure = find<QSlider>("horizontalSlider_TMExposition");
    exposure->setValue(80);
    const cv::Mat edited = shownPicture();
    QWidget* logo = find<QWidget>("frame_BeforeAfterLogo");
    QTest::mouseMove(logo, logo->rect().center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return logo->property("onHov").toBool(); }));
    const cv::Mat before = shownPicture();
    photograph("Before");
    EXPECT_GT(cv::norm(before, edited, cv::NORM_L1), 0.0);
    // The unedited picture is the photo itself, darker than the picture raised by 0.8 EV.
    EXPECT_LT(cv::mean(before)[0], cv::mean(edited)[0]);

    QTest::mouseMove(find<QWidget>("label_VideoPreview"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !logo->property("onHov").toBool(); }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return cv::norm(shownPicture(), edited, cv::NORM_INF) == 0.0; }));
}

void WindowPath::savingTheFrameReportsEachFailure()
{
    const generatedmedia::Burst burst = generatedmedia::writeBurst(folder, 3, "png");
    Workspace* opened = session->adoptBurst(burst.paths);
    const SaveFailure failures[] = {
        {"unknown type", folder + "/frame.xyz", "ErrorExtension."},
        {"unwritable folder", "/proc/frame.png", "ErrorWritingImages"},
    };
    for (const SaveFailure& failure : failures) {
        SCOPED_TRACE(failure.name);
        ModalScript script;
        expectSaveFailure(script, failure);
        click("pushButton_saveSelectedImage");
        EXPECT_TRUE(script.waitUntilAnswered());
        EXPECT_FALSE(QFileInfo::exists(failure.target));
    }

    // A frame that cannot be read any more is not offered for saving.
    QFile::remove(burst.paths[static_cast<int>(opened->frameSource->getCurrentIndex())]);
    ModalScript gone;
    gone.messageBox(translate("ErrorSaveImages"), QMessageBox::Ok);
    click("pushButton_saveSelectedImage");
    EXPECT_TRUE(gone.waitUntilAnswered());
}

void WindowPath::savingTheLightImageReportsEachFailure()
{
    const generatedmedia::Burst burst = generatedmedia::writeBurst(folder, 3, "png");
    Workspace* opened = session->adoptBurst(burst.paths);
    click("pushButton_SelectImageNext");
    ASSERT_EQ(opened->state, StateDefineParameters);
    const SaveFailure failures[] = {
        {"unknown type", folder + "/light.xyz", "ErrorExtension"},
        {"unwritable folder", "/proc/light.tif", "ErrorWritingImages"},
    };
    for (const SaveFailure& failure : failures) {
        SCOPED_TRACE(failure.name);
        ModalScript script;
        script.messageBox(translate("RecommendedSavingHDRimage"), QMessageBox::Yes);
        expectSaveFailure(script, failure);
        click("pushButton_DefineParamsNext");
        ASSERT_TRUE(QTest::qWaitFor([&] { return opened->state == StateEditing; }, kRunTimeoutMs));
        EXPECT_TRUE(script.waitUntilAnswered());
        EXPECT_TRUE(opened->savedResultName.isEmpty());
        QTest::mouseClick(find<QLabel>("label_Step2"), Qt::LeftButton);
        ASSERT_EQ(opened->state, StateDefineParameters);
    }

    // No questions reach a run without a light image; the save refuses it with its own box.
    opened->state = StateStacking;
    opened->setStackingContext(new StackingContext);
    ModalScript script;
    script.messageBox(translate("ExplImagesUnavailable"), QMessageBox::Ok);
    EXPECT_TRUE(window().saveHDRimage().isEmpty());
    EXPECT_TRUE(script.waitUntilAnswered());
    opened->setStackingContext(nullptr);
    opened->state = StateDefineParameters;
}

void WindowPath::handOffThatCannotBeWrittenIsReported()
{
    // The hand-off file's folder is a file: nothing can be written under it.
    QTemporaryDir catalogue;
    const QString blocker = catalogue.path() + "/blocker";
    QFile(blocker).open(QIODevice::WriteOnly);
    session->discardMedia();
    session = std::make_unique<windowtest::WindowSession>(blocker + "/result.txt", QString("second"));
    window().setGeometry(windowtest::screenGeometry());
    window().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    folder = session->environment().filesFolder() + "/media";
    QDir().mkpath(folder);
    ASSERT_TRUE(window().openFilesFromCommandLine(generatedmedia::writeBurst(folder, 3, "png").paths));
    const QString target = folder + "/frame.png";

    ModalScript script;
    script.expect(ModalScript::Kind::FileDialog, QString(), [&](QWidget* modal) {
        typeName(static_cast<QFileDialog*>(modal), target);
    });
    script.saveOptions(-1, 0);
    script.messageBox(translate("ImportToLR"), QMessageBox::Yes);
    script.messageBox(translate("ErrorHandOff").section("%1", 0, 0), QMessageBox::Ok);
    click("pushButton_saveSelectedImage");
    EXPECT_TRUE(script.waitUntilAnswered());
    EXPECT_TRUE(QFileInfo::exists(target));
}

const Path kPaths[] = {
    {"StackingOptions", &WindowPath::stackingOptionsReachTheRun},
    {"ExportButton", &WindowPath::exportButtonWritesTheShownPicture},
    {"ExportAll", &WindowPath::exportAllWritesIntoTheChosenSubFolder},
    {"OpenVideo", &WindowPath::openVideoFromTheFileMenu},
    {"OpenBurst", &WindowPath::openBurstFromTheFileMenu},
    {"OpenPhoto", &WindowPath::openPhotoFromTheFileMenu},
    {"ExposureMarks", &WindowPath::exposureMarksFollowTheViewMenu},
    {"SettingsDialog", &WindowPath::settingsDialogChangesTheMarks},
    {"LogViewer", &WindowPath::logViewerShowsTheLog},
    {"TrimMarkers", &WindowPath::trimMarkersDragTheStackingRange},
    {"TimelinePins", &WindowPath::timelinePressAndDoubleClickPinAFrame},
    {"BeforeAfterHover", &WindowPath::beforeAfterHoverShowsTheUneditedPicture},
    {"SaveFrameFailures", &WindowPath::savingTheFrameReportsEachFailure},
    {"SaveLightImageFailures", &WindowPath::savingTheLightImageReportsEachFailure},
    {"HandOffFailure", &WindowPath::handOffThatCannotBeWrittenIsReported},
};

}  // namespace

TEST_P(WindowPath, WorksByRealClicks)
{
    (this->*GetParam().walk)();
}

INSTANTIATE_TEST_SUITE_P(Every, WindowPath, ::testing::ValuesIn(kPaths),
                         [](const auto& info) { return std::string(info.param.name); });
