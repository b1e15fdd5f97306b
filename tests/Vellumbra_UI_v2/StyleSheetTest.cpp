#include "ApplicationStyleSheet.h"
#include "ProSharpestImageSelection.h"
#include "Repolish.h"
#include "ResizableLine.h"
#include "VellumbraResources.h"

#include <QApplication>
#include <QComboBox>
#include <QDirIterator>
#include <QDockWidget>
#include <QFile>
#include <QGroupBox>
#include <QImageReader>
#include <QLCDNumber>
#include <QListWidget>
#include <QMainWindow>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <set>

namespace {

// The sheet is given to one window here rather than to the test program's
// application, so each test starts from the default look.
struct StyledWindow {
    QMainWindow window;
    QWidget* central = new QWidget;
    QVBoxLayout* layout = new QVBoxLayout(central);

    StyledWindow()
    {
        window.setObjectName("VellumbraClass");
        window.setStyleSheet(applicationStyleSheet());
        central->setObjectName("centralWidget");
        window.setCentralWidget(central);
    }
    template <class W>
    W* add(const QString& name, W* widget)
    {
        widget->setObjectName(name);
        layout->addWidget(widget);
        return widget;
    }
    void show()
    {
        window.resize(400, 300);
        window.show();
        QApplication::processEvents();
    }
};

// Grabs without processing events: a synthetic leave event would clear the hover state set by the test.
QImage grabbed(QWidget* widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The widget's own background, painted on black without its children.
QColor ownBackground(QWidget* widget)
{
    QImage image(widget->size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    widget->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

// Moves the pointer onto the widget, or off it to the window's corner.
void setHovered(QWidget* widget, bool hovered)
{
    if (hovered)
        QTest::mouseMove(widget, widget->rect().center());
    else
        QTest::mouseMove(widget->window(), QPoint(0, 0));
    QApplication::processEvents();
}

QStringList picturesNamedBySheet()
{
    const QRegularExpression url(QStringLiteral("url\\(\\s*\"?([^\")]+)\"?\\s*\\)"));
    QStringList names;
    for (auto it = url.globalMatch(applicationStyleSheet()); it.hasNext();)
        names << it.next().captured(1);
    return names;
}

}  // namespace

// The program fails a test on any Qt warning, "Could not parse stylesheet" and
// unknown qproperty- names among them.
TEST(ApplicationStyleSheet, ParsesAndPolishesEveryKindOfWidgetWithoutWarnings)
{
    ASSERT_FALSE(applicationStyleSheet().isEmpty());
    StyledWindow styled;
    styled.add("pushButton_PlayPause", new QPushButton);
    styled.add("pushButton_OpenVideo", new QPushButton("Open"));
    styled.add("comboBox_TM", new QComboBox)->addItems({"One", "Two"});
    styled.add("horizontalSlider_TMHue", new QSlider(Qt::Horizontal));
    styled.add("progressBar_Computing", new QProgressBar);
    styled.add("spinBox_FindSharpestImage", new QSpinBox);
    styled.add("lcdNumber_TMHue", new QLCDNumber);
    styled.add("listWidget_RecentFiles", new QListWidget)->addItem("item");
    styled.add("tabWidget_Presets", new QTabWidget)->addTab(new QWidget, "Auto");
    styled.add("groupBox_TMOptions", new QGroupBox("Options"));
    styled.add("toolButton", new QToolButton)->setPopupMode(QToolButton::MenuButtonPopup);
    styled.add("dockWidget_Histogram", new QDockWidget("Histogram"));
    styled.add("label_Loading50", new QLabel("50 %"));
    styled.add("label_zoomIn", new QLabel);
    auto* preview = styled.add("label_VideoPreview", new QLabel);
    preview->setMinimumSize(100, 60);
    new ResizableLine(preview);
    styled.window.menuBar()->addMenu("File")->addAction("Open");
    styled.show();
    EXPECT_FALSE(styled.window.grab().isNull());
}

TEST(ApplicationStyleSheet, EveryPictureItNamesIsEmbeddedAndReadable)
{
    const QStringList names = picturesNamedBySheet();
    EXPECT_GE(names.size(), 50);
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_TRUE(name.startsWith(":/Vellumbra/Resources/"));
        EXPECT_FALSE(QImage(name).isNull());
    }
}

TEST(EmbeddedPictures, EveryPictureTheWindowUsesIsThereAndRendersAtItsSize)
{
    loadVellumbraResources();
    std::set<QString> required;
    for (const char* name : {"Play", "Pause", "Next", "Prev", "ToBegin", "ToEnd", "TrimStart", "TrimEnd",
                             "cursorPlayingBar", "CropIcon", "HorizonIcon", "ButtonAdd", "ButtonRemove"})
        for (const char* state : {"", "Hover", "Pressed"})
            required.insert(QStringLiteral(":/Vellumbra/Resources/%1%2.svg").arg(name, state));
    for (int percent = 0; percent <= 100; percent += 10)
        required.insert(QStringLiteral(":/Vellumbra/Resources/loading%1.svg").arg(percent));
    for (const char* name : {"CursorSelectorBar.svg", "SliderHandle.svg", "SliderHandleHover.svg",
                             "SliderHandleDisabled.svg", "DropDown.svg", "Question.svg", "upload.svg", "Vb.svg",
                             "Camera.svg", "Pin.svg", "ModeBasic.svg", "ModeClassic.svg", "RotLeft.png",
                             "RotRight.png", "Loupe plus.png", "Loupe minus.png", "Vellumbra.png", "Vellumbra.svg",
                             "Hi.png"})
        required.insert(QStringLiteral(":/Vellumbra/Resources/") + name);
    for (const char* name : {"new/Pin2.svg", "new/Logo_Vellumbra_Objectif_Lettres_Blanches.svg", "Vb.svg"})
        required.insert(QStringLiteral(":/vellumbraV2/Resources/") + name);

    std::set<QString> embedded;
    for (const QString root : {":/Vellumbra/Resources", ":/vellumbraV2/Resources"})
        for (QDirIterator it(root, {"*.svg", "*.png"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            embedded.insert(it.next());
    for (const QString& name : required)
        EXPECT_EQ(embedded.count(name), 1u) << "missing " << name.toStdString();

    for (const QString& name : embedded) {
        SCOPED_TRACE(name.toStdString());
        QImageReader reader(name);
        const QSize declared = reader.size();
        const QImage picture = reader.read();
        ASSERT_FALSE(picture.isNull()) << reader.errorString().toStdString();
        EXPECT_TRUE(declared.isValid());
        EXPECT_EQ(picture.size(), declared);
        EXPECT_LE(std::max(declared.width(), declared.height()), 256);
        // Something is drawn: not every pixel is transparent.
        const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
        bool drawn = false;
        for (int y = 0; y < argb.height() && !drawn; ++y)
            for (int x = 0; x < argb.width() && !drawn; ++x)
                drawn = qAlpha(argb.pixel(x, y)) > 0;
        EXPECT_TRUE(drawn);
    }
}

TEST(ApplicationStyleSheet, PlayPauseButtonShowsThePictureOfItsStateAfterRepolish)
{
    struct Case {
        bool secondState;
        bool hovered;
        bool pressed;
        const char* picture;
    };
    const Case cases[] = {
        {false, false, false, "Play.svg"},  {false, true, false, "PlayHover.svg"},
        {false, false, true, "PlayPressed.svg"}, {true, false, false, "Pause.svg"},
        {true, true, false, "PauseHover.svg"}, {true, false, true, "PausePressed.svg"},
        {true, true, true, "PausePressed.svg"},
    };
    StyledWindow styled;
    auto* button = styled.add("pushButton_PlayPause", new QPushButton);
    auto* reference = styled.add("reference", new QPushButton);
    styled.show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.picture);
        reference->setStyleSheet(QStringLiteral("border-image: url(:/Vellumbra/Resources/%1) 0 0 0 0 stretch stretch;"
                                                "background: transparent; padding: 0; border: none;")
                                     .arg(c.picture));
        reference->setFixedSize(button->size());
        button->setProperty("SecondState", c.secondState);
        repolish(button);
        QApplication::processEvents();
        setHovered(button, c.hovered);
        button->setDown(c.pressed);
        EXPECT_EQ(grabbed(button), grabbed(reference));
    }
}

TEST(ApplicationStyleSheet, PushButtonBackgroundFollowsFocusHoverAndPress)
{
    struct Case {
        bool focus;
        bool hovered;
        bool pressed;
        QColor middle;  // of the left-to-right gradient
    };
    const Case cases[] = {
        {false, false, false, QColor(220, 220, 220)}, {true, false, false, QColor(250, 205, 205)},
        {false, true, false, QColor(240, 240, 240)},  {true, true, false, QColor(255, 225, 225)},
        {false, false, true, QColor(192, 192, 192)},  {true, true, true, QColor(192, 192, 192)},
    };
    StyledWindow styled;
    auto* button = styled.add("pushButton_FindSharpestImage", new QPushButton("Find"));
    auto* other = styled.add("pushButton_saveSelectedImage", new QPushButton("Save"));
    styled.show();
    QApplication::setActiveWindow(&styled.window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&styled.window));
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "focus " << c.focus << " hovered " << c.hovered << " pressed " << c.pressed);
        (c.focus ? button : other)->setFocus();
        setHovered(button, c.hovered);
        button->setDown(c.pressed);
        const QColor middle = grabbed(button).pixelColor(button->width() / 2, 3);
        EXPECT_NEAR(middle.red(), c.middle.red(), 3);
        EXPECT_NEAR(middle.green(), c.middle.green(), 3);
        EXPECT_NEAR(middle.blue(), c.middle.blue(), 3);
    }
}

