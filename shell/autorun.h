// The autorun value: "Kelvora" under the Run key, holding the executable's
// full path in quotes when Kelvora starts with Windows and the empty string
// when not (the value is blanked, never deleted). The path is written and
// read in UTF-16, so a folder named outside the ANSI code page works too.
//
// The machine-wide key (HKEY_LOCAL_MACHINE) is used where it can be written.
// A standard user cannot write there; for them the same value goes under
// HKEY_CURRENT_USER's Run key, which Windows honours for that user, instead
// of the change being lost without a word. The query reads the machine key
// first, then the user's; switching off blanks the value in both places
// where it holds something.
//
// Everything runs on the UI thread.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace kelvora {

inline constexpr const wchar_t* kRunKeyPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const wchar_t* kAutorunValueName = L"Kelvora";

// True when the "Kelvora" value names a program (quoted or, as earlier
// versions wrote it, bare) under the machine's Run key or, failing that,
// the user's.
bool AutorunEnabled();

enum class AutorunWrite {
    Machine,  // written under HKEY_LOCAL_MACHINE
    User,     // the machine key refused; written under HKEY_CURRENT_USER
    Failed,   // neither key could be written
};

// Switches autorun on (the value := `exePath` in quotes) or off (the
// value := ""). On: the machine key, else the user's. Off: the machine key
// when writable, and the user's wherever it holds a non-empty value. Keys
// are flushed before they are closed. On Failed, `problem` (when given)
// receives where and why, one line per key that mattered:
// "HKEY_LOCAL_MACHINE\Software\...\Run: <the system's message>".
AutorunWrite SetAutorun(bool on, const std::wstring& exePath, std::wstring* problem = nullptr);

// Opens the Run key under `root` for `access` (RegOpenKeyExW by default).
// Tests replace it to deny the machine key, since Wine grants every right.
using RunKeyOpener = std::function<LSTATUS(HKEY root, REGSAM access, HKEY* key)>;
void SetRunKeyOpenerForTesting(RunKeyOpener opener);

}  // namespace kelvora
