#include "FrameSourceTestSupport.h"
#include "ImageIO.h"
#include "ImageIOSupport.h"
#include "ImageIOTestSupport.h"
#include "PixelOps.h"
#include "RawDecoder.h"
#include "TestMedia.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <tiffio.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::string rawFile(const char* name)
{
    const QString path = testmedia::rawDir() + "/" + name;
    return QFile::exists(path) ? path.toStdString() : std::string();
}

// The real camera raws that are present, by name and path.
std::vector<std::pair<std::string, std::string>> realRaws()
{
    std::vector<std::pair<std::string, std::string>> raws;
    for (const char* name : {"RAW_KODAK_DC50.KDC", "canon_eos_kiss_x4_magiclantern_colorchart.dng",
                             "RAW_KODAK_C330_FORMAT_NONE_YRGB.raw"}) {
        const std::string path = rawFile(name);
        if (!path.empty())
            raws.emplace_back(name, path);
    }
    return raws;
}

// Runs the decoder on an argument list ending in path and takes the picture over.
int decode(std::vector<std::string> arguments, cv::Mat& picture)
{
    std::lock_guard<std::mutex> lock(imageLibraryMutex());
    std::vector<const char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());
    rawDecoderImage.release();
    const int status = dcraw_main(static_cast<int>(argv.size()), argv.data());
    picture = rawDecoderImage;
    rawDecoderImage.release();
    return status;
}

// A Bayer DNG as a camera writes it: RGGB sites of 16-bit samples, uncompressed.
// The picture is a 2 x 2 grid of flat patches, their linear RGB colours in [0, 1]
// given in reading order.
void writeBayerDng(const std::string& path, cv::Size patch, const std::vector<cv::Vec3f>& patches)
{
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tiff, nullptr);
    const int width = patch.width * 2;
    const int height = patch.height * 2;
    const uint16_t patternSize[2] = {2, 2};
    const uint8_t pattern[4] = {0, 1, 1, 2};  // red, green / green, blue
    const uint8_t dngVersion[4] = {1, 4, 0, 0};
    TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, 0);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_CFA);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, height);
    TIFFSetField(tiff, TIFFTAG_CFAREPEATPATTERNDIM, patternSize);
    TIFFSetField(tiff, TIFFTAG_CFAPATTERN, 4, pattern);
    TIFFSetField(tiff, TIFFTAG_DNGVERSION, dngVersion);
    TIFFSetField(tiff, TIFFTAG_UNIQUECAMERAMODEL, "Vellumbra Bayer");
    std::vector<uint16_t> row(width);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const cv::Vec3f& colour = patches[(y / patch.height) * 2 + x / patch.width];
            row[x] = cv::saturate_cast<uint16_t>(65535.0f * colour[pattern[(y % 2) * 2 + x % 2]]);
        }
        ASSERT_EQ(TIFFWriteScanline(tiff, row.data(), y, 0), 1);
    }
    TIFFClose(tiff);
}

std::vector<std::string> fullList(const std::string& path)
{
    return {"dcraw.exe", "-T", "-w", "-6", "-o", "3", "-g", "2.4", "12.92", "-H", "5", "-q", "3", path};
}

std::vector<std::string> previewList(const std::string& path)
{
    return {"dcraw.exe", "-T", "-w", "-6", "-o", "3", "-g", "2.4", "12.92", "-H", "5", "-q", "0", "-h", path};
}

}  // namespace

TEST(RawDecoder, BadArgumentListsDecodeNothing)
{
    const std::string path = rawFile("RAW_KODAK_DC50.KDC");
    const std::string file = path.empty() ? "/nonexistent.kdc" : path;
    const std::vector<std::vector<std::string>> lists = {
        {"dcraw.exe"},                               // no file
        {"dcraw.exe", "-T", "-w"},                   // options only
        {"dcraw.exe", "-Z", file},                   // unknown option
        {"dcraw.exe", "-q", "best", file},           // non-numeric value
        {"dcraw.exe", "-g", "2.4", file},            // value missing
        {"dcraw.exe", "-T", "/nonexistent/a.kdc"}};  // missing file
    for (const auto& list : lists) {
        cv::Mat picture;
        EXPECT_EQ(decode(list, picture), 1) << list.back();
        EXPECT_TRUE(picture.empty()) << list.back();
    }
}

