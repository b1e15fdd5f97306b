#pragma once

// Worker threads of the tone-mapping engine's data-parallel loops. Starts at 2;
// the main window sets it once at start-up to the ideal thread count less one.
int toneMappingWorkerCount();
// Values below 1 are raised to 1.
void setToneMappingWorkerCount(int count);
