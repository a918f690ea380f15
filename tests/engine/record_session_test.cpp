// Recording sessions run on the test thread with a clock and frames the test
// controls, real compressors and real AVI files, checked by ffprobe.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "engine/recovery.h"
#include "engine/screen_camera.h"
#include "engine/vfw/avi_testing.h"
#include "engine/vfw/vfw.h"
#include "tests/engine/fake_platform.h"
#include "tests/engine/test_codecs.h"
#include "tests/support/ffmpeg.h"
#include "tests/support/test_paths.h"

namespace {

constexpr vfw::FOURCC kMsvc = vfw::mmioFOURCC('M', 'S', 'V', 'C');
constexpr const char* kError = "Ошибка записи";
constexpr const char* kQuestion = "Уведомление: Не выбран кодек. Использовать кодек по умолчанию?";

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = kelvora::test::OutputPath(
            std::string("session-") +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_ + "/temp");
        fake_.tempDirectory = dir_ + "/temp/";
        InstallPlatform(&fake_);
        test_.codecs = {
            {vfw::mmioFOURCC('T', 'A', '4', ' '), "aligned by 4", 4},
            {vfw::mmioFOURCC('T', 'A', '1', '6'), "aligned by 16", 16},
            {vfw::mmioFOURCC('T', 'F', 'M', 'T'), "no format", 1, false, false, true},
            {vfw::mmioFOURCC('T', 'O', 'P', 'N'), "query only", 1, false, true},
            {vfw::mmioFOURCC('T', 'C', 'M', 'P'), "fails at frame 3", 1, false, false, false, 3},
            {vfw::mmioFOURCC('T', 'C', 'M', '0'), "fails at once", 1, false, false, false, 0},
        };
        scoped_ = std::make_unique<ScopedTestCodecs>(test_);
        camera_ = std::make_unique<TScreenCamera>(nullptr);
        camera_->FRegionType = 3;
        camera_->FWidth = 96;
        camera_->FHeight = 64;
        camera_->FOnError = [this](TScreenCamera*, const std::string& m) { errors_.push_back(m); };
        camera_->FOnRecordStart = [this](TScreenCamera*) { ++starts_; };
        camera_->FOnRecordStop = [this](TScreenCamera*) { ++stops_; };
        camera_->FOnRecordTime = [this](TScreenCamera*) { ++ticks_; };
        camera_->FOnPreview = [this](TScreenCamera*, TBitmap* b, bool shown, bool recording) {
            previews_.push_back(b == nullptr && !shown && !recording);
        };
        camera_->GetVideoCompressors();
        StopReason = kStopNone;
        fake_.grabs.clear();
    }
    void TearDown() override {
        vfw::SetWriteLimitForTesting(0);
        camera_.reset();
        scoped_.reset();
        InstallPlatform(nullptr);
    }

    // Index of the catalogue entry whose description is `description`.
    int Slot(const std::string& description) {
        for (size_t i = 0; i < camera_->FCodecNames.size(); ++i) {
            if (camera_->FCodecNames[i] == description) {
                return static_cast<int>(i);
            }
        }
        ADD_FAILURE() << "no compressor " << description;
        return -1;
    }
    int SlotOf(vfw::FOURCC handler) {
        for (int i = 0; i < camera_->FCodecCount; ++i) {
            if (camera_->FCodecs[static_cast<size_t>(i)].fccHandler == handler) {
                return i;
            }
        }
        ADD_FAILURE() << "no compressor " << handler;
        return -1;
    }

    // Stops the recording (keep) once `loopGrabs` grabs of the loop were made;
    // grabs before the loop (the test frame and size trials) do not count.
    void StopAfter(int loopGrabs) {
        fake_.onGrab = [this, loopGrabs](int) {
            if (starts_ > 0 && ++loopGrabs_ >= loopGrabs) {
                camera_->StopRecording();
            }
            return true;
        };
    }

    // The copy into the user's file fails as on a full disk: writes stop
    // once the copy begins (the recording itself is complete by then).
    void FailTheCopy() {
        camera_->FOnProgress = [](TScreenCamera*, std::int32_t, const std::string& caption, bool&) {
            if (caption == "Saving Video...") {
                vfw::SetWriteLimitForTesting(1);
            }
        };
    }

    std::int32_t Run(const std::string& name = "out.avi") {
        target_ = dir_ + "/" + name;
        camera_->FRecording = true;
        return camera_->RecordAVI(target_);
    }

    FakePlatform fake_;
    TestCodecProvider test_;
    std::unique_ptr<ScopedTestCodecs> scoped_;
    std::unique_ptr<TScreenCamera> camera_;
    std::string dir_;
    std::string target_;
    std::vector<std::string> errors_;
    std::vector<bool> previews_;
    int starts_ = 0, stops_ = 0, ticks_ = 0, loopGrabs_ = 0;
};

