#include "ColourRatios.h"

#include <algorithm>
#include <cfloat>

ColourRatios::ColourRatios(const cv::Mat& luminance)
{
    // A black image has a zero mean; the smallest normal float still makes black neutral.
    const double floor = std::max(kFloorOfMean * cv::mean(luminance)[0], double(FLT_MIN));
    floorToTheFourth_ = (floor * floor) * (floor * floor);
}