TEST(RawDecoder, FileThatIsNotARawLeavesNoPicture)
{
    const QString dir = testmedia::makeTempDir("vb-rawdecoder");
    const std::string path = (dir + "/photo.nef").toStdString();
    ASSERT_TRUE(cv::imwrite(path + ".jpg", cv::Mat(32, 32, CV_8UC3, cv::Scalar(1, 2, 3))));
    ASSERT_TRUE(QFile::rename(QString::fromStdString(path + ".jpg"), QString::fromStdString(path)));
    cv::Mat picture;
    EXPECT_EQ(decode(fullList(path), picture), 1);
    EXPECT_TRUE(picture.empty());
    QDir(dir).removeRecursively();
}

// Each call starts from the default options: a half-size decode must not leak into the
// next full-quality one, and the output is RGB in 16 bits with an even width.
TEST(RawDecoder, PreviewThenFullGivesBothSizes)
{
    const std::string path = rawFile("canon_eos_kiss_x4_magiclantern_colorchart.dng");
    if (path.empty())
        GTEST_SKIP() << "camera raw test file absent";
    cv::Mat preview;
    cv::Mat full;
    ASSERT_EQ(decode(previewList(path), preview), 0);
    ASSERT_EQ(decode(fullList(path), full), 0);
    EXPECT_EQ(preview.type(), CV_16UC3);
    EXPECT_EQ(full.type(), CV_16UC3);
    EXPECT_EQ(preview.size(), cv::Size(866, 578));  // 867 columns, the last one dropped
    EXPECT_EQ(full.size(), cv::Size(1734, 1156));
}

// The decoder hands RGB over; the reader turns it into BGR. The sky over the top rows
// of the Kodak picture shows which channel is blue.
TEST(RawDecoder, OutputIsInRgbOrder)
{
    const std::string path = rawFile("RAW_KODAK_DC50.KDC");
    if (path.empty())
        GTEST_SKIP() << "camera raw test file absent";
    cv::Mat picture;
    ASSERT_EQ(decode(fullList(path), picture), 0);
    const cv::Scalar sky = cv::mean(picture(cv::Rect(0, 0, picture.cols, picture.rows / 10)));
    EXPECT_GT(sky[2], sky[0]);
}

// The reader keeps a Magick++ picture of a raw only when it is as large as this size,
// so it must be the size the full decode really has.
TEST(RawDecoder, HeaderSizeIsTheFullDecodeSize)
{
    const QString dir = testmedia::makeTempDir("vb-rawsize");
    auto raws = realRaws();
    const std::string generated = (dir + "/bayer.dng").toStdString();
    writeBayerDng(generated, cv::Size(24, 16), std::vector<cv::Vec3f>(4, cv::Vec3f(0.2f, 0.5f, 0.8f)));
    raws.emplace_back("generated Bayer DNG", generated);
    for (const auto& [name, path] : raws) {
        cv::Mat full;
        ASSERT_EQ(decode(fullList(path), full), 0) << name;
        EXPECT_EQ(rawPictureSize(path), full.size()) << name;
    }
    const std::string jpeg = (dir + "/photo.jpg").toStdString();
    ASSERT_TRUE(cv::imwrite(jpeg, cv::Mat(16, 16, CV_8UC3, cv::Scalar::all(9))));
    EXPECT_TRUE(rawPictureSize(jpeg).empty());
    EXPECT_TRUE(rawPictureSize("/nonexistent/a.nef").empty());
    QDir(dir).removeRecursively();
}

// Real photographs: neither black nor white, with detail and with colour.
TEST(RawDecoder, RealRawsDecodeToPlausiblePictures)
{
    const auto raws = realRaws();
    if (raws.empty())
        GTEST_SKIP() << "camera raw test files absent";
    for (const auto& [name, path] : raws) {
        cv::Mat picture;
        ASSERT_EQ(decode(fullList(path), picture), 0) << name;
        cv::Scalar mean;
        cv::Scalar deviation;
        cv::meanStdDev(picture, mean, deviation);
        for (int c = 0; c < 3; ++c) {
            EXPECT_GT(mean[c], 65535 * 0.05) << name << " channel " << c;
            EXPECT_LT(mean[c], 65535 * 0.95) << name << " channel " << c;
            EXPECT_GT(deviation[c], 65535 * 0.02) << name << " channel " << c;
        }
        cv::Mat hsv;
        cv::cvtColor(convertBitDepth(picture, 8), hsv, cv::COLOR_RGB2HSV);
        EXPECT_GT(cv::mean(hsv)[1], 10.0) << name << ": some saturation";
    }
}

