#include "shell/startup_recovery.h"

#include <windows.h>

#include "engine/camera_platform.h"
#include "engine/recovery.h"
#include "engine/screen_camera.h"
#include "shell/SettingsStore.h"
#include "shell/file_names.h"
#include "shell/settings_rules.h"

namespace kelvora {

namespace {

// The file's last write, local time, as the recordings' names spell times.
std::string LastWriteStamp(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    FILETIME local{};
    SYSTEMTIME t{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        !FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) ||
        !FileTimeToSystemTime(&local, &t)) {
        GetLocalTime(&t);
    }
    return TimeStamp({t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond});
}

std::string OutputDirOfSettings() {
    return ReadSetting(SettingsPath(AppDirectory()), "OutputDir").value_or(std::string());
}

}  // namespace

std::string RecoverCutOffRecording() {
    CameraPlatform& platform = ActivePlatform();
    std::string tempDir = platform.TempDirectory();
    if (tempDir.empty() || tempDir.back() != '\\') {
        tempDir += '\\';
    }
    const std::string temp = tempDir + "~vstream.avi";
    if (!platform.FileExists(temp)) {
        return {};  // the normal start: nothing to do
    }
    const std::string stamp = LastWriteStamp(temp);
    std::string path;
    switch (RecoverLeftoverRecording(temp, OutputDirOfSettings(), tempDir, stamp, &path)) {
        case RecoveryResult::NothingToRecover:
            DeleteTempFile(temp);
            return {};
        case RecoveryResult::Recovered:
            DeleteTempFile(temp);
            return "Запись, прерванная при прошлом запуске программы, восстановлена:\n" +
                   platform.FileNameForDisplay(path);
        case RecoveryResult::Failed:
            break;
    }
    // No folder took a copy (a full disk): the file itself goes under a name
    // that nothing wipes, as it stands.
    const std::string kept = tempDir + stamp + " (vosstanovleno).avi";
    if (platform.RenameFile(temp, kept)) {
        return "Запись, прерванная при прошлом запуске программы, не удалось скопировать; "
               "она сохранена как есть в файле:\n" +
               platform.FileNameForDisplay(kept);
    }
    return "Запись, прерванная при прошлом запуске программы, не удалось сохранить.";
}

}  // namespace kelvora
