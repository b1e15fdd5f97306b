#include "GeneratedMedia.h"
#include "PixelOps.h"
#include "RealWindowJourney.h"
#include "RenderPipeline.h"
#include "ResizableFrame.h"
#include "SharpestImageSelection.h"
#include "TestMedia.h"
#include "Workspace.h"

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QSlider>
#include <QTest>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

constexpr int kRenderTimeoutMs = 120000;

// The picture the preview shows against the one the export writes, through the real window.
class PreviewFidelity : public windowtest::RealWindowJourney<> {
protected:
    void TearDown() override
    {
        if (session)
            session->discardMedia();
    }

    VellumbraV2& window() { return session->window(); }

    Workspace* openPhoto(const QString& path)
    {
        window().openFile(path);
        Workspace* open = session->workspace();
        EXPECT_NE(open, nullptr);
        if (open)
            waitForEditing(open);
        return open;
    }

    static void waitForEditing(Workspace* open)
    {
        EXPECT_TRUE(QTest::qWaitFor([&] { return open->state == StateEditing; }, kRenderTimeoutMs));
    }

    // The selected result exported now, from a pipeline of its own.
    static cv::Mat exported(Workspace& open)
    {
        RenderPipeline copy;
        copy.copySettings(*open.renderPipeline);
        copy.setSourceImage(open.selectedTile->image(), true);
        return copy.renderFull();
    }
};

double aspect(const cv::Size& size)
{
    return double(size.width) / std::max(1, size.height);
}

// Fine-detail energy: the variance of the Laplacian of the grey picture, full scale 1.
double fineDetail(const cv::Mat& picture)
{
    cv::Mat grey, scaled;
    cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
    grey.convertTo(scaled, CV_32F, picture.depth() == CV_8U ? 1.0 / 255.0 : 1.0);
    return laplacianVariance(scaled);
}

}  // namespace

TEST_F(PreviewFidelity, ACropOfATurnedPictureIsPreviewedWithTheExportsProportions)
{
    const QString folder = session->environment().filesFolder();
    QDir().mkpath(folder);
    const QString photo = folder + "/wide.png";
    ASSERT_TRUE(cv::imwrite(photo.toStdString(), generatedmedia::scene(cv::Size(1280, 720), 3)));
    Workspace* open = openPhoto(photo);
    ASSERT_NE(open, nullptr);
    auto* rotation = session->find<QSlider>("horizontalSlider_Rotation_2");
    QLabel* picture = session->find<QLabel>("label_VideoPreview");

    struct Case {
        int degrees;
        QRectF frame;  // the crop frame, in fractions of the picture shown; empty for none
    };
    const Case cases[] = {
        {14, {0.2, 0.25, 0.5, 0.5}},   {-30, {0.4, 0.1, 0.2, 0.8}}, {45, {0.1, 0.4, 0.8, 0.2}},
        {14, {}},                       {0, {0.2, 0.25, 0.5, 0.5}},  {90, {0.25, 0.1, 0.5, 0.3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.degrees);
        window().setCropRect(cv::Rect(-1, -1, -1, -1));
        waitForEditing(open);
        rotation->setValue(c.degrees);
        waitForEditing(open);
        if (!c.frame.isEmpty()) {
            window().PushButtonCropToolClicked();
            const QSize shown = picture->size();
            picture->findChild<ResizableFrame*>()->setGeometry(
                int(c.frame.x() * shown.width()), int(c.frame.y() * shown.height()),
                int(c.frame.width() * shown.width()), int(c.frame.height() * shown.height()));
            window().PushButtonApplyToolsClicked();
            waitForEditing(open);
        }
        const double written = aspect(exported(*open).size());
        // A pixel of the preview spans several of the export: a few hundredths of slack.
        EXPECT_NEAR(aspect(open->currentImage().size()), written, written * 0.03);
        EXPECT_NEAR(aspect(cv::Size(picture->width(), picture->height())), written, written * 0.03);
        windowtest::photograph(QString("PreviewFidelity_Crop_%1").arg(c.degrees));
    }
}

TEST_F(PreviewFidelity, ALargeDetailedPhotoIsPreviewedAsSmoothAsItsExportReducedByArea)
{
    const QString photo =
        testmedia::mediaFile("mate-backgrounds/usr/share/backgrounds/mate/abstract/Elephants_5640x3172.jpg");
    if (photo.isEmpty())
        GTEST_SKIP() << "the large photo is not in the test media";
    Workspace* open = openPhoto(photo);
    ASSERT_NE(open, nullptr);
    const cv::Mat preview = open->currentImage();
    ASSERT_LT(preview.cols, open->width / 2) << "the preview is a reduction";
    cv::Mat reference;
    cv::resize(exported(*open), reference, preview.size(), 0.0, 0.0, cv::INTER_AREA);
    const double ratio = fineDetail(preview) / fineDetail(reference);
    EXPECT_LT(ratio, 1.5);
    EXPECT_GT(ratio, 1.0 / 1.5);
    windowtest::photograph("PreviewFidelity_LargePhoto");

    // Held O shows the unedited photo, fitted to the view from its full size.
    QTest::keyPress(&window(), Qt::Key_O);
    const QImage shown = session->find<QLabel>("label_VideoPreview")->pixmap(Qt::ReturnByValue).toImage().convertToFormat(
        QImage::Format_RGB888);
    const cv::Mat unedited(shown.height(), shown.width(), CV_8UC3, const_cast<uchar*>(shown.constBits()),
                           shown.bytesPerLine());
    cv::Mat original;
    cv::resize(cv::imread(photo.toStdString()), original, unedited.size(), 0.0, 0.0, cv::INTER_AREA);
    cv::cvtColor(original, original, cv::COLOR_BGR2RGB);
    const double uneditedRatio = fineDetail(unedited) / fineDetail(original);
    EXPECT_LT(uneditedRatio, 1.5);
    EXPECT_GT(uneditedRatio, 1.0 / 1.5);
    windowtest::photograph("PreviewFidelity_LargePhotoUnedited");
    QTest::keyRelease(&window(), Qt::Key_O);
}
