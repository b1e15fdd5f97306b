#include "RawDecoder.h"

#include <libraw/libraw.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <exception>
#include <new>

cv::Mat rawDecoderImage;

namespace {

struct DecoderOptions {
    bool tiffByteOrder = false;
    bool cameraWhiteBalance = false;
    int bitsPerSample = 8;
    int outputColour = 1;
    double gammaPower = 0.45;
    double gammaSlope = 4.5;
    int highlightMode = 0;
    int quality = -1;
    bool halfSize = false;
};

// How many numeric values follow each option that takes any.
int valueCount(char option)
{
    switch (option) {
    case 'o':
    case 'H':
    case 'q': return 1;
    case 'g': return 2;
    default: return 0;
    }
}

bool isNumeric(const char* text)
{
    return std::isdigit(static_cast<unsigned char>(text[0])) != 0;
}

// Reads the leading options; returns the index of the first file, or -1 after a
// message for a bad option.
int parseOptions(int argc, const char* const* argv, DecoderOptions& options)
{
    int arg = 1;
    while (arg < argc && (argv[arg][0] == '-' || argv[arg][0] == '+')) {
        const char* const flag = argv[arg++];
        const char option = flag[1];
        const int count = valueCount(option);
        for (int i = 0; i < count; ++i) {
            if (arg + i >= argc || !isNumeric(argv[arg + i])) {
                std::fprintf(stderr, "Non-numeric argument to \"-%c\"\n", option);
                return -1;
            }
        }
        switch (option) {
        case 'T': options.tiffByteOrder = true; break;
        case 'w': options.cameraWhiteBalance = true; break;
        case '6': options.bitsPerSample = 16; break;
        case 'o': options.outputColour = std::atoi(argv[arg]); break;
        case 'g':
            options.gammaPower = std::atof(argv[arg]);
            options.gammaSlope = std::atof(argv[arg + 1]);
            if (options.gammaPower != 0.0)
                options.gammaPower = 1.0 / options.gammaPower;
            break;
        case 'H': options.highlightMode = std::atoi(argv[arg]); break;
        case 'q': options.quality = std::atoi(argv[arg]); break;
        case 'h': options.halfSize = true; break;
        default:
            std::fprintf(stderr, "Unknown option \"%s\".\n", flag);
            return -1;
        }
        arg += count;
    }
    return arg;
}

void applyOptions(const DecoderOptions& options, libraw_output_params_t& params)
{
    params.output_tiff = options.tiffByteOrder ? 1 : 0;
    params.use_camera_wb = options.cameraWhiteBalance ? 1 : 0;
    params.output_bps = options.bitsPerSample;
    params.output_color = options.outputColour;
    params.gamm[0] = options.gammaPower;
    params.gamm[1] = options.gammaSlope;
    params.highlight = options.highlightMode;
    params.user_qual = options.quality;
    params.half_size = options.halfSize ? 1 : 0;
    // The published decoder never rescales the white level from the data.
    params.adjust_maximum_thr = 0.0f;
}

struct ProcessedImageDeleter {
    void operator()(libraw_processed_image_t* image) const { LibRaw::dcraw_clear_mem(image); }
};

// The writer: the processed picture, already oriented, with its width cut to even.
cv::Mat toEvenWidthImage(const libraw_processed_image_t& processed)
{
    if (processed.type != LIBRAW_IMAGE_BITMAP || (processed.bits != 8 && processed.bits != 16) ||
        processed.colors < 1 || processed.colors > 4)
        return cv::Mat();
    const int width = processed.width & ~1;
    const int height = processed.height;
    if (width <= 0 || height <= 0)
        return cv::Mat();
    const int type = CV_MAKETYPE(processed.bits == 16 ? CV_16U : CV_8U, processed.colors);
    const std::size_t rowBytes =
        static_cast<std::size_t>(processed.width) * processed.colors * (processed.bits / 8);
    const cv::Mat whole(height, processed.width, type, const_cast<unsigned char*>(processed.data), rowBytes);
    return whole.colRange(0, width).clone();
}

bool decodeFile(const char* path, const DecoderOptions& options)
{
    std::unique_ptr<LibRaw> decoder(new (std::nothrow) LibRaw(LIBRAW_OPTIONS_NONE));
    if (!decoder) {
        std::fprintf(stderr, "%s: Out of memory in %s\n", path, "dcraw_main()");
        return false;
    }
    applyOptions(options, decoder->imgdata.params);
    // The decoder fills what it cannot read with zeros and goes on: a picture it
    // reported data errors for is not taken.
    int dataErrors = 0;
    decoder->set_dataerror_handler([](void* count, const char*, int) { ++*static_cast<int*>(count); }, &dataErrors);

    int status = decoder->open_file(path);
    if (status != LIBRAW_SUCCESS) {
        if (status == LIBRAW_IO_ERROR)
            std::perror(path);
        else
            std::fprintf(stderr, "Cannot decode file %s\n", path);
        return false;
    }
    status = decoder->unpack();
    if (status == LIBRAW_SUCCESS)
        status = decoder->dcraw_process();
    if (status != LIBRAW_SUCCESS) {
        std::fprintf(stderr, "%s: %s\n", path, libraw_strerror(status));
        return false;
    }
    std::unique_ptr<libraw_processed_image_t, ProcessedImageDeleter> processed(decoder->dcraw_make_mem_image(&status));
    if (!processed || status != LIBRAW_SUCCESS) {
        std::fprintf(stderr, "%s: Out of memory in %s\n", path, "write_ppm_tiff()");
        return false;
    }
    if (dataErrors > 0) {
        std::fprintf(stderr, "%s: damaged data\n", path);
        return false;
    }
    cv::Mat picture = toEvenWidthImage(*processed);
    if (picture.empty()) {
        std::fprintf(stderr, "Cannot decode file %s\n", path);
        return false;
    }
    if (!everyColourHasSignal(picture)) {
        std::fprintf(stderr, "%s: no signal in the picture\n", path);
        return false;
    }
    rawDecoderImage = picture;
    return true;
}

}  // namespace

bool everyColourHasSignal(const cv::Mat& picture)
{
    // Samples are unsigned: a zero mean is a colour that is zero everywhere.
    const cv::Scalar means = cv::mean(picture);
    for (int c = 0; c < picture.channels(); ++c) {
        if (means[c] == 0.0)
            return false;
    }
    return !picture.empty();
}

cv::Size rawPictureSize(const std::string& path)
{
    try {
        std::unique_ptr<LibRaw> decoder(new (std::nothrow) LibRaw(LIBRAW_OPTIONS_NONE));
        if (!decoder || decoder->open_file(path.c_str()) != LIBRAW_SUCCESS ||
            decoder->adjust_sizes_info_only() != LIBRAW_SUCCESS)
            return cv::Size();
        const libraw_image_sizes_t& sizes = decoder->imgdata.sizes;
        return cv::Size(sizes.iwidth & ~1, sizes.iheight);
    } catch (const std::exception&) {
        return cv::Size();
    }
}

int dcraw_main(int argc, const char* const* argv)
{
    DecoderOptions options;
    const int firstFile = parseOptions(argc, argv, options);
    if (firstFile < 0)
        return 1;
    if (firstFile >= argc) {
        std::fprintf(stderr, "No files to process.\n");
        return 1;
    }
    int status = 0;
    for (int arg = firstFile; arg < argc; ++arg) {
        try {
            if (!decodeFile(argv[arg], options))
                status = 1;
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s: %s\n", argv[arg], error.what());
            status = 1;
        }
    }
    return status;
}