TEST_F(SessionTest, FastGrabsWriteOneFramePerSlot) {
    camera_->FCodecIndex = SlotOf(vfw::mmioFOURCC('D', 'I', 'B', ' '));
    fake_.step = 10;  // every grab takes 10 ms; slots are 25 ms
    StopAfter(40);
    ASSERT_EQ(Run(), 1);
    // The loop rests until the next slot instead of grabbing again: each of
    // the 40 grabs is a frame of its own slot.
    EXPECT_EQ(camera_->FFramesDropped, 0);
    EXPECT_EQ(camera_->FCurrentFrame, 39);
    EXPECT_EQ(camera_->FFramesWritten, 40);
    EXPECT_DOUBLE_EQ(camera_->FLastFrameInterval, 25);
    EXPECT_EQ(ticks_, 13) << "at most once per 50 ms of the 1 s";
    const kelvora::test::VideoProbe p = kelvora::test::ProbeVideo(target_);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.frames, 40);
    EXPECT_EQ(p.entries, 40);
    EXPECT_EQ(p.width, 96);
    EXPECT_EQ(p.height, 64);
    EXPECT_EQ(p.rateNum, 40);
    EXPECT_EQ(starts_, 1);
    EXPECT_EQ(stops_, 1);
    EXPECT_TRUE(errors_.empty());
    EXPECT_EQ(fake_.framesLive, 0);
}

TEST_F(SessionTest, SlowGrabsSkipPositionsAndCountThem) {
    camera_->FCodecIndex = SlotOf(vfw::mmioFOURCC('D', 'I', 'B', ' '));
    fake_.step = 80;
    StopAfter(4);
    ASSERT_EQ(Run(), 1);
    // Grabs at 80, 160, 240, 320 ms land at 3, 6, 10, 13.
    EXPECT_EQ(camera_->FCurrentFrame, 13);
    EXPECT_EQ(camera_->FFramesWritten, 4);
    EXPECT_EQ(camera_->FFramesDropped, 2 + 2 + 3 + 2);
    const kelvora::test::VideoProbe p = kelvora::test::ProbeVideo(target_);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.entries, 14) << "the stream is last position + 1 long";
    EXPECT_EQ(kelvora::test::PacketTimes(target_), (std::vector<long long>{3, 6, 10, 13}));
}

TEST_F(SessionTest, FirstFrameInSlotThreeIsWrittenThere) {
    camera_->FCodecIndex = SlotOf(vfw::mmioFOURCC('D', 'I', 'B', ' '));
    fake_.step = 75;
    StopAfter(1);
    ASSERT_EQ(Run(), 1);
    EXPECT_EQ(camera_->FCurrentFrame, 3);
    EXPECT_EQ(camera_->FFramesWritten, 1);
    EXPECT_EQ(camera_->FFramesDropped, 2);
    EXPECT_EQ(kelvora::test::ProbeVideo(target_).entries, 4);
    EXPECT_EQ(kelvora::test::PacketTimes(target_), std::vector<long long>{3});
}

TEST_F(SessionTest, TimedStopsEndTheSessionAndKeepIt) {
    camera_->FCodecIndex = SlotOf(vfw::mmioFOURCC('D', 'I', 'B', ' '));
    camera_->FTimerCapture = TTimerCapture{1, 0, 0, 0};
    fake_.step = 10;
    ASSERT_EQ(Run("zero.avi"), 1);
    EXPECT_EQ(camera_->FFramesWritten, 1) << "stops in its first turn";
    EXPECT_EQ(StopReason.load(), kStopKeep);
    EXPECT_TRUE(std::filesystem::exists(target_));

    camera_->FTimerCapture = TTimerCapture{1, 1, 30, 0};
    camera_->FMSPFRecord = 1000;
    fake_.step = 60000;  // a minute per grab
    ASSERT_EQ(Run("ninety.avi"), 1);
    EXPECT_EQ(camera_->FFramesWritten, 90);
    EXPECT_EQ(camera_->FRecordTimeText.get(), "1:30:0");
    EXPECT_EQ(kelvora::test::ProbeVideo(target_).entries, 5401);
    const std::vector<long long> times = kelvora::test::PacketTimes(target_);
    ASSERT_EQ(times.size(), 90u);
    EXPECT_EQ(times.front(), 60);
    EXPECT_EQ(times.back(), 5400);
}

TEST_F(SessionTest, RecordTimeTextReadsHoursMinutesSeconds) {
    camera_->FCodecIndex = SlotOf(vfw::mmioFOURCC('D', 'I', 'B', ' '));
    camera_->FMSPFRecord = 1000;
    fake_.step = 3725000;
    StopAfter(1);
    ASSERT_EQ(Run(), 1);
    EXPECT_EQ(camera_->FRecordTimeText.get(), "1:2:5");
}

