// The settings store on the real platform: the bytes of "Settings.ini" as the
// profile functions write them, a read-only file, and the autorun value in
// the registry (the machine key, and the user's key when the machine's is
// denied through the opener seam, since Wine grants every right).
#include "shell/SettingsStore.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "engine/screen_camera.h"
#include "shell/Autorun.h"

namespace kelvora {
namespace {

std::string TestFolder() {
    char tmp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, tmp);
    std::string dir = std::string(tmp) + "kelvora_settings_store_test";
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void RemoveFile(const std::string& path) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
}

TEST(SettingsStore, NewFileHoldsTheKeysInOrderAndReadsBackIntoRecordAndCamera) {
    const std::string path = TestFolder() + "\\Settings.ini";
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
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
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
    const std::string path = TestFolder() + "\\Settings.ini";
    RemoveFile(path);
    ASSERT_TRUE(SaveSettings(path, TSettings{"C:\\A\\", "BMP", "80", 0, 90}).Ok);
    const std::string before = FileBytes(path);
    {
        // Read-only for everyone but root, which the tests run as under Wine;
        // a handle that shares nothing refuses writes to root too.
        ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
        HANDLE lock = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(lock, INVALID_HANDLE_VALUE);
        const SaveResult saved = SaveSettings(path, TSettings{"C:\\B\\", "PNG", "10", 1, 20});
        CloseHandle(lock);
        EXPECT_FALSE(saved.Ok);
        EXPECT_EQ(saved.Message, "Unable to write to " + path);
    }
    EXPECT_EQ(FileBytes(path), before);

    // A folder that does not exist cannot take the file either.
    const std::string missing = TestFolder() + "\\no such folder\\Settings.ini";
    const SaveResult saved = SaveSettings(missing, TSettings{});
    EXPECT_FALSE(saved.Ok);
    EXPECT_EQ(saved.Message, "Unable to write to " + missing);
    RemoveFile(path);
}

// The "Kelvora" value under `root`'s Run key: nullopt when missing.
std::optional<std::string> RunValue(HKEY root) {
    char buf[1024] = {};
    DWORD size = sizeof(buf);
    DWORD type = 0;
    if (RegGetValueA(root, kRunKeyPath, kAutorunValueName, RRF_RT_ANY, &type, buf, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    return std::string(buf);
}

void DeleteRunValue(HKEY root) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, kRunKeyPath, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, kAutorunValueName);
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
                return RegCreateKeyExA(root, kRunKeyPath, 0, nullptr, 0, access, nullptr, key,
                                       nullptr);
            }
            return RegOpenKeyExA(root, kRunKeyPath, 0, access, key);
        });
    }
    const std::string exe_ = "C:\\Program Files\\Kelvora\\Kelvora.exe";
};

TEST_F(AutorunTest, MachineValueHoldsThePathAndIsBlankedNotDeleted) {
    EXPECT_FALSE(AutorunEnabled());
    // Off where it never existed: created empty.
    EXPECT_EQ(SetAutorun(false, exe_), AutorunWrite::Machine);
    EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE), std::optional<std::string>(""));
    EXPECT_FALSE(AutorunEnabled());

    EXPECT_EQ(SetAutorun(true, exe_), AutorunWrite::Machine);
    EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE), std::optional<std::string>(exe_));
    EXPECT_EQ(RunValue(HKEY_CURRENT_USER), std::nullopt);
    EXPECT_TRUE(AutorunEnabled());

    EXPECT_EQ(SetAutorun(false, exe_), AutorunWrite::Machine);
    EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE), std::optional<std::string>(""));
    EXPECT_FALSE(AutorunEnabled());
}

TEST_F(AutorunTest, WithoutRightsToTheMachineKeyTheUsersKeyTakesTheValue) {
    DenyMachineWrites();
    EXPECT_EQ(SetAutorun(true, exe_), AutorunWrite::User);
    EXPECT_EQ(RunValue(HKEY_CURRENT_USER), std::optional<std::string>(exe_));
    EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE), std::nullopt);
    EXPECT_TRUE(AutorunEnabled());

    EXPECT_EQ(SetAutorun(false, exe_), AutorunWrite::User);
    EXPECT_EQ(RunValue(HKEY_CURRENT_USER), std::optional<std::string>(""));
    EXPECT_FALSE(AutorunEnabled());

    // Switched on by an administrator: a standard user cannot switch it off,
    // and is told so rather than seeing it stay on at the next start.
    SetRunKeyOpenerForTesting({});
    ASSERT_EQ(SetAutorun(true, exe_), AutorunWrite::Machine);
    DenyMachineWrites();
    EXPECT_EQ(SetAutorun(false, exe_), AutorunWrite::Failed);
    EXPECT_TRUE(AutorunEnabled());

    // On in both places (the machine's by an administrator, the user's by a
    // fallback): switching off where the machine key is writable blanks both.
    ASSERT_EQ(SetAutorun(true, exe_), AutorunWrite::User);
    SetRunKeyOpenerForTesting({});
    EXPECT_EQ(SetAutorun(false, exe_), AutorunWrite::Machine);
    EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE), std::optional<std::string>(""));
    EXPECT_EQ(RunValue(HKEY_CURRENT_USER), std::optional<std::string>(""));
    EXPECT_FALSE(AutorunEnabled());
}

}  // namespace
}  // namespace kelvora
