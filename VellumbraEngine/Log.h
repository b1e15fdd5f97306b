#pragma once
#include <string>

// One log file per process. Every entry is a month-first time stamp followed by
// the entry text; the file is opened, appended and closed for each entry.

// The log path becomes directory + "VellumbraLog.txt" (nothing inserted between).
// Returns false, keeping the previous path, when the joined path exceeds 299 characters.
bool setLogDirectory(const std::string& directory);

void logError(const std::string& where, const std::string& message);
void logDebug(const std::string& message, const std::string& sourceFile, int line);
void logDevILVersionMismatch();

// Writes the time stamp followed by the text as one entry.
void appendToLog(const std::string& text);

// The current log file path.
std::string logFilePath();

// Empties the log file (the log viewer's reset) without racing a writer.
// Returns false when the file exists and could not be removed.
bool resetLogFile();
