// AVISaveV: copies keep every entry, empty ones and key-frame flags
// included; progress rises to 100; a cancel or a failure leaves no file
// under the target name; bad arguments are refused before anything is made.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/vfw/avi_stream.h"
#include "engine/vfw/avi_testing.h"
#include "engine/vfw/vfw.h"
#include "tests/engine/vfw/avi_test_util.h"
#include "tests/support/test_paths.h"

namespace kelvora::test {
namespace {

using namespace vfw;

std::vector<int> g_reported;
int g_cancelAt = -1;  // the percentage whose report answers "stop"

LONG VFW_CALLBACK RecordProgress(int percent) {
    g_reported.push_back(percent);
    return percent == g_cancelAt ? 1 : 0;
}

class AviSave : public ::testing::Test {
  protected:
    void SetUp() override {
        g_reported.clear();
        g_cancelAt = -1;
    }
    void TearDown() override {
        SetRiffLimitForTesting(0);
        SetWriteLimitForTesting(0);
        if (stream_ != nullptr) {
            AVIStreamRelease(stream_);
        }
    }

    // Writes the source clip and opens its stream as the engine does.
    void MakeSource(const std::string& name, const std::vector<ClipFrame>& frames) {
        source_ = OutputPath(name);
        format_ = ScreenClipFormat(40, 30, 24);
        BITMAPINFOHEADER bi;
        std::memcpy(&bi, format_.data(), sizeof bi);
        frames_ = frames;
        ASSERT_EQ(WriteAvi(source_, VideoInfo(bi, 12, "MSVC"), format_, frames_), AVIERR_OK);
        ExpectFfmpegAgrees(source_);
        PAVIFILE file = nullptr;
        ASSERT_EQ(AVIFileOpenA(&file, source_.c_str(), OF_READ, nullptr), AVIERR_OK);
        ASSERT_EQ(AVIFileGetStream(file, &stream_, 0, 0), AVIERR_OK);
        AVIFileRelease(file);
    }

    HRESULT Save(const std::string& target, AVISAVECALLBACK callback = RecordProgress) {
        AVICOMPRESSOPTIONS* options[2] = {nullptr, nullptr};
        return AVISaveV(target.c_str(), nullptr, callback, 1, &stream_, options);
    }

