#include "JpegDecoder.h"

#include "JpegResyncSeam.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>  // before jpeglib.h, which uses FILE
#include <cstring>
#include <fstream>
#include <memory>
#include <jpeglib.h>
#include <jerror.h>

namespace {

// Some encoders leave a stray byte or two before a marker; more, unless it is 0x00 or
// 0xFF fill, is picture data the decoder had no use for.
constexpr long kStrayBytes = 2;
constexpr int kRowsPerCall = 16;

// A file's bytes, read whole; not cleared first, as the read fills them.
class FileBytes {
public:
    explicit FileBytes(const std::string& path)
    {
        std::ifstream file(path, std::ios::binary | std::ios::ate);
        const std::streamoff length = file ? std::streamoff(file.tellg()) : std::streamoff(0);
        if (length <= 0)
            return;
        bytes.reset(new unsigned char[static_cast<std::size_t>(length)]);
        file.seekg(0);
        file.read(reinterpret_cast<char*>(bytes.get()), length);
        count = static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0));
    }
    const unsigned char* data() const { return bytes.get(); }
    std::size_t size() const { return count; }
    bool empty() const { return count == 0; }
    unsigned char operator[](std::size_t at) const { return bytes[at]; }

private:
    std::unique_ptr<unsigned char[]> bytes;
    std::size_t count = 0;
};

struct ErrorManager {
    jpeg_error_mgr library;
    std::jmp_buf jump;
    const FileBytes* file = nullptr;
    bool inPictureData = false;
    bool lostData = false;
    bool endMissing = false;
};

