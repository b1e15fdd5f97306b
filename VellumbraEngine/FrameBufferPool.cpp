#include "FrameBufferPool.h"

namespace {

thread_local FrameBufferPool* threadPool = nullptr;

// Only the pool refers to the buffer: whoever shared it has let it go, and no
// one can share it again but through the pool.
bool heldByPoolAlone(const cv::Mat& buffer)
{
    return __atomic_load_n(&buffer.u->refcount, __ATOMIC_ACQUIRE) == 1;
}

}  // namespace

cv::Mat FrameBufferPool::take(cv::Size size, int type)
{
    if (size.empty())
        return cv::Mat(size, type);
    const std::lock_guard<std::mutex> guard(lock);
    for (const cv::Mat& buffer : buffers)
        if (buffer.size() == size && buffer.type() == type && heldByPoolAlone(buffer))
            return buffer;
    buffers.emplace_back(size, type);
    return buffers.back();
}

FrameBufferPool::Scope::Scope(FrameBufferPool* pool) : outer(threadPool)
{
    threadPool = pool;
}

FrameBufferPool::Scope::~Scope()
{
    threadPool = outer;
}

FrameBufferPool* FrameBufferPool::current()
{
    return threadPool;
}

cv::Mat runBuffer(cv::Size size, int type)
{
    return threadPool ? threadPool->take(size, type) : cv::Mat(size, type);
}
