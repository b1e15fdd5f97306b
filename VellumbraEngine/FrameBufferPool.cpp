#include "FrameBufferPool.h"

#include <map>
#include <mutex>
#include <tuple>
#include <vector>

namespace {

thread_local FrameBufferPool* threadPool = nullptr;

}  // namespace

// Makes images as OpenCV's own allocator does, but keeps a freed image's block for
// the next image of the same size and type. The hand-over runs under a lock, so
// whatever the last user did with the pixels is ordered before the next user's
// first touch, wherever OpenCV drops the last reference.
class FrameBufferPool::RecyclingAllocator : public cv::MatAllocator {
public:
    cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, size_t* step, cv::AccessFlag,
                           cv::UMatUsageFlags) const override
    {
        size_t total = CV_ELEM_SIZE(type);
        for (int i = dims - 1; i >= 0; --i) {
            if (step) {
                if (data && step[i] != cv::Mat::AUTO_STEP)
                    total = step[i];
                else
                    step[i] = total;
            }
            total *= size_t(sizes[i]);
        }
        auto* made = new cv::UMatData(this);
        made->size = total;
        if (data) {
            made->data = made->origdata = static_cast<uchar*>(data);
            made->flags |= cv::UMatData::USER_ALLOCATED;
            return made;
        }
        const Key key{type, dims > 0 ? sizes[0] : 0, total};
        uchar* block = nullptr;
        {
            const std::lock_guard<std::mutex> guard(lock);
            ++live;
            auto& kept = idle[key];
            if (!kept.empty()) {
                block = kept.back();
                kept.pop_back();
            }
        }
        if (!block) {
            try {
                block = static_cast<uchar*>(cv::fastMalloc(total));
            } catch (...) {
                const std::lock_guard<std::mutex> guard(lock);
                --live;
                delete made;
                throw;
            }
        }
        made->data = made->origdata = block;
        made->userdata = new Key(key);
        return made;
    }

    bool allocate(cv::UMatData* data, cv::AccessFlag, cv::UMatUsageFlags) const override
    {
        return data != nullptr;
    }

    void deallocate(cv::UMatData* data) const override
    {
        if (!data)
            return;
        if (data->flags & cv::UMatData::USER_ALLOCATED) {
            delete data;
            return;
        }
        const Key* key = static_cast<Key*>(data->userdata);
        bool last = false;
        {
            const std::lock_guard<std::mutex> guard(lock);
            if (closed)
                cv::fastFree(data->origdata);
            else
                idle[*key].push_back(data->origdata);
            last = --live == 0 && closed;
        }
        delete key;
        delete data;
        if (last)
            delete this;
    }

    // The pool ends: the kept blocks are freed, and the allocator goes with the last
    // image it made.
    void close()
    {
        bool last = false;
        {
            const std::lock_guard<std::mutex> guard(lock);
            closed = true;
            for (auto& kept : idle)
                for (uchar* block : kept.second)
                    cv::fastFree(block);
            idle.clear();
            last = live == 0;
        }
        if (last)
            delete this;
    }

private:
    using Key = std::tuple<int, int, size_t>;  // type, first dimension, bytes
    mutable std::mutex lock;
    mutable std::map<Key, std::vector<uchar*>> idle;
    mutable int live = 0;
    mutable bool closed = false;
};

FrameBufferPool::FrameBufferPool() : allocator(new RecyclingAllocator) {}

FrameBufferPool::~FrameBufferPool()
{
    allocator->close();
}

cv::Mat FrameBufferPool::take(cv::Size size, int type)
{
    if (size.empty())
        return cv::Mat(size, type);
    cv::Mat image;
    image.allocator = allocator;
    image.create(size, type);
    return image;
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
