#pragma once
#include <opencv2/core.hpp>

// Paints over-exposed pixels (channel mean at or above overPercent of 255) light
// red and under-exposed ones (mean at or below underPercent) dark red, on an 8-bit
// picture; a grey picture becomes colour first. Limits are integer percentages.
void markExposure(cv::Mat& picture, int overPercent, int underPercent, bool markOver, bool markUnder);
