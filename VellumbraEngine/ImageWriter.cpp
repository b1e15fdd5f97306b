#include "DevILAdapter.h"
#include "FreeImageAdapter.h"
#include "ImageIO.h"
#include "ImageIOSupport.h"
#include "Log.h"
#include "MagickAdapter.h"
#include "PixelOps.h"
#include "StartupValues.h"
#include "TiffErrorWatch.h"

#include <IL/il.h>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QUuid>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <initializer_list>
#include <cstdio>
#include <exception>
#include <mutex>

namespace {

constexpr int devilJpegQuality = 99;

bool writeWithMagick(const std::string& path, const cv::Mat& image, bool logFailure)
{
    traceImageIO("magick-write");
    try {
        Magick::Image picture = matToMagick(image);
        picture.write(path);
        return true;
    } catch (const Magick::Exception& error) {
        if (logFailure)
            logError("ImageMagick Saver", error.what());
        return false;
    }
}

bool freeImageCanWrite(FREE_IMAGE_FORMAT format, const cv::Mat& image)
{
    return format != FIF_UNKNOWN && format != FIF_BMP && format != FIF_ICO && FreeImage_FIFSupportsWriting(format) &&
           FreeImage_FIFSupportsExportType(format, cvTypeToFreeImageType(image.type()));
}

bool writeWithFreeImage(const std::string& path, FREE_IMAGE_FORMAT format, const cv::Mat& image)
{
    traceImageIO("freeimage-write");
    FIBITMAP* bitmap = matToFreeImage(image);
    if (!bitmap)
        return false;
    const bool saved = FreeImage_Save(format, bitmap, path.c_str(), 0) == TRUE;
    FreeImage_Unload(bitmap);
    return saved;
}

bool isOneOf(const std::string& extension, std::initializer_list<const char*> extensions)
{
    return std::find_if(extensions.begin(), extensions.end(),
                        [&extension](const char* entry) { return extension == entry; }) != extensions.end();
}

// Each format gets the image at a depth it holds, once for every library: some
// encoders clip 16-bit samples to 255 (a white picture), OpenCV's Radiance writer takes
// 16-bit values as floats, 32-bit netpbm files carry a maximum value no reader accepts,
// JPEG 2000 encoders hold integers only (a float file is reported written but no
// reader opens it), and a float map holds 0-1 floats.
cv::Mat withFormatDepth(const std::string& extension, const cv::Mat& image)
{
    int bits = 0;
    if (isOneOf(extension, {"jpg", "jpeg", "jpe", "jfif", "bmp", "dib", "gif", "tga", "pdf", "webp", "ico", "ras",
                            "sr", "pbm"}))
        bits = image.depth() == CV_8U ? 0 : 8;
    else if (isOneOf(extension, {"hdr", "pic", "pfm"}))
        bits = image.depth() == CV_32F ? 0 : 32;
    else if (isOneOf(extension, {"png", "pgm", "ppm", "pnm", "pxm", "jp2", "j2k", "jpf", "jpx"}))
        bits = image.depth() == CV_32F ? 16 : 0;
    if (bits == 0)
        return image;
    const cv::Mat converted = convertBitDepth(image, bits);
    return converted.empty() ? image : converted;
}

// A grey map (.pgm) holds one channel: encoders given colour write a colour map under its name.
cv::Mat withFormatChannels(const std::string& extension, const cv::Mat& image)
{
    if (extension != "pgm" || image.channels() == 1)
        return image;
    cv::Mat grey;
    cv::cvtColor(image, grey, image.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
    return grey;
}

// FreeImage writes a float map's rows top-down where readers expect them bottom-up;
// OpenCV writes it as readers expect.
bool isFloatMap(const std::string& extension)
{
    return extension == "pfm";
}

bool writeWithOpenCv(const std::string& path, const cv::Mat& image)
{
    const int depth = image.depth();
    const std::string extension = imageFileExtension(path);
    const bool floatFile = (isFloatMap(extension) || extension == "exr") && depth == CV_32F;
    if (depth != CV_8U && depth != CV_8S && depth != CV_16U && depth != CV_16S && !floatFile)
        return false;
    traceImageIO("opencv-write");
    try {
        return cv::imwrite(path, image);
    } catch (const cv::Exception&) {
        return false;
    }
}

bool writeWithDevIL(const std::string& path, const cv::Mat& image)
{
    std::lock_guard<std::mutex> lock(imageLibraryMutex());
    traceImageIO("devil-write");
    const int name = matToDevil(image);
    if (name < 0)
        return false;
    ilEnable(IL_FILE_OVERWRITE);
    ilSetInteger(IL_JPG_QUALITY, devilJpegQuality);
    const bool saved = ilSaveImage(path.c_str()) == IL_TRUE;
    const ILuint devilName = static_cast<ILuint>(name);
    ilDeleteImages(1, &devilName);
    return saved;
}

// Debian's ImageMagick policy refuses to write PDF; Qt draws the picture on one page
// of its own size.
bool writeWithQtPdf(const std::string& path, const cv::Mat& image)
{
    traceImageIO("qt-pdf-write");
    const cv::Mat bytes = convertBitDepth(image, 8);
    if (bytes.empty() || (bytes.channels() != 1 && bytes.channels() != 3))
        return false;
    cv::Mat rgb;
    cv::cvtColor(bytes, rgb, bytes.channels() == 1 ? cv::COLOR_GRAY2RGB : cv::COLOR_BGR2RGB);
    const QImage picture(rgb.data, rgb.cols, rgb.rows, static_cast<int>(rgb.step), QImage::Format_RGB888);

    QPdfWriter pdf(QString::fromStdString(path));
    constexpr int dotsPerInch = 72;
    pdf.setResolution(dotsPerInch);
    pdf.setPageMargins(QMarginsF());
    if (!pdf.setPageSize(QPageSize(QSize(rgb.cols, rgb.rows), QPageSize::Point, QString(), QPageSize::ExactMatch)))
        return false;
    QPainter painter;
    if (!painter.begin(&pdf))
        return false;
    painter.drawImage(QRect(0, 0, rgb.cols, rgb.rows), picture);
    return painter.end();
}

// A name beside the target with the same extension, so every library picks the
// same format, and the target is replaced only by a complete file.
std::string partialFilePath(const std::string& path)
{
    const QFileInfo target(QString::fromStdString(path));
    QString name = "." + target.completeBaseName() + ".part-" + QUuid::createUuid().toString(QUuid::Id128).left(8);
    if (!target.suffix().isEmpty())
        name += "." + target.suffix();
    return target.dir().filePath(name).toStdString();
}

// The libraries in the order the extension calls for; true once one wrote partPath.
// `metadata` tells whether the written file should receive the source's tags.
bool writeThroughLibraries(const std::string& path, const std::string& partPath, const cv::Mat& original,
                           bool& metadata)
{
    metadata = false;
    const std::string extension = imageFileExtension(path);
    const cv::Mat image = withFormatChannels(extension, withFormatDepth(extension, original));
    // A light image keeps its values above 1: the installed ImageMagick holds 16-bit
    // integers and would clip them, OpenCV writes EXR in float.
    if (extension == "exr" && image.depth() == CV_32F && writeWithOpenCv(partPath, image))
        return true;
    if (extension == "dpx" || extension == "exr") {
        if (writeWithMagick(partPath, image, true))
            return true;
    }
    metadata = true;
    const FREE_IMAGE_FORMAT format = FreeImage_GetFIFFromFilename(path.c_str());
    if (!isFloatMap(extension) && freeImageCanWrite(format, image) && writeWithFreeImage(partPath, format, image))
        return true;
    return writeWithOpenCv(partPath, image) || writeWithDevIL(partPath, image) ||
           writeWithMagick(partPath, image, false) || (extension == "pdf" && writeWithQtPdf(partPath, image));
}

}  // namespace

bool writeImage(const std::string& path, cv::InputArray imageArray, const std::string& sourcePath,
                const std::string& keyword)
{
    const cv::Mat image = imageArray.getMat();
    if (image.cols == 0 || image.rows == 0)
        return false;
    // A file the user made read-only is refused, even where the process could replace it.
    const QFileInfo target(QString::fromStdString(path));
    if (target.exists() && (!target.isWritable() || !(target.permissions() & QFileDevice::WriteOwner))) {
        logError("writeImage", "\"" + path + "\" is read-only; it is left as it was");
        return false;
    }
    initImageLibraries(std::string());
    {
        std::lock_guard<std::mutex> lock(imageLibraryMutex());
        TiffErrorWatch::detachLibraryHandlers();
    }

    const std::string partPath = partialFilePath(path);
    bool metadata = false;
    bool written = false;
    try {
        written = writeThroughLibraries(path, partPath, image, metadata);
    } catch (const std::exception& error) {
        logError("writeImage", "\"" + path + "\": " + error.what());
    }
    if (!written) {
        std::remove(partPath.c_str());
        logError("writeImage", "no image library could write \"" + path + "\"");
        return false;
    }
    if (std::rename(partPath.c_str(), path.c_str()) != 0) {
        std::remove(partPath.c_str());
        logError("writeImage", "could not move the written image to \"" + path + "\"");
        return false;
    }
    if (metadata && !sourcePath.empty())
        copyMetadataWithExiftool(sourcePath, path, keyword);
    return true;
}

bool saveImageWithDepth(const std::string& path, cv::InputArray image, int bitsPerChannel,
                        const std::string& sourcePath)
{
    return writeImage(path, convertBitDepth(image.getMat(), bitsPerChannel), sourcePath, "Vellumbra");
}

void setApplicationDirectory(const std::string& directory)
{
    applicationDirectory = directory;
}
