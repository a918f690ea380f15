// Copies the video stream of an AVI file with AVISaveV, as the engine saves
// a recording, and flushes the copy to disk, timed together, for
// bench/avi_bench.sh.
//
//   avi_save_bench <source.avi> <target.avi>
//
// Prints one line: bytes=<target size> seconds=<copy and fsync> peak_rss_kb=<n>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "engine/vfw/vfw.h"

int main(int argc, char** argv) {
    using namespace vfw;
    if (argc != 3) {
        std::fprintf(stderr, "usage: avi_save_bench <source.avi> <target.avi>\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    PAVIFILE file = nullptr;
    HRESULT hr = AVIFileOpenA(&file, argv[1], OF_READ, nullptr);
    PAVISTREAM stream = nullptr;
    if (hr == AVIERR_OK) {
        hr = AVIFileGetStream(file, &stream, 0, 0);
        AVIFileRelease(file);
    }
    if (hr == AVIERR_OK) {
        AVICOMPRESSOPTIONS* options[2] = {nullptr, nullptr};
        hr = AVISaveV(argv[2], nullptr, nullptr, 1, &stream, options);
        AVIStreamRelease(stream);
    }
    const int fd = hr == AVIERR_OK ? open(argv[2], O_RDONLY) : -1;
    if (fd < 0 || fsync(fd) != 0) {
        std::fprintf(stderr, "copying %s failed: 0x%08X\n", argv[1], static_cast<unsigned>(hr));
        return 1;
    }
    close(fd);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    struct stat st {};
    stat(argv[2], &st);
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("bytes=%lld seconds=%.3f peak_rss_kb=%ld\n", static_cast<long long>(st.st_size),
                seconds, usage.ru_maxrss);
    return 0;
}
