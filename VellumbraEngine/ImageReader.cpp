#include "DevILAdapter.h"
#include "FreeImageAdapter.h"
#include "ImageIO.h"
#include "ImageIOSupport.h"
#include "Log.h"
#include "MagickAdapter.h"
#include "RawDecoder.h"

#include <IL/il.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <mutex>

const char* const rawExtensions[rawExtensionCount] = {
    "3fr", "ari", "arw", "bay", "crw", "cr2", "cap", "dcs", "dcr", "dng", "drf", "eip", "erf",
    "fff", "iiq", "k25", "kdc", "mdc", "mef", "mos", "mrw", "nef", "nrw", "obm", "orf", "pef",
    "ptx", "pxn", "r3d", "raf", "raw", "rwl", "rw2", "rwz", "sr2", "srf", "srw", "x3f"};

namespace {

constexpr int devilMinimumVersion = 178;

bool isMagickFirstExtension(const std::string& extension)
{
    return extension == "dpx" || extension == "bmp" || extension == "tga";
}

bool readWithMagick(const std::string& path, cv::Mat& out)
{
    traceImageIO("magick-read");
    try {
        Magick::Image image;
        image.read(path);
        out = magickToMat(image);
        return true;
    } catch (const Magick::Exception&) {
        return false;
    }
}

bool readWithRawDecoder(const std::string& path, bool preview, cv::Mat& out)
{
    traceImageIO("raw-decode");
    const char* const fullArguments[] = {"dcraw.exe", "-T", "-w", "-6", "-o", "3", "-g", "2.4", "12.92",
                                         "-H", "5", "-q", "3", path.c_str()};
    const char* const previewArguments[] = {"dcraw.exe", "-T", "-w", "-6", "-o", "3", "-g", "2.4", "12.92",
                                            "-H", "5", "-q", "0", "-h", path.c_str()};
    rawDecoderImage.release();
    if (preview)
        dcraw_main(15, previewArguments);
    else
        dcraw_main(14, fullArguments);

    cv::Mat decoded;
    std::swap(decoded, rawDecoderImage);
    if (decoded.empty())
        return false;
    if (decoded.channels() == 1)
        out = decoded;
    else
        cv::cvtColor(decoded, out, cv::COLOR_RGB2BGR);
    return true;
}

bool readWithDevIL(const std::string& path, cv::Mat& out)
{
    traceImageIO("devil-read");
    ILuint name = 0;
    ilGenImages(1, &name);
    ilBindImage(name);
    bool read = false;
    if (ilLoadImage(path.c_str())) {
        if (ilGetInteger(IL_VERSION_NUM) >= devilMinimumVersion) {
            out = devilToMat();
            read = !out.empty();
        } else {
            logDevILVersionMismatch();
        }
    }
    ilDeleteImages(1, &name);
    return read;
}

bool readWithOpenCv(const std::string& path, cv::Mat& out)
{
    traceImageIO("opencv-read");
    try {
        out = cv::imread(path, cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR);
    } catch (const cv::Exception&) {
        out.release();
    }
    return !out.empty();
}

bool readWithFreeImage(const std::string& path, bool preview, cv::Mat& out)
{
    FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path.c_str(), 0);
    if (format == FIF_UNKNOWN)
        format = FreeImage_GetFIFFromFilename(path.c_str());
    if (format == FIF_UNKNOWN)
        return false;
    traceImageIO("freeimage-read");
    FIBITMAP* bitmap = freeImageLoad(path, freeImageLoadFlags(format, preview), format);
    if (!bitmap)
        return false;
    out = freeImageToMat(bitmap);
    FreeImage_Unload(bitmap);
    return true;
}

// Callers handle 8U, 16U and 32F with one or three channels: other depths are
// rescaled to the nearest of those, alpha is dropped and two channels keep the grey one.
cv::Mat toCallerImage(const cv::Mat& image)
{
    if (image.empty())
        return image;
    cv::Mat result = image;
    switch (image.channels()) {
    case 1:
    case 3: break;
    case 4: cv::cvtColor(image, result, cv::COLOR_BGRA2BGR); break;
    default: cv::extractChannel(image, result, 0); break;
    }
    switch (result.depth()) {
    case CV_8S: result.convertTo(result, CV_8U, 1.0, 128.0); break;
    case CV_16S: result.convertTo(result, CV_16U, 1.0, 32768.0); break;
    case CV_32S: result.convertTo(result, CV_32F, 1.0 / 2147483647.0); break;
    case CV_64F: result.convertTo(result, CV_32F); break;
    default: break;
    }
    return result;
}

// The libraries in the order the extension calls for; true once one produced an image.
bool readThroughLibraries(const std::string& path, bool preview, cv::Mat& out)
{
    const std::string extension = imageFileExtension(path);
    const bool raw = rawExtensionIndex(rawExtensions, extension) >= 0;

    // A Magick++ failure here is given one more try before the other libraries.
    if (raw || isMagickFirstExtension(extension)) {
        if ((readWithMagick(path, out) || readWithMagick(path, out)) && !out.empty())
            return true;
    }
    if (raw)
        return readWithRawDecoder(path, preview, out);
    return readWithDevIL(path, out) || readWithOpenCv(path, out) ||
           (readWithFreeImage(path, preview, out) && !out.empty()) ||
           (readWithMagick(path, out) && !out.empty());
}

}  // namespace

int rawExtensionIndex(const char* const* table, const std::string& extension)
{
    for (int i = 0; i < rawExtensionCount; ++i) {
        if (extension == table[i])
            return i;
    }
    return -1;
}

int initImageLibraries(const std::string& programPath)
{
    static std::once_flag once;
    std::call_once(once, [&programPath] {
        ilInit();
        FreeImage_Initialise(FALSE);
        Magick::InitializeMagick(programPath.empty() ? nullptr : programPath.c_str());
    });
    return 0;
}

cv::Mat& readImage(cv::Mat& out, const std::string& path, bool preview)
{
    initImageLibraries(std::string());
    std::lock_guard<std::mutex> lock(imageLibraryMutex());
    cv::Mat image;
    if (!readThroughLibraries(path, preview, image))
        image.release();
    out = toCallerImage(image);
    if (out.empty())
        logError("readImage", "no image library could read \"" + path + "\"");
    return out;
}
