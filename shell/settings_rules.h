// The rules of "Settings.ini", apart from the file functions: how values are
// read (integers in decimal or 0x hexadecimal, missing or bad text keeps the
// current value), which keys exist and in which order they are written.
// Portable; the Windows side (shell/settings_store.h) supplies the reads and
// writes through the private-profile functions. Also the form of the autorun
// value (shell/autorun.h).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "shell/settings.h"

namespace kelvora {

inline constexpr const char* kSettingsSection = "Options";
// Longest string value read, in characters.
inline constexpr std::size_t kMaxSettingText = 2047;

// The keys in the order they are written (and so in a new file's order).
inline constexpr std::array<const char*, 5> kSettingsKeys = {"OutputDir", "Format", "Compress",
                                                             "Codec", "VideoCompress"};

// An integer value: text longer than two characters that starts with "0x" or
// "0X" is hexadecimal (the rest, up to 0xFFFFFFFF, taken as a 32-bit pattern);
// otherwise an optionally signed decimal in the 32-bit range. Anything else
// (empty, spaces, trailing characters, out of range) is no integer.
std::optional<std::int32_t> ParseSettingInt(std::string_view text);

// The camera fields that the settings reach.
struct CameraSettings {
    std::int32_t CodecIndex = -1;            // FCodecIndex
    std::int32_t CompressionQuality = 9000;  // FCompressionQuality
};

// Reads one key's text from the file; nullopt when the key is missing.
using SettingReader = std::function<std::optional<std::string>(const char* key)>;

// Refreshes `settings` and `camera` from `read`: strings as they stand, cut to
// kMaxSettingText; integers by ParseSettingInt, a missing or bad value keeping
// the current one; the camera's quality becomes VideoCompress x 100 only when
// the key holds an integer.
void ReadSettings(const SettingReader& read, TSettings& settings, CameraSettings& camera);

// The text written for each key of kSettingsKeys, in that order.
std::array<std::string, 5> SettingsValues(const TSettings& settings);

// Writes one key; false when the file refuses.
using SettingWriter = std::function<bool(const char* key, const std::string& value)>;

// Writes the keys in order and stops at the first that fails. Returns the
// index in kSettingsKeys of the failed key, or nullopt when all were written.
std::optional<std::size_t> WriteSettings(const SettingWriter& write, const TSettings& settings);

// The file beside the executable: `appDir` (without a trailing separator),
// a backslash and "Settings.ini". Paths are UTF-16: a folder's name need not
// fit the ANSI code page.
std::wstring SettingsPath(const std::wstring& appDir);

// The message shown when the file cannot be written: "Unable to write to "
// followed by the file's path.
std::wstring UnableToWriteText(const std::wstring& path);

// The autorun value that starts `exePath`: the path in quotes, so that
// Windows never tries "C:\Program.exe" for "C:\Program Files\...".
std::wstring AutorunCommand(const std::wstring& exePath);
// The program an autorun value starts, written quoted (with anything after
// the closing quote ignored) or, as earlier versions wrote it, bare; empty
// when the value names none (autorun off).
std::wstring AutorunProgram(const std::wstring& value);

}  // namespace kelvora
