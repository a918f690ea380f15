// The compressing stream: what AVIMakeCompressedStream answers, and what the
// file holds after frames were written through it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "engine/vfw/compressed_stream.h"
#include "engine/vfw/ic_provider.h"
#include "engine/vfw/vfw.h"
#include "tests/engine/test_codecs.h"
#include "tests/engine/vfw/avi_test_util.h"
#include "tests/support/ffmpeg.h"
#include "tests/support/test_paths.h"

namespace {

using kelvora::test::ScreenClip;
using kelvora::test::ScreenClipFormat;
using vfw::mmioFOURCC;

constexpr vfw::FOURCC kZmbv = mmioFOURCC('Z', 'M', 'B', 'V');
constexpr vfw::FOURCC kMsvc = mmioFOURCC('M', 'S', 'V', 'C');

// A file with one stream, opened for writing, and a compressing stream on it.
class CompressedStreamTest : public ::testing::Test {
protected:
    void Open(const std::string& name, vfw::FOURCC handler, vfw::DWORD keyEvery = 15) {
        path_ = kelvora::test::OutputPath(name);
        ASSERT_EQ(vfw::AVIFileOpenA(&file_, path_.c_str(), vfw::OF_CREATE | vfw::OF_WRITE,
                                    nullptr),
                  vfw::AVIERR_OK);
        vfw::AVISTREAMINFOA info{};
        info.fccType = vfw::streamtypeVIDEO;
        info.fccHandler = handler;
        info.dwScale = 1;
        info.dwRate = 25;
        ASSERT_EQ(vfw::AVIFileCreateStreamA(file_, &source_, &info), vfw::AVIERR_OK);
        options_.fccType = vfw::streamtypeVIDEO;
        options_.fccHandler = handler;
        options_.dwKeyFrameEvery = keyEvery;
        options_.dwQuality = 9000;
        options_.dwFlags = vfw::AVICOMPRESSF_KEYFRAMES | vfw::AVICOMPRESSF_VALID;
        ASSERT_EQ(vfw::AVIMakeCompressedStream(&compressed_, source_, &options_, nullptr),
                  vfw::AVIERR_OK);
    }
    void Close() {
        // The session's order: source, then the compressing stream, then the file.
        if (source_ != nullptr) {
            vfw::AVIStreamRelease(source_);
        }
        if (compressed_ != nullptr) {
            vfw::AVIStreamRelease(compressed_);
        }
        if (file_ != nullptr) {
            vfw::AVIFileRelease(file_);
        }
        source_ = compressed_ = nullptr;
        file_ = nullptr;
    }
    void TearDown() override { Close(); }

