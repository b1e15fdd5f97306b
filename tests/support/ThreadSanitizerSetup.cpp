// Linked into every program of a ThreadSanitizer build, so that listing the tests at
// build time and programs that tests start behave as the tests themselves do.
#include <QMutex>
#include <opencv2/core/utility.hpp>
#include <sanitizer/tsan_interface.h>

#include <dlfcn.h>

// Reports from libraries built without the sanitizer are suppressed by the list kept
// in the repository.
extern "C" const char* __tsan_default_options()
{
    return "suppressions=" VB_TSAN_SUPPRESSIONS;
}

namespace {

// OpenCV hands its parallel loops to oneTBB, whose scheduler synchronises through
// atomics the sanitizer cannot see: every loop body would be reported as racing with
// its caller. Run serially, each body runs on its caller's thread and our own threads
// stay fully checked.
const bool openCvLoopsSerial = [] {
    cv::setNumThreads(1);
    return true;
}();

template <typename Function>
Function qtCore(const char* symbol)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, symbol));
}

}  // namespace

// QMutex waits on futexes inside Qt, out of the sanitizer's sight, so every lock of
// ours would look like no lock at all. These stand in for Qt's own entry points in
// our code (Qt's calls to itself are bound inside the library) and tell the
// sanitizer what they do.
void QMutex::lock()
{
    static const auto lockInQt = qtCore<void (*)(QMutex*)>("_ZN6QMutex4lockEv");
    __tsan_mutex_pre_lock(this, 0);
    lockInQt(this);
    __tsan_mutex_post_lock(this, 0, 0);
}

bool QMutex::tryLock(int timeout)
{
    static const auto tryLockInQt = qtCore<bool (*)(QMutex*, int)>("_ZN6QMutex7tryLockEi");
    __tsan_mutex_pre_lock(this, __tsan_mutex_try_lock);
    const bool locked = tryLockInQt(this, timeout);
    __tsan_mutex_post_lock(this, __tsan_mutex_try_lock | (locked ? 0 : __tsan_mutex_try_lock_failed), 0);
    return locked;
}

void QMutex::unlock() noexcept
{
    static const auto unlockInQt = qtCore<void (*)(QMutex*)>("_ZN6QMutex6unlockEv");
    __tsan_mutex_pre_unlock(this, 0);
    unlockInQt(this);
    __tsan_mutex_post_unlock(this, 0);
}
