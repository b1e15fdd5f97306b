#include "Log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

namespace {

constexpr std::size_t kLogPathCapacity = 300;
constexpr const char* kLogFileName = "VellumbraLog.txt";

std::mutex& logMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Holds the bare file name until start-up sets a directory.
char logPath[kLogPathCapacity] = "VellumbraLog.txt";

std::string timeStamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%02d/%02d/%04d %02d:%02d:%02d", local.tm_mon + 1, local.tm_mday,
                  local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
    return stamp;
}

}  // namespace

bool setLogDirectory(const std::string& directory)
{
    const std::string joined = directory + kLogFileName;
    if (joined.size() >= kLogPathCapacity)
        return false;
    std::lock_guard<std::mutex> lock(logMutex());
    std::memcpy(logPath, joined.c_str(), joined.size() + 1);
    return true;
}

void appendToLog(const std::string& text)
{
    try {
        std::lock_guard<std::mutex> lock(logMutex());
        std::FILE* file = std::fopen(logPath, "a");
        if (!file)
            return;
        const std::string entry = timeStamp() + text;
        std::fwrite(entry.data(), 1, entry.size(), file);
        std::fclose(file);
    } catch (...) {
        // Logging must never throw into its caller.
    }
}

void logError(const std::string& where, const std::string& message)
{
    appendToLog("\nERROR at function " + where + " => " + message + "\n\n");
}

void logDebug(const std::string& message, const std::string& sourceFile, int line)
{
    appendToLog("\nDEBUG (file " + sourceFile + " at line " + std::to_string(line) + ") => " + message + "\n\n");
}

void logDevILVersionMismatch()
{
    appendToLog(std::string("\nMESSAGE => ") + "DevIL version is different..." + "\n\n");
}

std::string logFilePath()
{
    std::lock_guard<std::mutex> lock(logMutex());
    return logPath;
}

bool resetLogFile()
{
    std::lock_guard<std::mutex> lock(logMutex());
    return std::remove(logPath) == 0 || errno == ENOENT;
}
