// Sound beside the video: a PCM stream written through the AVIFile calls and
// read back by blocks across its chunks, also from a file a killed recording
// left; the temporary sound file (WavWriter) opened as a stream, also when a
// crash left its sizes stale; AVISaveV putting a video and a WAV file into
// one file, interleaved, also past the RIFF limit. On the host ffmpeg, the
// independent reader, decodes the pictures and the sound bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "engine/vfw/avi_riff.h"
#include "engine/vfw/avi_testing.h"
#include "engine/vfw/vfw.h"
#include "engine/vfw/wav_writer.h"
#include "tests/engine/vfw/avi_test_util.h"
#include "tests/support/test_paths.h"

namespace kelvora::test {
namespace {

using namespace vfw;

constexpr int kWidth = 32;
constexpr int kHeight = 24;
constexpr DWORD kFps = 40;
constexpr FOURCC kSoundChunk = riff::StreamChunkId(1, true);
constexpr FOURCC kFrameChunk = riff::StreamChunkId(0, false);

AVISTREAMINFOA ClipInfo() {
    const std::vector<std::uint8_t> format = ScreenClipFormat(kWidth, kHeight, 24);
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, format.data(), sizeof bi);
    return VideoInfo(bi, kFps);
}

// Blocks of sound due by the end of frame `frames` at 40 frames a second.
LONG Due(const WAVEFORMATEX& f, LONG frames) {
    return static_cast<LONG>((static_cast<std::int64_t>(frames) * f.nSamplesPerSec + kFps / 2) /
                             kFps);
}

std::string Bytes(const std::vector<std::int16_t>& s) {
    return {reinterpret_cast<const char*>(s.data()), s.size() * 2};
}

// A recording that keeps both streams, written as AVISaveV interleaves them:
// each frame's share of the tone, then the frame. With `killed`, the file's
// bytes after a flush before the end, as a killed process leaves them.
struct Recording {
    std::vector<ClipFrame> frames;
    std::vector<std::int16_t> sound;
};
Recording WriteRecording(const std::string& path, const WAVEFORMATEX& format, LONG frames,
                         std::vector<std::uint8_t>* killed = nullptr) {
    Recording r;
    std::vector<LONG> positions;
    for (LONG i = 0; i < frames; ++i) {
        positions.push_back(i);
    }
    r.frames = ScreenClip(kWidth, kHeight, 24, positions);
    r.sound = Tone(format, static_cast<size_t>(Due(format, frames)));
    PAVIFILE file = nullptr;
    EXPECT_EQ(AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    PAVISTREAM video = nullptr, sound = nullptr;
    const AVISTREAMINFOA videoInfo = ClipInfo();
    const AVISTREAMINFOA soundInfo = SoundInfo(format);
    const std::vector<std::uint8_t> clipFormat = ScreenClipFormat(kWidth, kHeight, 24);
    EXPECT_EQ(AVIFileCreateStreamA(file, &video, &videoInfo), AVIERR_OK);
    EXPECT_EQ(AVIFileCreateStreamA(file, &sound, &soundInfo), AVIERR_OK);
    EXPECT_EQ(AVIStreamSetFormat(video, 0, clipFormat.data(), static_cast<LONG>(clipFormat.size())),
              AVIERR_OK);
    // 16 bytes, as a WAV file's PCM format: the file keeps a whole WAVEFORMATEX.
    EXPECT_EQ(AVIStreamSetFormat(sound, 0, &format, 16), AVIERR_OK);
    const LONG block = format.nBlockAlign;
    for (LONG i = 0; i < frames; ++i) {
        const LONG from = Due(format, i), count = Due(format, i + 1) - from;
        LONG samples = 0, bytes = 0;
        EXPECT_EQ(AVIStreamWrite(sound, -1, count, r.sound.data() + from * block / 2, count * block,
                                 0, &samples, &bytes),
                  AVIERR_OK);
        EXPECT_EQ(samples, count);
        const ClipFrame& f = r.frames[static_cast<size_t>(i)];
        EXPECT_EQ(AVIStreamWrite(video, i, 1, f.bits.data(), static_cast<LONG>(f.bits.size()),
                                 AVIIF_KEYFRAME, nullptr, nullptr),
                  AVIERR_OK);
        if (killed != nullptr && i == frames * 3 / 4) {
            EXPECT_EQ(AVIStreamFlush(sound), AVIERR_OK);
            *killed = ReadFileBytes(path);
        }
    }
    AVIStreamRelease(sound);
    AVIStreamRelease(video);
    AVIFileRelease(file);
    return r;
}

void ExpectPictures(const std::string& path, const std::vector<ClipFrame>& frames) {
    AviContent got;
    ASSERT_EQ(ReadAvi(path, &got), AVIERR_OK);
    ASSERT_EQ(got.entries.size(), frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(got.entries[i], frames[i].bits) << "frame " << i;
    }
}

class AviSound : public ::testing::Test {
  protected:
    void TearDown() override { SetRiffLimitForTesting(0); }
};

TEST_F(AviSound, StreamBesideTheVideoReadsBackByBlocks) {
    for (const WAVEFORMATEX& format : {Pcm16(44100, 2), Pcm16(48000, 1)}) {
        SCOPED_TRACE(static_cast<int>(format.nSamplesPerSec));
        const std::string path = OutputPath("both_" + std::to_string(format.nChannels) + ".avi");
        const Recording r = WriteRecording(path, format, 20);
        ExpectPictures(path, r.frames);
        ExpectFfmpegAgrees(path);
        ExpectFfmpegSoundAgrees(path, format, r.sound);
        for (LONG piece : {1000, 7}) {
            AVISTREAMINFOA info{};
            std::vector<std::uint8_t> stored;
            std::vector<std::int16_t> sound;
            ASSERT_EQ(ReadSound(path, &info, &stored, &sound, piece), AVIERR_OK);
            EXPECT_TRUE(sound == r.sound);
            // (Copies: fields of the packed record cannot be bound to.)
            EXPECT_EQ(info.dwScale, DWORD{format.nBlockAlign});
            EXPECT_EQ(info.dwRate, DWORD{format.nAvgBytesPerSec});
            EXPECT_EQ(info.dwSampleSize, DWORD{format.nBlockAlign});
            EXPECT_EQ(info.dwStart, 0u);
            EXPECT_EQ(info.dwLength, static_cast<DWORD>(Due(format, 20)));
            ASSERT_EQ(stored.size(), sizeof(WAVEFORMATEX));
            EXPECT_EQ(std::memcmp(stored.data(), &format, sizeof format), 0);
        }
        // Chunks alternate, sound first.
        const std::vector<FOURCC> ids = MoviChunks(path);
        ASSERT_EQ(ids.size(), 40u);
        for (size_t i = 0; i < ids.size(); ++i) {
            EXPECT_EQ(ids[i], i % 2 == 0 ? kSoundChunk : kFrameChunk) << i;
        }
    }

    // Reads of the library's other kinds: to the end of the chunk holding
    // the first block (-1), the size alone, as much as the stream holds or
    // the buffer takes.
    const std::string path = OutputPath("both_2.avi");
    const std::vector<std::int16_t> tone = Tone(Pcm16(44100, 2), 1103);
    PAVISTREAM sound = nullptr;
    ASSERT_EQ(OpenStream(path, streamtypeAUDIO, &sound), AVIERR_OK);
    const LONG length = AVIStreamLength(sound);
    std::vector<std::int16_t> buffer(4000);
    LONG bytes = -1, samples = -1;
    ASSERT_EQ(AVIStreamRead(sound, 1000, -1, buffer.data(), 8000, &bytes, &samples), AVIERR_OK);
    EXPECT_EQ(samples, 103);
    EXPECT_EQ(bytes, 412);
    EXPECT_TRUE(std::equal(tone.begin() + 2000, tone.end(), buffer.begin()));
    ASSERT_EQ(AVIStreamRead(sound, 0, 5, nullptr, 0, &bytes, &samples), AVIERR_OK);
    EXPECT_EQ(bytes, 20);
    ASSERT_EQ(AVIStreamRead(sound, length - 3, 100, buffer.data(), 8000, &bytes, &samples),
              AVIERR_OK);
    EXPECT_EQ(samples, 3);
    ASSERT_EQ(AVIStreamRead(sound, 0, 100, buffer.data(), 41, &bytes, &samples), AVIERR_OK);
    EXPECT_EQ(samples, 10);
    EXPECT_EQ(AVIStreamRead(sound, 0, 1, buffer.data(), 3, &bytes, &samples),
              AVIERR_BUFFERTOOSMALL);
    EXPECT_EQ(AVIStreamRead(sound, length, 1, buffer.data(), 8000, &bytes, &samples),
              AVIERR_BADPARAM);
    AVIStreamRelease(sound);
}

TEST_F(AviSound, WriterRefusesSoundItCannotDescribe) {
    const WAVEFORMATEX format = Pcm16(44100, 2);
    const std::string path = OutputPath("sound_refusals.avi");
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    const AVISTREAMINFOA videoInfo = ClipInfo();
    AVISTREAMINFOA soundInfo = SoundInfo(format);
    PAVISTREAM video = nullptr, sound = nullptr, other = nullptr;
    soundInfo.dwSampleSize = 0;  // no block size: not PCM
    EXPECT_EQ(AVIFileCreateStreamA(file, &sound, &soundInfo), AVIERR_BADPARAM);
    soundInfo = SoundInfo(format);
    ASSERT_EQ(AVIFileCreateStreamA(file, &sound, &soundInfo), AVIERR_OK);
    EXPECT_EQ(AVIFileCreateStreamA(file, &other, &soundInfo), AVIERR_UNSUPPORTED);
    ASSERT_EQ(AVIFileCreateStreamA(file, &video, &videoInfo), AVIERR_OK);
    // No PCM, or PCM that disagrees with the stream's description.
    WAVEFORMATEX bad = format;
    bad.wFormatTag = 3;  // floating point
    EXPECT_EQ(AVIStreamSetFormat(sound, 0, &bad, sizeof bad), AVIERR_BADFORMAT);
    bad = Pcm16(48000, 2);
    EXPECT_EQ(AVIStreamSetFormat(sound, 0, &bad, sizeof bad), AVIERR_BADFORMAT);

    const std::vector<std::int16_t> tone = Tone(format, 10);
    const std::vector<std::uint8_t> clipFormat = ScreenClipFormat(kWidth, kHeight, 24);
    ASSERT_EQ(AVIStreamSetFormat(video, 0, clipFormat.data(), static_cast<LONG>(clipFormat.size())),
              AVIERR_OK);
    // Every stream's format is in the header that the first chunk writes.
    EXPECT_EQ(AVIStreamWrite(sound, 0, 2, tone.data(), 8, 0, nullptr, nullptr), AVIERR_BADFORMAT);
    ASSERT_EQ(AVIStreamSetFormat(sound, 0, &format, sizeof format), AVIERR_OK);
    EXPECT_EQ(AVIStreamWrite(sound, 0, 2, tone.data(), 6, 0, nullptr, nullptr), AVIERR_BADPARAM);
    ASSERT_EQ(AVIStreamWrite(sound, 0, 2, tone.data(), 8, 0, nullptr, nullptr), AVIERR_OK);
    // Sound has no empty positions: the next write goes where the last ended.
    EXPECT_EQ(AVIStreamWrite(sound, 5, 1, tone.data(), 4, 0, nullptr, nullptr), AVIERR_BADPARAM);
    EXPECT_EQ(AVIFileCreateStreamA(file, &other, &videoInfo), AVIERR_UNSUPPORTED);
    AVIStreamRelease(sound);
    AVIStreamRelease(video);
    AVIFileRelease(file);
}

// The killed recording's file: header, chunks of both streams, no index.
// Cut anywhere, both streams read as prefixes of what was written.
TEST_F(AviSound, KilledRecordingReadsBothStreamsUpToTheCut) {
    const WAVEFORMATEX format = Pcm16(44100, 2);
    std::vector<std::uint8_t> killed;
    const Recording r = WriteRecording(OutputPath("killed_source.avi"), format, 12, &killed);
    const std::string path = OutputPath("killed.avi");
    const size_t firstChunk = FindFourcc(killed, "movi") + 4;
    size_t lastSound = 0;
    for (size_t cut = killed.size(); cut >= firstChunk; cut -= 997) {
        SCOPED_TRACE(cut);
        ASSERT_TRUE(WriteFileBytes(
            path,
            std::vector<std::uint8_t>(killed.begin(), killed.begin() + static_cast<long>(cut))));
        AviContent video;
        ASSERT_EQ(ReadAvi(path, &video), AVIERR_OK);
        ASSERT_LE(video.entries.size(), r.frames.size());
        for (size_t i = 0; i < video.entries.size(); ++i) {
            EXPECT_EQ(video.entries[i], r.frames[i].bits) << "frame " << i;
        }
        AVISTREAMINFOA info{};
        std::vector<std::uint8_t> stored;
        std::vector<std::int16_t> sound;
        ASSERT_EQ(ReadSound(path, &info, &stored, &sound), AVIERR_OK);
        ASSERT_LE(sound.size(), r.sound.size());
        EXPECT_TRUE(Bytes(sound) == Bytes(r.sound).substr(0, sound.size() * 2));
        if (cut == killed.size()) {
            lastSound = sound.size();
            EXPECT_EQ(video.entries.size(), 10u);  // the flush came after frame 9
        }
    }
    EXPECT_EQ(lastSound, static_cast<size_t>(Due(format, 10)) * 2);
}

// The temporary sound file: read as one stream; a crash leaves its sizes as
// the last flush wrote them (or unwritten) and its data cut anywhere, and the
// reader takes every whole block present.
TEST_F(AviSound, WavFileReadsUpToItsLastWholeBlock) {
    const WAVEFORMATEX format = Pcm16(44100, 2);
    const std::vector<std::int16_t> tone = Tone(format, 10000);
    const std::string path = OutputPath("sound.wav");
    WavWriter writer;
    ASSERT_EQ(writer.Create(path.c_str(), format), AVIERR_OK);
    ASSERT_EQ(writer.Append(tone.data(), 6000 * 4), AVIERR_OK);
    ASSERT_EQ(writer.Flush(), AVIERR_OK);
    const std::vector<std::uint8_t> flushed = ReadFileBytes(path);
    ASSERT_EQ(writer.Append(tone.data() + 12000, 4000 * 4), AVIERR_OK);
    ASSERT_EQ(writer.Close(), AVIERR_OK);
    const std::vector<std::uint8_t> whole = ReadFileBytes(path);
    ASSERT_EQ(whole.size(), 44u + 40000);

    const auto cut = [&](size_t size, std::uint32_t dataSize) {
        std::vector<std::uint8_t> b = whole;
        std::memcpy(b.data() + 40, &dataSize, 4);
        b.resize(size);
        return b;
    };
    std::vector<std::uint8_t> listAfter = whole;
    const char list[] = "LIST\4\0\0\0INFO";
    listAfter.insert(listAfter.end(), list, list + 12);
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        HRESULT hr;
        size_t blocks;
    };
    const Case cases[] = {
        {"whole", whole, AVIERR_OK, 10000},
        {"as flushed", flushed, AVIERR_OK, 6000},
        {"flushed size, cut in a block", cut(44 + 9000 * 4 + 3, 6000 * 4), AVIERR_OK, 9000},
        {"size never written", cut(44 + 7777 * 4 + 1, 0), AVIERR_OK, 7777},
        {"size past the end", cut(44 + 5000 * 4 + 2, 10000 * 4), AVIERR_OK, 5000},
        {"a chunk after the data", listAfter, AVIERR_OK, 10000},
        {"header cut", cut(30, 0), AVIERR_BADFORMAT, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = OutputPath("case.wav");
        ASSERT_TRUE(WriteFileBytes(file, c.bytes));
        AVISTREAMINFOA info{};
        std::vector<std::uint8_t> stored;
        std::vector<std::int16_t> got;
        ASSERT_EQ(ReadSound(file, &info, &stored, &got), c.hr);
        if (c.hr != AVIERR_OK) {
            continue;
        }
        EXPECT_EQ(info.fccType, streamtypeAUDIO);
        EXPECT_EQ(info.dwLength, c.blocks);
        EXPECT_EQ(info.dwRate / info.dwScale, 44100u);
        ASSERT_EQ(stored.size(), 16u);
        EXPECT_EQ(std::memcmp(stored.data(), &format, 16), 0);
        EXPECT_TRUE(Bytes(got) == Bytes(tone).substr(0, c.blocks * 4));
    }
}

std::vector<LONG> PositionsWithGaps(LONG count) {
    std::vector<LONG> positions;
    for (LONG p = 0; p < count; p += p % 9 == 4 ? 2 : 1) {
        positions.push_back(p);
    }
    return positions;
}

// AVISaveV with the recording's two temporary files: the picture's entries
// and the sound come back whole, interleaved a chunk of sound before each
// frame, both streams starting together, in AVI 2.0 files of several RIFFs
// too (each stream with its own super index and standard indexes).
TEST_F(AviSound, SaveInterleavesTheVideoAndTheWav) {
    struct Case {
        const char* name;
        LONG positions;
        size_t blocks;
        std::uint64_t riffLimit;
        bool soundFirst;  // order of the streams handed to AVISaveV
    };
    for (const Case& c :
         {Case{"sound_shorter", 20, 15000, 0, false}, Case{"sound_longer", 10, 30000, 0, true},
          Case{"riffs", 60, 66150, 32 << 10, false}}) {
        SCOPED_TRACE(c.name);
        SetRiffLimitForTesting(c.riffLimit);
        const WAVEFORMATEX format = Pcm16(44100, 2);
        const std::string video = OutputPath(std::string(c.name) + "_video.avi");
        const std::string wav = OutputPath(std::string(c.name) + "_sound.wav");
        const std::string target = OutputPath(std::string(c.name) + ".avi");
        const std::vector<LONG> positions = PositionsWithGaps(c.positions);
        const std::vector<ClipFrame> frames = ScreenClip(kWidth, kHeight, 24, positions);
        ASSERT_EQ(WriteAvi(video, ClipInfo(), ScreenClipFormat(kWidth, kHeight, 24), frames),
                  AVIERR_OK);
        const std::vector<std::int16_t> tone = Tone(format, c.blocks);
        ASSERT_EQ(WriteWav(wav, format, tone), AVIERR_OK);

        PAVISTREAM streams[2] = {};
        ASSERT_EQ(OpenStream(video, 0, &streams[c.soundFirst ? 1 : 0]), AVIERR_OK);
        ASSERT_EQ(OpenStream(wav, 0, &streams[c.soundFirst ? 0 : 1]), AVIERR_OK);
        AVICOMPRESSOPTIONS* options[2] = {nullptr, nullptr};
        const HRESULT saved = AVISaveV(target.c_str(), nullptr, nullptr, 2, streams, options);
        AVIStreamRelease(streams[0]);
        AVIStreamRelease(streams[1]);
        ASSERT_EQ(saved, AVIERR_OK);

        AviContent want, got;
        ASSERT_EQ(ReadAvi(video, &want), AVIERR_OK);
        ASSERT_EQ(ReadAvi(target, &got), AVIERR_OK);
        EXPECT_EQ(got.entries, want.entries);
        AVISTREAMINFOA info{};
        std::vector<std::uint8_t> stored;
        std::vector<std::int16_t> sound;
        ASSERT_EQ(ReadSound(target, &info, &stored, &sound), AVIERR_OK);
        EXPECT_TRUE(sound == tone);
        EXPECT_EQ(info.dwStart, 0u);
        EXPECT_EQ(got.info.dwStart, 0u);

        // Sound before each frame while it lasts, each chunk one frame's worth
        // (sound beyond the picture follows in chunks of that size).
        const std::vector<FOURCC> ids = MoviChunks(target);
        std::vector<FOURCC> data;  // without the index chunks
        std::copy_if(ids.begin(), ids.end(), std::back_inserter(data),
                     [](FOURCC id) { return id == kFrameChunk || id == kSoundChunk; });
        size_t frame = 0, soundChunks = 0;
        for (size_t i = 0; i < data.size(); ++i) {
            if (data[i] == kFrameChunk) {
                const bool soundLeft =
                    static_cast<size_t>(Due(format, static_cast<LONG>(frame))) < c.blocks;
                EXPECT_EQ(i > 0 && data[i - 1] == kSoundChunk, soundLeft) << "frame " << frame;
                ++frame;
            }
            soundChunks += data[i] == kSoundChunk;
        }
        EXPECT_EQ(frame, want.entries.size());
        EXPECT_GE(soundChunks, c.blocks / 1103);
        EXPECT_LE(soundChunks, c.blocks / 1102 + 1);
        const bool openDml = ListRiffs(target).size() > 1;
        EXPECT_EQ(openDml, c.riffLimit != 0);
        const auto count = [&](FOURCC id) { return std::count(ids.begin(), ids.end(), id); };
        EXPECT_EQ(count(riff::StreamIndexId(1)), openDml ? count(riff::StreamIndexId(0)) : 0);
        if (openDml) {
            EXPECT_EQ(count(riff::StreamIndexId(0)), static_cast<long>(ListRiffs(target).size()));
        }

        ExpectFfmpegAgrees(target);
        ExpectFfmpegSoundAgrees(target, format, tone);
    }
}

}  // namespace
}  // namespace kelvora::test
