// The start-up's recovery of a recording that a killed run left in the
// temporary file: real files under a test folder, the fake platform for the
// file name's code page, ffprobe as the independent reader of the copy.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/camera_platform.h"
#include "engine/recovery.h"
#include "engine/vfw/avi_testing.h"
#include "engine/vfw/vfw.h"
#include "tests/engine/fake_platform.h"
#include "tests/engine/vfw/avi_test_util.h"
#include "tests/support/ffmpeg.h"
#include "tests/support/test_paths.h"

namespace {

namespace fs = std::filesystem;
using namespace kelvora::test;

constexpr const char* kStamp = "2026.12.08_11-02-03";
constexpr const char* kName = "2026.12.08_11-02-03 (восстановлено).avi";

class RecoveryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = OutputPath(std::string("recovery-") +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ + "/temp");
        fs::create_directories(dir_ + "/out");
        temp_ = dir_ + "/temp/~vstream.avi";
        InstallPlatform(&fake_);

        // Twenty 64x48 frames with a gap, as a killed recording leaves them,
        // cut in the middle of the last frame.
        const std::vector<std::uint8_t> format = ScreenClipFormat(64, 48, 24);
        vfw::BITMAPINFOHEADER bi;
        std::memcpy(&bi, format.data(), sizeof bi);
        std::vector<vfw::LONG> positions;
        for (vfw::LONG p = 0; p < 21; ++p) {
            if (p != 7) {
                positions.push_back(p);
            }
        }
        std::vector<std::uint8_t> killed;
        ASSERT_EQ(WriteKilledAvi(dir_ + "/whole.avi", VideoInfo(bi, 25), format,
                                 ScreenClip(64, 48, 24, positions), &killed),
                  vfw::AVIERR_OK);
        ASSERT_EQ(ReadAvi(dir_ + "/whole.avi", &whole_), vfw::AVIERR_OK);
        killed.resize(killed.size() - bi.biSizeImage / 2);
        ASSERT_TRUE(WriteFileBytes(temp_, killed));
    }
    void TearDown() override { InstallPlatform(nullptr); }

    RecoveryResult Recover(const std::string& outputDir, const std::string& tempDir) {
        return RecoverLeftoverRecording(temp_, outputDir, tempDir, kStamp, &path_);
    }

    // The copy holds every whole frame of the cut file, for us and ffprobe.
    void ExpectRecovered(const std::string& expectedPath) {
        EXPECT_EQ(path_, expectedPath);
        AviContent copy;
        ASSERT_EQ(ReadAvi(path_, &copy), vfw::AVIERR_OK);
        ASSERT_EQ(copy.entries.size(), whole_.entries.size() - 1);
        for (size_t e = 0; e < copy.entries.size(); ++e) {
            EXPECT_EQ(copy.entries[e], whole_.entries[e]) << "entry " << e;
        }
        const VideoProbe p = ProbeVideo(path_);
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_EQ(p.entries, 20);
        EXPECT_EQ(p.packets, 19);  // the gap is an empty entry
        EXPECT_EQ(p.width, 64);
        EXPECT_EQ(p.height, 48);
        EXPECT_EQ(p.rateNum, 25);
        EXPECT_TRUE(fs::exists(temp_)) << "the caller wipes the temporary file";
    }

    FakePlatform fake_;
    std::string dir_, temp_, path_;
    AviContent whole_;
};

TEST_F(RecoveryTest, CutOffRecordingIsCopiedIntoTheOutputFolderUnderAFreeName) {
    const unsigned syncs = vfw::DiskSyncsForTesting();
    ASSERT_EQ(Recover(dir_ + "/out", dir_ + "/temp/"), RecoveryResult::Recovered);
    EXPECT_EQ(vfw::DiskSyncsForTesting() - syncs, 1u) << "on the disk before the caller wipes";
    ExpectRecovered(dir_ + "/out/" + kName);
    // A second leftover of the same second does not replace the first copy.
    ASSERT_EQ(Recover(dir_ + "/out/", dir_ + "/temp/"), RecoveryResult::Recovered);
    ExpectRecovered(dir_ + "/out/2026.12.08_11-02-03 (восстановлено) (2).avi");
    // Nor a file that takes the free name while the copy is being written.
    const std::string third = dir_ + "/out/2026.12.08_11-02-03 (восстановлено) (3).avi";
    fake_.refuseRename = [&](const std::string& to) {
        if (to == third && !fs::exists(third)) {
            EXPECT_TRUE(WriteFileBytes(third, {'m', 'i', 'n', 'e'}));
        }
        return false;
    };
    ASSERT_EQ(Recover(dir_ + "/out/", dir_ + "/temp/"), RecoveryResult::Recovered);
    ExpectRecovered(dir_ + "/out/2026.12.08_11-02-03 (восстановлено) (4).avi");
    EXPECT_EQ(ReadFileBytes(third), (std::vector<std::uint8_t>{'m', 'i', 'n', 'e'}));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ + "/out"), fs::directory_iterator()), 4)
        << "no temporary copy is left";
}

