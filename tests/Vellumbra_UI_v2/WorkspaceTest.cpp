#include "Workspace.h"

#include "GeneratedMedia.h"
#include "ImagesSequence.h"
#include "PresetImage.h"
#include "RenderPipeline.h"
#include "SharpestImageSelection.h"
#include "StackingContext.h"
#include "TemporaryEnvironment.h"
#include "TestMedia.h"

#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QSettings>
#include <QVariant>
#include <QWidget>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <functional>
#include <memory>

namespace {

bool sameImage(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0.0;
}

bool isBlack(const cv::Mat& image, int rows, int cols)
{
    return image.rows == rows && image.cols == cols && image.type() == CV_8UC3 && cv::countNonZero(image.reshape(1)) == 0;
}

class WorkspaceTest : public ::testing::Test {
protected:
    QString folder = testmedia::makeTempDir("vb-workspace");
    QWidget parent;
    QHBoxLayout* layout = new QHBoxLayout(&parent);

    ~WorkspaceTest() override { QDir(folder).removeRecursively(); }

    QString writePhoto(const QString& name, cv::Size size, unsigned seed)
    {
        const QString path = folder + "/" + name;
        cv::imwrite(path.toStdString(), generatedmedia::scene(size, seed));
        return path;
    }
};

}  // namespace

TEST_F(WorkspaceTest, EachKindOfMediaOpensIntoItsState)
{
    const generatedmedia::Clip clip = generatedmedia::writeClip(folder, 12, 5, cv::Size(96, 64));
    const QString photo = writePhoto("photo.png", cv::Size(80, 40), 3);
    const QString notVideo = folder + "/not-a-video.avi";
    QFile text(notVideo);
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("plain text\n");
    text.close();
    const QString lateName = writePhoto("b-later.png", cv::Size(60, 30), 5);
    const QString earlyName = writePhoto("a-earlier.png", cv::Size(60, 30), 6);

    struct Case {
        const char* name;
        std::function<Workspace*()> make;
        bool sequence, valid;
        int state, width, height;
        QString mediaPath, currentFile;
    };
    const Case cases[] = {
        {"video", [&] { return new Workspace(clip.path, true); }, true, true, 1, 96, 64, clip.path, clip.path},
        {"video that does not open", [&] { return new Workspace(notVideo, true); }, true, false, 1, 0, 0, notVideo,
         notVideo},
        {"one photo", [&] { return new Workspace(photo, false); }, false, true, 5, 80, 40, photo, photo},
        {"unreadable photo", [&] { return new Workspace(folder + "/missing.png", false); }, false, false, 5, 0, 0,
         folder + "/missing.png", folder + "/missing.png"},
        {"burst naming a later file first", [&] { return new Workspace(QStringList{lateName, earlyName}); }, true,
         true, 1, 60, 30, lateName, earlyName},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<Workspace> workspace(c.make());
        EXPECT_EQ(workspace->isSequence, c.sequence);
        EXPECT_EQ(workspace->frameSource != nullptr, c.sequence);
        EXPECT_EQ(workspace->valid, c.valid);
        EXPECT_EQ(workspace->state, c.state);
        EXPECT_EQ(workspace->width, c.width);
        EXPECT_EQ(workspace->height, c.height);
        EXPECT_EQ(workspace->mediaPath, c.mediaPath);
        EXPECT_EQ(workspace->currentFileName(), c.currentFile);
        EXPECT_EQ(workspace->mediaFolder.absolutePath(), QDir(folder).absolutePath());
        EXPECT_EQ(workspace->currentFrame, -1);
        EXPECT_EQ(workspace->savedResultDepth, 8);
        EXPECT_EQ(workspace->tool, 0);
        EXPECT_EQ(workspace->stackingContext(), nullptr);
        // Without a frame source these change nothing.
        workspace->setVideoSpeed(3);
        workspace->chooseCurrentFrame();
        EXPECT_EQ(workspace->videoSpeed, c.valid && c.sequence ? 3 : 0);
        EXPECT_EQ(workspace->state, c.valid && c.sequence ? 4 : c.state);
    }
}

TEST_F(WorkspaceTest, NewWorkspaceStartsFromTheStartUpDefaults)
{
    const QString photo = writePhoto("photo.png", cv::Size(20, 10), 3);
    const WorkspaceDefaults saved = workspaceDefaults;
    workspaceDefaults.framesBefore = 4;
    workspaceDefaults.align = true;
    {
        Workspace first(photo, false);
        first.framesBefore = 9;
        first.align = false;
    }
    Workspace second(photo, false);
    EXPECT_EQ(second.framesBefore, 4);
    EXPECT_TRUE(second.align);
    EXPECT_EQ(second.antighostingMode, 80);
    EXPECT_EQ(second.antighostingPower, workspaceDefaults.antighostingPower);
    workspaceDefaults = saved;
}

