// Helpers of the AVI library tests: writing a clip through the AVIFile calls,
// reading a video stream back with our reader, and looking at a file's
// top-level RIFFs and bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/vfw/vfw.h"
#include "tests/support/synthetic_clip.h"

namespace kelvora::test {

inline constexpr vfw::FOURCC kDibHandler = vfw::mmioFOURCC('D', 'I', 'B', ' ');

// Stream information as the engine fills it for a frame format.
vfw::AVISTREAMINFOA VideoInfo(const vfw::BITMAPINFOHEADER& bi, vfw::DWORD rate,
                              const char* name = "Test stream");

struct ClipFrame {
    vfw::LONG pos;
    std::vector<std::uint8_t> bits;  // may be empty: an empty entry
    bool key = true;
};

// Frames of the synthetic screen clip at `positions`; the picture of a frame
// is ScreenFrame(pos), so a frame can be recomputed from its position.
std::vector<ClipFrame> ScreenClip(int width, int height, int bitCount,
                                  const std::vector<vfw::LONG>& positions);
// The format (header and colour table) of the clip's frames.
std::vector<std::uint8_t> ScreenClipFormat(int width, int height, int bitCount);

// Creates `path` with one video stream and writes `frames`; returns the first
// failing call's code.
vfw::HRESULT WriteAvi(const std::string& path, const vfw::AVISTREAMINFOA& info,
                      const std::vector<std::uint8_t>& format,
                      const std::vector<ClipFrame>& frames);

// Writes `frames` as a recording does, flushes the stream and copies the
// file's bytes into *killed, as a killed recording leaves them (header and
// frames, no index, sizes unpatched); then completes `path` normally.
vfw::HRESULT WriteKilledAvi(const std::string& path, const vfw::AVISTREAMINFOA& info,
                            const std::vector<std::uint8_t>& format,
                            const std::vector<ClipFrame>& frames,
                            std::vector<std::uint8_t>* killed);

struct AviContent {
    vfw::AVISTREAMINFOA info{};
    std::vector<std::uint8_t> format;
    std::vector<std::vector<std::uint8_t>> entries;  // every entry, empty ones too
    std::vector<vfw::DWORD> flags;
};

// Opens the first stream of type `type` (0: any) of `path`; the stream keeps
// the file open.
vfw::HRESULT OpenStream(const std::string& path, vfw::FOURCC type, vfw::PAVISTREAM* stream);
// Reads the first video stream of `path` with our reader.
vfw::HRESULT ReadAvi(const std::string& path, AviContent* content);
// Reads every entry of an open stream.
vfw::HRESULT ReadStream(vfw::PAVISTREAM stream, AviContent* content);

// 16-bit PCM of `rate` blocks per second.
vfw::WAVEFORMATEX Pcm16(vfw::DWORD rate, vfw::WORD channels);
// The description of a sound stream of `format`, as AVISaveV and the engine
// give it (dwScale = nBlockAlign, dwRate = nAvgBytesPerSec).
vfw::AVISTREAMINFOA SoundInfo(const vfw::WAVEFORMATEX& format);
// `blocks` blocks of `format` from block `first` on: a 1 kHz tone at half of
// full scale in the first channel, its inverse at a quarter in the second
// (so that a swap of channels shows).
std::vector<std::int16_t> Tone(const vfw::WAVEFORMATEX& format, size_t blocks, size_t first = 0);

// Writes `samples` of `format` into the WAV file `path` (WavWriter).
vfw::HRESULT WriteWav(const std::string& path, const vfw::WAVEFORMATEX& format,
                      const std::vector<std::int16_t>& samples);
// Reads every block of the first sound stream of `path` (AVI or WAV) with
// AVIStreamRead in pieces of `piece` blocks, which cross chunks.
vfw::HRESULT ReadSound(const std::string& path, vfw::AVISTREAMINFOA* info,
                       std::vector<std::uint8_t>* format, std::vector<std::int16_t>* samples,
                       vfw::LONG piece = 1000);

// ffprobe and ffmpeg find `path`'s sound as 16-bit PCM of `format`, as long
// as `samples` (within a block), and decode exactly `samples` (host tree;
// does nothing under Windows).
void ExpectFfmpegSoundAgrees(const std::string& path, const vfw::WAVEFORMATEX& format,
                             const std::vector<std::int16_t>& samples);

// The ids of the chunks in `path`'s movi lists, every RIFF's, in file order.
std::vector<vfw::FOURCC> MoviChunks(const std::string& path);

struct RiffSpan {
    std::uint64_t offset;
    std::uint32_t size;  // as stored: data bytes after the size field
    vfw::FOURCC type;    // 'AVI ' or 'AVIX'
};
// The top-level RIFF chunks of a file, in order.
std::vector<RiffSpan> ListRiffs(const std::string& path);

// ffmpeg, the independent reader, agrees with ours on `path` (host tree; does
// nothing under Windows): ffprobe reports our entry count, size and rate
// without complaints, and for uncompressed frames ffmpeg's pictures on the
// stream's clock (one per entry from the first frame on, held pictures for
// empty entries) equal ours bit for bit.
void ExpectFfmpegAgrees(const std::string& path);

// ffmpeg's pictures of `path` on a clock of `rate` per second (held pictures
// repeated), as top-down B, G, R, A bytes with A forced to 255.
std::vector<std::vector<std::uint8_t>> DecodeTimeline(const std::string& path, int width,
                                                      int height, const std::string& rate);

std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
bool FileExists(const std::string& path);
// Position of the first occurrence of `fourcc` in `bytes`, or npos.
size_t FindFourcc(const std::vector<std::uint8_t>& bytes, const char* fourcc, size_t from = 0);

}  // namespace kelvora::test
