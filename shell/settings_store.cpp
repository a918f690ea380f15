#include "shell/settings_store.h"

#include <vector>

#include "engine/screen_camera.h"
#include "shell/settings_rules.h"
#include "shell/sound_settings.h"
#include "win32/text.h"

namespace kelvora {

namespace {

using win32::Narrow;
using win32::Widen;

const wchar_t* Section() {
    static const std::wstring section = Widen(kSettingsSection);
    return section.c_str();
}

// The key names of the section, each ending with a null, the list with two.
std::vector<wchar_t> SectionKeys(const std::wstring& path) {
    std::vector<wchar_t> buf(4096);
    for (;;) {
        const DWORD n = GetPrivateProfileStringW(Section(), nullptr, L"", buf.data(),
                                                 static_cast<DWORD>(buf.size()), path.c_str());
        if (n + 2 < buf.size()) {
            buf.resize(n + 1);
            return buf;
        }
        buf.resize(buf.size() * 2);
    }
}

bool HasKey(const std::vector<wchar_t>& keys, const std::wstring& key) {
    for (const wchar_t* k = keys.data(); *k != L'\0'; k += lstrlenW(k) + 1) {
        if (lstrcmpiW(k, key.c_str()) == 0) {
            return true;
        }
    }
    return false;
}

// The key's text; the profile functions answer a missing key with the
// default text, so the section's key list tells it from an empty one.
std::optional<std::string> ReadKey(const std::wstring& path, const std::vector<wchar_t>& keys,
                                   const char* key) {
    const std::wstring name = Widen(key);
    if (!HasKey(keys, name)) {
        return std::nullopt;
    }
    wchar_t buf[kMaxSettingText + 1] = {};
    const DWORD n = GetPrivateProfileStringW(Section(), name.c_str(), L"", buf,
                                             static_cast<DWORD>(kMaxSettingText + 1), path.c_str());
    // The file's ANSI bytes came in through the ANSI code page; they go back
    // the same way, unchanged.
    return Narrow(std::wstring(buf, n), CP_ACP);
}

}  // namespace

std::wstring ExecutablePath() {
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) {
            return {};
        }
        if (n < buf.size()) {
            return std::wstring(buf.data(), n);
        }
        buf.resize(buf.size() * 2);
    }
}

std::wstring AppDirectory() {
    const std::wstring exe = ExecutablePath();
    const std::size_t slash = exe.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : exe.substr(0, slash);
}

std::optional<std::string> ReadSetting(const std::wstring& iniPath, const char* key) {
    return ReadKey(iniPath, SectionKeys(iniPath), key);
}

bool WriteSetting(const std::wstring& iniPath, const char* key, const std::string& value) {
    return WritePrivateProfileStringW(Section(), Widen(key).c_str(), Widen(value, CP_ACP).c_str(),
                                      iniPath.c_str()) != FALSE;
}

void LoadSettings(const std::wstring& iniPath, TSettings& settings, TScreenCamera& camera) {
    const std::vector<wchar_t> keys = SectionKeys(iniPath);
    const SettingReader read = [&iniPath, &keys](const char* key) {
        return ReadKey(iniPath, keys, key);
    };
    CameraSettings fields{camera.FCodecIndex.load(), camera.FCompressionQuality.load()};
    ReadSettings(read, settings, fields);
    camera.FCodecIndex = fields.CodecIndex;
    camera.FCompressionQuality = fields.CompressionQuality;
    const SoundSettings sound = ReadSoundSettings(read);
    camera.FRecordAudio = sound.RecordAudio;
    camera.FAudioDevice = Narrow(Widen(sound.AudioDevice, CP_ACP));
}

SaveResult SaveSettings(const std::wstring& iniPath, const TSettings& settings) {
    const SettingWriter write = [&iniPath](const char* key, const std::string& value) {
        return WriteSetting(iniPath, key, value);
    };
    if (WriteSettings(write, settings)) {
        return {false, UnableToWriteText(iniPath)};
    }
    return {};
}

}  // namespace kelvora