TEST_F(WorkspaceTest, CurrentImageFollowsTheStateAndTool)
{
    const generatedmedia::Clip clip = generatedmedia::writeClip(folder, 6, 2, cv::Size(64, 48));
    Workspace workspace(clip.path, true);
    ASSERT_TRUE(workspace.valid);
    cv::Mat shown;
    workspace.frameSource->getDisplayImageAt(shown, -1, false, false);
    ASSERT_FALSE(shown.empty());

    SharpestImageSelection* tile = workspace.addImageTile(generatedmedia::scene(cv::Size(64, 48), 9), &parent);
    tile->pipeline().setSourceImage(tile->image(), true);
    tile->pipeline().setRotation(0.1f, false);
    tile->pipeline().renderPreview(RenderPipeline::RotationStage, false);
    const cv::Mat rendered = tile->pipeline().output().clone();
    const cv::Mat rotated = tile->pipeline().rotated().clone();
    const cv::Mat loaded = tile->pipeline().previewSource().clone();

    struct Case {
        int state, tool;
        bool selected;
        const cv::Mat* expected;  // null: black
    };
    const Case cases[] = {
        {1, 0, false, &shown},   {2, 0, false, &shown},    {4, 0, false, &shown},   {8, 0, false, &shown},
        {5, 0, false, nullptr},  {7, 0, false, nullptr},   {5, 0, true, &rendered}, {7, 0, true, &rendered},
        {6, 1, false, nullptr},  {6, 1, true, &rotated},   {6, 2, true, &loaded},   {6, 0, true, nullptr},
        {3, 0, true, nullptr},   {9, 0, true, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "state " << c.state << " tool " << c.tool << " selected " << c.selected);
        workspace.state = c.state;
        workspace.tool = c.tool;
        workspace.selection.clear();
        workspace.selectedTile = nullptr;
        workspace.renderPipeline = nullptr;
        if (c.selected)
            workspace.selectTile(tile);
        const cv::Mat image = workspace.currentImage();
        EXPECT_TRUE(c.expected ? sameImage(image, *c.expected) : isBlack(image, 48, 64));
    }
}

TEST_F(WorkspaceTest, FanOutSettersReachEverySelectedPipelineAndRecord)
{
    struct Case {
        const char* name;
        std::function<void(Workspace&)> set;
        std::function<float(RenderPipeline&)> engine;  // null: no getter to read back
        float engineValue;
        int PresetSettings::*field;                     // null: nothing remembered
        int widget;
    };
    const Case cases[] = {
        {"operator", [](Workspace& w) { w.setTMAlgo(3, false); }, [](RenderPipeline& p) { return float(p.TMalgo()); },
         3.f, &PresetSettings::TMalgo, 3},
        {"rotation", [](Workspace& w) { w.setRotation(0.25f, false); }, [](RenderPipeline& p) { return p.rotation(); },
         0.25f, nullptr, 0},
        {"crop", [](Workspace& w) { w.setCrop(2, 3, 40, 30, false); },
         [](RenderPipeline& p) { return float(p.crop().width); }, 40.f, nullptr, 0},
        {"operator 1 alpha", [](Workspace& w) { w.setTM1Alpha(0.4f, 60, false); },
         [](RenderPipeline& p) { return p.params(0)[0]; }, 0.4f, &PresetSettings::alpha, 60},
        {"operator 3 gamma", [](Workspace& w) { w.setTM3Gamma(900.f, -65, false); },
         [](RenderPipeline& p) { return p.params(4)[2]; }, 900.f, &PresetSettings::gamma, -65},
        {"operator 4 beta", [](Workspace& w) { w.setTM4Beta(3.f, -70, false); },
         [](RenderPipeline& p) { return p.params(2)[1]; }, 3.f, &PresetSettings::beta, -70},
        {"strength", [](Workspace& w) { w.setStrength(0.75f, 50, false); },
         [](RenderPipeline& p) { return p.strength(); }, 0.75f, &PresetSettings::strength, 50},
        {"exposure", [](Workspace& w) { w.setExposure(1.5f, 150, false); },
         [](RenderPipeline& p) { return p.exposure(); }, 1.5f, &PresetSettings::exposure, 150},
        {"saturation", [](Workspace& w) { w.setSaturation(2.f, 25, false); },
         [](RenderPipeline& p) { return p.saturation(); }, 2.f, &PresetSettings::saturation, 25},
        {"whites", [](Workspace& w) { w.setWhites(0.3f, 30, false); }, nullptr, 0.f, &PresetSettings::whites, 30},
        {"shadows", [](Workspace& w) { w.setShadows(-0.2f, -20, false); }, nullptr, 0.f, &PresetSettings::shadows,
         -20},
        {"white clip", [](Workspace& w) { w.setWhiteClip(0.015f, 10, false); },
         [](RenderPipeline& p) { return p.whiteClip(); }, 0.015f, &PresetSettings::whiteClip, 10},
        {"sharpening radius", [](Workspace& w) { w.setSharpeningRadius(13, 6, false); },
         [](RenderPipeline& p) { return float(p.sharpeningRadius()); }, 13.f, &PresetSettings::sharpeningRadius, 6},
    };
    const QString photo = writePhoto("photo.png", cv::Size(20, 10), 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Workspace workspace(photo, false);
        SharpestImageSelection* selected = workspace.addImageTile(workspace.image, &parent);
        SharpestImageSelection* other = workspace.addImageTile(workspace.image, &parent);
        const Preset before = other->preset();

        // Nothing selected: nothing changes.
        c.set(workspace);
        if (c.engine) {
            EXPECT_NE(c.engine(other->pipeline()), c.engineValue);
        }
        if (c.field) {
            EXPECT_EQ(other->preset().*c.field, before.*c.field);
        }

        workspace.selectTile(selected);
        EXPECT_EQ(workspace.renderPipeline, &selected->pipeline());
        c.set(workspace);
        if (c.engine) {
            EXPECT_FLOAT_EQ(c.engine(selected->pipeline()), c.engineValue);
            EXPECT_NE(c.engine(other->pipeline()), c.engineValue);
        }
        if (c.field) {
            EXPECT_EQ(selected->preset().*c.field, c.widget);
            EXPECT_EQ(other->preset().*c.field, before.*c.field);
        }
    }
}

