#include "ImageIOSupport.h"

#include "ImageIO.h"

#include <algorithm>
#include <cctype>

namespace {

std::mutex traceMutex;
ImageIOTrace currentTrace;

}  // namespace

std::mutex& imageLibraryMutex()
{
    static std::mutex mutex;
    return mutex;
}

void setImageIOTrace(ImageIOTrace trace)
{
    std::lock_guard<std::mutex> lock(traceMutex);
    currentTrace = std::move(trace);
}

void traceImageIO(const std::string& event)
{
    ImageIOTrace trace;
    {
        std::lock_guard<std::mutex> lock(traceMutex);
        trace = currentTrace;
    }
    if (trace)
        trace(event);
}

std::string imageFileExtension(const std::string& path)
{
    const std::size_t dot = path.find_last_of('.');
    std::string extension = dot == std::string::npos ? path : path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}
