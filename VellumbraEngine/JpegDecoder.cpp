#include "JpegDecoder.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>

namespace {

// Some cameras leave a byte or two before a marker; a scan that stops kilobytes short
// of the next marker was decoded from damaged data.
constexpr int kHarmlessExtraneousBytes = 64;

struct ErrorManager {
    jpeg_error_mgr library;
    std::jmp_buf jump;
    bool inPictureData = false;
    bool lostData = false;
    bool endMissing = false;
};

void leave(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

// Warnings only (level -1); the trace messages above that say nothing about damage.
void hear(j_common_ptr info, int level)
{
    if (level >= 0)
        return;
    auto* errors = reinterpret_cast<ErrorManager*>(info->err);
    switch (info->err->msg_code) {
    case JWRN_JPEG_EOF: errors->endMissing = true; break;
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL: errors->lostData = true; break;
    case JWRN_EXTRANEOUS_DATA:
        errors->lostData |= errors->inPictureData && info->err->msg_parm.i[0] > kHarmlessExtraneousBytes;
        break;
    default: break;  // an unknown JFIF revision or Adobe transform: nothing lost
    }
}

// One decompression of one file; the jump buffer is set by whoever calls libjpeg.
class Decompressor {
public:
    explicit Decompressor(const std::string& path) : file(std::fopen(path.c_str(), "rb"))
    {
        info.err = jpeg_std_error(&errors.library);
        errors.library.error_exit = leave;
        errors.library.emit_message = hear;
        jpeg_create_decompress(&info);
        if (file)
            jpeg_stdio_src(&info, file);
    }
    ~Decompressor()
    {
        jpeg_destroy_decompress(&info);
        if (file)
            std::fclose(file);
    }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    jpeg_decompress_struct info{};
    ErrorManager errors{};
    std::FILE* file;
};

// A progressive file ends with every coefficient refined to full precision; one that
// stops earlier lost its last scans, even when the end marker alone seems missing.
bool everyCoefficientRefined(const jpeg_decompress_struct& info)
{
    if (!info.progressive_mode || !info.coef_bits)
        return true;
    for (int component = 0; component < info.num_components; ++component) {
        for (int k = 0; k < DCTSIZE2; ++k) {
            if (info.coef_bits[component][k] != 0)
                return false;
        }
    }
    return true;
}

}  // namespace

bool readJpegHeader(const std::string& path, JpegHeader& header)
{
    Decompressor decompressor(path);
    if (!decompressor.file)
        return false;
    jpeg_decompress_struct& info = decompressor.info;
    if (setjmp(decompressor.errors.jump))
        return false;
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK)
        return false;
    header.width = info.image_width;
    header.height = info.image_height;
    header.components = info.num_components;
    header.firstComponentBlocks = double(info.comp_info[0].width_in_blocks) * info.comp_info[0].height_in_blocks;
    header.arithmeticCoded = info.arith_code;
    return true;
}

JpegDecode decodeJpeg(const std::string& path, cv::Mat& out)
{
    Decompressor decompressor(path);
    if (!decompressor.file)
        return JpegDecode::NotHandled;
    jpeg_decompress_struct& info = decompressor.info;
    ErrorManager& errors = decompressor.errors;
    if (setjmp(errors.jump)) {
        out.release();
        if (!errors.inPictureData)
            return JpegDecode::NotHandled;
        return errors.endMissing ? JpegDecode::Cut : JpegDecode::Damaged;
    }
    jpeg_read_header(&info, TRUE);
    const J_COLOR_SPACE stored = info.jpeg_color_space;
    if (stored != JCS_GRAYSCALE && stored != JCS_YCbCr && stored != JCS_RGB)
        return JpegDecode::NotHandled;
    info.out_color_space = stored == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_EXT_BGR;
    errors.inPictureData = true;
    jpeg_start_decompress(&info);
    out.create(static_cast<int>(info.output_height), static_cast<int>(info.output_width),
               CV_8UC(info.output_components));
    constexpr int kRowsPerCall = 16;
    JSAMPROW rows[kRowsPerCall];
    while (info.output_scanline < info.output_height) {
        const JDIMENSION first = info.output_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(kRowsPerCall, info.output_height - first);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = out.ptr(static_cast<int>(first + i));
        jpeg_read_scanlines(&info, rows, count);
    }
    const bool refined = everyCoefficientRefined(info);
    jpeg_finish_decompress(&info);
    if (!errors.lostData && (!errors.endMissing || refined))
        return JpegDecode::Read;
    out.release();
    return errors.endMissing ? JpegDecode::Cut : JpegDecode::Damaged;
}
