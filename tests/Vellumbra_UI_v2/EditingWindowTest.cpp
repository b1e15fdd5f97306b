#include "EditingForm.h"
#include "EditingSliderTable.h"
#include "EditingTools.h"
#include "EngineDefaults.h"
#include "GeneratedMedia.h"
#include "ImageCompare.h"
#include "LanguageEngine.h"
#include "Preset.h"
#include "PresetImage.h"
#include "PresetStore.h"
#include "ProcessDefaultsGuard.h"
#include "RenderPipeline.h"
#include "ResizableFrame.h"
#include "ResizableLine.h"
#include "SharpestImageSelection.h"
#include "ToneMapperFactory.h"
#include "WindowSession.h"
#include "Workspace.h"

#include <QApplication>
#include <QDir>
#include <QMainWindow>
#include <QMouseEvent>
#include <QSlider>
#include <QStatusBar>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <thread>

namespace {

// Linear light of a generated scene, with highlights above the display range.
cv::Mat lightImage(cv::Size size)
{
    cv::Mat light;
    generatedmedia::scene(size, 5).convertTo(light, CV_32FC3, 1.0 / 255.0);
    cv::pow(light, 2.2, light);
    light(cv::Rect(0, 0, size.width / 3, size.height / 3)) *= 3.0f;
    return light;
}

// The same picture, perhaps rendered at another preview size: on average within a
// hundredth of full scale.
bool alike(const cv::Mat& a, const cv::Mat& b, double meanDifference = 0.01)
{
    if (a.empty() || b.empty() || a.type() != b.type())
        return false;
    cv::Mat resized;
    cv::resize(b, resized, a.size(), 0, 0, cv::INTER_AREA);
    const double scale = a.depth() == CV_8U ? 255.0 : 1.0;
    return cv::norm(a, resized, cv::NORM_L1) / (a.total() * a.channels() * scale) < meanDifference;
}

// An editing window over one light image, selected as a finished stacking run leaves it.
class EditingWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        setPreviewBox(cv::Size(240, 160));
        // Every render then takes the size the sliders' own renders take, so pictures compare pixel for pixel.
        session.find<QCheckBox>("checkBox_FastPreview")->setChecked(true);
        light = lightImage(cv::Size(360, 240));
        const QString photo = session.environment().filesFolder() + "/photo.png";
        QDir().mkpath(session.environment().filesFolder());
        cv::Mat eightBits;
        light.convertTo(eightBits, CV_8UC3, 255.0);
        ASSERT_TRUE(cv::imwrite(photo.toStdString(), eightBits));
        open = session.adoptPhoto(photo);
        ASSERT_EQ(open->state, StateEditing);
        tile = open->addImageTile(light, session.find<QWidget>("scrollAreaWidgetContents_ProEditingSelection"));
        tile->pipeline().setSourceImage(light, false);
        window().onClickSelectImage(tile);
        ASSERT_FALSE(picture().empty());
    }

    void TearDown() override
    {
        session.discardMedia();
        setPreviewBox(savedPreviewBox);
    }

    VellumbraV2& window() { return session.window(); }
    QSlider* slider(const QString& name) { return session.find<QSlider>(name.toLatin1().constData()); }
    RenderPipeline& pipeline() { return *open->renderPipeline; }
    cv::Mat picture() { return open->currentImage(); }
    int undoCount() { return open->undoRedoManager.undoCount(); }

    // The selected image rendered again from scratch with its present settings; in
    // the full preview's size, not the quick one's, when not interactive.
    cv::Mat freshRender(bool interactive = true)
    {
        RenderPipeline reference;
        reference.copySettings(pipeline());
        reference.setSourceImage(light, true);
        reference.renderPreview(RenderPipeline::RotationStage, interactive);
        return reference.output().clone();
    }

    ProcessDefaultsGuard defaults;
    cv::Size savedPreviewBox = previewBox();
    windowtest::WindowSession session;
    cv::Mat light;
    Workspace* open = nullptr;
    SharpestImageSelection* tile = nullptr;
};

