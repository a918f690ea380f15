#include "shell/SettingsStore.h"

#include <vector>

#include "engine/screen_camera.h"
#include "shell/settings_rules.h"

namespace kelvora {

std::string ExecutablePath() {
    std::vector<char> buf(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) {
            return {};
        }
        if (n < buf.size()) {
            return std::string(buf.data(), n);
        }
        buf.resize(buf.size() * 2);
    }
}

std::string AppDirectory() {
    const std::string exe = ExecutablePath();
    const std::size_t slash = exe.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

namespace {

// The key names of the section, each ending with a null, the list with two.
std::vector<char> SectionKeys(const char* path) {
    std::vector<char> buf(4096);
    for (;;) {
        const DWORD n = GetPrivateProfileStringA(kSettingsSection, nullptr, "", buf.data(),
                                                 static_cast<DWORD>(buf.size()), path);
        if (n + 2 < buf.size()) {
            buf.resize(n + 1);
            return buf;
        }
        buf.resize(buf.size() * 2);
    }
}

bool HasKey(const std::vector<char>& keys, const char* key) {
    for (const char* k = keys.data(); *k != '\0'; k += lstrlenA(k) + 1) {
        if (lstrcmpiA(k, key) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

void LoadSettings(const std::string& iniPath, TSettings& settings, TScreenCamera& camera) {
    const char* path = iniPath.c_str();
    // The profile functions answer a missing key with the default text; the
    // section's key list tells it from a key that is present but empty.
    const std::vector<char> keys = SectionKeys(path);
    const SettingReader read = [path, &keys](const char* key) -> std::optional<std::string> {
        if (!HasKey(keys, key)) {
            return std::nullopt;
        }
        char buf[kMaxSettingText + 1] = {};
        const DWORD n = GetPrivateProfileStringA(kSettingsSection, key, "", buf, sizeof(buf), path);
        return std::string(buf, n);
    };
    CameraSettings fields{camera.FCodecIndex.load(), camera.FCompressionQuality.load()};
    ReadSettings(read, settings, fields);
    camera.FCodecIndex = fields.CodecIndex;
    camera.FCompressionQuality = fields.CompressionQuality;
}

SaveResult SaveSettings(const std::string& iniPath, const TSettings& settings) {
    const SettingWriter write = [&iniPath](const char* key, const std::string& value) {
        return WritePrivateProfileStringA(kSettingsSection, key, value.c_str(), iniPath.c_str()) !=
               FALSE;
    };
    if (WriteSettings(write, settings)) {
        return {false, UnableToWriteText(iniPath)};
    }
    return {};
}

}  // namespace kelvora
