#include "PresetImage.h"

#include "EngineDefaults.h"
#include "PixelOps.h"
#include "PresetPreviewSize.h"
#include "RenderPipeline.h"
#include "TileTestSupport.h"
#include "ToneMapperFactory.h"

#include <QLabel>
#include <QPixmap>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace {

// An identity operator whose next render can be held until it is cancelled or released.
class GateOperator : public ToneMappingBase {
public:
    static std::atomic<bool> holdNext;
    static std::atomic<bool> release;
    static std::atomic<bool> holding;
    static std::atomic<int> finished;
    static std::atomic<int> cancelled;
    // The thread of the render that entered last, and one token per render entered.
    static std::atomic<QThread*> renderThread;
    static QSemaphore entered;

    static void reset()
    {
        renderThread = nullptr;
        entered.acquire(entered.available());
        holdNext = false;
        release = false;
        holding = false;
        finished = 0;
        cancelled = 0;
    }

    cv::Mat& apply(cv::Mat& out, const cv::Mat& in, const float*) override
    {
        renderThread = QThread::currentThread();
        entered.release();
        if (holdNext.exchange(false)) {
            holding = true;
            while (!cancel && !release)
                QThread::msleep(1);
            holding = false;
            if (cancel) {
                ++cancelled;
                out.release();
                return out;
            }
        }
        out = in.clone();
        ++finished;
        return out;
    }
};

std::atomic<bool> GateOperator::holdNext{false};
std::atomic<bool> GateOperator::release{false};
std::atomic<bool> GateOperator::holding{false};
std::atomic<int> GateOperator::finished{0};
std::atomic<int> GateOperator::cancelled{0};
std::atomic<QThread*> GateOperator::renderThread{nullptr};
QSemaphore GateOperator::entered;

std::unique_ptr<ToneMappingBase> makeGate(int)
{
    return std::make_unique<GateOperator>();
}

cv::Mat uniform(const cv::Scalar& bgr)
{
    return cv::Mat(120, 160, CV_32FC3, bgr);
}

class PresetImageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedDefaults = engineDefaults;
        savedThumbnail = thumbnailSize();
        GateOperator::reset();
        setToneMapperMakerHook(&makeGate);
        // Nothing but the operator changes a pixel: the preview shows the source's colour.
        engineDefaults.applySharpening = false;
        engineDefaults.strength = 1.f;
        setThumbnailSize(cv::Size(64, 48));
        parent.setLayout(new QVBoxLayout);
    }

    void TearDown() override
    {
        setToneMapperMakerHook(nullptr);
        engineDefaults = savedDefaults;
        setThumbnailSize(savedThumbnail);
    }

    PresetImage* makeTile(const QString& name = QStringLiteral("Preset"))
    {
        return new PresetImage(std::make_unique<RenderPipeline>(), name, &parent, nullptr, nullptr, nullptr);
    }

    static QLabel* picture(PresetImage* tile) { return tile->findChild<QLabel*>("label_ImageReferenced"); }

    static bool showsPreview(PresetImage* tile) { return !picture(tile)->pixmap(Qt::ReturnByValue).isNull(); }

    // Waits, without handling events, for the last render's thread to end: whatever
    // it emitted is queued by then.
    static bool lastRenderEnded()
    {
        QThread* thread = GateOperator::renderThread;
        return thread && thread->wait(10000);
    }

    // Lets the tile take every preview queued so far, then none can arrive late.
    static bool settled()
    {
        if (!lastRenderEnded())
            return false;
        QCoreApplication::sendPostedEvents();
        return true;
    }

    static QColor previewColour(PresetImage* tile)
    {
        const QImage image = picture(tile)->pixmap(Qt::ReturnByValue).toImage();
        return image.pixelColor(image.width() / 2, image.height() / 2);
    }

    EngineDefaults savedDefaults;
    cv::Size savedThumbnail;
    QWidget parent;
    const cv::Mat red = uniform(cv::Scalar(0.0, 0.0, 1.0));
    const cv::Mat green = uniform(cv::Scalar(0.0, 1.0, 0.0));
};