void leave(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

// libjpeg has just skipped count bytes in front of a marker; they end where its source
// stands, in the file's bytes unless the file has already run out.
bool skippedOnlyPadding(j_decompress_ptr info, const FileBytes& file, long count)
{
    const unsigned char* end = info->src->next_input_byte;
    if (count <= kStrayBytes)
        return true;
    if (end < file.data() || end > file.data() + file.size())
        return false;
    const unsigned char* begin = end - std::min<long>(count, end - file.data());
    return std::all_of(begin, end, [](unsigned char byte) { return byte == 0x00 || byte == 0xFF; });
}

// Warnings only (level -1); the trace messages above that say nothing about damage.
void hear(j_common_ptr common, int level)
{
    if (level >= 0)
        return;
    auto* errors = reinterpret_cast<ErrorManager*>(common->err);
    auto* info = reinterpret_cast<j_decompress_ptr>(common);
    switch (common->err->msg_code) {
    case JWRN_JPEG_EOF:
        errors->endMissing = true;
        // The arithmetic decoder takes the missing data for zeros without a word: a file
        // that ends before the last row of a scan is cut, and need not be decoded on.
        if (errors->inPictureData && info->arith_code && info->input_iMCU_row + 1 < info->total_iMCU_rows)
            leave(common);
        break;
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_NOT_SEQUENTIAL: errors->lostData = true; break;
    case JWRN_EXTRANEOUS_DATA:
        errors->lostData |= errors->inPictureData && !skippedOnlyPadding(info, *errors->file, common->err->msg_parm.i[0]);
        break;
    // A restart marker out of turn loses nothing by itself: what the decoder skips to
    // find its place is heard as extraneous bytes or a marker met too soon.
    default: break;  // an unknown JFIF revision or Adobe transform: nothing lost
    }
}

// One decompression of one file held in memory; the jump buffer is set by whoever
// calls libjpeg.
class Decompressor {
public:
    explicit Decompressor(const std::string& path) : file(path)
    {
        info.err = jpeg_std_error(&errors.library);
        errors.library.error_exit = leave;
        errors.library.emit_message = hear;
        errors.file = &file;
        jpeg_create_decompress(&info);
        if (!file.empty())
            jpeg_mem_src(&info, file.data(), file.size());
    }
    ~Decompressor() { jpeg_destroy_decompress(&info); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    const FileBytes file;
    jpeg_decompress_struct info{};
    ErrorManager errors{};
};

// From the first scan's data to the end marker, stepping over the stuffed bytes and
// restart markers of the coded data and the segments between scans. A file without an
// end marker counts to its last byte that is not 0x00 or 0xFF fill.
double codedDataBytes(const FileBytes& file, std::size_t start)
{
    std::size_t at = start;
    while (at + 1 < file.size()) {
        const void* marker = std::memchr(file.data() + at, 0xFF, file.size() - at);
        if (!marker)
            break;
        at = static_cast<std::size_t>(static_cast<const unsigned char*>(marker) - file.data());
        if (at + 1 >= file.size())
            break;
        const unsigned char code = file[at + 1];
        if (code == JPEG_EOI)
            return static_cast<double>(at - start);
        if (code == 0xFF)
            at += 1;
        else if (code == 0x00 || (code >= JPEG_RST0 && code <= JPEG_RST0 + 7))
            at += 2;
        else if (at + 3 < file.size())
            at += 2 + static_cast<std::size_t>(file[at + 2] << 8 | file[at + 3]);
        else
            break;
    }
    std::size_t end = file.size();
    while (end > start && (file[end - 1] == 0x00 || file[end - 1] == 0xFF))
        --end;
    return static_cast<double>(std::max(end, start) - start);
}

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

bool rowIsFlat(const JSAMPLE* row, int samples, int components)
{
    return std::equal(row + components, row + samples, row);
}

// Once the arithmetic decoder has met the end marker it decodes on from zeros in place
// of data, and says nothing. An honest encoder leaves out only the data of a flat rest,
// so rows decoded from zeros alone must be flat. Files of several scans are read whole
// before their first row comes out and are not watched.
class FillWatch {
public:
    explicit FillWatch(j_decompress_ptr info) : watching(info->arith_code && !jpeg_has_multiple_scans(info)) {}

    // False when one of the rows just read came from zeros alone and is not flat.
    bool rowsHold(const jpeg_decompress_struct& info, JSAMPARRAY rows, JDIMENSION first, JDIMENSION count)
    {
        if (!watching)
            return true;
        // The decoder has read up to, not into, the input row it stands at; one more row
        // of blocks may still be blended with data by the upsampling.
        if (fillFrom == 0 && info.unread_marker == JPEG_EOI)
            fillFrom = (info.input_iMCU_row + 1) * JDIMENSION(info.max_v_samp_factor * DCTSIZE);
        const int samples = static_cast<int>(info.output_width) * info.output_components;
        for (JDIMENSION i = 0; i < count; ++i) {
            if (fillFrom > 0 && first + i >= fillFrom && !rowIsFlat(rows[i], samples, info.output_components))
                return false;
        }
        return true;
    }

private:
    const bool watching;
    JDIMENSION fillFrom = 0;
};

// Decodes into picture, whole or, when it is smaller, its rows over and over. Every
// object that lives across libjpeg's jump back from an error belongs to the caller.
JpegDecode decodeInto(Decompressor& decompressor, cv::Mat& picture, bool whole)
{
    jpeg_decompress_struct& info = decompressor.info;
    ErrorManager& errors = decompressor.errors;
    if (setjmp(errors.jump)) {
        picture.release();
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
    picture.create(whole ? static_cast<int>(info.output_height) : kRowsPerCall, static_cast<int>(info.output_width),
                   CV_8UC(info.output_components));
    FillWatch fill(&info);
    JSAMPROW rows[kRowsPerCall];
    bool fillFlat = true;
    while (fillFlat && info.output_scanline < info.output_height) {
        const JDIMENSION first = info.output_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(kRowsPerCall, info.output_height - first);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = picture.ptr(static_cast<int>(whole ? first + i : (first + i) % kRowsPerCall));
        const JDIMENSION read = jpeg_read_scanlines(&info, rows, count);
        fillFlat = fill.rowsHold(info, rows, first, read);
    }
    const bool refined = everyCoefficientRefined(info);
    if (fillFlat)
        jpeg_finish_decompress(&info);
    const bool held = fillFlat && !errors.lostData && (!errors.endMissing || refined);
    const cv::Size blockGroup(info.max_h_samp_factor * DCTSIZE, info.max_v_samp_factor * DCTSIZE);
    if (held && (!whole || !showsResyncSeam(picture, blockGroup)))
        return JpegDecode::Read;
    picture.release();
    return errors.endMissing && !held ? JpegDecode::Cut : JpegDecode::Damaged;
}

}  // namespace

bool readJpegHeader(const std::string& path, JpegHeader& header)
{
    Decompressor decompressor(path);
    if (decompressor.file.empty())
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
    header.codedBytes =
        codedDataBytes(decompressor.file, static_cast<std::size_t>(info.src->next_input_byte - decompressor.file.data()));
    return true;
}

JpegDecode decodeJpeg(const std::string& path, cv::Mat& out)
{
    Decompressor decompressor(path);
    if (decompressor.file.empty())
        return JpegDecode::NotHandled;
    return decodeInto(decompressor, out, true);
}

JpegDecode checkJpegData(const std::string& path)
{
    Decompressor decompressor(path);
    if (decompressor.file.empty())
        return JpegDecode::NotHandled;
    cv::Mat rows;
    return decodeInto(decompressor, rows, false);
}
