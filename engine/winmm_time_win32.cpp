#include "engine/winmm_time_win32.h"

#include <windows.h>

#include "win32/system_dll.h"

namespace {

using TimeGetTimeFn = DWORD(WINAPI*)();

DWORD WINAPI TickCountMs() {
    return GetTickCount();
}

// Resolved once and kept: the module stays loaded for the life of the process.
FARPROC WinmmProc(const char* name) {
    HMODULE winmm = win32::LoadSystemDll(L"winmm.dll");
    return winmm != nullptr ? GetProcAddress(winmm, name) : nullptr;
}

TimeGetTimeFn ResolveTimeGetTime() {
    if (FARPROC proc = WinmmProc("timeGetTime")) {
        return reinterpret_cast<TimeGetTimeFn>(reinterpret_cast<void*>(proc));
    }
    return &TickCountMs;
}

// timeBeginPeriod and timeEndPeriod; null when winmm.dll cannot be had.
using TimePeriodFn = UINT(WINAPI*)(UINT);
struct TimerPeriod {
    TimePeriodFn begin = nullptr;
    TimePeriodFn end = nullptr;
};

TimerPeriod ResolveTimerPeriod() {
    TimerPeriod period;
    FARPROC begin = WinmmProc("timeBeginPeriod");
    FARPROC end = WinmmProc("timeEndPeriod");
    if (begin != nullptr && end != nullptr) {
        period.begin = reinterpret_cast<TimePeriodFn>(reinterpret_cast<void*>(begin));
        period.end = reinterpret_cast<TimePeriodFn>(reinterpret_cast<void*>(end));
    }
    return period;
}

}  // namespace

std::uint32_t WinmmTimeMs() {
    static const TimeGetTimeFn timeGetTime = ResolveTimeGetTime();
    return timeGetTime();
}

void WinmmSleepMs(std::uint32_t ms) {
    static const TimerPeriod period = ResolveTimerPeriod();
    // Asked for one sleep at a time: a finer timer kept while idle costs a
    // laptop's battery.
    const bool fine = period.begin != nullptr && period.begin(1) == 0;  // TIMERR_NOERROR
    Sleep(ms);
    if (fine) {
        period.end(1);
    }
}
