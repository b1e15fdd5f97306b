#include "Threads.h"

#include "Log.h"

#include <atomic>
#include <cstring>

namespace {

std::atomic<ThreadCreateHook> threadCreateHook{&pthread_create};

}  // namespace

namespace threads_detail {

void logEscapedException(const char* where, const std::exception* error)
{
    logError(where, error ? std::string("uncaught exception: ") + error->what() : "uncaught unknown exception");
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
