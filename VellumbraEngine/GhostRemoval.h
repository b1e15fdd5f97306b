#pragma once

// Ghost removal is StackingContext::removeGhosts (StackingContext.h); its working
// copies and probe are in GhostingPower.h. Mask values of the ghost mask:
namespace ghostmask {
constexpr unsigned char kClean = 0;
constexpr unsigned char kGhost = 255;
// A border ghost pixel already filled with an offset found further up its column or row.
constexpr unsigned char kFilled = 120;
}  // namespace ghostmask
