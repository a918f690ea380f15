#include "engine/winmm_time_win32.h"

#include <windows.h>

#include "win32/system_dll.h"

namespace {

using TimeGetTimeFn = DWORD(WINAPI*)();

DWORD WINAPI TickCountMs() {
    return GetTickCount();
}

// Resolved once and kept: the module stays loaded for the life of the process.
TimeGetTimeFn ResolveTimeGetTime() {
    if (HMODULE winmm = win32::LoadSystemDll(L"winmm.dll")) {
        if (FARPROC proc = GetProcAddress(winmm, "timeGetTime")) {
            return reinterpret_cast<TimeGetTimeFn>(reinterpret_cast<void*>(proc));
        }
    }
    return &TickCountMs;
}

}  // namespace

std::uint32_t WinmmTimeMs() {
    static const TimeGetTimeFn timeGetTime = ResolveTimeGetTime();
    return timeGetTime();
}