TEST_F(SessionTest, FollowMouseCentresTheAreaWithoutClamping) {
    camera_->FCodecIndex = SlotOf(vfw::mmioFOURCC('D', 'I', 'B', ' '));
    camera_->FFollowMouse = true;
    camera_->FWidth = 300;
    camera_->FHeight = 300;
    fake_.cursorX = 10;
    fake_.cursorY = 501;
    fake_.step = 10;
    StopAfter(2);
    ASSERT_EQ(Run(), 1);
    const FakePlatform::Grab& last = fake_.grabs.back();
    EXPECT_EQ(last.left, -140);
    EXPECT_EQ(last.top, 351);
    EXPECT_EQ(camera_->FLeft, -140);
}

TEST_F(SessionTest, SizeIsAdjustedToWhatTheCompressorTakes) {
    camera_->FCodecIndex = SlotOf(kMsvc);
    camera_->FWidth = 301;
    camera_->FHeight = 299;
    fake_.step = 10;
    StopAfter(3);
    ASSERT_EQ(Run(), 1);
    // 301 x 299 and 302 x 300 are refused, 304 x 300 is taken.
    ASSERT_GE(fake_.grabs.size(), 3u);
    EXPECT_EQ(fake_.grabs[0].width, 301);
    EXPECT_EQ(fake_.grabs[1].width, 302);
    EXPECT_EQ(fake_.grabs[1].height, 300);
    EXPECT_EQ(fake_.grabs[2].width, 304);
    EXPECT_EQ(fake_.grabs[2].height, 300);
    EXPECT_EQ(camera_->FWidth, 304);
    EXPECT_EQ(camera_->FHeight, 300);
    EXPECT_EQ(camera_->FFrameWidth, 304);
    EXPECT_EQ(camera_->FLeft, 0);
    EXPECT_EQ(camera_->FCodecName.get(), "MS Video Codec");
    const kelvora::test::VideoProbe p = kelvora::test::ProbeVideo(target_);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.codecName, "msvideo1");
    EXPECT_EQ(p.width, 304);
    EXPECT_EQ(p.height, 300);

    // Rounding up would pass the screen's bottom: round down instead.
    fake_.grabs.clear();
    camera_->FScreenHeight = 766;
    camera_->FWidth = 300;
    camera_->FHeight = 765;
    ASSERT_EQ(Run("tall.avi"), 1);
    EXPECT_EQ(camera_->FHeight, 764);
    EXPECT_EQ(camera_->FWidth, 300);
}

TEST_F(SessionTest, MissingTestFrameFailsWithoutStopping) {
    camera_->FCodecIndex = SlotOf(kMsvc);
    fake_.onGrab = [](int) { return false; };
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(errors_, std::vector<std::string>{kError});
    EXPECT_TRUE(camera_->FRecording) << "flags stay until the thread ends";
    EXPECT_EQ(StopReason.load(), kStopNone);
    EXPECT_EQ(fake_.restores, 1);
    EXPECT_FALSE(std::filesystem::exists(VideoTempFile.get()));
}

TEST_F(SessionTest, NoCompressorChosenIsAFailureStop) {
    camera_->FCodecIndex = -1;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(errors_, std::vector<std::string>{kError});
    EXPECT_FALSE(camera_->FRecording);
    EXPECT_EQ(StopReason.load(), kStopDiscard);
    EXPECT_EQ(previews_, std::vector<bool>{true});
    EXPECT_FALSE(std::filesystem::exists(VideoTempFile.get())) << "no temporary file";
    EXPECT_EQ(fake_.framesLive, 0);
    EXPECT_EQ(starts_ + stops_, 0);
}

TEST_F(SessionTest, CompressorThatCannotBeUsedFallsBackToTheDefault) {
    // An index outside the catalogue, and a compressor that takes none of
    // 97, 98, 100 and 104 pixels of width.
    for (int index : {99, Slot("aligned by 16")}) {
        SCOPED_TRACE(index);
        errors_.clear();
        camera_->FWidth = 97;
        camera_->FCodecIndex = index;
        camera_->FVideoCodecHandler = 0;
        camera_->FCodecName = "x";
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(errors_, std::vector<std::string>{kError});
        EXPECT_EQ(camera_->FVideoCodecHandler, kMsvc);
        EXPECT_EQ(camera_->FCodecName.get(), "MS Video Codec");
        EXPECT_EQ(StopReason.load(), kStopDiscard);
        EXPECT_EQ(fake_.framesLive, 0);
    }
}

