// The independent decoder of the tests: Debian's ffprobe and ffmpeg, run as
// child processes (host tree only).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelvora::test {

struct CommandResult {
    int exitCode = -1;
    std::string output;  // standard output
};

// Runs a shell command and captures its standard output.
CommandResult RunCommand(const std::string& command);

// Quotes a string for the shell.
std::string ShellQuote(const std::string& s);

// What ffprobe reports of the first video stream.
struct VideoProbe {
    bool ok = false;
    std::string codecName;  // codec_name, e.g. "rawvideo", "msvideo1", "zmbv", "mjpeg"
    std::string pixFmt;     // pix_fmt
    int width = 0;
    int height = 0;
    int rateNum = 0;  // r_frame_rate
    int rateDen = 1;
    long long frames = -1;   // nb_read_frames: frames the decoder produced
    long long packets = -1;  // nb_read_packets: non-empty chunks read
    long long entries = -1;  // nb_frames: the stream length, empty entries included
    std::string error;     // why ffprobe failed, when !ok
    std::string warnings;  // what the demuxer or decoder complained about
};

// Probes `path`, counting frames and packets (reads the whole file).
VideoProbe ProbeVideo(const std::string& path);

// What ffprobe reports of the first audio stream. (It states no duration of
// PCM in AVI: the length in blocks is it.)
struct AudioProbe {
    bool ok = false;
    std::string codecName;  // "pcm_s16le" for 16-bit PCM
    int sampleRate = 0;
    int channels = 0;
    long long blocks = -1;  // nb_frames: the stream's length in blocks
    std::string error;     // why ffprobe failed, when !ok
    std::string warnings;  // what the demuxer complained about
};
AudioProbe ProbeAudio(const std::string& path);

// Decodes the first audio stream to interleaved 16-bit samples.
bool DecodeAudioS16(const std::string& path, std::vector<std::int16_t>* samples);

// Presentation times of the first video stream's packets, in its time base
// (for AVI: stream positions). Empty entries have no packet.
std::vector<long long> PacketTimes(const std::string& path);

// Decodes every frame of the first video stream to 32-bit B, G, R, A pixels,
// top row first (ffmpeg's "bgra"); each frame is width*height*4 bytes.
// Returns false if ffmpeg fails or the output size is not a whole number of frames.
bool DecodeFramesBgra(const std::string& path, int width, int height,
                      std::vector<std::vector<std::uint8_t>>* frames);

// Decodes every frame to ffmpeg's raw pixel format `pixFmt` ("rgb555le",
// "bgr24", "bgr0", "pal8", ...), top row first, `frameBytes` bytes a frame.
bool DecodeFramesRaw(const std::string& path, const std::string& pixFmt, size_t frameBytes,
                     std::vector<std::vector<std::uint8_t>>* frames);

// Decodes only frame `index` (0-based) to B, G, R, A pixels, top row first.
bool DecodeFrameBgra(const std::string& path, long long index, int width, int height,
                     std::vector<std::uint8_t>* frame);

// PSNR in dB of two equally sized B, G, R, A pictures over B, G and R
// (alpha ignored); 99 when they are identical.
double PsnrBgra(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

// 64-bit FNV-1a hash, for per-frame comparisons in messages.
std::uint64_t Fnv1a(const std::uint8_t* data, size_t size);

}  // namespace kelvora::test
