#include "DevILAdapter.h"
#include "ExifOrientation.h"
#include "FreeImageAdapter.h"
#include "ImageFileChecks.h"
#include "ImageIO.h"
#include "ImageIOSupport.h"
#include "JpegDecoder.h"
#include "Log.h"
#include "MagickAdapter.h"
#include "MissingSamples.h"
#include "RawDecoder.h"
#include "TiffErrorWatch.h"

#include <IL/il.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cfloat>
#include <exception>
#include <mutex>
#include <set>
#include <vector>

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

// Magick++ reports warnings and errors as exceptions, except for OpenEXR files: its
// coder ignores the failures of the OpenEXR library and hands over a damaged file
// with blank rows, as 16-bit. OpenCV reads them, and refuses the damaged ones.
bool magickReportsErrors(const std::string& path)
{
    return imageFileExtension(path) != "exr";
}

bool readWithMagick(const std::string& path, cv::Mat& out)
{
    if (!magickReportsErrors(path))
        return false;
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

// Magick++ may find only the small preview that many raw formats carry in front of
// the sensor data; the full decode is wanted, so a picture well short of the
// decoder's size does not count.
bool isFullRawPicture(const std::string& path, const cv::Mat& picture)
{
    const cv::Size full = rawPictureSize(path);
    if (full.empty())
        return true;
    const int longSide = std::max(picture.cols, picture.rows);
    const int shortSide = std::min(picture.cols, picture.rows);
    return longSide * 10 >= std::max(full.width, full.height) * 9 &&
           shortSide * 10 >= std::min(full.width, full.height) * 9;
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
    // A monochrome camera gives one colour; later stages expect three.
    cv::cvtColor(decoded, out, decoded.channels() == 1 ? cv::COLOR_GRAY2BGR : cv::COLOR_RGB2BGR);
    return true;
}

// Applies the stored EXIF orientation (1 to 8) so the picture stands upright.
void orientUpright(cv::Mat& image, int orientation)
{
    switch (orientation) {
    case 2: cv::flip(image, image, 1); break;
    case 3: cv::rotate(image, image, cv::ROTATE_180); break;
    case 4: cv::flip(image, image, 0); break;
    case 5: cv::transpose(image, image); break;
    case 6: cv::rotate(image, image, cv::ROTATE_90_CLOCKWISE); break;
    case 7:
        cv::transpose(image, image);
        cv::flip(image, image, -1);
        break;
    case 8: cv::rotate(image, image, cv::ROTATE_90_COUNTERCLOCKWISE); break;
    default: break;
    }
}

FREE_IMAGE_FORMAT freeImageFormatOf(const std::string& path)
{
    const FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path.c_str(), 0);
    return format == FIF_UNKNOWN ? FreeImage_GetFIFFromFilename(path.c_str()) : format;
}

// DevIL and libjpeg hand JPEGs over as stored; OpenCV and FreeImage turn JPEGs upright
// themselves but leave other formats as stored.
void orientStillPhoto(const std::string& path, bool libraryTurnsJpeg, cv::Mat& image)
{
    const FREE_IMAGE_FORMAT format = freeImageFormatOf(path);
    // Raw decoders and every library's TIFF reader turn their pictures themselves.
    if ((libraryTurnsJpeg && format == FIF_JPEG) || format == FIF_RAW || format == FIF_TIFF)
        return;
    // FreeImage's header read decodes a progressive JPEG whole; the EXIF block lies in front of the pixels.
    orientUpright(image, format == FIF_JPEG ? jpegExifOrientation(path) : freeImageStoredOrientation(path, format));
}

// DevIL's own decoders crash or spin on damaged files (a double free in PNM, a wild
// read in HDR, libpng fed zeros past the end of a PNG for minutes). It keeps the
// formats it hands to libjpeg and libtiff, and of TIFFs those it reads whole;
// OpenCV, FreeImage and Magick++ read the rest.
bool devilLoadsSafely(const std::string& path)
{
    ILenum type = ilTypeFromExt(path.c_str());
    if (type == IL_TYPE_UNKNOWN)
        type = ilDetermineType(path.c_str());
    return type == IL_JPG || (type == IL_TIF && tiffIsUprightIntegers(path));
}

// DevIL loads what its decoder managed to read and notes the failures on its error
// stack; true when there were any. Leaves the stack empty.
bool takeDevILErrors()
{
    bool any = false;
    while (ilGetError() != IL_NO_ERROR)
        any = true;
    return any;
}

bool readWithDevIL(const std::string& path, cv::Mat& out)
{
    if (!devilLoadsSafely(path))
        return false;
    traceImageIO("devil-read");
    ILuint name = 0;
    ilGenImages(1, &name);
    ilBindImage(name);
    bool read = false;
    takeDevILErrors();
    const bool loaded = ilLoadImage(path.c_str()) == IL_TRUE;
    if (!takeDevILErrors() && loaded) {
        if (ilGetInteger(IL_VERSION_NUM) >= devilMinimumVersion) {
            out = devilToMat();
            read = !out.empty();
            if (read)
                orientStillPhoto(path, false, out);
        } else {
            logDevILVersionMismatch();
        }
    }
    ilDeleteImages(1, &name);
    return read;
}

