#pragma once
// The backend a test program runs OpenCV's parallel loops on: a test that swaps
// it for its own puts this one back, so the tests after it run as they would
// alone.
#include <opencv2/core/parallel/parallel_backend.hpp>

#include <memory>

#ifdef VB_TSAN_OPENCV_THREADS
// Threads the sanitizer sees (ThreadSanitizerParallelBackend.cpp).
std::shared_ptr<cv::parallel::ParallelForAPI> programParallelBackend();
#else
// Null: OpenCV's own.
inline std::shared_ptr<cv::parallel::ParallelForAPI> programParallelBackend() {
  return {};
}
#endif
