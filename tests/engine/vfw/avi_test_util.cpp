#include "tests/engine/vfw/avi_test_util.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

#include <numeric>

#include "engine/vfw/avi_stream.h"
#include "engine/vfw/wav_writer.h"
#ifndef _WIN32
#include "tests/support/ffmpeg.h"
#endif

namespace kelvora::test {

using namespace vfw;

AVISTREAMINFOA VideoInfo(const BITMAPINFOHEADER& bi, DWORD rate, const char* name) {
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = kDibHandler;
    info.dwFlags = 12;
    info.dwScale = 1;
    info.dwRate = rate;
    info.dwSuggestedBufferSize = bi.biSizeImage;
    info.rcFrame = {0, 0, bi.biWidth, bi.biHeight};
    std::snprintf(info.szName, sizeof info.szName, "%s", name);
    return info;
}

std::vector<ClipFrame> ScreenClip(int width, int height, int bitCount,
                                  const std::vector<LONG>& positions) {
    std::vector<ClipFrame> frames;
    for (LONG pos : positions) {
        const PackedDib dib = ToDib(ScreenFrame(width, height, pos), bitCount);
        frames.push_back(
            {pos, std::vector<std::uint8_t>(dib.bits(), dib.bits() + dib.bitsSize()), true});
    }
    return frames;
}

std::vector<std::uint8_t> ScreenClipFormat(int width, int height, int bitCount) {
    const PackedDib dib = ToDib(ScreenFrame(width, height, 0), bitCount);
    return {dib.bytes.begin(), dib.bytes.begin() + static_cast<long>(dib.formatSize())};
}

HRESULT WriteAvi(const std::string& path, const AVISTREAMINFOA& info,
                 const std::vector<std::uint8_t>& format, const std::vector<ClipFrame>& frames) {
    return WriteKilledAvi(path, info, format, frames, nullptr);
}

HRESULT WriteKilledAvi(const std::string& path, const AVISTREAMINFOA& info,
                       const std::vector<std::uint8_t>& format,
                       const std::vector<ClipFrame>& frames, std::vector<std::uint8_t>* killed) {
    PAVIFILE file = nullptr;
    HRESULT hr = AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE, nullptr);
    if (hr != AVIERR_OK) {
        return hr;
    }
    PAVISTREAM stream = nullptr;
    hr = AVIFileCreateStreamA(file, &stream, &info);
    if (hr == AVIERR_OK) {
        hr = AVIStreamSetFormat(stream, 0, format.data(), static_cast<LONG>(format.size()));
    }
    for (size_t i = 0; hr == AVIERR_OK && i < frames.size(); ++i) {
        const ClipFrame& f = frames[i];
        hr = AVIStreamWrite(stream, f.pos, 1, f.bits.data(), static_cast<LONG>(f.bits.size()),
                            f.key ? AVIIF_KEYFRAME : 0, nullptr, nullptr);
    }
    if (hr == AVIERR_OK && killed != nullptr) {
        hr = AVIStreamFlush(stream);
        *killed = ReadFileBytes(path);
    }
    AVIStreamRelease(stream);
    AVIFileRelease(file);
    return hr;
}

HRESULT ReadStream(PAVISTREAM stream, AviContent* content) {
    *content = AviContent{};
    HRESULT hr = AVIStreamInfoA(stream, &content->info, sizeof content->info);
    if (hr != AVIERR_OK) {
        return hr;
    }
    LONG formatSize = 0;
    hr = AVIStreamReadFormat(stream, 0, nullptr, &formatSize);
    if (hr != AVIERR_OK) {
        return hr;
    }
    content->format.resize(static_cast<size_t>(formatSize));
    hr = AVIStreamReadFormat(stream, 0, content->format.data(), &formatSize);
    const LONG start = AVIStreamStart(stream);
    const LONG length = AVIStreamLength(stream);
    if (start < 0 || length < 0 || static_cast<std::int64_t>(start) + length > 0x7FFFFFFF) {
        return AVIERR_ERROR;
    }
    for (LONG pos = start; hr == AVIERR_OK && pos < start + length; ++pos) {
        LONG bytes = -1;
        hr = AVIStreamRead(stream, pos, 1, nullptr, 0, &bytes, nullptr);
        if (hr != AVIERR_OK) {
            break;
        }
        std::vector<std::uint8_t> data(static_cast<size_t>(bytes));
        LONG got = -1;
        LONG samples = 0;
        hr = AVIStreamRead(stream, pos, 1, data.data(), bytes, &got, &samples);
        if (hr == AVIERR_OK && (got != bytes || samples != 1)) {
            hr = AVIERR_ERROR;
        }
        content->entries.push_back(std::move(data));
        content->flags.push_back(stream->SampleFlags(pos));
    }
    return hr;
}