TEST_F(SessionTest, SetUpFailuresAskForTheDefaultCompressor) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
    };
    const std::string lockedTemp = VideoTempFile;
    const std::vector<Case> cases = {
        {"temporary file cannot be wiped",
         [&] {
             std::ofstream(lockedTemp) << "held";
             fake_.locked.insert(lockedTemp);
             fake_.failDeleteAtRestart = true;
             camera_->FCodecIndex = Slot("aligned by 4");
         }},
        {"file cannot be created",
         [&] {
             fake_.locked.clear();
             std::filesystem::remove(lockedTemp);
             std::filesystem::remove_all(dir_ + "/temp");  // no folder to create it in
             camera_->FCodecIndex = Slot("aligned by 4");
         }},
        {"compressed stream refused",
         [&] {
             std::filesystem::create_directories(dir_ + "/temp");
             camera_->FCodecIndex = Slot("query only");
         }},
        {"format refused", [&] { camera_->FCodecIndex = Slot("no format"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        errors_.clear();
        fake_.questions.clear();
        starts_ = stops_ = 0;
        fake_.answerYes = false;
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(errors_, (std::vector<std::string>{kError, kError}));
        EXPECT_EQ(fake_.questions, std::vector<std::string>{kQuestion});
        EXPECT_EQ(starts_, 0);
        EXPECT_EQ(stops_, 1);
        EXPECT_EQ(StopReason.load(), kStopDiscard);
        EXPECT_FALSE(std::filesystem::exists(target_));
        EXPECT_EQ(fake_.framesLive, 0);
    }
}

TEST_F(SessionTest, FolderAtTheTemporaryNameIsRefusedWithoutTheQuestion) {
    namespace fs = std::filesystem;
    camera_->FCodecIndex = SlotOf(vfw::mmioFOURCC('D', 'I', 'B', ' '));
    const std::string temp = VideoTempFile;
    fs::create_directory(temp);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(errors_, std::vector<std::string>{std::string(kError) +
                                                "\nНе удалось создать временный файл записи " +
                                                temp + ": под этим именем находится папка."});
    EXPECT_TRUE(fake_.questions.empty()) << "no compressor is to blame";
    EXPECT_EQ(StopReason.load(), kStopDiscard);
    EXPECT_FALSE(camera_->FRecording.load());
    EXPECT_TRUE(fs::is_directory(temp));

    // In the sound file's place they cost the sound only, and a link is
    // never written through.
    fs::remove(temp);
    const std::string sound = AudioTempFile, other = dir_ + "/other.txt";
    std::ofstream(other) << "someone's file";
    camera_->FCodecIndex = SlotOf(kMsvc);
    camera_->FRecordAudio = true;
    fake_.step = 10;
    for (const bool folder : {true, false}) {
        SCOPED_TRACE(folder ? "folder" : "link");
        fs::remove(sound);
        if (folder) {
            fs::create_directory(sound);
        } else {
            fs::create_symlink(other, sound);
        }
        errors_.clear();
        loopGrabs_ = starts_ = 0;
        StopAfter(6);
        ASSERT_EQ(Run(folder ? "folder.avi" : "link.avi"), 1);
        EXPECT_TRUE(errors_.empty()) << errors_[0];
        EXPECT_TRUE(kelvora::test::ProbeVideo(target_).ok);
        EXPECT_EQ(kelvora::test::ProbeAudio(target_).ok, !folder);
        EXPECT_EQ(fs::is_directory(sound), folder);
    }
    std::ifstream kept(other);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "someone's file");
}

TEST_F(SessionTest, WithTheDefaultCompressorAlreadyInUseThereIsNoQuestion) {
    std::ofstream(VideoTempFile.get()) << "held";
    fake_.locked.insert(VideoTempFile);
    fake_.failDeleteAtRestart = true;
    camera_->FCodecIndex = SlotOf(kMsvc);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(errors_, (std::vector<std::string>{kError, kError}));
    EXPECT_TRUE(fake_.questions.empty());
    EXPECT_FALSE(camera_->FRecording);
}

TEST_F(SessionTest, AcceptingTheDefaultCompressorRecordsAgainWithIt) {
    camera_->FCodecIndex = Slot("no format");
    fake_.answerYes = true;
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(StopReason.load(), kStopDiscard);
    EXPECT_EQ(camera_->FVideoCodecHandler, kMsvc);
    // The repeated run records with 'MSVC' although the catalogue entry has
    // not changed.
    errors_.clear();
    fake_.step = 10;
    StopAfter(10);
    EXPECT_EQ(camera_->RecordAVI(target_), 1);
    EXPECT_TRUE(errors_.empty());
    const kelvora::test::VideoProbe p = kelvora::test::ProbeVideo(target_);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.codecName, "msvideo1");
}

TEST_F(SessionTest, FirstFrameRefusedEndsTheSessionWithTheQuestion) {
    camera_->FCodecIndex = Slot("fails at once");
    fake_.step = 10;
    EXPECT_EQ(Run(), 0);
    // The write's error, then the question, then the failure stop's.
    EXPECT_EQ(errors_, (std::vector<std::string>{kError, kError}));
    EXPECT_EQ(fake_.questions.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(target_)) << "nothing is saved";
    EXPECT_EQ(fake_.framesLive, 0);
}

