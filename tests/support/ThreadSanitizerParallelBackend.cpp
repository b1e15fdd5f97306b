// Linked, in a ThreadSanitizer build, into the program that runs OpenCV's parallel
// loops on several threads. OpenCV's own scheduler (oneTBB) orders its threads with
// atomics the sanitizer cannot see, so every loop body would seem to race with its
// caller. These threads hand the work over with a mutex and condition variables the
// sanitizer sees, so what remains reported is a race in the loop bodies themselves.
#include "OpenCvParallelBackend.h"

#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

class SeenThreadsBackend : public cv::parallel::ParallelForAPI {
public:
    explicit SeenThreadsBackend(int threads) { start(threads); }
    ~SeenThreadsBackend() override { stop(); }

    void parallel_for(int tasks, FN_parallel_for_body_cb_t body, void* data) override
    {
        // A loop inside a loop body, or on a thread of its own while another runs,
        // runs on its caller's thread.
        std::unique_lock<std::mutex> oneLoop(loopMutex, std::try_to_lock);
        if (workerIndex > 0 || workers.empty() || !oneLoop.owns_lock()) {
            body(0, tasks, data);
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            job = Job{body, data, tasks};
            next = 0;
            busy = static_cast<int>(workers.size());
            ++generation;
        }
        wake.notify_all();
        runTasks();
        std::unique_lock<std::mutex> lock(mutex);
        finished.wait(lock, [this] { return busy == 0; });
    }
    int getThreadNum() const override { return std::max(workerIndex, 0); }
    int getNumThreads() const override { return static_cast<int>(workers.size()) + 1; }
    int setNumThreads(int threads) override
    {
        stop();
        start(threads);
        return getNumThreads();
    }
    const char* getName() const override { return "sanitizer-visible threads"; }

private:
    struct Job {
        FN_parallel_for_body_cb_t body = nullptr;
        void* data = nullptr;
        int tasks = 0;
    };

    void start(int threads)
    {
        stopping = false;
        for (int index = 1; index < std::max(threads, 1); ++index)
            workers.emplace_back([this, index] { work(index); });
    }
    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        for (std::thread& worker : workers)
            worker.join();
        workers.clear();
    }
    void runTasks()
    {
        for (int task = next++; task < job.tasks; task = next++)
            job.body(task, task + 1, job.data);
    }
    void work(int index)
    {
        workerIndex = index;
        unsigned seen = 0;
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait(lock, [&] { return stopping || generation != seen; });
            if (stopping)
                return;
            seen = generation;
            lock.unlock();
            runTasks();
            lock.lock();
            if (--busy == 0)
                finished.notify_all();
        }
    }

    static thread_local int workerIndex;
    std::vector<std::thread> workers;
    std::mutex loopMutex;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable finished;
    Job job;
    std::atomic<int> next{0};
    int busy = 0;
    unsigned generation = 0;
    bool stopping = false;
};

thread_local int SeenThreadsBackend::workerIndex = 0;

constexpr int kThreads = 4;

}  // namespace

std::shared_ptr<cv::parallel::ParallelForAPI> programParallelBackend()
{
    static const auto backend = std::make_shared<SeenThreadsBackend>(kThreads);
    return backend;
}

namespace {

const bool openCvLoopsOnSeenThreads = [] {
    cv::parallel::setParallelForBackend(programParallelBackend(), true);
    cv::setNumThreads(kThreads);
    return true;
}();

}  // namespace