HRESULT OpenStream(const std::string& path, FOURCC type, PAVISTREAM* stream) {
    PAVIFILE file = nullptr;
    HRESULT hr = AVIFileOpenA(&file, path.c_str(), OF_READ, nullptr);
    if (hr != AVIERR_OK) {
        return hr;
    }
    hr = AVIFileGetStream(file, stream, type, 0);
    AVIFileRelease(file);
    return hr;
}

HRESULT ReadAvi(const std::string& path, AviContent* content) {
    PAVISTREAM stream = nullptr;
    HRESULT hr = OpenStream(path, streamtypeVIDEO, &stream);
    if (hr != AVIERR_OK) {
        return hr;
    }
    hr = ReadStream(stream, content);
    AVIStreamRelease(stream);
    return hr;
}

WAVEFORMATEX Pcm16(DWORD rate, WORD channels) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.nBlockAlign = static_cast<WORD>(channels * 2);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    f.wBitsPerSample = 16;
    return f;
}

AVISTREAMINFOA SoundInfo(const WAVEFORMATEX& format) {
    AVISTREAMINFOA info{};
    info.fccType = streamtypeAUDIO;
    info.dwScale = format.nBlockAlign;
    info.dwRate = format.nAvgBytesPerSec;
    info.dwSampleSize = format.nBlockAlign;
    info.dwQuality = 0xFFFFFFFFu;
    return info;
}

std::vector<std::int16_t> Tone(const WAVEFORMATEX& format, size_t blocks, size_t first) {
    std::vector<std::int16_t> samples;
    for (size_t b = first; b < first + blocks; ++b) {
        const double v = std::sin(2 * 3.14159265358979 * 1000.0 * static_cast<double>(b) /
                                  format.nSamplesPerSec);
        for (int c = 0; c < format.nChannels; ++c) {
            samples.push_back(
                static_cast<std::int16_t>(std::lround(c == 0 ? 16383 * v : -8191 * v)));
        }
    }
    return samples;
}

HRESULT WriteWav(const std::string& path, const WAVEFORMATEX& format,
                 const std::vector<std::int16_t>& samples) {
    WavWriter writer;
    HRESULT hr = writer.Create(path.c_str(), format);
    if (hr == AVIERR_OK) {
        hr = writer.Append(samples.data(), samples.size() * 2);
    }
    const HRESULT closed = writer.Close();
    return hr != AVIERR_OK ? hr : closed;
}

HRESULT ReadSound(const std::string& path, AVISTREAMINFOA* info, std::vector<std::uint8_t>* format,
                  std::vector<std::int16_t>* samples, LONG piece) {
    samples->clear();
    PAVISTREAM stream = nullptr;
    HRESULT hr = OpenStream(path, streamtypeAUDIO, &stream);
    if (hr != AVIERR_OK) {
        return hr;
    }
    hr = AVIStreamInfoA(stream, info, sizeof *info);
    LONG formatSize = 0;
    if (hr == AVIERR_OK) {
        hr = AVIStreamReadFormat(stream, 0, nullptr, &formatSize);
    }
    if (hr == AVIERR_OK) {
        format->resize(static_cast<size_t>(formatSize));
        hr = AVIStreamReadFormat(stream, 0, format->data(), &formatSize);
    }
    const LONG block = static_cast<LONG>(info->dwSampleSize);
    std::vector<std::int16_t> buffer(static_cast<size_t>(piece * block / 2 + 1));
    const LONG end = static_cast<LONG>(info->dwStart + info->dwLength);
    for (LONG pos = static_cast<LONG>(info->dwStart); hr == AVIERR_OK && pos < end;) {
        LONG bytes = 0;
        LONG got = 0;
        hr = AVIStreamRead(stream, pos, piece, buffer.data(), piece * block, &bytes, &got);
        if (hr == AVIERR_OK && (got <= 0 || bytes != got * block)) {
            hr = AVIERR_ERROR;
        }
        if (hr == AVIERR_OK) {
            samples->insert(samples->end(), buffer.begin(), buffer.begin() + bytes / 2);
            pos += got;
        }
    }
    AVIStreamRelease(stream);
    return hr;
}