namespace {

struct TiffEntry {
    quint16 tag;
    quint16 type;  // 1 BYTE, 2 ASCII, 3 SHORT, 4 LONG
    quint32 count;
    quint32 value;  // or the offset of the values
};

void appendLittleEndian(QByteArray& bytes, quint32 value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes.append(static_cast<char>((value >> (8 * i)) & 0xff));
}

void appendIfd(QByteArray& bytes, const std::vector<TiffEntry>& entries, quint32 nextIfd)
{
    appendLittleEndian(bytes, static_cast<quint32>(entries.size()), 2);
    for (const TiffEntry& entry : entries) {
        appendLittleEndian(bytes, entry.tag, 2);
        appendLittleEndian(bytes, entry.type, 2);
        appendLittleEndian(bytes, entry.count, 4);
        appendLittleEndian(bytes, entry.value, 4);
    }
    appendLittleEndian(bytes, nextIfd, 4);
}

quint32 ifdBytes(std::size_t entries)
{
    return static_cast<quint32>(2 + entries * 12 + 4);
}

// A minimal monochrome linear DNG: one uncompressed 16-bit sample per pixel, a ramp
// rising to the right, as a camera without a colour filter writes it. With a preview
// size, the first IFD holds a small 8-bit RGB preview and the sensor data sits in a
// sub-IFD, the layout of most camera raws.
void writeMonochromeDng(const std::string& path, cv::Size size, cv::Size preview = cv::Size())
{
    const auto w = static_cast<quint32>(size.width);
    const auto h = static_cast<quint32>(size.height);
    const auto pw = static_cast<quint32>(preview.width);
    const auto ph = static_cast<quint32>(preview.height);
    const bool withPreview = !preview.empty();
    const quint32 rawEntryCount = 11;
    const quint32 firstEntryCount = withPreview ? 14 : rawEntryCount + 2;
    const quint32 subIfdOffset = 8 + ifdBytes(firstEntryCount);
    const quint32 extrasOffset = subIfdOffset + (withPreview ? ifdBytes(rawEntryCount) : 0);
    const quint32 bitsOffset = extrasOffset;  // three SHORTs of 8 for the preview
    const quint32 modelOffset = bitsOffset + 6;
    const QByteArray model("Vellumbra Mono");  // 14 characters and the zero: 15 bytes
    const quint32 previewOffset = modelOffset + 16;
    const quint32 rawOffset = previewOffset + pw * ph * 3;

    const std::vector<TiffEntry> rawEntries = {
        {254, 4, 1, 0}, {256, 4, 1, w}, {257, 4, 1, h}, {258, 3, 1, 16}, {259, 3, 1, 1},
        {262, 3, 1, 34892},  // linear raw
        {273, 4, 1, rawOffset}, {277, 3, 1, 1}, {278, 4, 1, h}, {279, 4, 1, w * h * 2}, {284, 3, 1, 1}};
    const TiffEntry dngVersion{50706, 1, 4, 0x00000401};  // 1.4.0.0
    const TiffEntry cameraModel{50708, 2, 15, modelOffset};

    QByteArray file("II*\0\x08\0\0\0", 8);
    if (withPreview) {
        appendIfd(file,
                  {{254, 4, 1, 1}, {256, 4, 1, pw}, {257, 4, 1, ph}, {258, 3, 3, bitsOffset}, {259, 3, 1, 1},
                   {262, 3, 1, 2}, {273, 4, 1, previewOffset}, {277, 3, 1, 3}, {278, 4, 1, ph},
                   {279, 4, 1, pw * ph * 3}, {284, 3, 1, 1}, {330, 4, 1, subIfdOffset}, dngVersion, cameraModel},
                  0);
        appendIfd(file, rawEntries, 0);
    } else {
        std::vector<TiffEntry> entries = rawEntries;
        entries.push_back(dngVersion);
        entries.push_back(cameraModel);
        appendIfd(file, entries, 0);
    }
    for (int i = 0; i < 3; ++i)
        appendLittleEndian(file, 8, 2);
    file.append(model).append(QByteArray(16 - model.size(), '\0'));
    file.append(QByteArray(static_cast<int>(pw * ph * 3), '\x60'));
    for (quint32 y = 0; y < h; ++y)
        for (quint32 x = 0; x < w; ++x)
            appendLittleEndian(file, 1000 + x * 60000 / w, 2);
    QFile out(QString::fromStdString(path));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(file);
}

}  // namespace

