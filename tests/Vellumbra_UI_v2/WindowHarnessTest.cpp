#include "GeneratedMedia.h"
#include "ImagesSequence.h"
#include "MessageBoxes.h"
#include "ModalScript.h"
#include "PixelOps.h"
#include "SaveForm.h"
#include "TemporaryEnvironment.h"

#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QSettings>
#include <QStandardPaths>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <functional>

using windowtest::ModalScript;

namespace {

const std::string exportNames[] = {"TIFF", "JPEG"};
const char* const exportExtensions[] = {"tif", "jpg"};
const int exportDepths[][3] = {{8, 16, 32}, {8, -1, -1}};

// Runs the save-options dialog and tells what it returned and what was chosen.
QString runSaveForm()
{
    SaveForm form(nullptr, true);
    form.fillOutputExtensions(exportNames, exportExtensions, exportDepths, 2, 0);
    const int result = form.exec();
    return QString("%1 %2 %3").arg(result).arg(form.selectedExtension(), form.selectedDepth());
}

double sharpness(const cv::Mat& frame)
{
    cv::Mat grey;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    return laplacianVariance(grey);
}

}  // namespace

TEST(ModalScript, AnswersEachKindOfDialogAsScripted)
{
    windowtest::TemporaryEnvironment environment;
    const generatedmedia::Burst burst = generatedmedia::writeBurst(environment.filesFolder(), 3, "png");
    struct Case {
        const char* name;
        std::function<void(ModalScript&)> script;
        std::function<QString()> run;
        QString expected;
    };
    const Case cases[] = {
        {"yes of a question", [](ModalScript& s) { s.messageBox("Keep?", QMessageBox::Yes); },
         [] { return QString::number(askYesNo(nullptr, "Title", "Keep?")); }, QString::number(QMessageBox::Yes)},
        {"no of a warning", [](ModalScript& s) { s.messageBox("Title", QMessageBox::No); },
         [] { return QString::number(askWarningYesNo(nullptr, "Title", "Really?")); },
         QString::number(QMessageBox::No)},
        {"two boxes in a row",
         [](ModalScript& s) { s.messageBox("first", QMessageBox::Ok).messageBox("second", QMessageBox::Ok); },
         [] {
             showInformationBox(nullptr, "T", "first");
             return QString::number(showCriticalBox(nullptr, "T", "second"));
         },
         QString::number(QMessageBox::Ok)},
        {"several files of an open dialog", [&](ModalScript& s) { s.chooseFiles(burst.paths.mid(0, 2)); },
         [] { return QFileDialog::getOpenFileNames(nullptr, "Open", QDir::homePath(), "Photos (*.png)").join(';'); },
         burst.paths.mid(0, 2).join(';')},
        {"one file of an open dialog", [&](ModalScript& s) { s.chooseFiles({burst.paths[2]}); },
         [] { return QFileDialog::getOpenFileName(nullptr, "Open", QDir::homePath(), "Photos (*.png)"); },
         burst.paths[2]},
        {"a new file of a save dialog", [&](ModalScript& s) { s.chooseFiles({environment.filesFolder() + "/out.tif"}); },
         [] { return QFileDialog::getSaveFileName(nullptr, "Save", QDir::homePath(), "TIFF (*.tif)"); },
         environment.filesFolder() + "/out.tif"},
        {"a cancelled file dialog", [](ModalScript& s) { s.cancelFileDialog(); },
         [] { return QFileDialog::getOpenFileName(nullptr, "Open", QDir::homePath()); }, QString()},
        {"save options accepted", [](ModalScript& s) { s.saveOptions(0, 1); }, [] { return runSaveForm(); },
         "1 tif 16 bits"},
        {"save options cancelled", [](ModalScript& s) { s.saveOptions(1, 0, false); }, [] { return runSaveForm(); },
         "0 jpg 8 bits"},
        {"text entered", [](ModalScript& s) { s.inputText("My preset"); },
         [] { return QInputDialog::getText(nullptr, "Name", "Preset name"); }, "My preset"},
        {"input cancelled", [](ModalScript& s) { s.inputText("ignored", false); },
         [] { return QInputDialog::getText(nullptr, "Name", "Preset name"); }, QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModalScript script;
        c.script(script);
        EXPECT_EQ(c.run(), c.expected);
        EXPECT_TRUE(script.waitUntilAnswered());
    }
}

TEST(ModalScript, FailsOnUnexpectedAndMissingDialogs)
{
    EXPECT_NONFATAL_FAILURE(
        {
            ModalScript script;
            askYesNo(nullptr, "Title", "Unasked question");
        },
        "Unasked question");
    EXPECT_NONFATAL_FAILURE(
        {
            ModalScript script;
            script.messageBox("one text", QMessageBox::Yes);
            askYesNo(nullptr, "Title", "another text");
            EXPECT_EQ(askYesNo(nullptr, "Title", "one text"), QMessageBox::Yes);
        },
        "another text");
    EXPECT_NONFATAL_FAILURE(
        {
            ModalScript script;
            script.inputText("name");
            showInformationBox(nullptr, "Title", "A box, not an input");
            EXPECT_EQ(QInputDialog::getText(nullptr, "Name", "Preset name"), "name");
        },
        "expected a input dialog");
    EXPECT_NONFATAL_FAILURE(
        {
            ModalScript script;
            script.messageBox("never shown", QMessageBox::Ok);
        },
        "never showed");
    EXPECT_NONFATAL_FAILURE(
        {
            ModalScript outer;
            {
                ModalScript inner;
                inner.messageBox("inner", QMessageBox::Ok);
                showInformationBox(nullptr, "Title", "inner");
            }
            showInformationBox(nullptr, "Title", "after the inner script");
        },
        "after the inner script");
}

TEST(TemporaryEnvironment, SettingsDataAndHomeGoToAFreshFolderAndComeBack)
{
    const QString homeBefore = QDir::homePath();
    QString home;
    {
        windowtest::TemporaryEnvironment environment;
        home = environment.home();
        EXPECT_EQ(QDir::homePath(), home);
        EXPECT_TRUE(environment.dataFolder().startsWith(home + "/data")) << environment.dataFolder().toStdString();
        QSettings settings;
        settings.setValue("MainWindow/width", 640);
        settings.sync();
        EXPECT_TRUE(settings.fileName().startsWith(home)) << settings.fileName().toStdString();
    }
    EXPECT_EQ(QDir::homePath(), homeBefore);
    EXPECT_FALSE(QDir(home).exists());
    windowtest::TemporaryEnvironment second;
    EXPECT_FALSE(QSettings().contains("MainWindow/width"));
}

TEST(GeneratedMedia, ClipsAndBurstsHoldWhatTheyPromise)
{
    windowtest::TemporaryEnvironment environment;
    const QString folder = environment.filesFolder();

    struct ClipCase {
        int frames, sharpest;
    };
    for (const ClipCase& c : {ClipCase{9, 4}, ClipCase{15, 0}, ClipCase{15, 14}}) {
        SCOPED_TRACE(c.sharpest);
        const generatedmedia::Clip clip = generatedmedia::writeClip(folder, c.frames, c.sharpest);
        ImagesSequence video(clip.path);
        ASSERT_TRUE(video.opened);
        EXPECT_EQ(video.frameCount, c.frames);
        int sharpestFound = -1;
        double best = -1.0;
        for (int i = 0; i < c.frames; ++i) {
            cv::Mat frame;
            const double score = sharpness(video.getFrame(frame, i, false));
            if (score > best) {
                best = score;
                sharpestFound = i;
            }
        }
        EXPECT_EQ(sharpestFound, c.sharpest);
    }

    const generatedmedia::Clip uniform = generatedmedia::writeUniformClip(folder, 6);
    ImagesSequence flat(uniform.path);
    ASSERT_TRUE(flat.opened);
    cv::Mat frame;
    cv::Scalar mean, deviation;
    cv::meanStdDev(flat.getFrame(frame, 3, false), mean, deviation);
    EXPECT_NEAR(mean[0], 128.0, 2.0);
    EXPECT_LT(deviation[0], 1.0);

    for (const QString extension : {"png", "tif"}) {
        SCOPED_TRACE(extension.toStdString());
        const generatedmedia::Burst burst = generatedmedia::writeBurst(folder, 5, extension);
        ASSERT_EQ(burst.paths.size(), 5);
        cv::Mat first;
        cv::cvtColor(cv::imread(burst.paths[0].toStdString()), first, cv::COLOR_BGR2GRAY);
        first.convertTo(first, CV_32F);
        for (int i = 1; i < 5; ++i) {
            cv::Mat shot;
            cv::cvtColor(cv::imread(burst.paths[i].toStdString()), shot, cv::COLOR_BGR2GRAY);
            shot.convertTo(shot, CV_32F);
            const cv::Point2d found = cv::phaseCorrelate(first, shot);
            EXPECT_NEAR(found.x, burst.shifts[i].x, 0.5) << "shot " << i;
            EXPECT_NEAR(found.y, burst.shifts[i].y, 0.5) << "shot " << i;
        }
    }
}
