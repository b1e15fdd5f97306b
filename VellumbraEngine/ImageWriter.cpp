#include "DevILAdapter.h"
#include "FreeImageAdapter.h"
#include "ImageIO.h"
#include "ImageIOSupport.h"
#include "Log.h"
#include "MagickAdapter.h"
#include "PixelOps.h"
#include "StartupValues.h"

#include <IL/il.h>
#include <QDir>
#include <QFileInfo>
#include <QUuid>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cstdio>
#include <iterator>
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

// OpenCV's own 16-bit encoders; the others clip 16-bit samples to 255 (a white picture).
bool openCvWrites16Bit(const std::string& extension)
{
    static const char* const extensions[] = {"png", "tif", "tiff", "pgm", "ppm", "pnm", "pxm", "jp2"};
    return std::find(std::begin(extensions), std::end(extensions), extension) != std::end(extensions);
}

bool writeWithOpenCv(const std::string& path, const std::string& extension, const cv::Mat& image)
{
    const int depth = image.depth();
    if (depth != CV_8U && depth != CV_8S && depth != CV_16U && depth != CV_16S)
        return false;
    traceImageIO("opencv-write");
    const bool narrow = depth == CV_16U && !openCvWrites16Bit(extension);
    try {
        return cv::imwrite(path, narrow ? convertBitDepth(image, 8) : image);
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
bool writeThroughLibraries(const std::string& path, const std::string& partPath, const cv::Mat& image,
                           bool& metadata)
{
    metadata = false;
    const std::string extension = imageFileExtension(path);
    if (extension == "dpx" || extension == "exr") {
        if (writeWithMagick(partPath, image, true))
            return true;
    }
    metadata = true;
    const FREE_IMAGE_FORMAT format = FreeImage_GetFIFFromFilename(path.c_str());
    if (freeImageCanWrite(format, image) && writeWithFreeImage(partPath, format, image))
        return true;
    return writeWithOpenCv(partPath, extension, image) || writeWithDevIL(partPath, image) ||
           writeWithMagick(partPath, image, false);
}

}  // namespace

bool writeImage(const std::string& path, cv::InputArray imageArray, const std::string& sourcePath,
                const std::string& keyword)
{
    const cv::Mat image = imageArray.getMat();
    if (image.cols == 0 || image.rows == 0)
        return false;
    initImageLibraries(std::string());

    const std::string partPath = partialFilePath(path);
    bool metadata = false;
    if (!writeThroughLibraries(path, partPath, image, metadata)) {
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