TEST_F(PresetImageTest, SameSourceTwiceRendersOnce)
{
    PresetImage* tile = makeTile();
    tile->setSource(&red);
    tile->setSource(&red);
    ASSERT_TRUE(tiletest::waitUntil([&] { return showsPreview(tile); }));
    ASSERT_TRUE(settled());
    EXPECT_EQ(GateOperator::finished, 1);
    EXPECT_EQ(picture(tile)->maximumWidth(), 64);
    EXPECT_EQ(picture(tile)->maximumHeight(), 48);
    EXPECT_EQ(previewColour(tile), QColor(255, 0, 0));
}

TEST_F(PresetImageTest, NewSourceMidRenderCancelsItAndShowsOnlyTheSecondImage)
{
    PresetImage* tile = makeTile();
    GateOperator::holdNext = true;
    tile->setSource(&red);
    ASSERT_TRUE(tiletest::waitUntil([] { return GateOperator::holding.load(); }));
    tile->setSource(&green);
    EXPECT_EQ(GateOperator::cancelled, 1);
    ASSERT_TRUE(tiletest::waitUntil([&] { return showsPreview(tile); }));
    ASSERT_TRUE(settled());
    EXPECT_EQ(previewColour(tile), QColor(0, 255, 0));
    EXPECT_EQ(GateOperator::finished, 1);
}

TEST_F(PresetImageTest, PreviewQueuedBeforeANewSourceIsNeverShown)
{
    PresetImage* tile = makeTile();
    tile->setSource(&red);
    // The red render finishes and queues its preview while no event is processed.
    ASSERT_TRUE(GateOperator::entered.tryAcquire(1, 10000));
    ASSERT_TRUE(lastRenderEnded());
    ASSERT_EQ(GateOperator::finished, 1);
    GateOperator::holdNext = true;
    tile->setSource(&green);
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(showsPreview(tile)) << "the red preview arrived after the green source was set";
    GateOperator::release = true;
    ASSERT_TRUE(tiletest::waitUntil([&] { return showsPreview(tile); }));
    EXPECT_EQ(previewColour(tile), QColor(0, 255, 0));
}

TEST_F(PresetImageTest, DeletingATileMidRenderCancelsAndWaits)
{
    PresetImage* tile = makeTile();
    GateOperator::holdNext = true;
    tile->setSource(&red);
    ASSERT_TRUE(tiletest::waitUntil([] { return GateOperator::holding.load(); }));
    delete tile;
    EXPECT_EQ(GateOperator::cancelled, 1);
    EXPECT_FALSE(GateOperator::holding);
    QCoreApplication::sendPostedEvents();
}

TEST_F(PresetImageTest, ClickOnAnEnabledLabelEmitsOnClick)
{
    PresetImage* tile = makeTile();
    QSignalSpy clicks(tile, &PresetImage::onClick);
    QLabel* name = tile->findChild<QLabel*>("label_ImageReferencedText");
    struct Case {
        QWidget* target;
        bool enabled;
        int expected;
    };
    const Case cases[] = {{picture(tile), true, 1},
                          {name, true, 1},
                          {tile->findChild<QFrame*>("frame_ImageReferencedBottom"), true, 0},
                          {tile, true, 0},
                          {name, false, 0},
                          {picture(tile), false, 0}};
    for (const Case& c : cases) {
        clicks.clear();
        c.target->setEnabled(c.enabled);
        QTest::mousePress(c.target, Qt::LeftButton, Qt::NoModifier, QPoint(1, 1));
        EXPECT_EQ(clicks.count(), c.expected) << c.target->objectName().toStdString() << " enabled " << c.enabled;
        if (c.expected == 1) {
            EXPECT_EQ(clicks.first().first().value<PresetImage*>(), tile);
        }
        c.target->setEnabled(true);
    }
}

struct PictureShape
{
    const char* name;
    cv::Size picture;
    bool letterboxed;
};

class PresetTileShapes : public PresetImageTest, public ::testing::WithParamInterface<PictureShape>
{
};

