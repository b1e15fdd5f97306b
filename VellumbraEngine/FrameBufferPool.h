#pragma once
#include <opencv2/core.hpp>

// The frame-sized images of one stacking run (frames as placed and freed of their
// ghosts, their grey, 8-bit and half-size copies, the ghost mask), reused from
// frame to frame: when the last image sharing a block lets it go, the block comes
// back to the pool instead of the allocator. So a frame faults in no fresh pages,
// and the run's frame-sized blocks do not wander from arena to arena of the
// allocator. The run's threads take from it at once.
class FrameBufferPool {
public:
    FrameBufferPool();
    // Frees the blocks kept; images still alive keep theirs until they go.
    ~FrameBufferPool();
    FrameBufferPool(const FrameBufferPool&) = delete;
    FrameBufferPool& operator=(const FrameBufferPool&) = delete;

    // An image of `size` and `type` whose pixels no other image shares; its samples
    // are undefined (what an earlier use left).
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
    class RecyclingAllocator;
    RecyclingAllocator* allocator;  // outlives the pool while an image it made lives
};

// An image of `size` and `type` for the stacking run this thread works for, from
// its pool; a new image outside a run. Its samples are undefined.
cv::Mat runBuffer(cv::Size size, int type);
