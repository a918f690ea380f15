#include "tests/support/ffmpeg.h"

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

namespace kelvora::test {

std::string ShellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

CommandResult RunCommand(const std::string& command) {
    CommandResult r;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return r;
    }
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) {
        r.output.append(buf, n);
    }
    const int status = pclose(pipe);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

VideoProbe ProbeVideo(const std::string& path) {
    VideoProbe p;
    const std::string cmd =
        "ffprobe -v error -count_frames -count_packets -select_streams v:0 "
        "-show_entries stream=codec_name,pix_fmt,width,height,r_frame_rate,nb_read_frames,"
        "nb_read_packets,nb_frames -of default=noprint_wrappers=1 " +
        ShellQuote(path) + " 2>&1";
    const CommandResult r = RunCommand(cmd);
    std::istringstream in(r.output);
    std::string line;
    bool sawWidth = false;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) {
            p.warnings += line + "\n";
            continue;
        }
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "codec_name") {
            p.codecName = value;
        } else if (key == "pix_fmt") {
            p.pixFmt = value;
        } else if (key == "width") {
            p.width = std::stoi(value);
            sawWidth = true;
        } else if (key == "height") {
            p.height = std::stoi(value);
        } else if (key == "r_frame_rate") {
            std::sscanf(value.c_str(), "%d/%d", &p.rateNum, &p.rateDen);
        } else if (key == "nb_read_frames") {
            p.frames = value == "N/A" ? -1 : std::stoll(value);
        } else if (key == "nb_read_packets") {
            p.packets = value == "N/A" ? -1 : std::stoll(value);
        } else if (key == "nb_frames") {
            p.entries = value == "N/A" ? -1 : std::stoll(value);
        } else {
            p.warnings += line + "\n";
        }
    }
    p.ok = r.exitCode == 0 && sawWidth;
    if (!p.ok) {
        p.error = "ffprobe exit code " + std::to_string(r.exitCode) + ": " + p.warnings;
    }
    return p;
}

AudioProbe ProbeAudio(const std::string& path) {
    AudioProbe p;
    // One line per stream: key=value|key=value...
    const CommandResult r = RunCommand(
        "ffprobe -v error -show_entries stream=codec_type,codec_name,sample_rate,channels,"
        "nb_frames -of compact=p=0 " +
        ShellQuote(path) + " 2>&1");
    std::istringstream in(r.output);
    std::string line;
    bool sawAudio = false;
    while (std::getline(in, line)) {
        std::map<std::string, std::string> fields;
        std::istringstream parts(line);
        std::string part;
        while (std::getline(parts, part, '|')) {
            const auto eq = part.find('=');
            if (eq != std::string::npos) {
                fields[part.substr(0, eq)] = part.substr(eq + 1);
            }
        }
        const std::string& type = fields["codec_type"];
        if (type == "audio" && !sawAudio) {
            sawAudio = true;
            p.codecName = fields["codec_name"];
            p.sampleRate = std::atoi(fields["sample_rate"].c_str());
            p.channels = std::atoi(fields["channels"].c_str());
            const std::string& frames = fields["nb_frames"];
            p.blocks = frames.empty() || frames == "N/A" ? -1 : std::stoll(frames);
        } else if (type.empty()) {
            p.warnings += line + "\n";
        }
    }
    p.ok = r.exitCode == 0 && sawAudio;
    if (!p.ok) {
        p.error = "ffprobe exit code " + std::to_string(r.exitCode) + ": " + p.warnings;
    }
    return p;
}

bool DecodeAudioS16(const std::string& path, std::vector<std::int16_t>* samples) {
    const CommandResult r = RunCommand("ffmpeg -v error -i " + ShellQuote(path) +
                                       " -map 0:a:0 -f s16le -c:a pcm_s16le -");
    if (r.exitCode != 0 || r.output.size() % 2 != 0) {
        return false;
    }
    samples->resize(r.output.size() / 2);
    std::memcpy(samples->data(), r.output.data(), r.output.size());
    return true;
}

std::vector<long long> PacketTimes(const std::string& path) {
    const CommandResult r = RunCommand("ffprobe -v error -select_streams v:0 -show_entries "
                                       "packet=pts -of csv=p=0 " +
                                       ShellQuote(path));
    std::vector<long long> times;
    std::istringstream in(r.output);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line != "N/A") {
            times.push_back(std::stoll(line));
        }
    }
    return times;
}

namespace {

bool ReadRawFrames(const std::string& cmd, size_t frameBytes,
                   std::vector<std::vector<std::uint8_t>>* frames) {
    frames->clear();
    FILE* pipe = popen(cmd.c_str(), "r");
    if (pipe == nullptr) {
        return false;
    }
    std::vector<std::uint8_t> frame(frameBytes);
    bool whole = true;
    for (;;) {
        const size_t got = fread(frame.data(), 1, frameBytes, pipe);
        if (got == frameBytes) {
            frames->push_back(frame);
            continue;
        }
        whole = got == 0;
        break;
    }
    const int status = pclose(pipe);
    return whole && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool DecodeFramesRaw(const std::string& path, const std::string& pixFmt, size_t frameBytes,
                     std::vector<std::vector<std::uint8_t>>* frames) {
    // passthrough gives each coded picture once: held (empty) entries carry
    // no picture and are not repeated, and nothing is dropped.
    const std::string cmd = "ffmpeg -v error -i " + ShellQuote(path) +
                            " -map 0:v:0 -fps_mode passthrough -f rawvideo -pix_fmt " +
                            ShellQuote(pixFmt) + " -";
    return ReadRawFrames(cmd, frameBytes, frames);
}

bool DecodeFramesBgra(const std::string& path, int width, int height,
                      std::vector<std::vector<std::uint8_t>>* frames) {
    return DecodeFramesRaw(path, "bgra", static_cast<size_t>(width) * height * 4, frames);
}

bool DecodeFrameBgra(const std::string& path, long long index, int width, int height,
                     std::vector<std::uint8_t>* frame) {
    const std::string cmd = "ffmpeg -v error -i " + ShellQuote(path) +
                            " -map 0:v:0 -fps_mode passthrough -vf " +
                            ShellQuote("select=eq(n\\," + std::to_string(index) + ")") +
                            " -frames:v 1 -f rawvideo -pix_fmt bgra -";
    std::vector<std::vector<std::uint8_t>> frames;
    if (!ReadRawFrames(cmd, static_cast<size_t>(width) * height * 4, &frames) ||
        frames.size() != 1) {
        return false;
    }
    *frame = std::move(frames[0]);
    return true;
}

double PsnrBgra(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) {
        return 0;
    }
    double sum = 0;
    size_t count = 0;
    for (size_t i = 0; i < a.size(); i += 4) {
        for (size_t c = 0; c < 3; ++c) {
            const double d = static_cast<double>(a[i + c]) - b[i + c];
            sum += d * d;
        }
        count += 3;
    }
    if (sum == 0) {
        return 99;
    }
    const double mse = sum / static_cast<double>(count);
    return 10 * std::log10(255.0 * 255.0 / mse);
}

std::uint64_t Fnv1a(const std::uint8_t* data, size_t size) {
    std::uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < size; ++i) {
        h ^= data[i];
        h *= 1099511628211ull;
    }
    return h;
}

}  // namespace kelvora::test
