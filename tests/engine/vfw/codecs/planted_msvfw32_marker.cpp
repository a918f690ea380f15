// A stand-in that a test plants beside its program as msvfw32.dll. Loading it
// leaves the named event "kelvora-planted-msvfw32-<process id>", which the
// process can look for afterwards.
#include <windows.h>

#include <cwchar>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t name[64];
        std::swprintf(name, 64, L"kelvora-planted-msvfw32-%lu", GetCurrentProcessId());
        // Never closed, so that it outlives an unload; the process's end frees it.
        CreateEventW(nullptr, TRUE, TRUE, name);
    }
    return TRUE;
}