// Operators that report some progress, then wait until the test lets them go on
// (or their cancel flag rises), and tell which thread they ran on. Their picture
// depends on the first parameter.
struct Gate {
    std::atomic<bool> open{true};
    std::atomic<bool> waiting{false};
    std::atomic<Qt::HANDLE> thread{nullptr};
};

Gate& gate()
{
    static Gate instance;
    return instance;
}

class GatedOperator : public ToneMappingBase {
public:
    cv::Mat& apply(cv::Mat& out, const cv::Mat& in, const float params[3]) override
    {
        gate().thread = QThread::currentThreadId();
        progress = 35;
        gate().waiting = true;
        while (!gate().open && !cancel)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        gate().waiting = false;
        if (cancel) {
            out.release();
            return out;
        }
        cv::Mat scaled = in * (1.0f + params[0]);
        out = cv::min(scaled, 1.0f);
        progress = 100;
        return out;
    }
};

std::unique_ptr<ToneMappingBase> makeGatedOperator(int index)
{
    return index >= 0 && index <= 4 ? std::make_unique<GatedOperator>() : nullptr;
}

class GatedEditingWindow : public EditingWindow {
protected:
    GatedEditingWindow() { setToneMapperMakerHook(&makeGatedOperator); }
    ~GatedEditingWindow() override
    {
        setToneMapperMakerHook(nullptr);
        gate().open = true;
    }

    // Runs check on the interface thread, from inside the recompute's own loop, once
    // the operator waits; check lets it go on when it returns.
    void whileOperatorWaits(const std::function<void()>& check)
    {
        gate().open = false;
        probe.setInterval(2);
        QObject::disconnect(&probe, nullptr, nullptr, nullptr);
        QObject::connect(&probe, &QTimer::timeout, [this, check] {
            if (!gate().waiting)
                return;
            probe.stop();
            check();
        });
        probe.start();
    }

    // The cancel button's effect: the flag first, so the released operator sees it.
    const std::function<void()> cancelTheRender = [this] {
        pipeline().toneMapper()->cancel = true;
        gate().open = true;
    };
    QTimer probe;
};

}  // namespace

TEST_F(EditingWindow, EverySliderRendersUndoesAndRedoes)
{
    struct Case {
        const char* slider;
        int toneMapper;  // operator in use while the slider moves
        int position;
        bool changesPicture;
    };
    const Case cases[] = {
        {"horizontalSlider_TMAlpha", 0, -20, true},
        {"horizontalSlider_TMBeta", 0, 10, true},
        {"horizontalSlider_TM2_Alpha", 1, -60, true},
        {"horizontalSlider_TM4_Alpha", 2, 90, true},
        {"horizontalSlider_TM4_Beta", 2, 40, true},
        {"horizontalSlider_TM4_Gamma", 2, 20, true},
        {"horizontalSlider_TM3_Alpha", 4, -50, true},
        {"horizontalSlider_TM3_Beta", 4, 60, true},
        {"horizontalSlider_TM3_Gamma", 4, 50, true},
        {"horizontalSlider_TMStrength", 0, 80, true},
        {"horizontalSlider_TMExposition", 0, 40, true},
        {"horizontalSlider_TMContrast", 0, 60, true},
        {"horizontalSlider_TMHighlights", 0, -70, true},
        {"horizontalSlider_TMShadows", 0, 70, true},
        {"horizontalSlider_TMWhites", 0, -60, true},
        {"horizontalSlider_TMBlacks", 0, 60, true},
        {"horizontalSlider_TMHue", 0, 80, true},
        {"horizontalSlider_TMSaturation", 0, -70, true},
        {"horizontalSlider_TMVibrance", 0, 50, true},
        {"horizontalSlider_TMBlackClip", 0, 60, true},
        {"horizontalSlider_TMWhiteClip", 0, 60, true},
        {"horizontalSlider_TMSharpeningAmount", 0, 100, true},
        {"horizontalSlider_TMSharpeningRadius", 0, 9, true},
        // The render does not use the threshold; it is still kept and recorded.
        {"horizontalSlider_TMSharpeningThreshold", 0, 75, false},
    };
    const EditingForm form;
    QComboBox* toneMappers = session.find<QComboBox>("comboBox_TM");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.slider);
        // The fifth operator is never offered by the combo; only a pipeline that took it keeps it.
        if (c.toneMapper < toneMappers->count()) {
            toneMappers->setCurrentIndex(c.toneMapper);
        } else {
            open->setTMAlgo(c.toneMapper, false);
            window().recomputeToneMapping(RenderPipeline::ToneMapStage);
        }
        ASSERT_EQ(pipeline().TMalgo(), c.toneMapper);
        const EditingSlider& row = form.row(c.slider);
        QSlider* moved = slider(c.slider);
        const int start = moved->value();
        const cv::Mat before = picture();
        const int recorded = undoCount();

        moved->setValue(c.position);
        const cv::Mat after = picture();
        EXPECT_EQ(undoCount(), recorded + 1);
        EXPECT_FLOAT_EQ(row.current(pipeline()), row.conversion.toSetting(c.position));
        EXPECT_EQ(tile->preset().*row.field, c.position);
        EXPECT_NE(testmedia::identical(before, after), c.changesPicture);

        window().MenuActionUndoClicked();
        EXPECT_EQ(moved->value(), start);
        EXPECT_TRUE(testmedia::identical(picture(), before));
        EXPECT_EQ(undoCount(), recorded);

        window().MenuActionRedoClicked();
        EXPECT_EQ(moved->value(), c.position);
        EXPECT_TRUE(testmedia::identical(picture(), after));

        window().MenuActionUndoClicked();
        ASSERT_EQ(moved->value(), start);
    }
}