void ExpectFfmpegSoundAgrees(const std::string& path, const WAVEFORMATEX& format,
                             const std::vector<std::int16_t>& samples) {
#ifndef _WIN32
    SCOPED_TRACE("ffmpeg's sound of " + path);
    const AudioProbe probe = ProbeAudio(path);
    ASSERT_TRUE(probe.ok) << probe.error;
    EXPECT_EQ(probe.warnings, "");
    EXPECT_EQ(probe.codecName, "pcm_s16le");
    EXPECT_EQ(probe.sampleRate, static_cast<int>(format.nSamplesPerSec));
    EXPECT_EQ(probe.channels, static_cast<int>(format.nChannels));
    // ffprobe states no duration of PCM in AVI: the length in blocks is it.
    EXPECT_EQ(probe.blocks, static_cast<long long>(samples.size() / format.nChannels));
    std::vector<std::int16_t> decoded;
    ASSERT_TRUE(DecodeAudioS16(path, &decoded));
    ASSERT_EQ(decoded.size(), samples.size());
    EXPECT_TRUE(decoded == samples) << "decoded sound differs";
#else
    (void)path, (void)format, (void)samples;
#endif
}

std::vector<FOURCC> MoviChunks(const std::string& path) {
    std::vector<FOURCC> ids;
    const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    const auto get = [&](size_t at) {
        std::uint32_t v = 0;
        std::memcpy(&v, bytes.data() + at, 4);
        return v;
    };
    for (const RiffSpan& riff : ListRiffs(path)) {
        const size_t riffEnd = std::min<size_t>(bytes.size(), riff.offset + 8 + riff.size);
        for (size_t at = riff.offset + 12; at + 12 <= riffEnd;) {
            const std::uint32_t size = get(at + 4);
            if (get(at) == mmioFOURCC('L', 'I', 'S', 'T') &&
                get(at + 8) == mmioFOURCC('m', 'o', 'v', 'i')) {
                const size_t moviEnd = std::min<size_t>(riffEnd, at + 8 + size);
                for (size_t c = at + 12; c + 8 <= moviEnd; c += 8 + get(c + 4) + (get(c + 4) & 1)) {
                    ids.push_back(get(c));
                }
            }
            at += 8 + size + (size & 1);
        }
    }
    return ids;
}

std::vector<RiffSpan> ListRiffs(const std::string& path) {
    std::vector<RiffSpan> riffs;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return riffs;
    }
    std::uint64_t pos = 0;
    for (;;) {
#ifdef _WIN32
        if (_fseeki64(f, static_cast<long long>(pos), SEEK_SET) != 0) {
#else
        if (fseeko(f, static_cast<off_t>(pos), SEEK_SET) != 0) {
#endif
            break;
        }
        std::uint8_t h[12];
        if (std::fread(h, 1, sizeof h, f) != sizeof h || std::memcmp(h, "RIFF", 4) != 0) {
            break;
        }
        RiffSpan r{pos, 0, 0};
        std::memcpy(&r.size, h + 4, 4);
        std::memcpy(&r.type, h + 8, 4);
        riffs.push_back(r);
        pos += 8 + static_cast<std::uint64_t>(r.size) + (r.size & 1);
    }
    std::fclose(f);
    return riffs;
}