TEST(ApplicationStyleSheet, DisabledSliderAndComboTurnGrey)
{
    StyledWindow styled;
    auto* slider = styled.add("horizontalSlider_TMContrast", new QSlider(Qt::Horizontal));
    slider->setRange(0, 100);
    slider->setValue(80);
    auto* combo = styled.add("comboBox_TM", new QComboBox);
    combo->addItem("Tone mapping 1");
    styled.show();
    const auto isAccent = [](const QColor& c) { return c.red() > c.green() + 60 && c.red() > c.blue() + 60; };
    const auto isGrey = [](const QColor& c) { return c.red() == c.green() && c.green() == c.blue(); };
    for (bool enabled : {true, false}) {
        SCOPED_TRACE(enabled ? "enabled" : "disabled");
        slider->setEnabled(enabled);
        combo->setEnabled(enabled);
        // The filled part left of the handle, and the combo's face near its top edge.
        const QColor filled = grabbed(slider).pixelColor(slider->width() / 4, slider->height() / 2);
        const QColor face = grabbed(combo).pixelColor(combo->width() / 2, 3);
        EXPECT_EQ(isAccent(filled), enabled) << filled.name().toStdString();
        EXPECT_EQ(isGrey(filled), !enabled) << filled.name().toStdString();
        EXPECT_EQ(isAccent(face), enabled) << face.name().toStdString();
        EXPECT_EQ(isGrey(face), !enabled) << face.name().toStdString();
    }
}

