#include "WorkerCount.h"

#include <algorithm>
#include <atomic>

namespace {
std::atomic<int> workerCount{2};
}

int toneMappingWorkerCount()
{
    return workerCount.load(std::memory_order_relaxed);
}

void setToneMappingWorkerCount(int count)
{
    workerCount.store(std::max(1, count), std::memory_order_relaxed);
}
