#include "WorkerCount.h"

std::atomic<int> threadCount{2};