// Tiles 100 pixels high: at most 250 wide, at least 40, and never rendering more
// pixels than such a box holds, whatever the picture's shape.
TEST_P(PresetTileShapes, BoxIsBoundedAndTheRenderSizedByArea)
{
    const PictureShape& shape = GetParam();
    constexpr int kHeight = 100;
    const double aspect = static_cast<double>(shape.picture.width) / shape.picture.height;
    const cv::Size render = presetRenderSize(kHeight, aspect);
    EXPECT_LE(render.area(), kHeight * kHeight * kMaxTileAspect + render.width + render.height);
    // The short side is whole pixels: its rounding is all the aspect may lose.
    EXPECT_NEAR(static_cast<double>(render.width) / render.height / aspect, 1.0,
                1.0 / std::min(render.width, render.height) + 0.01);

    setThumbnailSize(render);
    const cv::Mat light(shape.picture, CV_32FC3, cv::Scalar(0.0, 0.0, 1.0));
    PresetImage* tile = makeTile();
    tile->setSource(&light);
    ASSERT_TRUE(tiletest::waitUntil([&] { return showsPreview(tile); }));
    const QImage shown = picture(tile)->pixmap(Qt::ReturnByValue).toImage();
    EXPECT_EQ(shown.height(), kHeight);
    EXPECT_GE(shown.width(), static_cast<int>(kHeight * kMinTileAspect));
    EXPECT_LE(shown.width(), static_cast<int>(kHeight * kMaxTileAspect));
    EXPECT_EQ(picture(tile)->maximumSize(), shown.size());
    EXPECT_EQ(shown.size() != QSize(render.width, render.height), shape.letterboxed);
    // The picture crosses the middle; a letterboxed one leaves the corner to the ground.
    auto red = [&](int x, int y) {
        const QColor colour = shown.pixelColor(x, y);
        return colour.alpha() == 255 && colour.red() > 250 && colour.green() < 5 && colour.blue() < 5;
    };
    bool middleRowRed = false;
    bool middleColumnRed = false;
    for (int x = 0; x < shown.width(); ++x)
        middleRowRed = middleRowRed || red(x, shown.height() / 2 - 1) || red(x, shown.height() / 2);
    for (int y = 0; y < shown.height(); ++y)
        middleColumnRed = middleColumnRed || red(shown.width() / 2 - 1, y) || red(shown.width() / 2, y);
    EXPECT_TRUE(middleRowRed && middleColumnRed);
    EXPECT_EQ(red(0, 0), !shape.letterboxed);
    EXPECT_EQ(shown.pixelColor(0, 0).alpha(), shape.letterboxed ? 0 : 255);
}

INSTANTIATE_TEST_SUITE_P(PresetImage, PresetTileShapes,
                         ::testing::Values(PictureShape{"Photo", cv::Size(300, 200), false},
                                           PictureShape{"Cinema", cv::Size(2390, 1000), false},
                                           PictureShape{"JustBeyondTheBound", cv::Size(2600, 1000), true},
                                           PictureShape{"Panorama", cv::Size(30000, 200), true},
                                           PictureShape{"Portrait", cv::Size(200, 300), false},
                                           PictureShape{"TallStrip", cv::Size(200, 30000), true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PresetImageTest, RealPhotoRendersWithTheSlidersOperator)
{
    const cv::Mat photo = tiletest::realPhoto(1200);
    if (photo.empty())
        GTEST_SKIP() << "test media absent";
    setToneMapperMakerHook(nullptr);
    engineDefaults = savedDefaults;
    engineDefaults.TMalgo = SlidersTMIndex;
    setThumbnailSize(cv::Size(256, 256 * photo.rows / photo.cols));
    const cv::Mat light = convertBitDepth(photo, 32);
    PresetImage* tile = makeTile(QStringLiteral("Natural"));
    tile->setSource(&light);
    ASSERT_TRUE(tiletest::waitUntil([&] { return showsPreview(tile); }));
    const QImage preview = picture(tile)->pixmap(Qt::ReturnByValue).toImage();
    EXPECT_EQ(preview.size(), QSize(256, 256 * photo.rows / photo.cols));
    // The preview is a picture, not a flat or black field.
    cv::Mat grey(preview.height(), preview.width(), CV_8UC4, const_cast<uchar*>(preview.constBits()),
                 static_cast<size_t>(preview.bytesPerLine()));
    cv::Scalar mean;
    cv::Scalar deviation;
    cv::meanStdDev(grey, mean, deviation);
    EXPECT_GT(mean[1], 20.0);
    EXPECT_GT(deviation[1], 10.0);

    parent.resize(300, 320);
    parent.show();
    const QString dir = testmedia::makeTempDir("preset-tile");
    ASSERT_TRUE(tile->grab().save(dir + "/preset-tile.png"));
    std::cout << "preset tile picture: " << (dir + "/preset-tile.png").toStdString() << std::endl;
}

}  // namespace
