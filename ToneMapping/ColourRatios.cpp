#include "ColourRatios.h"

#include "DisplayScale.h"

ColourRatios::ColourRatios(double displayScale)
{
    const double floor = kFloorSteps * display_scale::kSampleStep / displayScale;
    floorCubed_ = floor * floor * floor;
    floorToTheFourth_ = floorCubed_ * floor;
}