// A camera without a colour filter gives one colour; the reader makes it three equal ones.
TEST(RawDecoder, MonochromeRawIsReadAsThreeEqualChannels)
{
    const QString dir = testmedia::makeTempDir("vb-rawmono");
    const std::string path = (dir + "/mono.dng").toStdString();
    writeMonochromeDng(path, cv::Size(64, 40));
    cv::Mat decoded;
    ASSERT_EQ(decode(fullList(path), decoded), 0);
    EXPECT_EQ(decoded.channels(), 1);

    initImageLibraries("");
    cv::Mat image;
    readImage(image, path, false);
    ASSERT_EQ(image.type(), CV_16UC3);
    EXPECT_EQ(image.size(), cv::Size(64, 40));
    std::vector<cv::Mat> planes;
    cv::split(image, planes);
    EXPECT_EQ(cv::norm(planes[0], planes[1], cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(planes[0], planes[2], cv::NORM_INF), 0.0);
    EXPECT_LT(planes[0].at<ushort>(20, 2), planes[0].at<ushort>(20, 60)) << "the ramp rises to the right";
    QDir(dir).removeRecursively();
}

// Magick++ reads the first image of a TIFF-based raw, often a small preview; the reader
// must go on to the decoder for the full picture.
TEST(RawDecoder, ReaderSkipsThePreviewMagickFindsFirst)
{
    const QString dir = testmedia::makeTempDir("vb-rawpreview");
    // An extension Magick++ has no raw coder for, so it reads the file as a TIFF.
    const std::string path = (dir + "/capture.fff").toStdString();
    writeMonochromeDng(path, cv::Size(64, 40), cv::Size(16, 10));
    initImageLibraries("");
    cv::Mat image;
    {
        imageio_test::TraceRecorder trace;
        readImage(image, path, false);
        EXPECT_EQ(trace.names(), (std::vector<std::string>{"magick-read", "raw-decode"}));
    }
    EXPECT_EQ(image.size(), cv::Size(64, 40));
    EXPECT_EQ(image.type(), CV_16UC3);
    QDir(dir).removeRecursively();
}

// A camera raw the test writes itself, so the decoding runs without the real files:
// full and preview reads give their sizes, each patch keeps its colour, in BGR order.
TEST(RawDecoder, GeneratedBayerDngDecodesToItsPatches)
{
    const QString dir = testmedia::makeTempDir("vb-rawbayer");
    const std::string path = (dir + "/bayer.dng").toStdString();
    const cv::Size patch(32, 24);
    const struct {
        const char* name;
        cv::Vec3f rgb;
        int strongestBgr;  // -1: grey, no channel stands out
    } patches[] = {
        {"red", {0.8f, 0.05f, 0.05f}, 2},
        {"green", {0.05f, 0.8f, 0.05f}, 1},
        {"blue", {0.05f, 0.05f, 0.8f}, 0},
        {"grey", {0.4f, 0.4f, 0.4f}, -1},
    };
    std::vector<cv::Vec3f> colours;
    for (const auto& p : patches)
        colours.push_back(p.rgb);
    writeBayerDng(path, patch, colours);
    initImageLibraries("");
    EXPECT_EQ(rawPictureSize(path), cv::Size(64, 48));
    for (const bool preview : {false, true}) {
        SCOPED_TRACE(preview ? "preview" : "full");
        cv::Mat image;
        imageio_test::TraceRecorder trace;
        readImage(image, path, preview);
        const auto names = trace.names();
        EXPECT_NE(std::find(names.begin(), names.end(), "raw-decode"), names.end());
        const int scale = preview ? 2 : 1;
        ASSERT_EQ(image.size(), cv::Size(64 / scale, 48 / scale));
        ASSERT_EQ(image.type(), CV_16UC3);
        for (int i = 0; i < 4; ++i) {
            // The middle half of the patch, clear of the demosaicking at its edges.
            const cv::Size size(patch.width / scale, patch.height / scale);
            const cv::Rect middle((i % 2) * size.width + size.width / 4, (i / 2) * size.height + size.height / 4,
                                  size.width / 2, size.height / 2);
            const cv::Scalar mean = cv::mean(image(middle));
            const double strongest = std::max({mean[0], mean[1], mean[2]});
            const double weakest = std::min({mean[0], mean[1], mean[2]});
            EXPECT_GT(weakest, 0.0) << patches[i].name;
            if (patches[i].strongestBgr < 0) {
                EXPECT_LT(strongest / weakest, 1.2) << patches[i].name << " " << mean;
                continue;
            }
            EXPECT_EQ(mean[patches[i].strongestBgr], strongest) << patches[i].name << " " << mean;
            EXPECT_GT(strongest / weakest, 3.0) << patches[i].name << " " << mean;
        }
    }
    QDir(dir).removeRecursively();
}

namespace {

// Sets a LONG or SHORT tag of the first IFD of a little-endian TIFF-based raw to
// `value`; false when the IFD does not hold the tag.
bool patchFirstIfdTag(QByteArray& file, quint16 tag, quint32 value)
{
    const auto read = [&file](int at, int size) {
        quint32 result = 0;
        for (int i = size - 1; i >= 0; --i)
            result = (result << 8) | static_cast<quint8>(file.at(at + i));
        return result;
    };
    const int ifd = static_cast<int>(read(4, 4));
    const int entries = static_cast<int>(read(ifd, 2));
    for (int i = 0; i < entries; ++i) {
        const int entry = ifd + 2 + 12 * i;
        if (read(entry, 2) != tag)
            continue;
        const int size = read(entry + 2, 2) == 3 ? 2 : 4;
        for (int b = 0; b < size; ++b)
            file[entry + 8 + b] = static_cast<char>((value >> (8 * b)) & 0xff);
        return true;
    }
    return false;
}

}  // namespace

// The DNG's sensor data lies between its black level 2056 and 12128, below its white
// level 15000. A damaged header that puts the black level at or above the data
// decodes without a complaint into a black picture; it must fail like any damaged
// file, while a raised black level that still leaves signal gives its dark picture.
TEST(RawDecoder, DamagedOrSignalFreeRawsFailWithALogEntryBesideGoodOnes)
{
    const std::string dng = rawFile("canon_eos_kiss_x4_magiclantern_colorchart.dng");
    if (dng.empty())
        GTEST_SKIP() << "camera raw test file absent";
    QFile source(QString::fromStdString(dng));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray original = source.readAll();
    constexpr quint16 kBlackLevel = 50714;
    const struct {
        const char* name;
        std::function<bool(QByteArray&)> damage;
        bool readable;
    } cases[] = {
        {"intact", [](QByteArray&) { return true; }, true},
        {"black level raised, signal left", [](QByteArray& f) { return patchFirstIfdTag(f, kBlackLevel, 3000); }, true},
        {"black level above the data", [](QByteArray& f) { return patchFirstIfdTag(f, kBlackLevel, 14000); }, false},
        {"black level at the white level", [](QByteArray& f) { return patchFirstIfdTag(f, kBlackLevel, 15000); }, false},
        {"black level far above", [](QByteArray& f) { return patchFirstIfdTag(f, kBlackLevel, 0x04000808); }, false},
        {"sensor data cut short", [](QByteArray& f) { return f.resize(f.size() * 6 / 10), true; }, false},
    };
    initImageLibraries("");
    const QString dir = testmedia::makeTempDir("vb-rawdamage");
    for (const auto& c : cases) {
        QByteArray bytes = original;
        ASSERT_TRUE(c.damage(bytes)) << c.name;
        const QString path = dir + "/capture.dng";
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
        for (bool preview : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (preview ? ", preview" : ", full"));
            framesource::LogCapture log;
            cv::Mat image;
            readImage(image, path.toStdString(), preview);
            EXPECT_EQ(image.empty(), !c.readable);
            EXPECT_EQ(log.text().contains(path), !c.readable) << log.text().toStdString();
            if (!image.empty()) {
                EXPECT_GT(cv::mean(image)[1], 0.0) << "green has signal";
            }
        }
    }
    QDir(dir).removeRecursively();
}
