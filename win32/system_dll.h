// Loading the system's own DLLs so that a file of the same name beside the
// program, in the current folder or on PATH never takes their place (DLL
// planting: a downloads folder is enough to plant one).
//
// Protocol: the program entry calls RestrictDllSearch() first, before
// anything loads a DLL; code that needs a DLL the executable does not import
// (msvfw32, winmm, ...) loads it with LoadSystemDll(), never by bare name.
// What the executable imports statically must be DLLs that Windows always
// takes from its own directory (the KnownDLLs), because those imports are
// resolved before any code of the program runs.
#pragma once

#include <windows.h>

namespace win32 {

// Limits every later load by name in this process, including those that
// system DLLs make for their drivers, to the system directory
// (SetDefaultDllDirectories). Windows 7 without KB2533623 lacks that call:
// there the current folder at least is dropped from the search
// (SetDllDirectoryW(L"")). Returns true when the full restriction holds.
bool RestrictDllSearch();

// Loads the system DLL `name` (a bare file name such as L"msvfw32.dll") from
// the system directory only; null when it is not there. The caller owns the
// reference (FreeLibrary), or keeps the module for the life of the process.
HMODULE LoadSystemDll(const wchar_t* name);

// LoadSystemDll's way on systems without LOAD_LIBRARY_SEARCH_SYSTEM32: the
// full path from GetSystemDirectoryW.
HMODULE LoadSystemDllByPath(const wchar_t* name);

}  // namespace win32
