#pragma once
#include <opencv2/core.hpp>
#include <pthread.h>

#include <exception>
#include <memory>

// Launchers for the joinable POSIX threads of the data-parallel loops. Each packs
// its work into a heap closure that the thread's start routine runs and frees.
// The caller keeps the handle and joins it; when a launcher returns false the
// caller runs that slice itself.

using WorkerFunction = void (*)(void* argument1, void* argument2);
using MatThreadFunction = void (*)(cv::Mat& image, void* argument);
using MatPairThreadFunction = void (*)(cv::Mat& imageA, cv::Mat& imageB, void* argument, float value);

bool launchWorkerThread(WorkerFunction function, void* argument1, void* argument2, pthread_t* handle);
// The FFT blur passes its thread body in, since it lives in the tone-mapping library.
bool launchFftBlurThread(MatThreadFunction blurBody, const cv::Mat& image, void* argument, pthread_t* handle);
bool launchMatPairThread(MatPairThreadFunction function, const cv::Mat& imageA, const cv::Mat& imageB,
                         void* argument, float value, pthread_t* handle);

// Thread creation goes through this hook so tests can force a failure.
using ThreadCreateHook = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
// nullptr restores pthread_create.
void setThreadCreateHook(ThreadCreateHook hook);

namespace threads_detail {

void logEscapedException(const char* where, const std::exception* error);

// Start routine shared by every closure kind: runs it, frees it, never lets an
// exception end the process.
template <typename Closure>
void* runClosure(void* raw)
{
    std::unique_ptr<Closure> closure(static_cast<Closure*>(raw));
    try {
        closure->run();
    } catch (const std::exception& error) {
        logEscapedException(Closure::name, &error);
    } catch (...) {
        logEscapedException(Closure::name, nullptr);
    }
    return nullptr;
}

bool startJoinable(void* (*entry)(void*), void* closure, pthread_t* handle);

}  // namespace threads_detail

// Starts a joinable thread running closure->run(); frees the closure on failure too.
template <typename Closure>
bool launchClosure(std::unique_ptr<Closure> closure, pthread_t* handle)
{
    if (!threads_detail::startJoinable(&threads_detail::runClosure<Closure>, closure.get(), handle))
        return false;
    closure.release();  // the thread owns it now
    return true;
}