TEST_F(RecoveryTest, WithoutAUsableOutputFolderTheCopyGoesToTheTemporaryFolder) {
    ASSERT_TRUE(WriteFileBytes(dir_ + "/a file", {1, 2, 3}));
    for (const std::string& output :
         {std::string(), dir_ + "/missing", dir_ + "/a file", dir_ + "/a file/"}) {
        SCOPED_TRACE(output);
        fs::remove(dir_ + "/temp/" + kName);
        ASSERT_EQ(Recover(output, dir_ + "/temp/"), RecoveryResult::Recovered);
        ExpectRecovered(dir_ + "/temp/" + kName);
    }
    EXPECT_FALSE(fs::exists(dir_ + "/missing"));
}

TEST_F(RecoveryTest, CodePageWithoutCyrillicGetsALatinName) {
    fake_.ansiLatinOnly = true;
    ASSERT_EQ(Recover(dir_ + "/out", dir_ + "/temp"), RecoveryResult::Recovered);
    ExpectRecovered(dir_ + "/out/2026.12.08_11-02-03 (vosstanovleno).avi");
}

TEST_F(RecoveryTest, FileWithoutAFrameHasNothingToRecover) {
    const std::vector<std::uint8_t> cut = ReadFileBytes(temp_);
    const size_t firstChunk = FindFourcc(cut, "00dc", FindFourcc(cut, "movi"));
    ASSERT_NE(firstChunk, std::string::npos);
    const std::vector<std::vector<std::uint8_t>> leftovers = {
        {},                                                         // created, nothing written
        std::vector<std::uint8_t>(cut.begin(), cut.begin() + 200),  // cut in the header
        std::vector<std::uint8_t>(cut.begin(), cut.begin() + static_cast<long>(firstChunk) + 20),
        std::vector<std::uint8_t>(5000, 0x5A),  // not a recording at all
    };
    for (size_t i = 0; i < leftovers.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(WriteFileBytes(temp_, leftovers[i]));
        EXPECT_EQ(Recover(dir_ + "/out", dir_ + "/temp"), RecoveryResult::NothingToRecover);
        EXPECT_TRUE(path_.empty());
    }
    fs::remove(temp_);
    EXPECT_EQ(Recover(dir_ + "/out", dir_ + "/temp"), RecoveryResult::NothingToRecover);
    // A recording of the user's linked under the temporary name is theirs.
    ASSERT_TRUE(WriteFileBytes(dir_ + "/users.avi", cut));
    fs::create_hard_link(dir_ + "/users.avi", temp_);
    EXPECT_EQ(Recover(dir_ + "/out", dir_ + "/temp"), RecoveryResult::NothingToRecover);
    fs::remove(temp_);
    fs::create_symlink(dir_ + "/users.avi", temp_);
    EXPECT_EQ(Recover(dir_ + "/out", dir_ + "/temp"), RecoveryResult::NothingToRecover);
    EXPECT_TRUE(fs::is_empty(dir_ + "/out"));
}

// A file that cannot be read now (here a read error; a file another program
// holds and too little memory alike) is no proof of an empty one: it is
// left as it is, with the reason, and the next start recovers it.
TEST_F(RecoveryTest, FileThatCannotBeReadNowIsLeftForTheNextStart) {
    const std::vector<std::uint8_t> before = ReadFileBytes(temp_);
    vfw::SetReadLimitForTesting(100);
    std::string why;
    EXPECT_EQ(RecoverLeftoverRecording(temp_, dir_ + "/out", dir_ + "/temp", kStamp, &path_, &why),
              RecoveryResult::NotYet);
    vfw::SetReadLimitForTesting(0);
    EXPECT_EQ(why, "ошибка чтения файла");
    EXPECT_TRUE(path_.empty());
    EXPECT_TRUE(fs::is_empty(dir_ + "/out"));
    EXPECT_EQ(ReadFileBytes(temp_), before);
    ASSERT_EQ(Recover(dir_ + "/out", dir_ + "/temp/"), RecoveryResult::Recovered);
    ExpectRecovered(dir_ + "/out/" + kName);
}

TEST_F(RecoveryTest, NoFolderTakingTheCopyFailsAndLeavesTheFileAlone) {
    const std::vector<std::uint8_t> before = ReadFileBytes(temp_);
    EXPECT_EQ(Recover(dir_ + "/missing", dir_ + "/missing too"), RecoveryResult::Failed);
    EXPECT_TRUE(path_.empty());
    EXPECT_EQ(ReadFileBytes(temp_), before);
}

}  // namespace
