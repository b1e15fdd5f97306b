#pragma once
#include <atomic>

// Threads of the data-parallel loops of the tone-mapping engine. Starts at 2;
// the main window sets it once at start-up to the ideal thread count less one.
extern std::atomic<int> threadCount;
