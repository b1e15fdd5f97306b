#include "SourceKindMark.h"

#include "ImageIO.h"
#include "ImageIOSupport.h"
#include "Log.h"
#include "PartFile.h"
#include "TiffErrorWatch.h"

#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <ImfStdIO.h>
#include <ImfStringAttribute.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

const char* const kDisplayReferred = "display-referred";
const char* const kSceneReferred = "scene-referred";
const std::string kHdrKey = "VELLUMBRA_KIND=";
const char* const kExrAttribute = "VellumbraKind";
// A private tag, ASCII, as libtiff registers an unknown one it reads.
constexpr ttag_t kTiffTag = 65000;
const TIFFFieldInfo kTiffField = {kTiffTag,     TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_ASCII,
                                  FIELD_CUSTOM, 1,              1,              const_cast<char*>("VellumbraKind")};
// A Radiance header is a few lines; the mark is looked for in its first kilobytes.
constexpr std::streamsize kHdrHeaderBytes = 65536;

SourceKind kindNamed(const std::string& name)
{
    if (name == kDisplayReferred)
        return SourceKind::DisplayReferred;
    return name == kSceneReferred ? SourceKind::SceneReferred : SourceKind::Unknown;
}

bool readBytes(const std::string& path, Bytes& bytes, std::streamsize limit = -1)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    if (limit < 0) {
        bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    } else {
        bytes.resize(size_t(limit));
        file.read(reinterpret_cast<char*>(bytes.data()), limit);
        bytes.resize(size_t(file.gcount()));
    }
    return true;
}

bool replaceWith(const std::string& path, const Bytes& bytes)
{
    PartFile part(path);
    return part.write(bytes) && part.commit();
}

// The header's lines after the first (the format's signature), up to the empty one
// that ends it.
std::vector<std::string> hdrHeaderLines(const Bytes& bytes, size_t& end)
{
    std::vector<std::string> lines;
    auto at = std::find(bytes.begin(), bytes.end(), '\n');
    while (at != bytes.end()) {
        const auto next = std::find(at + 1, bytes.end(), '\n');
        if (next == bytes.end() || next == at + 1)
            break;
        lines.emplace_back(at + 1, next);
        at = next;
    }
    end = size_t(at - bytes.begin());
    return lines;
}

bool markHdr(const std::string& path, const std::string& name)
{
    Bytes bytes;
    if (!readBytes(path, bytes) || bytes.size() < 2 || bytes[0] != '#' || bytes[1] != '?')
        return false;
    const size_t signatureEnd = size_t(std::find(bytes.begin(), bytes.end(), '\n') - bytes.begin());
    size_t headerEnd = 0;
    Bytes marked(bytes.begin(), bytes.begin() + std::min(bytes.size(), signatureEnd + 1));
    const std::string line = kHdrKey + name + "\n";
    marked.insert(marked.end(), line.begin(), line.end());
    // An earlier mark gives way to the new one.
    for (const std::string& old : hdrHeaderLines(bytes, headerEnd)) {
        if (old.compare(0, kHdrKey.size(), kHdrKey) == 0)
            continue;
        marked.insert(marked.end(), old.begin(), old.end());
        marked.push_back('\n');
    }
    marked.insert(marked.end(), bytes.begin() + std::min(bytes.size(), headerEnd + 1), bytes.end());
    return replaceWith(path, marked);
}

SourceKind hdrMark(const std::string& path)
{
    Bytes bytes;
    size_t headerEnd = 0;
    if (!readBytes(path, bytes, kHdrHeaderBytes) || bytes.size() < 2 || bytes[0] != '#' || bytes[1] != '?')
        return SourceKind::Unknown;
    for (const std::string& line : hdrHeaderLines(bytes, headerEnd))
        if (line.compare(0, kHdrKey.size(), kHdrKey) == 0)
            return kindNamed(line.substr(kHdrKey.size()));
    return SourceKind::Unknown;
}

// The pixels are copied as they are stored, without decoding them; no worker threads.
bool markExr(const std::string& path, const std::string& name)
{
    try {
        Imf::InputFile in(path.c_str(), 0);
        Imf::Header header = in.header();
        header.insert(kExrAttribute, Imf::StringAttribute(name));
        Imf::StdOSStream stream;
        {
            Imf::OutputFile out(stream, header, 0);
            out.copyPixels(in);
        }
        const std::string written = stream.str();
        return replaceWith(path, Bytes(written.begin(), written.end()));
    } catch (const std::exception& error) {
        logError("markSourceKind", "\"" + path + "\": " + error.what());
        return false;
    }
}

SourceKind exrMark(const std::string& path)
{
    try {
        const Imf::InputFile in(path.c_str(), 0);
        const auto* mark = in.header().findTypedAttribute<Imf::StringAttribute>(kExrAttribute);
        return mark ? kindNamed(mark->value()) : SourceKind::Unknown;
    } catch (const std::exception&) {
        return SourceKind::Unknown;
    }
}

// libtiff's handlers are shared with the image libraries, whose own ones must not run.
class TiffAccess {
public:
    TiffAccess() : lock_(imageLibraryMutex()) {}

private:
    std::lock_guard<std::mutex> lock_;
    TiffErrorWatch watch_;
};

bool markTiff(const std::string& path, const std::string& name)
{
    Bytes bytes;
    if (!readBytes(path, bytes))
        return false;
    PartFile part(path);
    if (!part.write(bytes))
        return false;
    bool marked = false;
    {
        const TiffAccess access;
        if (TIFF* tiff = TIFFOpen(part.path().c_str(), "r+")) {
            marked = TIFFMergeFieldInfo(tiff, &kTiffField, 1) == 0 &&
                     TIFFSetField(tiff, kTiffTag, uint32_t(name.size() + 1), name.c_str()) == 1 &&
                     TIFFRewriteDirectory(tiff) == 1;
            TIFFClose(tiff);
        }
    }
    if (!marked) {
        logError("markSourceKind", "\"" + path + "\": libtiff could not add the tag");
        return false;
    }
    return part.commit();
}

SourceKind tiffMark(const std::string& path)
{
    const TiffAccess access;
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff)
        return SourceKind::Unknown;
    uint32_t count = 0;
    const char* value = nullptr;
    SourceKind kind = SourceKind::Unknown;
    if (TIFFFindField(tiff, kTiffTag, TIFF_ASCII) && TIFFGetField(tiff, kTiffTag, &count, &value) == 1 && value &&
        count > 0)
        kind = kindNamed(std::string(value, strnlen(value, count)));
    TIFFClose(tiff);
    return kind;
}

bool isTiff(const std::string& extension)
{
    return extension == "tif" || extension == "tiff";
}

}  // namespace

bool markSourceKind(const std::string& path, SourceKind kind)
{
    if (kind == SourceKind::Unknown)
        return true;
    const std::string name = kind == SourceKind::DisplayReferred ? kDisplayReferred : kSceneReferred;
    const std::string extension = imageFileExtension(path);
    bool marked = true;
    if (extension == "hdr")
        marked = markHdr(path, name);
    else if (extension == "exr")
        marked = markExr(path, name);
    else if (isTiff(extension))
        marked = markTiff(path, name);
    if (!marked)
        logError("markSourceKind", "\"" + path + "\" was saved without its kind (" + name + ")");
    return marked;
}

SourceKind markedSourceKind(const std::string& path)
{
    const std::string extension = imageFileExtension(path);
    if (extension == "hdr")
        return hdrMark(path);
    if (extension == "exr")
        return exrMark(path);
    return isTiff(extension) ? tiffMark(path) : SourceKind::Unknown;
}
