// Program entry of Kelvora.exe.
#include <windows.h>
#include <commctrl.h>

#include "win32/system_dll.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    win32::RestrictDllSearch();  // before anything loads a DLL by name
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    return 0;
}
