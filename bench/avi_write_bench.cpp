// Writes a recording of uncompressed frames through the AVIFile calls and
// flushes it to disk, timed together, for bench/avi_bench.sh.
//
//   avi_write_bench <file.avi> <frames> <frame bytes>
//
// Frames of 1920 x 1080 x 4 bytes are 32-bit 1080p pictures; other sizes are
// one-row pictures (compressed frames stand-ins). Prints one line:
//   bytes=<file size> seconds=<write and fsync> peak_rss_kb=<peak resident memory>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/vfw/vfw.h"

namespace {

using namespace vfw;

bool Fsync(const char* path) {
    const int fd = open(path, O_RDONLY);
    if (fd < 0) {
        return false;
    }
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: avi_write_bench <file.avi> <frames> <frame bytes>\n");
        return 2;
    }
    const char* path = argv[1];
    const long frames = std::strtol(argv[2], nullptr, 10);
    const long frameBytes = std::strtol(argv[3], nullptr, 10);
    if (frames <= 0 || frameBytes < 4 || frameBytes % 4 != 0) {
        std::fprintf(stderr, "frames and frame bytes (a multiple of 4) must be positive\n");
        return 2;
    }
    BITMAPINFOHEADER bi{};
    bi.biSize = sizeof bi;
    bi.biWidth = frameBytes == 1920L * 1080 * 4 ? 1920 : static_cast<LONG>(frameBytes / 4);
    bi.biHeight = frameBytes == 1920L * 1080 * 4 ? 1080 : 1;
    bi.biPlanes = 1;
    bi.biBitCount = 32;
    bi.biSizeImage = static_cast<DWORD>(frameBytes);
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
    info.dwScale = 1;
    info.dwRate = 25;
    info.dwSuggestedBufferSize = bi.biSizeImage;
    info.rcFrame = {0, 0, bi.biWidth, bi.biHeight};

    std::vector<std::uint8_t> bits(static_cast<size_t>(frameBytes));
    for (size_t i = 0; i < bits.size(); ++i) {
        bits[i] = static_cast<std::uint8_t>(i * 31);
    }

    const auto start = std::chrono::steady_clock::now();
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    HRESULT hr = AVIFileOpenA(&file, path, OF_CREATE | OF_WRITE, nullptr);
    if (hr == AVIERR_OK) {
        hr = AVIFileCreateStreamA(file, &stream, &info);
    }
    if (hr == AVIERR_OK) {
        hr = AVIStreamSetFormat(stream, 0, &bi, sizeof bi);
    }
    for (long i = 0; hr == AVIERR_OK && i < frames; ++i) {
        bits[0] = static_cast<std::uint8_t>(i);
        hr = AVIStreamWrite(stream, static_cast<LONG>(i), 1, bits.data(),
                            static_cast<LONG>(frameBytes), AVIIF_KEYFRAME, nullptr, nullptr);
    }
    AVIStreamRelease(stream);
    AVIFileRelease(file);
    if (hr != AVIERR_OK || !Fsync(path)) {
        std::fprintf(stderr, "writing %s failed: 0x%08X\n", path, static_cast<unsigned>(hr));
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    struct stat st {};
    stat(path, &st);
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("bytes=%lld seconds=%.3f peak_rss_kb=%ld\n", static_cast<long long>(st.st_size),
                seconds, usage.ru_maxrss);
    return 0;
}
