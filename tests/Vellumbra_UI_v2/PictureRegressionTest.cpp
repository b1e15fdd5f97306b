#include "EditingDefaults.h"
#include "EditingForm.h"
#include "GeneratedMedia.h"
#include "ImageIO.h"
#include "LinearAccumulator.h"
#include "ProcessDefaultsGuard.h"
#include "RenderPipeline.h"
#include "SourceKindMark.h"
#include "StackingContext.h"
#include "TestMedia.h"

#include <QTemporaryDir>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <functional>
#include <string>

// Ordinary pictures of each kind users open, rendered as the editing view shows them
// at the panel's start positions with every operator the operator list offers, against
// stored renders (<picture>-<operator index>.png). VB_UPDATE_EXPECTED_RENDERS=1 rewrites
// them instead.
namespace {

constexpr int kWidth = 112;
// The editing window's preview box at its usual size.
const cv::Size kWindowBox(1224, 816);

cv::Mat reduced(const cv::Mat& image)
{
    cv::Mat small = image;
    if (image.cols > kWidth)
        cv::resize(image, small, cv::Size(kWidth, image.rows * kWidth / image.cols), 0, 0, cv::INTER_AREA);
    return small;
}

const QString kMate = "mate-backgrounds/usr/share/backgrounds/mate/nature/";
const QString kPhone = "forensics-samples-files/usr/share/forensics-samples/original-files/";

// A file of the test media, empty when it is missing; photos decode at a quarter size.
cv::Mat media(const QString& path, int flags = cv::IMREAD_REDUCED_COLOR_4)
{
    const QString file = testmedia::mediaFile(path);
    return file.isEmpty() ? cv::Mat() : cv::imread(file.toStdString(), flags);
}

// A world light probe as float, `gain` times as bright.
cv::Mat hdr(const char* name, double gain)
{
    setenv("OPENCV_IO_ENABLE_OPENEXR", "1", 0);
    const cv::Mat image = media(QString("blender-data/usr/share/blender/datafiles/studiolights/world/") + name,
                                cv::IMREAD_ANYDEPTH | cv::IMREAD_COLOR);
    return image.empty() ? image : cv::Mat(image * gain);
}

// The phone video's first frame, 8-bit, `gain` times as bright; decoded once.
cv::Mat videoFrame(double gain)
{
    static cv::Mat first;
    if (first.empty() && !generatedmedia::phoneVideo().isEmpty())
        cv::VideoCapture(generatedmedia::phoneVideo().toStdString()).read(first);
    cv::Mat frame;
    reduced(first).convertTo(frame, CV_8U, gain);
    return frame;
}

// The light image of eight noisy shots of one scene, as a stacking run averages them.
cv::Mat burstLightImage()
{
    const cv::Mat scene = generatedmedia::scene(cv::Size(kWidth, 85), 5);
    StackingContext context;
    cv::RNG rng(9);
    for (int shot = 0; shot < 8; ++shot) {
        cv::Mat noise(scene.size(), CV_16SC3), noisy;
        rng.fill(noise, cv::RNG::NORMAL, 0, 6);
        cv::add(scene, noise, noisy, cv::noArray(), CV_8U);
        shot == 0 ? initLinearAccumulator(8, noisy, &context) : addToLinearAccumulator(8, noisy, &context);
    }
    cv::Mat light;
    finishLinearMean(&context, 8, light);
    return light;
}

// The light image saved as the window saves it (Radiance HDR, its kind marked) and
// opened again: it comes back display-referred, as it was stacked.
cv::Mat savedAndReopened(const cv::Mat& light)
{
    const QTemporaryDir folder;
    const std::string path = folder.filePath("light.hdr").toStdString();
    EXPECT_TRUE(saveImageWithDepth(path, light, 32, "") && markSourceKind(path, SourceKind::DisplayReferred));
    cv::Mat reopened;
    readImage(reopened, path, false);
    EXPECT_EQ(sourceKindOfFile(path, reopened.depth()), SourceKind::DisplayReferred);
    return reopened;
}

// How a picture reaches the pixels compared. Large renders are compared reduced by
// area, so that their stored files stay small.
enum class Road {
    // Reduced to kWidth, previewed in a box of its size.
    Small,
    // At full size, previewed in the window's box: the preview reduces it, finds the
    // full-size extremes; compared at a quarter of the preview.
    WindowPreview,
    // At full size, exported with the panel's start operator alone; compared at half size.
    Export,
};

struct Picture {
    const char* name;
    std::function<cv::Mat()> make;
    // As the window tells the pipeline: an HDR file is scene-referred, a stack of
    // 8-bit shots display-referred; 8-bit pictures tell by their depth.
    SourceKind kind = SourceKind::Unknown;
    Road road = Road::Small;
};

const Picture kPictures[] = {
    {"DaylightLandscape", [] { return media(kMate + "Dune.jpg"); }},
    {"DaylightCloseUp", [] { return media(kMate + "LadyBird.jpg"); }},
    {"PhoneDaylight", [] { return media(kPhone + "pic2/IMG_20200608_111614.jpg"); }},
    {"PhoneNight", [] { return media(kPhone + "pic2/IMG_20191224_234846.jpg"); }},
    {"HdrSunset", [] { return hdr("sunset.exr", 1.0); }, SourceKind::SceneReferred},
    {"HdrSunriseTwoStopsUp", [] { return hdr("sunrise.exr", 4.0); }, SourceKind::SceneReferred},
    {"HdrCourtyard", [] { return hdr("courtyard.exr", 1.0); }, SourceKind::SceneReferred},
    {"HdrNight", [] { return hdr("night.exr", 1.0); }, SourceKind::SceneReferred},
    {"VideoFrame", [] { return videoFrame(1.0); }},
    {"DimVideoFrame", [] { return videoFrame(0.25); }},
    {"LetterboxedFrame", [] {  // a wide film in a taller picture
         cv::Mat frame = videoFrame(1.0);
         if (!frame.empty())
             cv::copyMakeBorder(frame, frame, frame.rows / 4, frame.rows / 4, 0, 0, cv::BORDER_CONSTANT);
         return frame;
     }},
    {"BurstLightImage", burstLightImage, SourceKind::DisplayReferred},
    {"BurstLightImageReopened", [] { return savedAndReopened(burstLightImage()); }, SourceKind::DisplayReferred},
    // Street lamps in a 12-megapixel night shot.
    {"PhoneNightInTheWindow", [] { return media(kPhone + "pic2/IMG_20191224_234846.jpg", cv::IMREAD_COLOR); },
     SourceKind::Unknown, Road::WindowPreview},
    // Lamps far brighter than white, which sharpening must not ring.
    {"HdrNightExported", [] { return hdr("night.exr", 1.0); }, SourceKind::SceneReferred, Road::Export},
};

// The render of operator `index` as the picture's road gives it, 8-bit, at the size it
// is compared at.
cv::Mat rendered(const Picture& picture, const cv::Mat& input, int index)
{
    RenderPipeline pipeline;
    pipeline.setTMAlgo(index, false);
    pipeline.setSourceImage(input, true, picture.kind);
    cv::Mat render;
    double comparedScale = 1.0;
    if (picture.road == Road::Export) {
        render = pipeline.renderFull();
        comparedScale = 0.5;
    } else {
        setPreviewBox(picture.road == Road::Small ? input.size() : kWindowBox);
        pipeline.renderPreview(RenderPipeline::RotationStage, false);
        render = pipeline.output();
        comparedScale = picture.road == Road::Small ? 1.0 : 0.25;
    }
    if (comparedScale < 1.0)
        cv::resize(render, render, cv::Size(), comparedScale, comparedScale, cv::INTER_AREA);
    cv::Mat eightBit;
    render.convertTo(eightBit, CV_8U, 255.0);
    return eightBit;
}

// The largest difference between the mean values of the two pictures' 16x16 blocks.
double worstBlockOffset(const cv::Mat& rendered, const cv::Mat& expected)
{
    const cv::Rect wholeBlocks(0, 0, rendered.cols / 16 * 16, rendered.rows / 16 * 16);
    cv::Mat difference, blocks;
    cv::subtract(rendered(wholeBlocks), expected(wholeBlocks), difference, cv::noArray(), CV_32F);
    cv::resize(difference, blocks, wholeBlocks.size() / 16, 0.0, 0.0, cv::INTER_AREA);
    return cv::norm(blocks, cv::NORM_INF);
}

using PictureRegression = ::testing::TestWithParam<Picture>;

TEST_P(PictureRegression, RendersAsStoredWithEveryOperator)
{
    const Picture& picture = GetParam();
    const cv::Mat input = picture.road == Road::Small ? reduced(picture.make()) : picture.make();
    if (input.empty())
        GTEST_SKIP() << picture.name << ": its media are missing (scripts/fetch-test-media.sh)";
    const bool update = qEnvironmentVariableIntValue("VB_UPDATE_EXPECTED_RENDERS") == 1;
    const ProcessDefaultsGuard defaults;
    const EditingForm form;
    engineDefaults = engineDefaultsFrom(form.ui);
    const bool startOperatorAlone = picture.road == Road::Export;
    for (int index = 0; index < form.ui.comboBox_TM->count(); ++index) {
        if (startOperatorAlone && index != form.ui.comboBox_TM->currentIndex())
            continue;
        const std::string path = std::string(VB_EXPECTED_RENDERS) + "/" + picture.name + "-" + std::to_string(index) + ".png";
        SCOPED_TRACE(path);
        const cv::Mat render = rendered(picture, input, index);
        if (update) {
            EXPECT_TRUE(cv::imwrite(path, render, {cv::IMWRITE_PNG_COMPRESSION, 9}));
            continue;
        }
        const cv::Mat expected = cv::imread(path, cv::IMREAD_COLOR);
        ASSERT_EQ(expected.size(), render.size()) << "stored render missing or of another size (VB_UPDATE_EXPECTED_RENDERS=1 rewrites it)";
        cv::Mat difference;
        cv::absdiff(render, expected, difference);
        difference = difference.reshape(1);
        EXPECT_LE(cv::mean(difference)[0], 1.0);
        EXPECT_LE(cv::countNonZero(difference > 3), difference.total() / 100);
        // A ring round one lamp moves few values, but all of one place.
        EXPECT_LE(worstBlockOffset(render, expected), 8.0);
    }
}

INSTANTIATE_TEST_SUITE_P(OrdinaryPictures, PictureRegression, ::testing::ValuesIn(kPictures),
                         [](const ::testing::TestParamInfo<Picture>& info) { return std::string(info.param.name); });

}  // namespace