// A write refused once frames are in the file: one message saying where the
// recording is, no question, no retry that would wipe it.
TEST_F(SessionTest, WriteRefusedAfterFramesKeepsWhatWasRecorded) {
    camera_->FCodecIndex = Slot("fails at frame 3");
    fake_.step = 10;
    EXPECT_EQ(Run(), 0);
    const std::string kept = dir_ + "/out.avi";  // the name it was to have
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(errors_[0].rfind(kError, 0), 0u);
    EXPECT_NE(errors_[0].find(kept), std::string::npos) << errors_[0];
    EXPECT_TRUE(fake_.questions.empty());
    EXPECT_FALSE(camera_->FRecording);
    EXPECT_EQ(StopReason.load(), kStopDiscard);
    EXPECT_EQ(kelvora::test::ProbeVideo(kept).frames, 3);
}

// The disk fills up while the last frames or the indexes are written: the
// session learns of it and keeps what reached the file.
TEST_F(SessionTest, FullDiskAtTheEndIsReportedAndTheRecordingKept) {
    camera_->FCodecIndex = SlotOf(vfw::mmioFOURCC('D', 'I', 'B', ' '));
    camera_->FWidth = 640;
    camera_->FHeight = 480;  // 1.2 MB frames: the writer's buffer fills often
    fake_.step = 25;
    StopAfter(30);
    std::uint64_t whole = 0;  // the temporary file once complete
    camera_->FOnRecordStop = [&](TScreenCamera*) {
        whole = std::filesystem::file_size(VideoTempFile.get());
    };
    ASSERT_EQ(Run("whole.avi"), 1);
    camera_->FOnRecordStop = nullptr;
    for (std::uint64_t limit : {whole - 64, whole - (5u << 20)}) {
        SCOPED_TRACE(limit);
        errors_.clear();
        loopGrabs_ = starts_ = 0;  // the same frames as the whole run
        vfw::SetWriteLimitForTesting(limit);
        const std::string name = "full-" + std::to_string(limit) + ".avi";
        EXPECT_EQ(Run(name), 0);
        vfw::SetWriteLimitForTesting(0);
        const std::string kept = dir_ + "/full-" + std::to_string(limit) + ".avi";
        ASSERT_EQ(errors_.size(), 1u);
        EXPECT_NE(errors_[0].find(kept), std::string::npos) << errors_[0];
        EXPECT_TRUE(fake_.questions.empty());
        ASSERT_TRUE(std::filesystem::exists(kept));
        EXPECT_GT(std::filesystem::file_size(kept), 4u << 20);
    }
}

// A killed recording loses at most its last second: while the loop still
// runs, the frames of its first second can be read from the temporary file,
// although they fill only a part of the writer's buffer.
TEST_F(SessionTest, FramesReachTheTemporaryFileWhileRecording) {
    camera_->FCodecIndex = SlotOf(vfw::mmioFOURCC('D', 'I', 'B', ' '));
    camera_->FMSPFRecord = 50;
    fake_.step = 50;  // one clock reading and one frame per pass: 40 passes are 2 s
    vfw::LONG readable = -1, lastBytes = 0;
    fake_.onGrab = [&](int) {
        if (starts_ > 0 && ++loopGrabs_ == 40) {
            // The flushes of 0.5, 1 and 1.5 s were queued behind the frames
            // before them; three writes later the compression thread is past
            // them, so this reads no earlier than it could.
            vfw::PAVIFILE file = nullptr;
            vfw::PAVISTREAM stream = nullptr;
            if (vfw::AVIFileOpenA(&file, VideoTempFile.get().c_str(), vfw::OF_READ, nullptr) ==
                    vfw::AVIERR_OK &&
                vfw::AVIFileGetStream(file, &stream, 0, 0) == vfw::AVIERR_OK) {
                readable = vfw::AVIStreamLength(stream);
                EXPECT_EQ(
                    vfw::AVIStreamRead(stream, readable - 1, 1, nullptr, 0, &lastBytes, nullptr),
                    vfw::AVIERR_OK);
                vfw::AVIStreamRelease(stream);
            }
            vfw::AVIFileRelease(file);
            camera_->StopRecording();
        }
        return true;
    };
    ASSERT_EQ(Run(), 1);
    EXPECT_GE(readable, 31) << "the entries up to 1.5 s";
    EXPECT_EQ(lastBytes, 96 * 64 * 4);
    EXPECT_EQ(camera_->FFramesWritten, 40);
    EXPECT_TRUE(errors_.empty());
}

TEST_F(SessionTest, ChangedAreaDuringTheRecordingKeepsTheFrameSize) {
    camera_->FCodecIndex = SlotOf(vfw::mmioFOURCC('D', 'I', 'B', ' '));
    fake_.step = 10;
    fake_.onGrab = [this](int) {
        if (starts_ > 0 && ++loopGrabs_ == 3) {
            camera_->FWidth = 200;  // as the timer does for a full-screen area
            camera_->FHeight = 100;
        }
        if (loopGrabs_ == 8) {
            camera_->StopRecording();
        }
        return true;
    };
    ASSERT_EQ(Run(), 1);
    for (const FakePlatform::Grab& g : fake_.grabs) {
        EXPECT_EQ(g.width, 96);
        EXPECT_EQ(g.height, 64);
    }
    const kelvora::test::VideoProbe p = kelvora::test::ProbeVideo(target_);
    EXPECT_EQ(p.width, 96);
    EXPECT_EQ(p.frames, camera_->FFramesWritten);
    EXPECT_TRUE(errors_.empty());
}

