#pragma once
#include <pthread.h>

#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Every worker thread of the engine and the tone-mapping library starts here. A
// thread runs a heap-allocated closure that it frees itself; an exception escaping
// the work is logged inside the thread and goes no further.

// Runs work() and keeps any exception it throws (out of memory, a library's own)
// from going further: it is logged under `where` as "<failure>: <reason>". True
// when work() returned. Every worker thread's run and every asynchronous closure
// goes through it, so no exception ends the program from a thread.
template <typename Work>
bool runGuarded(const char* where, const std::string& failure, Work&& work);

// Thread creation goes through this hook so tests can force a failure.
using ThreadCreateHook = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
// nullptr restores pthread_create.
void setThreadCreateHook(ThreadCreateHook hook);

namespace threads_detail {

void logGuardedFailure(const char* where, const std::string& failure, const std::exception* error);

// Start routine shared by every closure kind: runs it, frees it, never lets an
// exception end the process.
template <typename Closure>
void* runClosure(void* raw)
{
    std::unique_ptr<Closure> closure(static_cast<Closure*>(raw));
    runGuarded(Closure::name, "uncaught exception", [&closure] { closure->run(); });
    return nullptr;
}

bool startJoinable(void* (*entry)(void*), void* closure, pthread_t* handle);

template <typename Task>
struct TaskClosure {
    static constexpr const char* name = "workerThread";
    Task task;
    void run() { task(); }
};

// Starts a joinable thread running closure->run(); frees the closure on failure too.
template <typename Closure>
bool launchClosure(std::unique_ptr<Closure> closure, pthread_t* handle)
{
    if (!startJoinable(&runClosure<Closure>, closure.get(), handle))
        return false;
    closure.release();  // the thread owns it now
    return true;
}

}  // namespace threads_detail

// The threads one piece of work starts. Whatever they read must outlive them, so
// the destructor joins any still running: a caller that leaves by an exception
// (from a launch, or from work it runs itself) never leaves a thread behind.
class WorkerThreads {
public:
    WorkerThreads() = default;
    ~WorkerThreads() { join(); }
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;

    // Runs task() on a thread of its own, which owns the task (and what it captured
    // by value). False when no thread could be created: task has not run.
    template <typename Task>
    bool start(Task task)
    {
        // Room first: once the thread runs, recording its handle must not fail.
        if (handles_.size() == handles_.capacity())
            handles_.reserve(handles_.empty() ? 8 : 2 * handles_.size());
        pthread_t handle;
        if (!threads_detail::launchClosure(std::make_unique<threads_detail::TaskClosure<Task>>(
                               threads_detail::TaskClosure<Task>{std::move(task)}),
                           &handle))
            return false;
        handles_.push_back(handle);
        return true;
    }

    // Waits for every thread started so far.
    void join();

private:
    std::vector<pthread_t> handles_;
};

// body(index) for every index in [0, count), each on a thread of its own; an index
// whose thread cannot start runs on the caller at once. Returns when all are done.
template <typename Body>
void runOnWorkerThreads(int count, const Body& body)
{
    WorkerThreads threads;
    for (int index = 0; index < count; ++index)
        if (!threads.start([&body, index] { body(index); }))
            body(index);
}

template <typename Work>
bool runGuarded(const char* where, const std::string& failure, Work&& work)
{
    try {
        work();
        return true;
    } catch (const std::exception& error) {
        threads_detail::logGuardedFailure(where, failure, &error);
    } catch (...) {
        threads_detail::logGuardedFailure(where, failure, nullptr);
    }
    return false;
}
