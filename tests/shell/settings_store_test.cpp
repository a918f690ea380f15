// The settings store on the real platform: the bytes of "Settings.ini" as the
// profile functions write them, in a folder named outside the ANSI code page,
// a read-only file, and the autorun value in the registry (the machine key,
// and the user's key when the machine's is denied through the opener seam,
// since Wine grants every right).
#include "shell/settings_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "engine/screen_camera.h"
#include "shell/autorun.h"

namespace kelvora {
namespace {

// Greek and Japanese letters: no ANSI code page spells both, so the folder
// reads as "?" through the A functions wherever the tests run.
std::wstring TestFolder() {
    wchar_t tmp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, tmp);
    std::wstring dir = std::wstring(tmp) + L"kelvora settings \u03A9\u65E5";
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

std::string FileBytes(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void RemoveFile(const std::wstring& path) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
}

TEST(SettingsStore, NewFileHoldsTheKeysInOrderAndReadsBackIntoRecordAndCamera) {
    const std::wstring path = TestFolder() + L"\\Settings.ini";
    RemoveFile(path);
    TScreenCamera camera(nullptr);
    TSettings settings;

    // No file: nothing changes, however often it is read.
    LoadSettings(path, settings, camera);
    LoadSettings(path, settings, camera);
    EXPECT_EQ(settings.OutputDir, "");
    EXPECT_EQ(settings.Codec, 0);
    EXPECT_EQ(camera.FCodecIndex.load(), -1);
    EXPECT_EQ(camera.FCompressionQuality.load(), 9000);

    const SaveResult saved = SaveSettings(path, TSettings{"C:\\Video\\", "JPG", "80", 2, 45});
    EXPECT_TRUE(saved.Ok) << saved.Message;
    EXPECT_EQ(FileBytes(path),
              "[Options]\r\nOutputDir=C:\\Video\\\r\nFormat=JPG\r\nCompress=80\r\nCodec=2\r\n"
              "VideoCompress=45\r\n");

    LoadSettings(path, settings, camera);
    EXPECT_EQ(settings.OutputDir, "C:\\Video\\");
    EXPECT_EQ(settings.Format, "JPG");
    EXPECT_EQ(settings.Compress, "80");
    EXPECT_EQ(settings.Codec, 2);
    EXPECT_EQ(settings.VideoCompress, 45);
    EXPECT_EQ(camera.FCodecIndex.load(), 2);
    EXPECT_EQ(camera.FCompressionQuality.load(), 4500);

    // A hand edit: hexadecimal codec, a quality that is no number, an empty
    // folder. Existing keys keep their lines when the file is written again.
    {
        std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
        out << "[Options]\r\nCodec=0x3\r\nVideoCompress=abc\r\nOutputDir=\r\n";
    }
    LoadSettings(path, settings, camera);
    EXPECT_EQ(settings.Codec, 3);
    EXPECT_EQ(camera.FCodecIndex.load(), 3);
    EXPECT_EQ(settings.VideoCompress, 45);
    EXPECT_EQ(camera.FCompressionQuality.load(), 4500);
    EXPECT_EQ(settings.OutputDir, "");
    EXPECT_EQ(settings.Format, "JPG");
    RemoveFile(path);
}

TEST(SettingsStore, UnwritableFileReportsItsPathAndStaysAsItWas) {
    const std::wstring path = TestFolder() + L"\\Settings.ini";
    RemoveFile(path);
    ASSERT_TRUE(SaveSettings(path, TSettings{"C:\\A\\", "BMP", "80", 0, 90}).Ok);
    const std::string before = FileBytes(path);
    {
        // Read-only for everyone but root, which the tests run as under Wine;
        // a handle that shares nothing refuses writes to root too.
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
        HANDLE lock = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(lock, INVALID_HANDLE_VALUE);
        const SaveResult saved = SaveSettings(path, TSettings{"C:\\B\\", "PNG", "10", 1, 20});
        CloseHandle(lock);
        EXPECT_FALSE(saved.Ok);
        EXPECT_EQ(saved.Message, L"Unable to write to " + path);
    }
    EXPECT_EQ(FileBytes(path), before);

    // A folder that does not exist cannot take the file either.
    const std::wstring missing = TestFolder() + L"\\no such folder\\Settings.ini";
    const SaveResult saved = SaveSettings(missing, TSettings{});
    EXPECT_FALSE(saved.Ok);
    EXPECT_EQ(saved.Message, L"Unable to write to " + missing);
    RemoveFile(path);
}

// The "Kelvora" value under `root`'s Run key: nullopt when missing.
std::optional<std::wstring> RunValue(HKEY root) {
    wchar_t buf[1024] = {};
    DWORD size = sizeof(buf);
    DWORD type = 0;
    if (RegGetValueW(root, kRunKeyPath, kAutorunValueName, RRF_RT_ANY, &type, buf, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    return std::wstring(buf);
}

void SetRunValue(HKEY root, const std::wstring& value) {
    HKEY key = nullptr;
    ASSERT_EQ(
        RegCreateKeyExW(root, kRunKeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    RegSetValueExW(key, kAutorunValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void DeleteRunValue(HKEY root) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, kRunKeyPath, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, kAutorunValueName);
        RegCloseKey(key);
    }
}

class AutorunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        DeleteRunValue(HKEY_LOCAL_MACHINE);
        DeleteRunValue(HKEY_CURRENT_USER);
    }
    void TearDown() override {
        SetRunKeyOpenerForTesting({});
        DeleteRunValue(HKEY_LOCAL_MACHINE);
        DeleteRunValue(HKEY_CURRENT_USER);
    }
    // A standard user: the machine key opens for reading only.
    static void DenyMachineWrites() {
        SetRunKeyOpenerForTesting([](HKEY root, REGSAM access, HKEY* key) -> LSTATUS {
            if (root == HKEY_LOCAL_MACHINE && (access & KEY_SET_VALUE) != 0) {
                return ERROR_ACCESS_DENIED;
            }
            if (root == HKEY_CURRENT_USER && (access & KEY_SET_VALUE) != 0) {
                return RegCreateKeyExW(root, kRunKeyPath, 0, nullptr, 0, access, nullptr, key,
                                       nullptr);
            }
            return RegOpenKeyExW(root, kRunKeyPath, 0, access, key);
        });
    }
    // A folder with a space, named outside the ANSI code page.
    const std::wstring exe_ = L"C:\\Program Files\\Kelvora \u03A9\u65E5\\Kelvora.exe";
    const std::wstring quoted_ = L"\"" + exe_ + L"\"";
};

TEST_F(AutorunTest, MachineValueHoldsThePathAndIsBlankedNotDeleted) {
    EXPECT_FALSE(AutorunEnabled());
    // Off where it never existed: created empty.
    EXPECT_EQ(SetAutorun(false, exe_), AutorunWrite::Machine);
    EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE), std::optional<std::wstring>(L""));
    EXPECT_FALSE(AutorunEnabled());