TEST(ApplicationStyleSheet, TileBackgroundFollowsSelectionAndHover)
{
    struct Case {
        bool selected;
        bool hovered;
        QColor background;
    };
    const Case cases[] = {
        {false, false, Qt::black},
        {false, true, QColor(30, 30, 30)},
        {true, false, QColor(100, 100, 100)},
        {true, true, QColor(100, 100, 100)},  // a selected tile keeps its colour under the mouse
    };
    StyledWindow styled;
    auto* holder = styled.add("scrollAreaWidgetContents_ProSharpestImageSelection", new QWidget);
    new QVBoxLayout(holder);
    auto* tile = new ProSharpestImageSelection(holder, holder, cv::Mat(60, 80, CV_8UC3, cv::Scalar(0, 128, 255)), 3,
                                               "Frame 3");
    auto* frame = styled.add("frame_anyFrame", new QFrame);
    frame->setMinimumSize(40, 40);
    styled.show();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "selected " << c.selected << " hovered " << c.hovered);
        tile->setProperty("isSelected", c.selected);
        frame->setProperty("isSelected", c.selected);
        repolish(holder);
        repolish(frame);
        setHovered(tile, c.hovered);
        EXPECT_EQ(ownBackground(tile), c.background);
        // Any frame marked selected gets the selected colour, but no hover colour.
        EXPECT_EQ(ownBackground(frame), c.selected ? QColor(100, 100, 100) : QColor(Qt::black));
    }
    ProSharpestImageSelection::deleteAll();
}

TEST(ApplicationStyleSheet, HorizonLineTakesColourThicknessAndStyleFromTheSheet)
{
    StyledWindow styled;
    auto* preview = styled.add("label_VideoPreview", new QLabel);
    preview->setMinimumSize(200, 100);
    auto* line = new ResizableLine(preview);
    styled.show();
    line->ensurePolished();
    EXPECT_EQ(line->lineColor(), QColor(Qt::white));
    EXPECT_EQ(line->lineThickness(), 3);
    EXPECT_EQ(line->lineStyle(), Qt::DashLine);
}

TEST(Repolish, ReachesEveryDescendantAndIgnoresNull)
{
    repolish(nullptr);
    QWidget top;
    top.setStyleSheet("QWidget[mark=\"on\"] QLabel { font-size: 30pt; }");
    auto* middle = new QWidget(&top);
    auto* label = new QLabel("text", new QWidget(middle));
    top.ensurePolished();
    label->ensurePolished();
    const int before = label->font().pointSize();
    middle->setProperty("mark", "on");
    repolish(middle);
    EXPECT_EQ(label->font().pointSize(), 30);
    EXPECT_NE(before, 30);
}