    std::string path_;
    vfw::PAVIFILE file_ = nullptr;
    vfw::PAVISTREAM source_ = nullptr;
    vfw::PAVISTREAM compressed_ = nullptr;
    vfw::AVICOMPRESSOPTIONS options_{};
};

TEST_F(CompressedStreamTest, RefusesWhatItCannotDo) {
    Open("refusals.avi", kMsvc);
    vfw::PAVISTREAM out = nullptr;
    EXPECT_EQ(vfw::AVIMakeCompressedStream(nullptr, source_, &options_, nullptr),
              vfw::AVIERR_BADPARAM);
    EXPECT_EQ(vfw::AVIMakeCompressedStream(&out, nullptr, &options_, nullptr),
              vfw::AVIERR_BADHANDLE);
    EXPECT_EQ(vfw::AVIMakeCompressedStream(&out, source_, nullptr, nullptr), vfw::AVIERR_BADPARAM);
    vfw::AVICOMPRESSOPTIONS unknown = options_;
    unknown.fccHandler = mmioFOURCC('N', 'O', 'N', 'E');
    EXPECT_EQ(vfw::AVIMakeCompressedStream(&out, source_, &unknown, nullptr),
              vfw::AVIERR_NOCOMPRESSOR);
    vfw::AVICOMPRESSOPTIONS audio = options_;
    audio.fccType = mmioFOURCC('a', 'u', 'd', 's');
    EXPECT_EQ(vfw::AVIMakeCompressedStream(&out, source_, &audio, nullptr),
              vfw::AVIERR_UNSUPPORTED);
    EXPECT_EQ(out, nullptr);

    const auto frame = ScreenClip(64, 48, 32, {0})[0].bits;
    EXPECT_NE(vfw::AVIStreamWrite(compressed_, 0, 1, frame.data(),
                                  static_cast<vfw::LONG>(frame.size()), vfw::AVIIF_KEYFRAME,
                                  nullptr, nullptr),
              vfw::AVIERR_OK)
        << "a frame before the format";
    // Video 1 refuses a width that is not a multiple of 4.
    const auto odd = ScreenClipFormat(66, 48, 32);
    EXPECT_NE(vfw::AVIStreamSetFormat(compressed_, 0, odd.data(), static_cast<vfw::LONG>(odd.size())),
              vfw::AVIERR_OK);
    const auto format = ScreenClipFormat(64, 48, 32);
    EXPECT_EQ(vfw::AVIStreamSetFormat(compressed_, 0, format.data(),
                                      static_cast<vfw::LONG>(format.size())),
              vfw::AVIERR_OK);
    EXPECT_NE(vfw::AVIStreamSetFormat(compressed_, 0, format.data(),
                                      static_cast<vfw::LONG>(format.size())),
              vfw::AVIERR_OK)
        << "the format is fixed once compression began";
    EXPECT_EQ(vfw::AVIStreamWrite(compressed_, 4, 1, frame.data(),
                                  static_cast<vfw::LONG>(frame.size()), 0, nullptr, nullptr),
              vfw::AVIERR_OK);
    EXPECT_EQ(vfw::AVIStreamWrite(compressed_, 4, 1, frame.data(),
                                  static_cast<vfw::LONG>(frame.size()), 0, nullptr, nullptr),
              vfw::AVIERR_BADPARAM)
        << "positions grow";
    EXPECT_EQ(vfw::AVIStreamWrite(compressed_, 5, 1, frame.data(), 100, 0, nullptr, nullptr),
              vfw::AVIERR_BADPARAM)
        << "a short frame";
}

TEST_F(CompressedStreamTest, GapsStayGapsAndKeyFramesFollowTheInterval) {
    Open("gaps.avi", kZmbv, 5);
    const auto format = ScreenClipFormat(96, 64, 32);
    ASSERT_EQ(vfw::AVIStreamSetFormat(compressed_, 0, format.data(),
                                      static_cast<vfw::LONG>(format.size())),
              vfw::AVIERR_OK);
    std::vector<vfw::LONG> positions;
    for (vfw::LONG p = 0; p < 40; p += (p % 7 == 3) ? 3 : 1) {
        positions.push_back(p);
    }
    for (const auto& f : ScreenClip(96, 64, 32, positions)) {
        ASSERT_EQ(vfw::AVIStreamWrite(compressed_, f.pos, 1, f.bits.data(),
                                      static_cast<vfw::LONG>(f.bits.size()), vfw::AVIIF_KEYFRAME,
                                      nullptr, nullptr),
                  vfw::AVIERR_OK);
    }
    Close();

    kelvora::test::AviContent content;
    ASSERT_EQ(kelvora::test::ReadAvi(path_, &content), vfw::AVIERR_OK);
    ASSERT_EQ(content.entries.size(), static_cast<size_t>(positions.back() + 1));
    // Every fifth frame written is a key frame; empty entries never are.
    size_t written = 0;
    for (size_t pos = 0; pos < content.entries.size(); ++pos) {
        const bool present = !content.entries[pos].empty();
        const bool key = (content.flags[pos] & vfw::AVIIF_KEYFRAME) != 0;
        if (present) {
            EXPECT_EQ(key, written % 5 == 0) << "position " << pos;
            ++written;
        } else {
            EXPECT_FALSE(key) << "position " << pos;
        }
    }
    EXPECT_EQ(written, positions.size());
    const std::vector<long long> times = kelvora::test::PacketTimes(path_);
    EXPECT_EQ(std::vector<long long>(positions.begin(), positions.end()), times);
    // Lossless: each decoded frame is the picture written.
    std::vector<std::vector<std::uint8_t>> frames;
    ASSERT_TRUE(kelvora::test::DecodeFramesBgra(path_, 96, 64, &frames));
    ASSERT_EQ(frames.size(), positions.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i], kelvora::test::ToBgra(kelvora::test::ScreenFrame(96, 64, positions[i])))
            << "frame at " << positions[i];
    }
}

TEST_F(CompressedStreamTest, ReleaseWritesEveryQueuedFrame) {
    Open("drain.avi", kMsvc);
    const auto format = ScreenClipFormat(320, 240, 24);
    ASSERT_EQ(vfw::AVIStreamSetFormat(compressed_, 0, format.data(),
                                      static_cast<vfw::LONG>(format.size())),
              vfw::AVIERR_OK);
    std::vector<vfw::LONG> positions(60);
    for (vfw::LONG i = 0; i < 60; ++i) {
        positions[static_cast<size_t>(i)] = i;
    }
    for (const auto& f : ScreenClip(320, 240, 24, positions)) {
        ASSERT_EQ(vfw::AVIStreamWrite(compressed_, f.pos, 1, f.bits.data(),
                                      static_cast<vfw::LONG>(f.bits.size()), 0, nullptr, nullptr),
                  vfw::AVIERR_OK);
    }
    Close();  // straight after the last write
    const kelvora::test::VideoProbe p = kelvora::test::ProbeVideo(path_);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.codecName, "msvideo1");
    EXPECT_EQ(p.packets, 60);
    EXPECT_EQ(p.entries, 60);
}

