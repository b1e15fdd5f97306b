#include "TiffErrorWatch.h"

#include <tiffio.h>

#include <atomic>
#include <cstdarg>
#include <cstring>

namespace {

std::atomic<int> reportedErrors{0};

void countError(thandle_t, const char* module, const char*, va_list)
{
    // Reported when a library asks for a tag libtiff does not know (EXIF tags during
    // an orientation lookup): nothing is wrong with the file.
    if (module && std::strcmp(module, "TIFFFieldWithTag") == 0)
        return;
    ++reportedErrors;
}

}  // namespace

TiffErrorWatch::TiffErrorWatch()
{
    detachLibraryHandlers();
    // Set every time: a library that installs its own extended handler would drop ours.
    TIFFSetErrorHandlerExt(countError);
    reportedErrors = 0;
}

int TiffErrorWatch::errors() const
{
    return reportedErrors;
}

void TiffErrorWatch::detachLibraryHandlers()
{
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
}