TEST_F(EditingWindow, DoubleClickPutsEverySliderBackWhereTheWindowStarted)
{
    const EditingForm startForm;
    for (const EditingSlider& row : editingSliders()) {
        QSlider* moved = slider(startForm.name(row));
        SCOPED_TRACE(moved->objectName().toStdString());
        const int start = startForm.slider(row)->value();
        moved->setValue(start == moved->maximum() ? moved->minimum() : moved->maximum());
        // A real double-click ends with the button's release.
        QTest::mouseDClick(moved, Qt::LeftButton);
        QTest::mouseRelease(moved, Qt::LeftButton);
        EXPECT_EQ(moved->value(), start);
    }
}

TEST_F(EditingWindow, ARecordSetsOnlyTheSlidersOfItsOperator)
{
    const EditingForm form;
    QComboBox* toneMappers = session.find<QComboBox>("comboBox_TM");
    const int last = toneMappers->count() - 1;
    struct Case {
        int recorded;
        int shown;  // the combo's operator, which the pipeline takes too
        int picked = -1;  // then picked in the combo, and its tile clicked again
    };
    // The fifth operator is not in the combo: the record takes the last one it offers.
    for (const Case& c : {Case{1, 1, 3}, Case{3, 3}, Case{4, last}, Case{0, 0, 2}}) {
        SCOPED_TRACE(c.recorded);
        Preset record;
        record.TMalgo = c.recorded;
        record.alpha = -33;
        std::map<QString, int> before;
        for (const EditingSlider& row : editingSliders())
            before[form.name(row)] = slider(form.name(row))->value();
        window().applyEditingParameters(record, true);
        EXPECT_EQ(toneMappers->currentIndex(), c.shown);
        EXPECT_EQ(pipeline().TMalgo(), c.shown);
        EXPECT_EQ(tile->preset().TMalgo, c.shown);
        for (const EditingSlider& row : editingSliders()) {
            if (row.isOperatorParameter() && row.field == &PresetSettings::alpha) {
                EXPECT_EQ(slider(form.name(row))->value(), row.toneMapper == c.shown ? -33 : before[form.name(row)])
                    << form.name(row).toStdString();
            }
        }
        EXPECT_TRUE(testmedia::identical(picture(), freshRender()));
        if (c.picked < 0)
            continue;
        toneMappers->setCurrentIndex(c.picked);
        std::map<QString, int> picked;
        for (const EditingSlider& row : editingSliders())
            picked[form.name(row)] = slider(form.name(row))->value();
        window().onClickSelectImage(tile);
        for (const EditingSlider& row : editingSliders())
            EXPECT_EQ(slider(form.name(row))->value(), picked[form.name(row)]) << form.name(row).toStdString();
    }
}

