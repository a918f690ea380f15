// Wiping and deleting files, with a platform whose file writes are recorded
// and whose locks and failures the test sets.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "engine/screen_camera.h"
#include "tests/engine/fake_platform.h"
#include "tests/support/test_paths.h"

namespace {

using Call = std::pair<int, std::string>;

class TempFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = kelvora::test::OutputPath(
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        fake_.tempDirectory = dir_ + "/";
        InstallPlatform(&fake_);
        camera_ = std::make_unique<TScreenCamera>(nullptr);
        camera_->FOnProgress = [this](TScreenCamera*, std::int32_t percent,
                                      const std::string& caption, bool& Continue) {
            calls_.emplace_back(percent, caption);
            if (cancelAt_ == static_cast<int>(calls_.size())) {
                Continue = false;
            }
        };
        fake_.writes.clear();
        fake_.flushes = 0;
    }
    void TearDown() override {
        camera_.reset();
        InstallPlatform(nullptr);
    }

    std::string MakeFile(const char* name, size_t size) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << std::string(size, 'k');
        return path;
    }

    FakePlatform fake_;
    std::string dir_;
    std::unique_ptr<TScreenCamera> camera_;
    std::vector<Call> calls_;
    int cancelAt_ = 0;
};

TEST_F(TempFilesTest, OverwritesInWholeBlocksThreeTimesThenDeletes) {
    const std::string path = MakeFile("ten-thousand", 10000);
    EXPECT_TRUE(DeleteTempFile(path));
    const std::vector<std::uint32_t> pass = {4096, 4096, 1808};
    std::vector<std::uint32_t> expected;
    for (int i = 0; i < 3; ++i) {
        expected.insert(expected.end(), pass.begin(), pass.end());
    }
    EXPECT_EQ(fake_.writes, expected);
    EXPECT_EQ(fake_.flushes, 3);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(calls_, (std::vector<Call>{{4, "Delete Temp File"}, {100, ""}}));
}

TEST_F(TempFilesTest, EmptyFileGetsThreePassesOfNothing) {
    const std::string path = MakeFile("empty", 0);
    EXPECT_TRUE(DeleteTempFile(path));
    EXPECT_TRUE(fake_.writes.empty());
    EXPECT_EQ(fake_.flushes, 3);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(TempFilesTest, MissingFileReportsOnceAndSucceeds) {
    EXPECT_TRUE(DeleteTempFile(dir_ + "/never-there"));
    EXPECT_EQ(calls_, (std::vector<Call>{{100, ""}}));
    EXPECT_TRUE(fake_.writes.empty());
}

TEST_F(TempFilesTest, CancelAtTheFirstCallKeepsTheOverwrittenFile) {
    const std::string path = MakeFile("cancelled", 5000);
    cancelAt_ = 1;
    EXPECT_FALSE(DeleteTempFile(path));
    EXPECT_EQ(calls_, (std::vector<Call>{{4, "Delete Temp File"}, {100, ""}}));
    ASSERT_TRUE(std::filesystem::exists(path));
    std::ifstream in(path, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(content.size(), 5000u);
    EXPECT_NE(content, std::string(5000, 'k')) << "the file was not overwritten";
}

TEST_F(TempFilesTest, LockedFileIsScheduledOnEveryOneOfTwentyFiveAttempts) {
    const std::string path = MakeFile("locked", 100);
    fake_.locked.insert(path);
    EXPECT_TRUE(IsFileLocked(path));
    EXPECT_TRUE(DeleteTempFile(path));
    ASSERT_EQ(calls_.size(), 25u);
    for (int i = 0; i < 25; ++i) {
        EXPECT_EQ(calls_[i], Call((i + 1) * 4, ""));
    }
    EXPECT_EQ(fake_.deletedAtRestart.size(), 25u);
    EXPECT_TRUE(fake_.writes.empty()) << "a locked file is never written";
    EXPECT_TRUE(std::filesystem::exists(path));

    calls_.clear();
    fake_.failDeleteAtRestart = true;
    EXPECT_FALSE(DeleteTempFile(path)) << "scheduling failed";
}

TEST_F(TempFilesTest, UndeletableFileFailsAfterTwentyFiveAttempts) {
    const std::string path = MakeFile("stuck", 10);
    fake_.failRemove = true;
    EXPECT_FALSE(DeleteTempFile(path));
    ASSERT_EQ(calls_.size(), 25u);
    EXPECT_EQ(calls_.back(), Call(100, "Delete Temp File"));
}

TEST_F(TempFilesTest, WithoutAHandlerNothingCanCancel) {
    camera_->FOnProgress = nullptr;
    const std::string path = MakeFile("quiet", 4096);
    EXPECT_TRUE(DeleteTempFile(path));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(IsFileLocked(path)) << "a missing file is not locked";
}

TEST_F(TempFilesTest, LinksLoseOnlyTheirNameAndAFolderStays) {
    const std::string user = MakeFile("user's file", 5000);
    const std::string hard = dir_ + "/hard", soft = dir_ + "/soft", folder = dir_ + "/folder";
    std::filesystem::create_hard_link(user, hard);
    std::filesystem::create_symlink(user, soft);
    std::filesystem::create_directory(folder);
    EXPECT_TRUE(DeleteTempFile(hard));
    EXPECT_TRUE(DeleteTempFile(soft));
    EXPECT_FALSE(std::filesystem::exists(hard));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(soft)));
    EXPECT_TRUE(fake_.writes.empty()) << "written through a link";
    std::ifstream in(user, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), std::string(5000, 'k'));

    calls_.clear();
    EXPECT_FALSE(DeleteTempFile(folder));
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(calls_, (std::vector<Call>{{100, ""}}));
}

TEST(FillRandomBlock, EachBlockIsFresh) {
    std::uint8_t a[kWipeBlockSize], b[kWipeBlockSize];
    FillRandomBlock(a);
    FillRandomBlock(b);
    EXPECT_NE(std::vector<std::uint8_t>(a, a + kWipeBlockSize),
              std::vector<std::uint8_t>(b, b + kWipeBlockSize));
    int histogram[256] = {};
    for (std::uint8_t v : a) {
        ++histogram[v];
    }
    int used = 0;
    for (int count : histogram) {
        used += count > 0;
    }
    EXPECT_GT(used, 200) << "values should spread over 0..255";
}

}  // namespace