// libjpeg reports lost data, which the other libraries hide behind grey rows. A JPEG
// it cannot turn into BGR or grey goes on to them.
JpegDecode readWithLibjpeg(const std::string& path, cv::Mat& out)
{
    if (FreeImage_GetFileType(path.c_str(), 0) != FIF_JPEG)
        return JpegDecode::NotHandled;
    traceImageIO("jpeg-read");
    const JpegDecode result = decodeJpeg(path, out);
    if (result == JpegDecode::Read)
        orientStillPhoto(path, false, out);
    else if (result == JpegDecode::Cut)
        logError("readImage", "\"" + path + "\" ends before its picture data does; the file is cut short and not read");
    else if (result == JpegDecode::Damaged)
        logError("readImage",
                 "\"" + path + "\" is damaged: part of its picture data cannot be decoded; it is not read");
    return result;
}

bool readWithOpenCv(const std::string& path, cv::Mat& out)
{
    traceImageIO("opencv-read");
    try {
        out = cv::imread(path, cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR);
    } catch (const cv::Exception&) {
        out.release();
    }
    if (out.empty())
        return false;
    orientStillPhoto(path, true, out);
    return true;
}

// Messages FreeImage's decoders sent since the count was last reset; reads hold
// imageLibraryMutex().
int freeImageMessages = 0;

void countFreeImageMessage(FREE_IMAGE_FORMAT, const char*)
{
    ++freeImageMessages;
}

bool readWithFreeImage(const std::string& path, bool preview, cv::Mat& out)
{
    const FREE_IMAGE_FORMAT format = freeImageFormatOf(path);
    // Left to Magick++: FreeImage's OpenEXR stream never reports the end of the file,
    // so a truncated header loops for ever, and its PSD decoder writes out of bounds
    // on damaged layer data.
    if (format == FIF_UNKNOWN || format == FIF_EXR || format == FIF_PSD)
        return false;
    traceImageIO("freeimage-read");
    // FreeImage hands over what its decoders managed to read and reports their
    // failures only as messages.
    freeImageMessages = 0;
    FIBITMAP* bitmap = freeImageLoad(path, freeImageLoadFlags(format, preview), format);
    if (bitmap && freeImageMessages > 0) {
        FreeImage_Unload(bitmap);
        return false;
    }
    if (!bitmap)
        return false;
    out = freeImageToMat(bitmap);
    FreeImage_Unload(bitmap);
    if (!out.empty())
        orientStillPhoto(path, true, out);
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

// Infinite and not-a-number samples (a hot pixel of a float HDR) would turn every
// correlation and average that meets them into one: they are missing, and their
// pixels take the value of the finite pixels around them, so a hot block reads as
// the picture around it rather than as its brightest light. Told once per file.
void makeSamplesFinite(const std::string& path, cv::Mat& image)
{
    if (image.depth() != CV_32F || cv::checkRange(image))
        return;
    cv::Mat samples = image.reshape(1);
    const cv::Mat finite = (samples == samples) & (cv::abs(samples) <= FLT_MAX);
    samples.setTo(0.0, ~finite);
    std::vector<cv::Mat> channels;
    cv::split(finite.reshape(image.channels()), channels);
    cv::Mat known = channels.front();
    for (const cv::Mat& channel : channels)
        known &= channel;
    image = fillMissingSamples(image, known);
    static std::set<std::string> told;
    if (told.insert(path).second)
        logError("readImage", "\"" + path + "\": samples that are not finite numbers were replaced by finite ones.\n");
}

// A library's picture counts only when no error was reported while it read the file.
template <typename Read>
bool readCleanly(Read read)
{
    const TiffErrorWatch watch;
    return read() && watch.errors() == 0;
}

// The libraries in the order the extension calls for; true once one produced an image.
bool readThroughLibraries(const std::string& path, bool preview, cv::Mat& out)
{
    const auto magick = [&] { return readCleanly([&] { return readWithMagick(path, out); }) && !out.empty(); };
    const std::string extension = imageFileExtension(path);
    const bool raw = rawExtensionIndex(rawExtensions, extension) >= 0;

    // A Magick++ failure here is given one more try before the other libraries.
    if (raw || isMagickFirstExtension(extension)) {
        if ((magick() || magick()) && (!raw || (isFullRawPicture(path, out) && everyColourHasSignal(out))))
            return true;
    }
    if (raw)
        return readWithRawDecoder(path, preview, out);
    const JpegDecode jpeg = readWithLibjpeg(path, out);
    if (jpeg != JpegDecode::NotHandled)
        return jpeg == JpegDecode::Read;
    return readCleanly([&] { return readWithDevIL(path, out); }) ||
           readCleanly([&] { return readWithOpenCv(path, out); }) ||
           readCleanly([&] { return readWithFreeImage(path, preview, out) && !out.empty(); }) || magick();
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
        FreeImage_SetOutputMessage(countFreeImageMessage);
        Magick::InitializeMagick(programPath.empty() ? nullptr : programPath.c_str());
    });
    return 0;
}

cv::Mat& readImage(cv::Mat& out, const std::string& path, bool preview)
{
    initImageLibraries(std::string());
    std::lock_guard<std::mutex> lock(imageLibraryMutex());
    cv::Mat image;
    try {
        // Refused with their own message, before any library allocates or guesses.
        if (!claimedSizeIsPlausible(path)) {
            out.release();
            return out;
        }
        if (!readThroughLibraries(path, preview, image))
            image.release();
        out = toCallerImage(image);
        makeSamplesFinite(path, out);
    } catch (const std::exception& error) {
        // Out of memory on a huge or damaged picture, or a conversion OpenCV refuses.
        logError("readImage", "\"" + path + "\": " + error.what());
        out.release();
        return out;
    }
    if (out.empty())
        logError("readImage", "no image library could read \"" + path + "\"");
    return out;
}