// Frames lent from three reused buffers, as the recording loop lends its
// grabs: each buffer is scribbled over the moment it comes back, so a frame
// given back before the compressor read it would show in the file.
TEST_F(CompressedStreamTest, LentFramesAreReadBeforeTheyComeBack) {
    Open("lent.avi", kZmbv);
    const auto format = ScreenClipFormat(96, 64, 32);
    ASSERT_EQ(vfw::AVIStreamSetFormat(compressed_, 0, format.data(),
                                      static_cast<vfw::LONG>(format.size())),
              vfw::AVIERR_OK);
    struct Buffer {
        std::vector<std::uint8_t> bits;
        std::atomic<bool> lent{false};
    };
    Buffer buffers[3];
    int mostLent = 0;
    const auto giveBack = [](void* context) {
        auto* b = static_cast<Buffer*>(context);
        std::fill(b->bits.begin(), b->bits.end(), 0x5A);
        b->lent = false;
    };
    std::vector<vfw::LONG> positions(40);
    for (vfw::LONG i = 0; i < 40; ++i) {
        positions[static_cast<size_t>(i)] = i;
    }
    const auto clip = ScreenClip(96, 64, 32, positions);
    for (size_t i = 0; i < clip.size(); ++i) {
        Buffer* b = nullptr;
        while (b == nullptr) {  // the write waits for room, so one is always free
            for (Buffer& candidate : buffers) {
                if (!candidate.lent) {
                    b = &candidate;
                    break;
                }
            }
        }
        b->bits = clip[i].bits;
        b->lent = true;
        ASSERT_EQ(vfw::AVIStreamWriteBorrowed(compressed_, clip[i].pos, b->bits.data(),
                                              static_cast<vfw::LONG>(b->bits.size()), 0, giveBack,
                                              b),
                  vfw::AVIERR_OK);
        int held = 0;
        for (Buffer& candidate : buffers) {
            held += candidate.lent ? 1 : 0;
        }
        mostLent = std::max(mostLent, held);
    }
    // A refused write gives the frame back at once.
    Buffer& refused = buffers[0];
    while (refused.lent) {
    }
    refused.bits.assign(7, 0);  // not the format's size
    refused.lent = true;
    EXPECT_EQ(vfw::AVIStreamWriteBorrowed(compressed_, 100, refused.bits.data(), 7, 0, giveBack,
                                          &refused),
              vfw::AVIERR_BADPARAM);
    EXPECT_FALSE(refused.lent);
    Close();
    for (Buffer& b : buffers) {
        EXPECT_FALSE(b.lent) << "every lent frame comes back by the stream's release";
    }
    EXPECT_LE(mostLent, vfw::kCompressQueueDepth);

    std::vector<std::vector<std::uint8_t>> frames;
    ASSERT_TRUE(kelvora::test::DecodeFramesBgra(path_, 96, 64, &frames));
    ASSERT_EQ(frames.size(), positions.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i], kelvora::test::ToBgra(kelvora::test::ScreenFrame(96, 64, positions[i])))
            << "frame at " << positions[i];
    }
}

TEST_F(CompressedStreamTest, CompressorFailureSurfacesAtALaterWrite) {
    TestCodecProvider provider;
    provider.codecs = {{mmioFOURCC('T', 'F', 'A', 'L'), "fails", 1, false, false, false, 2}};
    ScopedTestCodecs scoped(provider);
    Open("failing.avi", mmioFOURCC('T', 'F', 'A', 'L'));
    const auto format = ScreenClipFormat(32, 32, 32);
    ASSERT_EQ(vfw::AVIStreamSetFormat(compressed_, 0, format.data(),
                                      static_cast<vfw::LONG>(format.size())),
              vfw::AVIERR_OK);
    const auto frame = ScreenClip(32, 32, 32, {0})[0].bits;
    vfw::HRESULT r = vfw::AVIERR_OK;
    int writes = 0;
    for (vfw::LONG pos = 0; pos < 200 && r == vfw::AVIERR_OK; ++pos, ++writes) {
        r = vfw::AVIStreamWrite(compressed_, pos, 1, frame.data(),
                                static_cast<vfw::LONG>(frame.size()), 0, nullptr, nullptr);
    }
    EXPECT_EQ(r, vfw::AVIERR_COMPRESSOR);
    // Two good frames, the failing one, at most the queue's depth less one
    // queued behind it, and the write that reports the failure.
    EXPECT_LE(writes, 2 + 1 + (vfw::kCompressQueueDepth - 1) + 1)
        << "noticed within the queue's depth";
}

}  // namespace
