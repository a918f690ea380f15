#include "win32/system_dll.h"

#include <string>

namespace win32 {

namespace {

FARPROC Kernel32Proc(const char* name) {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel != nullptr ? GetProcAddress(kernel, name) : nullptr;
}

// The LOAD_LIBRARY_SEARCH_* flags came with KB2533623 on Windows 7, together
// with AddDllDirectory: its presence is the documented test for them.
bool HasSearchFlags() {
    static const bool has = Kernel32Proc("AddDllDirectory") != nullptr;
    return has;
}

}  // namespace

bool RestrictDllSearch() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD flags);
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(Kernel32Proc("SetDefaultDllDirectories")));
    if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        return true;
    }
    SetDllDirectoryW(L"");
    return false;
}

HMODULE LoadSystemDll(const wchar_t* name) {
    if (HasSearchFlags()) {
        return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    return LoadSystemDllByPath(name);
}

HMODULE LoadSystemDllByPath(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    const UINT n = GetSystemDirectoryW(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        return nullptr;
    }
    std::wstring path(dir, n);
    path += L'\\';
    path += name;
    // The altered search makes the DLL's own dependencies come from its
    // folder (the system directory) before the program's.
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace win32
