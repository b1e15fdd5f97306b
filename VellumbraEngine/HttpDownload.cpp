#include "Utilities.h"

#include <curl/curl.h>

#include <mutex>

namespace {

size_t appendChunk(char* data, size_t size, size_t count, void* target)
{
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

}  // namespace

std::string downloadText(const std::string& url, long connectTimeoutSeconds, long totalTimeoutSeconds)
{
    static std::once_flag globalInit;
    std::call_once(globalInit, [] { curl_global_init(CURL_GLOBAL_ALL); });

    std::string body;
    CURL* handle = curl_easy_init();
    if (!handle)
        return body;
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 1L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, connectTimeoutSeconds);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, totalTimeoutSeconds);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &appendChunk);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);
    curl_easy_perform(handle);
    curl_easy_cleanup(handle);
    return body;
}