TEST_F(EditingWindow, ADragLeavesOneUndoActionBackToWhereItBegan)
{
    // A steady drag: its eight steps span more than the merge window, each well within it.
    open->undoRedoManager.setClock(
        [now = qint64(0)]() mutable { return QDateTime::fromMSecsSinceEpoch(now += 100); });
    // As users have the window: the drag's quick renders end in the full preview.
    session.find<QCheckBox>("checkBox_FastPreview")->setChecked(false);
    QSlider* exposure = slider("horizontalSlider_TMExposition");
    const cv::Mat before = freshRender(false);
    exposure->setSliderDown(true);
    for (int position = 5; position <= 40; position += 5)
        exposure->setValue(position);
    exposure->setSliderDown(false);
    EXPECT_EQ(undoCount(), 1);
    EXPECT_TRUE(testmedia::identical(picture(), freshRender(false)));
    window().MenuActionUndoClicked();
    EXPECT_EQ(exposure->value(), 0);
    EXPECT_EQ(undoCount(), 0);
    EXPECT_TRUE(testmedia::identical(picture(), before));
}

TEST_F(EditingWindow, APresetTileSetsThePanelAndIsMarkedAsMatching)
{
    if (!defaultPresetsLoaded)
        loadDefaultPresets();
    ASSERT_FALSE(defaultPresets.empty());
    const Preset& neutral = *defaultPresets.front();
    auto* presetTile = new PresetImage(std::make_unique<RenderPipeline>(), &neutral,
                                       session.find<QWidget>("scrollAreaWidgetContents_BottomPresets"), nullptr,
                                       nullptr, nullptr);
    open->factoryPresetTiles.push_back(presetTile);
    slider("horizontalSlider_TMExposition")->setValue(30);
    ASSERT_EQ(undoCount(), 1);
    EXPECT_FALSE(presetTile->property("isSelected").toBool());

    window().onClickPresetImage(presetTile);
    EXPECT_EQ(undoCount(), 0);
    EXPECT_FALSE(session.find<QAction>("actionUndo")->isEnabled());
    EXPECT_EQ(session.find<QGroupBox>("groupBox_TMOptions")->isChecked(), neutral.applyTM);
    EXPECT_EQ(session.find<QGroupBox>("groupBox_Sharpening")->isChecked(), neutral.applySharpening);
    EXPECT_EQ(slider("horizontalSlider_TMExposition")->value(), neutral.exposure);
    EXPECT_EQ(pipeline().applyTM(), neutral.applyTM);
    EXPECT_TRUE(presetTile->property("isSelected").toBool());
    EXPECT_TRUE(testmedia::identical(picture(), freshRender()));
}

TEST_F(EditingWindow, CropToolCutsThePictureAndUndoPutsItBack)
{
    const cv::Mat before = picture();
    window().PushButtonCropToolClicked();
    EXPECT_EQ(open->state, StateTool);
    QLabel* label = session.find<QLabel>("label_VideoPreview");
    auto* frame = label->findChild<ResizableFrame*>();
    ASSERT_NE(frame, nullptr);
    EXPECT_FALSE(frame->isHidden());
    const QSize shown = label->size();
    frame->setGeometry(shown.width() / 4, shown.height() / 4, shown.width() / 2, shown.height() / 2);

    window().PushButtonApplyToolsClicked();
    EXPECT_EQ(open->state, StateEditing);
    EXPECT_EQ(open->tool, 0);
    EXPECT_TRUE(frame->isHidden());
    // A label pixel spans several picture pixels.
    const cv::Rect crop = pipeline().crop();
    const int slackX = pipeline().fullWidth() / shown.width() + 2;
    const int slackY = pipeline().fullHeight() / shown.height() + 2;
    EXPECT_NEAR(crop.x, pipeline().fullWidth() / 4, slackX);
    EXPECT_NEAR(crop.y, pipeline().fullHeight() / 4, slackY);
    EXPECT_NEAR(crop.width, pipeline().fullWidth() / 2, slackX);
    EXPECT_NEAR(crop.height, pipeline().fullHeight() / 2, slackY);
    // Previewed at the view's size, in the crop's proportions.
    EXPECT_NEAR(double(picture().cols) / picture().rows, double(crop.width) / crop.height, 0.03);

    // The view follows the picture's new shape, so the preview may come back a pixel off
    // in size, which a local operator's detail turns into about 1 % of difference; the
    // crop left in place would differ by far more.
    window().MenuActionUndoClicked();
    EXPECT_EQ(pipeline().crop(), cv::Rect(-1, -1, -1, -1));
    EXPECT_TRUE(alike(picture(), before, 0.02));
}

