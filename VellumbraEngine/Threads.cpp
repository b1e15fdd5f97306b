#include "Threads.h"

#include "Log.h"

#include <atomic>
#include <cstring>

namespace {

std::atomic<ThreadCreateHook> threadCreateHook{&pthread_create};

}  // namespace

namespace threads_detail {

void logGuardedFailure(const char* where, const std::string& failure, const std::exception* error)
{
    // Logging must not throw in its turn: the failure may be memory running out.
    try {
        logError(where, failure + ": " + (error ? error->what() : "unknown exception"));
    } catch (...) {
    }
}

bool startJoinable(void* (*entry)(void*), void* closure, pthread_t* handle)
{
    std::memset(handle, 0, sizeof *handle);
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return false;
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_JOINABLE);
    const int created = threadCreateHook.load()(handle, &attributes, entry, closure);
    pthread_attr_destroy(&attributes);
    return created == 0;
}

}  // namespace threads_detail

void setThreadCreateHook(ThreadCreateHook hook)
{
    threadCreateHook = hook ? hook : &pthread_create;
}

void WorkerThreads::join()
{
    for (pthread_t handle : handles_)
        if (pthread_join(handle, nullptr) != 0)
            logError("WorkerThreads::join", "ERROR during pthread_join()");
    handles_.clear();
}
