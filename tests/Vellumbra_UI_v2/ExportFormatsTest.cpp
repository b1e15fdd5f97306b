#include "ExportFormats.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

using namespace exportformats;

TEST(ExportFormats, FileNamesFindTheirFormatBySuffixAlone)
{
    const struct {
        const char* name;
        int format;
    } cases[] = {
        {"/a/Photo.JPG", 2}, {"b.tif", 0}, {"c.TIF", 0},   {"d.exr", 4},      {"e.tga", 12}, {"f.jpeg", -1},
        {"noSuffix", -1},    {"dir.v2/g", -1}, {"h.png.", -1}, {"i.tar.pdf", 11},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatOfFileName(QString::fromLatin1(c.name)), c.format) << c.name;
}

TEST(ExportFormats, ANameWithoutExtensionTakesTheSelectedFilters)
{
    const struct {
        const char* name;
        const char* filter;
        const char* written;
    } cases[] = {
        {"/d/Vb_clip (A8_M3_Fa9)", "Radiance HDR (*.hdr)", "/d/Vb_clip (A8_M3_Fa9).hdr"},
        {"/d/clip (41)", "TIFF image (*.tif)", "/d/clip (41).tif"},
        {"/d/holiday.2023 (41)", "PNG image (*.png)", "/d/holiday.2023 (41).png"},
        {"/dir.v2/photo", "JPEG image (*.jpg)", "/dir.v2/photo.jpg"},
        {"/d/photo", "Image files (*.tif *.hdr *.jpg)", "/d/photo.tif"},
        {"/d/photo.", "JPEG image (*.jpg)", "/d/photo.jpg"},
        {"/d/Photo.JPG", "TIFF image (*.tif)", "/d/Photo.JPG"},
        {"/d/h.png.", "TIFF image (*.tif)", "/d/h.png"},
        // Refused afterwards with the extension message, as named.
        {"/d/x.jpeg", "TIFF image (*.tif)", "/d/x.jpeg"},
        {"/d/photo", "All Files (*.*)", "/d/photo"},
        {"/d/photo", "", "/d/photo"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(withFilterExtension(c.name, c.filter).toStdString(), c.written) << c.name << " " << c.filter;
}

TEST(ExportFormats, StoredIndicesOutsideTheTableFallBack)
{
    const int cases[][3] = {{0, 1, 0}, {12, 1, 12}, {13, 1, 1}, {-1, 0, 0}, {99999, 0, 0}, {4, 0, 4}};
    for (const auto& c : cases)
        EXPECT_EQ(checkedFormat(c[0], c[1]), c[2]) << c[0];
}

TEST(ExportFormats, DepthsAreTheFilledSlotsInTableOrder)
{
    const std::vector<std::vector<int>> expected = {{16, 8, 32}, {32}, {8}, {16}, {32}, {8, 16}, {8, 16},
                                                    {8},         {8},  {8}, {8},  {8},  {8}};
    for (int format = 0; format < kFormatCount; ++format)
        EXPECT_EQ(depthsOf(format), expected[static_cast<size_t>(format)]) << exportExtensions[format];
    EXPECT_EQ(formatFilter("JPEG image", 2), "JPEG image (*.jpg)");
}

TEST(QuickSort, SortsRangesInPlace)
{
    const std::vector<std::pair<std::vector<int>, std::vector<int>>> cases = {
        {{16, 8, 32}, {8, 16, 32}}, {{8, 16, -1}, {-1, 8, 16}}, {{32, -1, -1}, {-1, -1, 32}},
        {{5}, {5}},                 {{3, 3, 1, 2, 2}, {1, 2, 2, 3, 3}}, {{9, 8, 7, 6, 5, 4}, {4, 5, 6, 7, 8, 9}},
    };
    for (auto [values, sorted] : cases) {
        quickSort(values.data(), 0, static_cast<int>(values.size()) - 1, [](int a, int b) { return a < b; });
        EXPECT_EQ(values, sorted);
    }
    std::vector<int> descending = {1, 3, 2};
    quickSort(descending.data(), 0, 2, [](int a, int b) { return a > b; });
    EXPECT_EQ(descending, (std::vector<int>{3, 2, 1}));
}

TEST(SafeFileTitle, KeepsTitlesInsideTheChosenFolder)
{
    const struct {
        QString title;
        QString safe;
    } cases[] = {
        {"01", "01"},
        {"Vb_clip (A8_M3_Me12)", "Vb_clip (A8_M3_Me12)"},
        {"../../etc/passwd", "______etc_passwd"},
        {"a/b\\c", "a_b_c"},
        {"..", "__"},
        {".hidden", "_hidden"},
        {QString("tab\there\nnew"), "tab_here_new"},
        {"", "_"},
        {"   ", "_"},
        {"name. ", "name"},
        {QString::fromUtf8("Été à Zürich"), QString::fromUtf8("Été à Zürich")},
        {"a:b*c?d\"e<f>g|h", "a_b_c_d_e_f_g_h"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(safeFileTitle(c.title), c.safe) << c.title.toStdString();
}

TEST(UniqueTarget, TakesTheFirstFreeNumber)
{
    const struct {
        std::set<QString> taken;
        QString expected;
    } cases[] = {
        {{}, "/d/photo.jpg"},
        {{"/d/photo.jpg"}, "/d/photo-1.jpg"},
        {{"/d/photo.jpg", "/d/photo-1.jpg"}, "/d/photo-2.jpg"},
        {{"/d/photo.jpg", "/d/photo-2.jpg"}, "/d/photo-1.jpg"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(uniqueTarget("/d/photo", ".jpg", [&](const QString& path) { return c.taken.count(path) > 0; }),
                  c.expected);
}