// A grab that fails inside the loop keeps what was recorded, as a refused
// write does, whatever the stop reason an earlier recording left (none in
// the run's first recording).
TEST_F(SessionTest, FrameLostInTheLoopKeepsWhatWasRecorded) {
    camera_->FCodecIndex = SlotOf(vfw::mmioFOURCC('D', 'I', 'B', ' '));
    fake_.step = 10;
    fake_.onGrab = [this](int) { return starts_ == 0 || ++loopGrabs_ < 5; };
    for (const std::uint8_t left : {kStopNone, kStopKeep, kStopDiscard}) {
        SCOPED_TRACE(static_cast<int>(left));
        StopReason = left;
        loopGrabs_ = starts_ = 0;
        errors_.clear();
        const std::string name = "lost-" + std::to_string(left) + ".avi";
        EXPECT_EQ(Run(name), 0);
        ASSERT_EQ(errors_.size(), 1u);
        EXPECT_EQ(errors_[0], std::string(kError) + "\nНе удалось снять кадр с экрана.\n" +
                                  "Запись сохранена в файле " + target_);
        const kelvora::test::VideoProbe p = kelvora::test::ProbeVideo(target_);
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_EQ(p.entries, camera_->FCurrentFrame + 1);
        EXPECT_FALSE(camera_->FRecording);
        EXPECT_TRUE(fake_.questions.empty());
    }
}

TEST_F(SessionTest, DiscardedRecordingLeavesNoUserFile) {
    camera_->FCodecIndex = SlotOf(kMsvc);
    fake_.step = 10;
    fake_.onGrab = [this](int) {
        if (starts_ > 0 && ++loopGrabs_ == 5) {
            StopReason = kStopDiscard;
            camera_->FRecording = false;
        }
        return true;
    };
    EXPECT_EQ(Run(), 1);
    EXPECT_FALSE(std::filesystem::exists(target_));
    EXPECT_TRUE(errors_.empty());
}

// A file the user has under the recording's name (two recordings started in
// one second, a clock set back) stays as it is: the recording takes the
// next free name. The copy is on the disk before the caller wipes its source.
TEST_F(SessionTest, SaveReportsProgressAndKeepsAnOldFileOfThatName) {
    camera_->FCodecIndex = SlotOf(kMsvc);
    std::vector<std::pair<int, std::string>> progress;
    camera_->FOnProgress = [&](TScreenCamera*, std::int32_t p, const std::string& c, bool&) {
        progress.emplace_back(p, c);
    };
    std::ofstream(dir_ + "/out.avi") << "an older file of that name";
    std::ofstream(dir_ + "/out (2).avi") << "and one more";
    fake_.step = 10;
    StopAfter(50);
    const unsigned syncs = vfw::DiskSyncsForTesting();
    ASSERT_EQ(Run(), 1);
    EXPECT_EQ(vfw::DiskSyncsForTesting() - syncs, 1u) << "the copy reached the disk";
    EXPECT_TRUE(errors_.empty());
    EXPECT_EQ(kelvora::test::ProbeVideo(dir_ + "/out (3).avi").frames, 50);
    std::ifstream old(target_);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "an older file of that name");
    // The copy's percentages rising to 100, the final 100; nothing wiped.
    EXPECT_EQ(std::count(progress.begin(), progress.end(),
                         std::make_pair(4, std::string("Delete Temp File"))),
              0);
    int last = -1;
    for (const auto& p : progress) {
        if (p.second == "Saving Video...") {
            EXPECT_GE(p.first, last);
            last = p.first;
        }
    }
    EXPECT_EQ(last, 100);
    EXPECT_EQ(progress.back(), std::make_pair(100, std::string()));
    camera_->FOnProgress = nullptr;  // `progress` ends here; the camera lives on
}

TEST_F(SessionTest, CancelledSaveLeavesNoRecording) {
    camera_->FCodecIndex = SlotOf(kMsvc);
    camera_->FOnProgress = [](TScreenCamera*, std::int32_t, const std::string& c, bool& go) {
        if (c == "Saving Video...") {
            go = false;
        }
    };
    fake_.step = 10;
    StopAfter(10);
    ASSERT_EQ(Run(), 1);
    EXPECT_TRUE(errors_.empty()) << "a cancel is not an error";
    EXPECT_FALSE(std::filesystem::exists(target_));
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
        EXPECT_EQ(entry.path().filename().string().find("out ("), std::string::npos);
    }
}

