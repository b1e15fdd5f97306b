#pragma once
#include <opencv2/core.hpp>

#include <mutex>
#include <vector>

// The frame-sized images of one stacking run (frames as placed and freed of their
// ghosts, their grey, 8-bit and half-size copies, the ghost mask), reused from
// frame to frame: an image comes back once nothing shares its pixels any more. So
// a frame faults in no fresh pages, and the run's frame-sized blocks do not wander
// from arena to arena of the allocator. The run's threads take from it at once.
class FrameBufferPool {
public:
    // An image of `size` and `type` whose pixels no other image shares; its samples
    // are what an earlier use left.
    cv::Mat take(cv::Size size, int type);

    // While it lives, runBuffer on this thread takes from `pool` (none: allocates).
    class Scope {
    public:
        explicit Scope(FrameBufferPool* pool);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        FrameBufferPool* outer;
    };
    // The pool runBuffer takes from on this thread; null outside a run.
    static FrameBufferPool* current();

private:
    std::mutex lock;
    std::vector<cv::Mat> buffers;
};

// An image of `size` and `type` for the stacking run this thread works for, from
// its pool; a new image outside a run. Its samples are undefined.
cv::Mat runBuffer(cv::Size size, int type);
