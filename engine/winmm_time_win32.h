// The recording clock: winmm's timeGetTime. winmm.dll is no KnownDLL, so it
// is not imported (the loader would look beside the program first) but
// loaded from the system directory on the first call (win32/system_dll.h).
#pragma once

#include <cstdint>

// Milliseconds of timeGetTime; GetTickCount's when winmm.dll cannot be
// loaded. Safe to call from any thread.
std::uint32_t WinmmTimeMs();

// Sleeps about `ms` milliseconds with the system timer at 1 ms for that
// sleep alone: at its default 15.6 ms a rest between two slots of a 60
// frames/s recording would overshoot the next one.
void WinmmSleepMs(std::uint32_t ms);
