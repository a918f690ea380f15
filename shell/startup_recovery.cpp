#include "shell/startup_recovery.h"

#include <windows.h>

#include <set>
#include <vector>

#include "engine/camera_platform.h"
#include "engine/file_naming.h"
#include "engine/recovery.h"
#include "engine/screen_camera.h"
#include "shell/settings_store.h"
#include "shell/file_names.h"
#include "shell/settings_rules.h"
#include "win32/handles.h"

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

// The temporary recordings there: "~vstream.avi" and "~vstream (n).avi".
std::vector<std::string> LeftoverRecordings(const std::string& tempDir) {
    const std::string first = tempDir + kVideoTempName;
    std::set<std::string> found;
    WIN32_FIND_DATAA data{};
    const win32::FindHandle search(FindFirstFileA((tempDir + kVideoTempPattern).c_str(), &data));
    if (!search) {
        return {};  // the normal start: nothing to do
    }
    do {
        found.insert(tempDir + data.cFileName);
    } while (FindNextFileA(search.get(), &data));
    std::vector<std::string> names;
    for (int n = 1; n <= kMaxFileNumber && names.size() < found.size(); ++n) {
        const std::string name = NumberedFileName(first, n);
        if (found.count(name) != 0) {
            names.push_back(name);
        }
    }
    return names;
}

// Recovers one leftover; the message for the user, or empty.
std::string RecoverOne(CameraPlatform& platform, const std::string& temp,
                       const std::string& tempDir) {
    const std::string stamp = LastWriteStamp(temp);
    std::string path;
    std::string problem;
    switch (RecoverLeftoverRecording(temp, OutputDirOfSettings(), tempDir, stamp, &path,
                                     &problem)) {
        case RecoveryResult::NothingToRecover:
            WipeLeftoverRecording(temp);
            return {};
        case RecoveryResult::Recovered:
            // The copy is whole: the file must not come back if it cannot
            // be wiped now.
            MarkRecordingSettled(temp);
            WipeLeftoverRecording(temp);
            return "Запись, прерванная при прошлом запуске программы, восстановлена:\n" +
                   platform.FileNameForDisplay(path);
        case RecoveryResult::NotYet:
            // Left as it is; the camera records beside it meanwhile.
            return "Запись, прерванная при прошлом запуске программы, пока не удалось "
                   "восстановить: " +
                   problem + ". Программа попробует ещё раз при следующем запуске.";
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

}  // namespace

std::string RecoverCutOffRecording() {
    CameraPlatform& platform = ActivePlatform();
    const std::string tempDir = TempRecordingFolder(platform);
    // The camera records into "~vstream.avi", or a numbered name beside a
    // leftover that was not recovered yet: each of them is tried.
    std::string message;
    for (const std::string& temp : LeftoverRecordings(tempDir)) {
        const std::string said = RecoverOne(platform, temp, tempDir);
        if (!said.empty()) {
            message += (message.empty() ? "" : "\n\n") + said;
        }
    }
    return message;
}

}  // namespace kelvora