TEST_F(EditingWindow, HorizonToolLevelsTheDrawnLineAndDropsTheCrop)
{
    window().setCropRect(cv::Rect(10, 10, 100, 80));
    window().PushButtonHorizonToolClicked();
    EXPECT_EQ(open->state, StateTool);
    auto* line = session.find<QLabel>("label_VideoPreview")->findChild<ResizableLine*>();
    ASSERT_NE(line, nullptr);
    EXPECT_FALSE(line->isHidden());
    // Pick the right end up, then drag it a quarter of the label upwards.
    const QPoint end = line->p2();
    const QPoint lifted = end - QPoint(0, line->height() / 4);
    QMouseEvent hover(QEvent::MouseMove, end, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(line, &hover);
    QMouseEvent drag(QEvent::MouseMove, lifted, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(line, &drag);
    ASSERT_EQ(line->p2(), lifted);
    const int expected = horizonDegrees(line->p1(), line->p2(), line->parentWidget()->size(), picture().size());
    ASSERT_GT(expected, 0);

    window().PushButtonApplyToolsClicked();
    EXPECT_EQ(open->state, StateEditing);
    EXPECT_EQ(slider("horizontalSlider_Rotation_2")->value(), expected);
    EXPECT_FLOAT_EQ(pipeline().rotation(), rotationRadians(expected));
    EXPECT_EQ(pipeline().crop(), cv::Rect(-1, -1, -1, -1));
    EXPECT_EQ(session.window().statusBar()->currentMessage(), translate("HorizonRemovedCrop"));
    // The whole turned picture, no longer the crop.
    EXPECT_NEAR(double(picture().cols) / picture().rows, double(pipeline().fullWidth()) / pipeline().fullHeight(),
                0.05);

    window().MenuActionUndoClicked();
    EXPECT_EQ(slider("horizontalSlider_Rotation_2")->value(), 0);
    EXPECT_EQ(pipeline().rotation(), 0.f);
    EXPECT_EQ(pipeline().crop(), cv::Rect(-1, -1, -1, -1));
}

TEST_F(EditingWindow, LoadingIconShowsTheTenthsOfTheProgress)
{
    auto* icon = session.find<QWidget>("frame_LoadingIcone");
    auto* pages = session.find<QStackedWidget>("stackedWidget_LoadingIcone");
    struct Case {
        int percent;
        int page;  // -1: hidden
    };
    for (const Case& c : {Case{0, 0}, Case{5, 0}, Case{35, 3}, Case{99, 9}, Case{100, -1}, Case{120, -1}}) {
        SCOPED_TRACE(c.percent);
        window().setLoadingIconeAt(c.percent);
        EXPECT_EQ(icon->isHidden(), c.page < 0);
        if (c.page >= 0) {
            EXPECT_EQ(pages->currentIndex(), c.page);
        }
    }
}

TEST_F(GatedEditingWindow, OperatorChangeRendersOnTheWorkerBehindTheLoadingIcon)
{
    const cv::Mat before = picture();
    bool checked = false;
    whileOperatorWaits([&] {
        checked = true;
        EXPECT_FALSE(session.find<QWidget>("frame_LoadingIcone")->isHidden());
        EXPECT_FALSE(session.find<QWidget>("frame_SecondOptions")->isEnabled());
        EXPECT_FALSE(session.find<QWidget>("frame_MainOptions")->isEnabled());
        EXPECT_FALSE(session.find<QWidget>("stackedWidget_CentralWidgetBottom")->isEnabled());
        EXPECT_FALSE(session.find<QAction>("actionUndo")->isEnabled());
        // What is shown meanwhile never reads the pipeline the worker writes.
        EXPECT_TRUE(testmedia::identical(picture(), before));
        // Held back: the change being rendered stays recorded and shown.
        window().MenuActionUndoClicked();
        EXPECT_EQ(undoCount(), 1);
        EXPECT_EQ(session.find<QComboBox>("comboBox_TM")->currentIndex(), 1);
        // The step bar stays live, but no step may take the pipeline away meanwhile.
        window().changeStep(2);
        EXPECT_EQ(open->state, StateEditing);
        gate().open = true;
    });
    session.find<QComboBox>("comboBox_TM")->setCurrentIndex(1);
    EXPECT_TRUE(checked);
    EXPECT_NE(gate().thread.load(), QThread::currentThreadId());
    EXPECT_TRUE(session.find<QWidget>("frame_LoadingIcone")->isHidden());
    EXPECT_TRUE(session.find<QWidget>("frame_SecondOptions")->isEnabled());
    EXPECT_TRUE(session.find<QAction>("actionUndo")->isEnabled());
    EXPECT_EQ(pipeline().TMalgo(), 1);
    EXPECT_FALSE(testmedia::identical(picture(), before));
    EXPECT_TRUE(testmedia::identical(picture(), freshRender()));
}

TEST_F(GatedEditingWindow, ACancelledRenderLeavesTheNextMovesRenderingNormally)
{
    // A cancel left raised, as a cancelled export leaves it, does not cut the next recompute short.
    pipeline().toneMapper()->cancel = true;
    slider("horizontalSlider_TMAlpha")->setValue(80);
    const cv::Mat rendered = picture();
    EXPECT_TRUE(testmedia::identical(rendered, freshRender()));

    // Cancelled while it renders: the previous picture stays and the panel is free again.
    whileOperatorWaits(cancelTheRender);
    slider("horizontalSlider_TMAlpha")->setValue(-40);
    EXPECT_TRUE(testmedia::identical(picture(), rendered));
    EXPECT_TRUE(session.find<QWidget>("frame_SecondOptions")->isEnabled());
    EXPECT_TRUE(session.find<QWidget>("frame_LoadingIcone")->isHidden());

    slider("horizontalSlider_TMExposition")->setValue(25);
    EXPECT_FALSE(testmedia::identical(picture(), rendered));
    EXPECT_TRUE(testmedia::identical(picture(), freshRender()));
}

TEST_F(GatedEditingWindow, ACancelledRenderFallsBackToTheFirstFactoryPreset)
{
    if (!defaultPresetsLoaded)
        loadDefaultPresets();
    ASSERT_FALSE(defaultPresets.empty());
    const Preset& first = *defaultPresets.front();
    open->factoryPresetTiles.push_back(new PresetImage(std::make_unique<RenderPipeline>(), &first,
                                                       session.find<QWidget>("scrollAreaWidgetContents_BottomPresets"),
                                                       nullptr, nullptr, nullptr));
    whileOperatorWaits(cancelTheRender);
    slider("horizontalSlider_TMAlpha")->setValue(-40);
    EXPECT_EQ(session.find<QGroupBox>("groupBox_TMOptions")->isChecked(), first.applyTM);
    EXPECT_EQ(slider("horizontalSlider_TMExposition")->value(), first.exposure);
    EXPECT_EQ(undoCount(), 0);
    EXPECT_TRUE(session.find<QWidget>("frame_SecondOptions")->isEnabled());
    EXPECT_TRUE(testmedia::identical(picture(), freshRender()));
}
