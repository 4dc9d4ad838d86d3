#pragma once
// The process-wide elevation flag given to the service at start-up: 1 asks the
// binary runner to try starting the engine with elevation first.

void SetElevationFlag(unsigned char flag);
unsigned char GetElevationFlag();
