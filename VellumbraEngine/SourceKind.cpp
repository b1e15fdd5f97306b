#include "SourceKind.h"

#include "ImageIO.h"
#include "SourceKindMark.h"

#include <opencv2/core.hpp>

SourceKind sourceKindOf(int depth, bool fromHdrFile)
{
    if (depth == CV_8U || depth == CV_16U)
        return SourceKind::DisplayReferred;
    return depth == CV_32F && fromHdrFile ? SourceKind::SceneReferred : SourceKind::Unknown;
}

SourceKind stackedSourceKind(int frameDepth)
{
    return sourceKindOf(frameDepth, true);
}

SourceKind sourceKindOfFile(const std::string& path, int depth)
{
    if (depth == CV_32F) {
        const SourceKind marked = markedSourceKind(path);
        if (marked != SourceKind::Unknown)
            return marked;
    }
    const std::string extension = imageFileExtension(path);
    return sourceKindOf(depth, extension == "exr" || extension == "hdr" || extension == "pfm");
}