// The disk fills up during the copy: the copy is removed and the recording
// itself is moved to the name it was to have.
TEST_F(SessionTest, FailedSaveKeepsTheRecordingBesideTheTarget) {
    camera_->FCodecIndex = SlotOf(kMsvc);
    camera_->FRecordAudio = true;
    std::ofstream(dir_ + "/out.wav") << "the user's own";
    FailTheCopy();
    fake_.step = 10;
    StopAfter(12);
    ASSERT_EQ(Run(), 1);
    vfw::SetWriteLimitForTesting(0);
    const std::string kept = dir_ + "/out.avi";
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(errors_[0].rfind(kError, 0), 0u);
    EXPECT_NE(errors_[0].find(kept), std::string::npos) << errors_[0];
    const kelvora::test::VideoProbe p = kelvora::test::ProbeVideo(kept);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.entries, camera_->FCurrentFrame + 1);
    EXPECT_FALSE(std::filesystem::exists(VideoTempFile.get()));
    // The sound beside it under the next free name: nothing replaced.
    const std::string keptSound = dir_ + "/out (2).wav";
    EXPECT_NE(errors_[0].find("Звук сохранён в файле " + keptSound), std::string::npos)
        << errors_[0];
    const kelvora::test::AudioProbe a = kelvora::test::ProbeAudio(keptSound);
    ASSERT_TRUE(a.ok) << a.error;
    std::vector<std::int16_t> samples;
    ASSERT_TRUE(kelvora::test::DecodeAudioS16(keptSound, &samples));
    EXPECT_EQ(static_cast<long long>(samples.size()),
              p.entries * 25 * a.sampleRate / 1000 * a.channels);
    std::ifstream old(dir_ + "/out.wav");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "the user's own");
}

TEST_F(SessionTest, FailedSaveKeepsTheRecordingInTheTemporaryFolderWhenNeeded) {
    camera_->FCodecIndex = SlotOf(kMsvc);
    const std::string missing = dir_ + "/no-such-folder";
    fake_.refuseRename = [&](const std::string& to) { return to.rfind(missing, 0) == 0; };
    fake_.step = 10;
    StopAfter(8);
    const std::string video = VideoTempFile;
    ASSERT_EQ(Run("no-such-folder/out.avi"), 1);
    const std::string kept = video.substr(0, video.find_last_of("\\/") + 1) + "Kelvora out.avi";
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_NE(errors_[0].find(kept), std::string::npos) << errors_[0];
    EXPECT_TRUE(kelvora::test::ProbeVideo(kept).ok);
    // One move tried in the folder that refused it: each try may copy the
    // whole recording to another volume.
    EXPECT_EQ(std::count_if(fake_.renames.begin(), fake_.renames.end(),
                            [&](const std::string& to) { return to.rfind(missing, 0) == 0; }),
              1);
}

// The old file of the same name is held open by another program: it is
// neither touched nor the recording lost; the recording takes the next name.
TEST_F(SessionTest, HeldTargetFileIsNotOverwritten) {
    camera_->FCodecIndex = SlotOf(kMsvc);
    target_ = dir_ + "/out.avi";
    std::ofstream(target_) << "held by a player";
    fake_.locked.insert(target_);
    fake_.step = 10;
    StopAfter(6);
    ASSERT_EQ(Run(), 1);
    EXPECT_TRUE(errors_.empty());
    EXPECT_TRUE(kelvora::test::ProbeVideo(dir_ + "/out (2).avi").ok);
    std::ifstream old(target_);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "held by a player");
}

// Neither folder takes the recording: the message never names the
// temporary file, which is wiped.
TEST_F(SessionTest, RecordingThatCannotBeKeptIsNotPromised) {
    camera_->FCodecIndex = SlotOf(kMsvc);
    FailTheCopy();
    fake_.refuseRename = [](const std::string&) { return true; };
    fake_.step = 10;
    StopAfter(4);
    ASSERT_EQ(Run(), 1);
    vfw::SetWriteLimitForTesting(0);
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_NE(errors_[0].find("Запись сохранить не удалось."), std::string::npos) << errors_[0];
    EXPECT_EQ(errors_[0].find("~vstream"), std::string::npos) << errors_[0];
}

TEST_F(SessionTest, UnreadableTemporaryFileIsReportedOnce) {
    camera_->FCodecIndex = SlotOf(kMsvc);
    camera_->FOnRecordStop = [](TScreenCamera*) {
        std::ofstream(VideoTempFile.get(), std::ios::trunc) << "not a recording";
    };
    fake_.step = 10;
    StopAfter(4);
    ASSERT_EQ(Run(), 1);
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_NE(errors_[0].find(dir_ + "/out.avi"), std::string::npos) << errors_[0];
}

