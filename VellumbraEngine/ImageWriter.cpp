#include "DevILAdapter.h"
#include "EncodedSize.h"
#include "FreeImageAdapter.h"
#include "ImageIO.h"
#include "ImageIOSupport.h"
#include "Log.h"
#include "MagickAdapter.h"
#include "PartFile.h"
#include "PixelOps.h"
#include "StartupValues.h"
#include "TiffErrorWatch.h"

#include <IL/il.h>
#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <exception>
#include <initializer_list>
#include <mutex>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// libtiff's codes, as OpenCV's TIFF writer takes them.
constexpr int kTiffNoCompression = 1;
constexpr int kTiffAdobeDeflate = 8;

bool encodeWithMagick(const std::string& extension, const cv::Mat& image, bool logFailure, Bytes& bytes)
{
    traceImageIO("magick-write");
    try {
        Magick::Image picture = matToMagick(image);
        if (extension == "jpg" || extension == "jpeg")
            picture.quality(static_cast<size_t>(jpgQuality()));
        else if (extension == "png")
            // Tens: the zlib level; units: adaptive row filters, ImageMagick's own choice.
            picture.quality(static_cast<size_t>(pngCompression() * 10 + 5));
        picture.magick(QString::fromStdString(extension).toUpper().toStdString());
        Magick::Blob blob;
        picture.write(&blob);
        const auto* data = static_cast<const unsigned char*>(blob.data());
        bytes.assign(data, data + blob.length());
        return !bytes.empty();
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

// The stored JPEG quality and PNG compression; EXR keeps full floats, losslessly
// compressed; every other format its defaults.
int freeImageSaveFlags(FREE_IMAGE_FORMAT format)
{
    if (format == FIF_JPEG)
        return jpgQuality();
    if (format == FIF_PNG)
        return pngCompression() == 0 ? PNG_Z_NO_COMPRESSION : pngCompression();
    if (format == FIF_EXR)
        return EXR_FLOAT | EXR_ZIP;
    return 0;
}

bool encodeWithFreeImage(FREE_IMAGE_FORMAT format, const cv::Mat& image, Bytes& bytes)
{
    traceImageIO("freeimage-write");
    FIBITMAP* bitmap = matToFreeImage(image);
    if (!bitmap)
        return false;
    FIMEMORY* memory = FreeImage_OpenMemory();
    BYTE* data = nullptr;
    DWORD size = 0;
    const bool saved = memory && FreeImage_SaveToMemory(format, bitmap, memory, freeImageSaveFlags(format)) == TRUE &&
                       FreeImage_AcquireMemory(memory, &data, &size) == TRUE && size > 0;
    if (saved)
        bytes.assign(data, data + size);
    if (memory)
        FreeImage_CloseMemory(memory);
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
    else if (isOneOf(extension, {"hdr", "pic", "pfm", "exr"}))
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

bool encodeWithOpenCv(const std::string& extension, const cv::Mat& image, std::vector<int> parameters, Bytes& bytes)
{
    const int depth = image.depth();
    const bool floatFile = isFloatMap(extension) && depth == CV_32F;
    if (depth != CV_8U && depth != CV_8S && depth != CV_16U && depth != CV_16S && !floatFile)
        return false;
    traceImageIO("opencv-write");
    parameters.insert(parameters.end(), {cv::IMWRITE_JPEG_QUALITY, jpgQuality(), cv::IMWRITE_PNG_COMPRESSION,
                                         pngCompression()});
    try {
        if (!cv::imencode("." + extension, image, bytes, parameters) || bytes.empty())
            return false;
    } catch (const cv::Exception&) {
        return false;
    }
    if (encodedBytesAreWhole(extension, bytes))
        return true;
    logError("writeImage", "OpenCV's encoder gave " + std::to_string(bytes.size()) + " bytes, a cut ." + extension +
                               " file; not used");
    return false;
}

// 16-bit samples: Deflate over horizontal differences, which suits their noise where
// LZW does not, or no compression at all where that comes out smaller.
bool encodeSixteenBitTiff(const std::string& extension, const cv::Mat& image, Bytes& bytes)
{
    if (!encodeWithOpenCv(extension, image, {cv::IMWRITE_TIFF_COMPRESSION, kTiffAdobeDeflate}, bytes))
        return false;
    if (bytes.size() <= image.total() * image.elemSize())
        return true;
    return encodeWithOpenCv(extension, image, {cv::IMWRITE_TIFF_COMPRESSION, kTiffNoCompression}, bytes);
}

bool encodeWithDevIL(const std::string& path, const cv::Mat& image, Bytes& bytes)
{
    std::lock_guard<std::mutex> lock(imageLibraryMutex());
    traceImageIO("devil-write");
    std::string name = path;
    const ILenum type = ilTypeFromExt(&name[0]);
    if (type == IL_TYPE_UNKNOWN)
        return false;
    const int devilImage = matToDevil(image);
    if (devilImage < 0)
        return false;
    ilSetInteger(IL_JPG_QUALITY, jpgQuality());
    // DevIL writes into a buffer of the caller's size: room for the samples twice over,
    // and a file that fills it is taken as cut short.
    bytes.resize(image.total() * image.elemSize() * 2 + 65536);
    const ILuint written = ilSaveL(type, bytes.data(), static_cast<ILuint>(bytes.size()));
    const ILuint devilName = static_cast<ILuint>(devilImage);
    ilDeleteImages(1, &devilName);
    const bool saved = written > 0 && written < bytes.size();
    bytes.resize(saved ? written : 0);
    return saved;
}

// Debian's ImageMagick policy refuses to write PDF; Qt draws the picture on one page
// of its own size.
bool encodeWithQtPdf(const cv::Mat& image, Bytes& bytes)
{
    traceImageIO("qt-pdf-write");
    const cv::Mat eightBit = convertBitDepth(image, 8);
    if (eightBit.empty() || (eightBit.channels() != 1 && eightBit.channels() != 3))
        return false;
    cv::Mat rgb;
    cv::cvtColor(eightBit, rgb, eightBit.channels() == 1 ? cv::COLOR_GRAY2RGB : cv::COLOR_BGR2RGB);
    const QImage picture(rgb.data, rgb.cols, rgb.rows, static_cast<int>(rgb.step), QImage::Format_RGB888);

    QBuffer document;
    document.open(QIODevice::WriteOnly);
    {
        QPdfWriter pdf(&document);
        constexpr int dotsPerInch = 72;
        pdf.setResolution(dotsPerInch);
        pdf.setPageMargins(QMarginsF());
        if (!pdf.setPageSize(QPageSize(QSize(rgb.cols, rgb.rows), QPageSize::Point, QString(), QPageSize::ExactMatch)))
            return false;
        QPainter painter;
        if (!painter.begin(&pdf))
            return false;
        painter.drawImage(QRect(0, 0, rgb.cols, rgb.rows), picture);
        if (!painter.end())
            return false;
    }
    const QByteArray& data = document.data();
    bytes.assign(data.begin(), data.end());
    return !bytes.empty();
}

// The file's bytes from the libraries in the order the extension calls for; true
// once one produced them. `metadata` tells whether the file should receive the
// source's tags.
bool encodeThroughLibraries(const std::string& path, const cv::Mat& original, Bytes& bytes, bool& metadata)
{
    metadata = false;
    const std::string extension = imageFileExtension(path);
    const cv::Mat image = withFormatChannels(extension, withFormatDepth(extension, original));
    // EXR goes to memory through FreeImage alone: the other libraries' EXR writers go
    // through a temporary file, and when writing it fails the OpenEXR library waits
    // for ever. FreeImage also keeps a light image's values above 1 as floats.
    if (extension == "exr")
        return freeImageCanWrite(FIF_EXR, image) && encodeWithFreeImage(FIF_EXR, image, bytes);
    if (extension == "dpx" && encodeWithMagick(extension, image, true, bytes))
        return true;
    metadata = true;
    if (isOneOf(extension, {"tif", "tiff"}) && image.depth() == CV_16U && encodeSixteenBitTiff(extension, image, bytes))
        return true;
    const FREE_IMAGE_FORMAT format = FreeImage_GetFIFFromFilename(path.c_str());
    if (!isFloatMap(extension) && freeImageCanWrite(format, image) && encodeWithFreeImage(format, image, bytes))
        return true;
    return encodeWithOpenCv(extension, image, {}, bytes) || encodeWithDevIL(path, image, bytes) ||
           encodeWithMagick(extension, image, false, bytes) || (extension == "pdf" && encodeWithQtPdf(image, bytes));
}

// The export formats whose tags the metadata tool writes.
bool toolWritesTags(const std::string& extension)
{
    return isOneOf(extension, {"tif", "tiff", "jpg", "jpeg", "jpe", "png", "psd", "gif", "pgm", "ppm", "pbm", "pdf",
                               "jp2", "j2k", "jpf", "jpx", "webp"});
}

}  // namespace

bool writeImage(const std::string& path, cv::InputArray imageArray, const std::string& sourcePath,
                const std::string& keyword, bool* metadataLost)
{
    if (metadataLost)
        *metadataLost = false;
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
    PartFile::removeStale(target.absolutePath().toStdString());

    // The libraries encode into memory: whether the bytes reach the disk whole is
    // checked here, where a library's own file writing may not look.
    Bytes bytes;
    bool metadata = false;
    bool encoded = false;
    try {
        encoded = encodeThroughLibraries(path, image, bytes, metadata);
    } catch (const std::exception& error) {
        logError("writeImage", "\"" + path + "\": " + error.what());
    }
    if (!encoded) {
        logError("writeImage", "no image library could write \"" + path + "\"");
        return false;
    }
    PartFile part(path);
    if (!part.write(bytes))
        return false;
    Bytes().swap(bytes);
    const bool copied = !metadata || sourcePath.empty() || copyMetadataWithExiftool(sourcePath, part.path(), keyword);
    if (!part.commit())
        return false;
    // The tool cannot write every format: only a file that could carry the tags lost them.
    if (!copied && toolWritesTags(imageFileExtension(path))) {
        logError("writeImage", "\"" + path + "\" was written without the metadata of \"" + sourcePath + "\"");
        if (metadataLost)
            *metadataLost = true;
    }
    return true;
}

bool saveImageWithDepth(const std::string& path, cv::InputArray image, int bitsPerChannel,
                        const std::string& sourcePath, bool* metadataLost)
{
    return writeImage(path, convertBitDepth(image.getMat(), bitsPerChannel), sourcePath, "Vellumbra", metadataLost);
}

void setApplicationDirectory(const std::string& directory)
{
    applicationDirectory = directory;
}
