#include "SaveForm.h"

#include "DialogTestSupport.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>

#include <string>

namespace {

// The main window's export table.
const std::string kNames[13] = {"TIFF", "HDR", "JPEG", "DPX", "EXR", "PSD", "PNG",
                                "BMP",  "GIF", "PGM",  "PPM", "PDF", "TGA"};
const char* const kExtensions[13] = {"tif", "hdr", "jpg", "dpx", "exr", "psd", "png",
                                     "bmp", "gif", "pgm", "ppm", "pdf", "tga"};
const int kDepths[13][3] = {{16, 8, 32}, {32, -1, -1}, {8, -1, -1}, {16, -1, -1}, {32, -1, -1},
                            {8, 16, -1}, {8, 16, -1},  {8, -1, -1}, {8, -1, -1},  {8, -1, -1},
                            {8, -1, -1}, {8, -1, -1},  {8, -1, -1}};

class SaveFormTest : public ::testing::Test {
protected:
    void SetUp() override { useShippedLanguages(); }
};

QComboBox* typeBox(QWidget* dialog) { return dialog->findChild<QComboBox*>("comboBox_OutputExtension"); }
QComboBox* depthBox(QWidget* dialog) { return dialog->findChild<QComboBox*>("comboBox_OutputDepth"); }

QStringList items(QComboBox* box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

}  // namespace

TEST_F(SaveFormTest, EachTypeOffersItsDepthsInRowOrder)
{
    const QStringList expected[13] = {
        {"16 bits", "8 bits", "32 bits"}, {"32 bits"}, {"8 bits"}, {"16 bits"}, {"32 bits"},
        {"8 bits", "16 bits"}, {"8 bits", "16 bits"}, {"8 bits"}, {"8 bits"}, {"8 bits"},
        {"8 bits"}, {"8 bits"}, {"8 bits"},
    };
    SaveForm dialog(nullptr, true);
    dialog.fillOutputExtensions(kNames, kExtensions, kDepths, 13, 6);
    EXPECT_EQ(typeBox(&dialog)->count(), 13);
    EXPECT_EQ(typeBox(&dialog)->currentText(), "PNG");
    EXPECT_EQ(dialog.selectedDepth(), "8 bits");
    for (int type : {4, 6, 0, 12, 5, 1, 2, 3, 7, 8, 9, 10, 11}) {
        typeBox(&dialog)->setCurrentIndex(type);
        EXPECT_EQ(items(depthBox(&dialog)), expected[type]) << kNames[type];
        EXPECT_EQ(depthBox(&dialog)->currentIndex(), 0) << kNames[type];
        EXPECT_EQ(dialog.selectedExtension(), kExtensions[type]);
    }
}

TEST_F(SaveFormTest, SelectionOutsideTheTableOffersNoDepth)
{
    for (int selected : {-1, 13, 400}) {
        SaveForm dialog(nullptr, true);
        dialog.fillOutputExtensions(kNames, kExtensions, kDepths, 13, selected);
        EXPECT_EQ(dialog.selectedType(), -1) << selected;
        EXPECT_EQ(depthBox(&dialog)->count(), 0) << selected;
        EXPECT_EQ(dialog.selectedExtension(), "") << selected;
    }
    SaveForm empty(nullptr, true);
    empty.fillOutputExtensions(kNames, kExtensions, kDepths, 0, 0);
    EXPECT_EQ(typeBox(&empty)->count(), 0);
    EXPECT_EQ(depthBox(&empty)->count(), 0);
}

TEST_F(SaveFormTest, FillOutputDepthsSelectsTheGivenDepthWhenOffered)
{
    struct Case {
        int selected;
        QString current;
    };
    const int depths[] = {8, 16, 32};
    for (const Case& c : {Case{16, "16 bits"}, Case{32, "32 bits"}, Case{12, "8 bits"}, Case{-1, "8 bits"}}) {
        SaveForm dialog(nullptr, false);
        dialog.fillOutputDepths(depths, 3, c.selected);
        EXPECT_EQ(items(depthBox(&dialog)), QStringList({"8 bits", "16 bits", "32 bits"}));
        EXPECT_EQ(dialog.selectedDepth(), c.current) << c.selected;
    }
}

TEST_F(SaveFormTest, HiddenTypeRowLeavesOnlyTheDepthRow)
{
    for (bool showExtension : {true, false}) {
        SaveForm dialog(nullptr, showExtension);
        dialog.show();
        EXPECT_EQ(typeBox(&dialog)->isVisible(), showExtension);
        EXPECT_EQ(dialog.findChild<QLabel*>("label_OutputExtension")->isVisible(), showExtension);
        EXPECT_TRUE(depthBox(&dialog)->isVisible());
        EXPECT_TRUE(dialog.findChild<QLabel*>("label_OutputDepth")->isVisible());
    }
}

TEST_F(SaveFormTest, AcceptedDialogReportsTheChoiceAndRejectedReturnsZero)
{
    SaveForm dialog(nullptr, true);
    dialog.fillOutputExtensions(kNames, kExtensions, kDepths, 13, 2);
    ModalDriver accept([](QWidget* modal) {
        typeBox(modal)->setCurrentIndex(0);
        depthBox(modal)->setCurrentIndex(2);
        clickButton(modal, "okButton");
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.selectedType(), 0);
    EXPECT_EQ(dialog.selectedDepth(), "32 bits");

    ModalDriver reject([](QWidget* modal) { clickButton(modal, "cancelButton"); });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(dialog.minimumSize(), QSize(270, 110));
}

TEST_F(SaveFormTest, Screenshot)
{
    SaveForm dialog(nullptr, true);
    dialog.fillOutputExtensions(kNames, kExtensions, kDepths, 13, 0);
    dialog.show();
    EXPECT_TRUE(saveScreenshot(&dialog, "SaveForm"));
    expectControlsDrawnInside(&dialog);
}