    EXPECT_EQ(SetAutorun(true, exe_), AutorunWrite::Machine);
    EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE), std::optional<std::wstring>(quoted_));
    EXPECT_EQ(RunValue(HKEY_CURRENT_USER), std::nullopt);
    EXPECT_TRUE(AutorunEnabled());

    EXPECT_EQ(SetAutorun(false, exe_), AutorunWrite::Machine);
    EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE), std::optional<std::wstring>(L""));
    EXPECT_FALSE(AutorunEnabled());

    // Written bare by an earlier version: on all the same.
    SetRunValue(HKEY_LOCAL_MACHINE, exe_);
    EXPECT_TRUE(AutorunEnabled());
}

TEST_F(AutorunTest, WithoutRightsToTheMachineKeyTheUsersKeyTakesTheValue) {
    DenyMachineWrites();
    EXPECT_EQ(SetAutorun(true, exe_), AutorunWrite::User);
    EXPECT_EQ(RunValue(HKEY_CURRENT_USER), std::optional<std::wstring>(quoted_));
    EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE), std::nullopt);
    EXPECT_TRUE(AutorunEnabled());

    EXPECT_EQ(SetAutorun(false, exe_), AutorunWrite::User);
    EXPECT_EQ(RunValue(HKEY_CURRENT_USER), std::optional<std::wstring>(L""));
    EXPECT_FALSE(AutorunEnabled());

    // Switched on by an administrator: a standard user cannot switch it off,
    // and is told where and why rather than seeing it stay on at the next
    // start.
    SetRunKeyOpenerForTesting({});
    ASSERT_EQ(SetAutorun(true, exe_), AutorunWrite::Machine);
    DenyMachineWrites();
    std::wstring problem;
    EXPECT_EQ(SetAutorun(false, exe_, &problem), AutorunWrite::Failed);
    EXPECT_EQ(problem.rfind(
                  L"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run: ", 0),
              0u)
        << problem;
    EXPECT_GT(problem.size(), 70u) << "no reason given";
    EXPECT_TRUE(AutorunEnabled());

    // On in both places (the machine's by an administrator, the user's by a
    // fallback): switching off where the machine key is writable blanks both.
    ASSERT_EQ(SetAutorun(true, exe_), AutorunWrite::User);
    SetRunKeyOpenerForTesting({});
    EXPECT_EQ(SetAutorun(false, exe_), AutorunWrite::Machine);
    EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE), std::optional<std::wstring>(L""));
    EXPECT_EQ(RunValue(HKEY_CURRENT_USER), std::optional<std::wstring>(L""));
    EXPECT_FALSE(AutorunEnabled());
}

}  // namespace
}  // namespace kelvora
