#include "AccumulateThread.h"

#include "LinearAccumulator.h"
#include "Threads.h"

namespace {

using AccumulateFunction = void (*)(int bits, const cv::Mat& frame, StackingContext* context);

struct AccumulateClosure {
    static constexpr const char* name = "threadEntryAccumulate";
    AccumulateFunction function;
    int bits;
    cv::Mat frame;
    StackingContext* context;
    void run() { function(bits, frame, context); }
};

}  // namespace

bool launchAccumulateThread(int bits, const cv::Mat& frame, StackingContext* context, pthread_t* handle)
{
    return launchClosure(
        std::make_unique<AccumulateClosure>(AccumulateClosure{&addToLinearAccumulator, bits, frame, context}),
        handle);
}
