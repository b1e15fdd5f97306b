#pragma once
#include <mutex>
#include <string>

// State shared by the reader and the writer.

// DevIL's bound image and the raw decoder's hand-over image are process-wide: every
// read, and the DevIL step of every write, holds this lock.
std::mutex& imageLibraryMutex();

// Reports one event to the trace set by setImageIOTrace, if any.
void traceImageIO(const std::string& event);
