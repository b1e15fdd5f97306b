#include "AccumulateThread.h"

#include "LinearAccumulator.h"
#include "Threads.h"

bool launchAccumulateThread(WorkerThreads& threads, int bits, const cv::Mat& frame, StackingContext* context)
{
    return threads.start([bits, frame, context] { addToLinearAccumulator(bits, frame, context); });
}