TEST_F(WorkspaceTest, TilesAreNumberedSelectedAndRemoved)
{
    const QString photo = writePhoto("photo.png", cv::Size(20, 10), 3);
    Workspace workspace(photo, false);
    for (int i = 0; i < 12; ++i)
        workspace.addImageTile(workspace.image, &parent);
    workspace.numberTiles();
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(workspace.tiles[i]->title(), QString("%1").arg(i + 1, 2, 10, QChar('0')));

    SharpestImageSelection* first = workspace.tiles[0];
    SharpestImageSelection* second = workspace.tiles[1];
    workspace.selectTile(first);
    workspace.selectTile(second);
    EXPECT_FALSE(first->property("isSelected").toBool());
    EXPECT_TRUE(second->property("isSelected").toBool());
    ASSERT_EQ(workspace.selection.size(), 1u);
    EXPECT_EQ(workspace.selectedTile, second);

    // Removing the selected tile leaves nothing pointing at it.
    workspace.removeTile(second);
    EXPECT_EQ(workspace.tiles.size(), 11u);
    EXPECT_TRUE(workspace.selection.empty());
    EXPECT_EQ(workspace.selectedTile, nullptr);
    EXPECT_EQ(workspace.renderPipeline, nullptr);
    workspace.removeTile(first);
    EXPECT_EQ(workspace.tiles.size(), 10u);
}

TEST_F(WorkspaceTest, PresetAppliedToTheSelectionReplacesItsRecord)
{
    const QString photo = writePhoto("photo.png", cv::Size(20, 10), 3);
    Workspace workspace(photo, false);
    SharpestImageSelection* tile = workspace.addImageTile(workspace.image, &parent);
    workspace.selectTile(tile);
    const Preset vivid("Vivid", true, 2, 10, 20, 30, 1, 2, 40, 50, 60, 7, 8, 9, 10, 11, 12, 13, false, 5, 6, 7);
    PresetImage presetTile(std::make_unique<RenderPipeline>(), &vivid, &parent, nullptr, nullptr, nullptr);
    workspace.applyPresetToSelection(&presetTile);
    EXPECT_STREQ(tile->preset().name, "Vivid");
    EXPECT_EQ(tile->preset().TMalgo, 2);
    EXPECT_EQ(tile->preset().sharpeningThreshold, 7);
    EXPECT_EQ(workspace.renderPipeline, &tile->pipeline());
}

TEST_F(WorkspaceTest, DeletedWhileTileSearchesAndPresetPreviewsRun)
{
    // A wide search over large frames is still reading the frame source when the workspace goes.
    windowtest::TemporaryEnvironment environment;
    QSettings().setValue("GeneralSettings/NbSharpenImages", 20);
    const generatedmedia::Clip clip = generatedmedia::writeClip(folder, 41, 20, cv::Size(1280, 720));
    for (int round = 0; round < 3; ++round) {
        auto workspace = std::make_unique<Workspace>(clip.path, true);
        ASSERT_TRUE(workspace->valid);
        std::vector<std::unique_ptr<PresetImage>> presetTiles;
        for (int i = 0; i < 3; ++i) {
            presetTiles.push_back(std::make_unique<PresetImage>(std::make_unique<RenderPipeline>(),
                                                                QString("P%1").arg(i), &parent, nullptr, nullptr,
                                                                nullptr));
            workspace->factoryPresetTiles.push_back(presetTiles.back().get());
        }
        workspace->frameSource->seek(19 + round);
        workspace->addCurrentFrameTile(&parent);
        workspace->selectTile(workspace->addImageTile(workspace->image, &parent));
        workspace->previewSelectionInPresets();
        auto* context = new StackingContext;
        workspace->setStackingContext(context);
        workspace->setStackingContext(context);
        EXPECT_EQ(workspace->stackingContext(), context);
        workspace.reset();
    }
}
