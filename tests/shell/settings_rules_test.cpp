// Reading and writing "Settings.ini" by its rules, with the file stood in for
// by a map of key texts.
#include "shell/settings_rules.h"
#include "shell/sound_settings.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <string>
#include <vector>

namespace kelvora {
namespace {

SettingReader FileOf(const std::map<std::string, std::string>& lines) {
    return [lines](const char* key) -> std::optional<std::string> {
        auto it = lines.find(key);
        if (it == lines.end()) {
            return std::nullopt;
        }
        return it->second;
    };
}

TEST(SettingsRules, IntegersInDecimalOrHexWithTheirEdges) {
    struct Case {
        const char* text;
        std::optional<std::int32_t> value;
    };
    const Case cases[] = {
        {"0", 0},
        {"45", 45},
        {"-1", -1},
        {"+7", 7},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", std::numeric_limits<std::int32_t>::min()},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"0x3", 3},
        {"0X1f", 31},
        {"0xFFFFFFFF", -1},
        {"0x80000000", std::numeric_limits<std::int32_t>::min()},
        {"0x000000010", 16},
        {"0x100000000", std::nullopt},
        {"0x", std::nullopt},  // two characters: decimal, and not a number
        {"0xg", std::nullopt},
        {"0x-1", std::nullopt},
        {"-0x1", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"+", std::nullopt},
        {"abc", std::nullopt},
        {"12abc", std::nullopt},
        {" 12", std::nullopt},
        {"1 2", std::nullopt},
        {"--1", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseSettingInt(c.text), c.value) << '"' << c.text << '"';
    }
}

TEST(SettingsRules, NoFileKeepsEmptyStringsZerosAndTheCameraDefaultsHoweverOftenRead) {
    TSettings s;
    CameraSettings camera;
    for (int i = 0; i < 3; ++i) {
        ReadSettings(FileOf({}), s, camera);
    }
    EXPECT_EQ(s.OutputDir, "");
    EXPECT_EQ(s.Format, "");
    EXPECT_EQ(s.Compress, "");
    EXPECT_EQ(s.Codec, 0);
    EXPECT_EQ(s.VideoCompress, 0);
    EXPECT_EQ(camera.CodecIndex, -1);
    EXPECT_EQ(camera.CompressionQuality, 9000);
}

TEST(SettingsRules, ValuesAsTheyStandBadIntegersKeepTheCurrentOnes) {
    TSettings s;
    CameraSettings camera;
    ReadSettings(FileOf({{"OutputDir", "C:\\Video"},
                         {"Format", "jpg"},
                         {"Compress", "80"},
                         {"Codec", "0x3"},
                         {"VideoCompress", "45"}}),
                 s, camera);
    EXPECT_EQ(s.OutputDir, "C:\\Video");  // no backslash added
    EXPECT_EQ(s.Format, "jpg");           // no case folding
    EXPECT_EQ(s.Compress, "80");
    EXPECT_EQ(s.Codec, 3);
    EXPECT_EQ(camera.CodecIndex, 3);
    EXPECT_EQ(s.VideoCompress, 45);
    EXPECT_EQ(camera.CompressionQuality, 4500);

    // Non-converting integers and missing strings keep what was read before;
    // an empty string value is a value.
    ReadSettings(FileOf({{"Format", ""}, {"Codec", "abc"}, {"VideoCompress", "9x"}}), s, camera);
    EXPECT_EQ(s.OutputDir, "C:\\Video");
    EXPECT_EQ(s.Format, "");
    EXPECT_EQ(s.Codec, 3);
    EXPECT_EQ(camera.CodecIndex, 3);
    EXPECT_EQ(s.VideoCompress, 45);
    EXPECT_EQ(camera.CompressionQuality, 4500);

    // The camera's quality follows VideoCompress only when it converts, and
    // a hand-edited huge value wraps instead of overflowing.
    ReadSettings(FileOf({{"VideoCompress", "-0"}}), s, camera);
    EXPECT_EQ(camera.CompressionQuality, 0);
    ReadSettings(FileOf({{"VideoCompress", "0x7FFFFFFF"}}), s, camera);
    EXPECT_EQ(s.VideoCompress, 0x7FFFFFFF);
    EXPECT_EQ(camera.CompressionQuality, static_cast<std::int32_t>(0x7FFFFFFFu * 100u));
}

TEST(SettingsRules, SoundIsOnOnlyForOneAndABlankDeviceIsTheDefault) {
    struct Case {
        std::map<std::string, std::string> file;
        bool on;
        std::string device;
    };
    const Case cases[] = {
        {{}, false, ""},
        {{{"RecordAudio", "1"}, {"AudioDevice", "Line In (USB)"}}, true, "Line In (USB)"},
        {{{"RecordAudio", "0x1"}}, true, ""},
        {{{"RecordAudio", "0"}}, false, ""},
        {{{"RecordAudio", "2"}, {"AudioDevice", "   "}}, false, ""},
        {{{"RecordAudio", "yes"}, {"AudioDevice", std::string(3000, 'm')}}, false,
         std::string(2047, 'm')},
    };
    for (const Case& c : cases) {
        const SoundSettings sound = ReadSoundSettings(FileOf(c.file));
        EXPECT_EQ(sound.RecordAudio, c.on) << c.file.size();
        EXPECT_EQ(sound.AudioDevice, c.device);
    }
    std::vector<std::string> written;
    EXPECT_TRUE(WriteSoundSettings(
        [&](const char* key, const std::string& v) {
            written.push_back(std::string(key) + "=" + v);
            return true;
        },
        {true, "Mic"}));
    EXPECT_EQ(written, (std::vector<std::string>{"RecordAudio=1", "AudioDevice=Mic"}));
}

TEST(SettingsRules, LongStringsAreCutTo2047Characters) {
    TSettings s;
    CameraSettings camera;
    ReadSettings(FileOf({{"OutputDir", std::string(3000, 'd')}}), s, camera);
    EXPECT_EQ(s.OutputDir, std::string(2047, 'd'));
}

TEST(SettingsRules, WritesInKeyOrderAndStopsAtTheFirstFailure) {
    TSettings s{"C:\\Video\\", "JPG", "80", 2, 90};
    std::vector<std::string> written;
    auto writer = [&](std::size_t failAt) {
        return [&written, failAt](const char* key, const std::string& value) {
            if (written.size() == failAt) {
                return false;
            }
            written.push_back(std::string(key) + "=" + value);
            return true;
        };
    };
    EXPECT_EQ(WriteSettings(writer(99), s), std::nullopt);
    EXPECT_EQ(written, (std::vector<std::string>{"OutputDir=C:\\Video\\", "Format=JPG",
                                                 "Compress=80", "Codec=2", "VideoCompress=90"}));
    written.clear();
    s.Codec = -1;
    EXPECT_EQ(WriteSettings(writer(3), s), std::optional<std::size_t>(3));
    EXPECT_EQ(written.size(), 3u);  // Codec failed; VideoCompress not attempted
    EXPECT_EQ(UnableToWriteText(SettingsPath(L"C:\\Program Files\\Kelvora")),
              L"Unable to write to C:\\Program Files\\Kelvora\\Settings.ini");
}

TEST(SettingsRules, AutorunValueIsQuotedAndReadEitherWay) {
    const std::wstring exe = L"C:\\Program Files\\Kelvora\\Kelvora.exe";
    EXPECT_EQ(AutorunCommand(exe), L"\"C:\\Program Files\\Kelvora\\Kelvora.exe\"");
    EXPECT_EQ(AutorunProgram(AutorunCommand(exe)), exe);
    EXPECT_EQ(AutorunProgram(exe), exe) << "as earlier versions wrote it";
    EXPECT_EQ(AutorunProgram(L"\"" + exe + L"\" /minimized"), exe);
    EXPECT_EQ(AutorunProgram(L"\"" + exe), exe) << "no closing quote";
    EXPECT_EQ(AutorunProgram(L""), L"");
    EXPECT_EQ(AutorunProgram(L"\"\""), L"") << "names no program";
}

}  // namespace
}  // namespace kelvora
