#include "ColourRatios.h"

#include <algorithm>
#include <cfloat>

ColourRatios::ColourRatios(const cv::Mat& luminance)
{
    // A black image has a zero mean; the smallest normal float keeps the ratios finite.
    const double floor = std::max(kFloorOfMean * cv::mean(luminance)[0], double(FLT_MIN));
    floorCubed_ = floor * floor * floor;
    floorToTheFourth_ = floorCubed_ * floor;
}
