#pragma once
#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Inputs shared by the tone-mapping operator tests.
namespace hdrtest {

// A smooth BGR float scene with values well above 1 and a few hard edges.
cv::Mat syntheticHdr(cv::Size size, int seed);

// Awkward inputs every operator must survive, by name.
extern const std::vector<const char*> kEdgeInputs;
cv::Mat namedInput(const std::string& name);
// A test-name-safe form of an input's name.
std::string inputName(const ::testing::TestParamInfo<const char*>& info);

// The HDRI .exr files of the test media as BGR float, shrunk so the longer side
// is at most maxSide; empty when the media is absent.
std::vector<std::pair<std::string, cv::Mat>> realHdrImages(int maxSide);

// One real HDRI of the test media (courtyard.exr unless named) resized to `size`,
// negatives cleared; empty when absent.
cv::Mat realHdrImage(cv::Size size, const char* name = "courtyard.exr");

// Deterministic HDR scene: smooth blobs over six decades plus fine texture.
cv::Mat syntheticHdrImage(int rows, int columns, int channels = 3, uint64_t seed = 7);

// Non-empty, every value finite and in [0, 1].
bool finiteInUnitRange(const cv::Mat& image);

}  // namespace hdrtest