std::vector<std::vector<std::uint8_t>> DecodeTimeline(const std::string& path, int width,
                                                      int height, const std::string& rate) {
    std::vector<std::vector<std::uint8_t>> frames;
#ifndef _WIN32
    const CommandResult r =
        RunCommand("ffmpeg -v error -i " + ShellQuote(path) + " -map 0:v:0 -vf fps=" + rate +
                   " -f rawvideo -pix_fmt bgra -");
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
    for (size_t at = 0; r.exitCode == 0 && bytes > 0 && at + bytes <= r.output.size();
         at += bytes) {
        std::vector<std::uint8_t> frame(r.output.begin() + static_cast<long>(at),
                                        r.output.begin() + static_cast<long>(at + bytes));
        for (size_t a = 3; a < frame.size(); a += 4) {
            frame[a] = 255;  // the fourth byte of 32-bit pixels is no alpha
        }
        frames.push_back(std::move(frame));
    }
#else
    (void)path, (void)width, (void)height, (void)rate;
#endif
    return frames;
}

void ExpectFfmpegAgrees(const std::string& path) {
#ifndef _WIN32
    SCOPED_TRACE("ffmpeg on " + path);
    AviContent ours;
    ASSERT_EQ(ReadAvi(path, &ours), AVIERR_OK);
    ASSERT_GE(ours.format.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, ours.format.data(), sizeof bi);
    const DWORD common = std::gcd(ours.info.dwRate, ours.info.dwScale);
    const VideoProbe probe = ProbeVideo(path);
    ASSERT_TRUE(probe.ok) << probe.error;
    EXPECT_EQ(probe.warnings, "");
    EXPECT_EQ(probe.width, bi.biWidth);
    EXPECT_EQ(probe.height, bi.biHeight < 0 ? -bi.biHeight : bi.biHeight);
    EXPECT_EQ(probe.rateNum, static_cast<int>(ours.info.dwRate / common));
    EXPECT_EQ(probe.rateDen, static_cast<int>(ours.info.dwScale / common));
    if (ours.entries.empty()) {
        // ffprobe reports the counts of an empty stream as unknown (N/A).
        EXPECT_LE(probe.entries, 0);
        EXPECT_LE(probe.packets, 0);
        return;
    }
    EXPECT_EQ(probe.entries, static_cast<long long>(ours.entries.size()));
    size_t first = 0;
    while (first < ours.entries.size() && ours.entries[first].empty()) {
        ++first;
    }
    EXPECT_EQ(probe.packets, static_cast<long long>(std::count_if(
                                 ours.entries.begin(), ours.entries.end(),
                                 [](const std::vector<std::uint8_t>& e) { return !e.empty(); })));
    if (bi.biCompression != BI_RGB || bi.biHeight < 0 || first == ours.entries.size()) {
        return;
    }
    const std::vector<std::vector<std::uint8_t>> frames =
        DecodeTimeline(path, bi.biWidth, bi.biHeight,
                       std::to_string(ours.info.dwRate) + "/" + std::to_string(ours.info.dwScale));
    ASSERT_EQ(frames.size(), ours.entries.size() - first);
    size_t shown = first;
    for (size_t e = first; e < ours.entries.size(); ++e) {
        if (!ours.entries[e].empty()) {
            shown = e;
        }
        PackedDib dib;
        dib.bytes = ours.format;
        dib.bytes.insert(dib.bytes.end(), ours.entries[shown].begin(), ours.entries[shown].end());
        const std::vector<std::uint8_t> want = ToBgra(FromDib(dib));
        const std::vector<std::uint8_t>& got = frames[e - first];
        EXPECT_EQ(Fnv1a(got.data(), got.size()), Fnv1a(want.data(), want.size()))
            << "entry " << e << " should show frame " << shown;
    }
#else
    (void)path;
#endif
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return bytes;
    }
    std::uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        bytes.insert(bytes.end(), buf, buf + n);
    }
    std::fclose(f);
    return bytes;
}

bool WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

bool FileExists(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f != nullptr) {
        std::fclose(f);
    }
    return f != nullptr;
}

size_t FindFourcc(const std::vector<std::uint8_t>& bytes, const char* fourcc, size_t from) {
    if (bytes.size() < 4) {
        return std::string::npos;
    }
    for (size_t i = from; i + 4 <= bytes.size(); ++i) {
        if (std::memcmp(bytes.data() + i, fourcc, 4) == 0) {
            return i;
        }
    }
    return std::string::npos;
}

}  // namespace kelvora::test