    std::string source_;
    std::vector<std::uint8_t> format_;
    std::vector<ClipFrame> frames_;
    PAVISTREAM stream_ = nullptr;
};

std::vector<ClipFrame> GappedClip(const std::vector<LONG>& positions) {
    std::vector<ClipFrame> frames = ScreenClip(40, 30, 24, positions);
    for (size_t i = 0; i < frames.size(); ++i) {
        frames[i].key = i % 4 == 0;
    }
    return frames;
}

TEST_F(AviSave, CopyKeepsEntriesFlagsAndStreamDescription) {
    ASSERT_NO_FATAL_FAILURE(MakeSource("three.avi", ScreenClip(40, 30, 24, {0, 1, 2})));
    const std::string target = OutputPath("three_copy.avi");
    ASSERT_TRUE(WriteFileBytes(target, std::vector<std::uint8_t>(100, 7)));  // replaced
    ASSERT_EQ(Save(target), AVIERR_OK);
    EXPECT_EQ(g_reported, (std::vector<int>{0, 33, 66, 100}));
    ExpectFfmpegAgrees(target);

    AviContent want, got;
    ASSERT_EQ(ReadAvi(source_, &want), AVIERR_OK);
    ASSERT_EQ(ReadAvi(target, &got), AVIERR_OK);
    EXPECT_EQ(got.entries, want.entries);
    EXPECT_EQ(got.flags, want.flags);
    EXPECT_EQ(got.format, format_);
    EXPECT_EQ(got.info.fccHandler, kDibHandler);
    EXPECT_EQ(got.info.dwRate, 12u);
    EXPECT_EQ(got.info.dwFlags, 12u);
    EXPECT_STREQ(got.info.szName, "MSVC");
}

TEST_F(AviSave, CopyOfSeveralRiffsKeepsGapsAndKeyFlags) {
    SetRiffLimitForTesting(24 << 10);
    std::vector<LONG> positions;
    for (LONG p = 0; p < 90; p += (p % 7 == 3) ? 3 : 1) {
        positions.push_back(p);
    }
    ASSERT_NO_FATAL_FAILURE(MakeSource("riffs.avi", GappedClip(positions)));
    ASSERT_GE(ListRiffs(source_).size(), 5u);
    const std::string target = OutputPath("riffs_copy.avi");
    ASSERT_EQ(Save(target), AVIERR_OK);
    EXPECT_GE(ListRiffs(target).size(), 5u);
    ExpectFfmpegAgrees(target);

    ASSERT_FALSE(g_reported.empty());
    EXPECT_EQ(g_reported.front(), 0);
    EXPECT_EQ(g_reported.back(), 100);
    for (size_t i = 1; i < g_reported.size(); ++i) {
        EXPECT_GT(g_reported[i], g_reported[i - 1]);
    }

    AviContent want, got;
    ASSERT_EQ(ReadAvi(source_, &want), AVIERR_OK);
    ASSERT_EQ(ReadAvi(target, &got), AVIERR_OK);
    ASSERT_EQ(got.entries.size(), static_cast<size_t>(positions.back() + 1));
    EXPECT_EQ(got.entries, want.entries);
    EXPECT_EQ(got.flags, want.flags);
    size_t keys = 0, empties = 0;
    for (size_t i = 0; i < got.flags.size(); ++i) {
        keys += got.flags[i] == AVIIF_KEYFRAME;
        empties += got.entries[i].empty();
    }
    EXPECT_EQ(keys, (frames_.size() + 3) / 4);
    EXPECT_EQ(empties, got.entries.size() - frames_.size());
}

TEST_F(AviSave, CancelStopsWithUserAbortAndLeavesNoFile) {
    std::vector<LONG> positions;
    for (LONG p = 0; p < 20; ++p) {
        positions.push_back(p);
    }
    ASSERT_NO_FATAL_FAILURE(MakeSource("cancel_source.avi", GappedClip(positions)));
    for (int at : {0, 50, 100}) {
        SCOPED_TRACE(at);
        g_reported.clear();
        g_cancelAt = at;
        const std::string target = OutputPath("cancelled.avi");
        EXPECT_EQ(Save(target), AVIERR_USERABORT);
        EXPECT_EQ(g_reported.back(), at);
        EXPECT_FALSE(FileExists(target));
    }
    // Without a callback nothing can stop it.
    const std::string target = OutputPath("no_callback.avi");
    EXPECT_EQ(Save(target, nullptr), AVIERR_OK);
    ExpectFfmpegAgrees(target);
}

TEST_F(AviSave, FailuresLeaveNoFile) {
    std::vector<LONG> positions;
    for (LONG p = 0; p < 60; ++p) {
        positions.push_back(p);
    }
    ASSERT_NO_FATAL_FAILURE(MakeSource("fail_source.avi", ScreenClip(40, 30, 24, positions)));

    const std::string missingFolder = OutputPath("no such folder/copy.avi");
    EXPECT_EQ(Save(missingFolder), AVIERR_FILEOPEN);
    EXPECT_FALSE(FileExists(missingFolder));

    // A disk that fills up during the copy.
    SetWriteLimitForTesting(4096);
    const std::string full = OutputPath("disk_full.avi");
    EXPECT_EQ(Save(full), AVIERR_FILEWRITE);
    EXPECT_FALSE(FileExists(full));
    SetWriteLimitForTesting(0);

    // The source loses its last 100 KiB of frames after it was opened.
    std::vector<std::uint8_t> bytes = ReadFileBytes(source_);
    bytes.resize(bytes.size() - (100 << 10));
    ASSERT_TRUE(WriteFileBytes(source_, bytes));
    const std::string unreadable = OutputPath("source_cut.avi");
    EXPECT_EQ(Save(unreadable), AVIERR_FILEREAD);
    EXPECT_FALSE(FileExists(unreadable));
}

TEST_F(AviSave, BadArgumentsAreRefusedBeforeAFileIsMade) {
    ASSERT_NO_FATAL_FAILURE(MakeSource("args_source.avi", ScreenClip(40, 30, 24, {0})));
    const std::string target = OutputPath("refused.avi");
    std::remove(target.c_str());
    AVICOMPRESSOPTIONS* none[2] = {nullptr, nullptr};
    AVICOMPRESSOPTIONS recompress{};
    AVICOMPRESSOPTIONS* some[1] = {&recompress};
    PAVISTREAM two[2] = {stream_, stream_};
    PAVISTREAM null[1] = {nullptr};
    int dummy = 0;
    EXPECT_EQ(AVISaveV(nullptr, nullptr, nullptr, 1, &stream_, none), AVIERR_BADPARAM);
    EXPECT_EQ(AVISaveV("", nullptr, nullptr, 1, &stream_, none), AVIERR_BADPARAM);
    EXPECT_EQ(AVISaveV(target.c_str(), &dummy, nullptr, 1, &stream_, none), AVIERR_BADPARAM);
    EXPECT_EQ(AVISaveV(target.c_str(), nullptr, nullptr, 0, &stream_, none), AVIERR_BADPARAM);
    EXPECT_EQ(AVISaveV(target.c_str(), nullptr, nullptr, 1, nullptr, none), AVIERR_BADPARAM);
    EXPECT_EQ(AVISaveV(target.c_str(), nullptr, nullptr, 1, null, none), AVIERR_BADHANDLE);
    EXPECT_EQ(AVISaveV(target.c_str(), nullptr, nullptr, 2, two, none), AVIERR_UNSUPPORTED);
    EXPECT_EQ(AVISaveV(target.c_str(), nullptr, nullptr, 1, &stream_, some), AVIERR_UNSUPPORTED);
    EXPECT_FALSE(FileExists(target));
    // A null options array is the same as null entries.
    EXPECT_EQ(AVISaveV(target.c_str(), nullptr, nullptr, 1, &stream_, nullptr), AVIERR_OK);
}

}  // namespace
}  // namespace kelvora::test