// The worker, as StartRecording runs it: an exception on its way is a
// failed recording, and the camera records again afterwards.
class WorkerTest : public SessionTest {
  protected:
    void WaitForWorker() {
        while (camera_->FRecordThread != nullptr) {
            fake_.RunUiWork();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
};

TEST_F(WorkerTest, ThrownAllocationFailsTheRecordingOnly) {
    camera_->FCodecIndex = SlotOf(kMsvc);
    fake_.step = 10;
    fake_.onGrab = [this](int) -> bool {
        if (starts_ > 0 && ++loopGrabs_ == 3) {
            throw std::bad_alloc();
        }
        return true;
    };
    ASSERT_TRUE(camera_->StartRecording(dir_ + "/a.avi"));
    WaitForWorker();
    EXPECT_EQ(errors_, std::vector<std::string>{kError});
    EXPECT_FALSE(camera_->FRecording);
    EXPECT_EQ(fake_.framesLive, 0);

    StopAfter(5);
    loopGrabs_ = 0;
    ASSERT_TRUE(camera_->StartRecording(dir_ + "/b.avi"));
    WaitForWorker();
    EXPECT_TRUE(kelvora::test::ProbeVideo(dir_ + "/b.avi").ok);
}

// A recording the user discarded (Esc while it records), whose temporary
// file another program holds so that it cannot be wiped, is never offered
// back as a cut-off recording at the next start.
TEST_F(WorkerTest, DiscardedRecordingThatCannotBeWipedIsNeverRecovered) {
    camera_->FCodecIndex = SlotOf(kMsvc);
    fake_.step = 10;
    const std::string temp = VideoTempFile;
    fake_.onGrab = [&](int) {
        if (starts_ > 0 && ++loopGrabs_ == 10) {
            fake_.locked.insert(temp);  // a virus scanner, say
            StopReason = kStopDiscard;  // as the camera's Esc does
            camera_->FRecording = false;
        }
        return true;
    };
    ASSERT_TRUE(camera_->StartRecording(dir_ + "/discarded.avi"));
    WaitForWorker();
    ASSERT_TRUE(std::filesystem::exists(temp)) << "the wipe was to fail";
    std::string recovered;
    EXPECT_EQ(RecoverLeftoverRecording(temp, dir_, dir_, "stamp", &recovered),
              RecoveryResult::NothingToRecover);
    EXPECT_TRUE(recovered.empty());
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/discarded.avi"));

    // Once the other program lets go, the wipe takes the file and its mark.
    fake_.locked.clear();
    EXPECT_TRUE(WipeLeftoverRecording(temp));
    EXPECT_TRUE(std::filesystem::is_empty(dir_ + "/temp"));
}

// The default compressor accepted for a run that then fails early is not
// used by the user's next recording.
TEST_F(WorkerTest, AcceptedDefaultCompressorDoesNotOutliveItsRun) {
    camera_->FCodecIndex = Slot("no format");
    fake_.answerYes = true;
    // The retry's test frame cannot be grabbed.
    fake_.onGrab = [this](int) { return fake_.questions.empty(); };
    ASSERT_TRUE(camera_->StartRecording(dir_ + "/a.avi"));
    WaitForWorker();
    ASSERT_EQ(fake_.questions.size(), 1u);

    errors_.clear();
    fake_.onGrab = nullptr;
    camera_->FCodecIndex = -1;
    ASSERT_TRUE(camera_->StartRecording(dir_ + "/b.avi"));
    WaitForWorker();
    EXPECT_EQ(errors_, std::vector<std::string>{kError}) << "no compressor chosen";
    EXPECT_EQ(starts_, 0);
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/b.avi"));
}

}  // namespace

// A device that cannot be had costs the picture nothing: the recording is
// saved with a silent sound stream as long as the picture, and the problem
// is raised once. (The native build has no sound device at all.)
TEST_F(SessionTest, SoundWithoutADeviceIsSilenceAsLongAsThePicture) {
    camera_->FCodecIndex = SlotOf(kMsvc);
    camera_->FRecordAudio = true;
    camera_->FAudioDevice = "Микрофон, которого нет";
    std::vector<std::string> problems;
    camera_->FOnSoundProblem = [&](TScreenCamera*, const std::string& r) { problems.push_back(r); };
    fake_.step = 10;
    StopAfter(120);
    ASSERT_EQ(Run(), 1);
    camera_->FOnSoundProblem = nullptr;
    EXPECT_TRUE(errors_.empty());
    EXPECT_EQ(problems, std::vector<std::string>{"нет устройства записи звука"});
    const kelvora::test::VideoProbe video = kelvora::test::ProbeVideo(target_);
    const kelvora::test::AudioProbe audio = kelvora::test::ProbeAudio(target_);
    ASSERT_TRUE(video.ok && audio.ok) << video.error << audio.error;
    EXPECT_EQ(audio.codecName, "pcm_s16le");
    // 25 ms slots played at 40 frames a second: the sound is the slots' length.
    EXPECT_EQ(audio.blocks, video.entries * 25 * audio.sampleRate / 1000);
    std::vector<std::int16_t> samples;
    ASSERT_TRUE(kelvora::test::DecodeAudioS16(target_, &samples));
    EXPECT_EQ(std::count(samples.begin(), samples.end(), 0), static_cast<long>(samples.size()));
}
