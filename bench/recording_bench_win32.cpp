// Recording benchmark under Wine (Windows tree), run by recording_bench.sh:
//
//   recording_bench grab SECONDS            the pool's grab of the whole screen, the old
//                                           grab (its baseline) and the bare BitBlt
//   recording_bench record CODEC SECONDS [MS] [sound]
//                                           the recording loop through CODEC, every
//                                           grab a slot or one slot per MS, with
//                                           sound from the default input
//   recording_bench soak CODEC SECONDS      a long recording: GDI objects and
//                                           memory in use once a minute
//
// CODEC is a four-character code (MSVC, ZMBV, MJPG, DIB). Full screen, 32 bits.
#include <windows.h>
// after windows.h, which it needs
#include <psapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "engine/frame_grabber_win32.h"
#include "engine/screen_camera.h"
#include "tests/support/desktop.h"
#include "win32/handles.h"

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(f.QuadPart);
}

// Processor time the whole process has used, user and kernel.
double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](FILETIME t) {
        return (static_cast<double>(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

int SlotOf(const TScreenCamera& camera, const char* code) {
    char padded[5] = "    ";
    std::memcpy(padded, code, std::min<size_t>(4, std::strlen(code)));
    const vfw::FOURCC handler = vfw::mmioFOURCC(padded[0], padded[1], padded[2], padded[3]);
    for (int i = 0; i < camera.FCodecCount; ++i) {
        if (camera.FCodecs[i].fccHandler == handler) {
            return i;
        }
    }
    return -1;
}

// Private bytes where the system counts them, else the working set: Wine
// reports no private usage, and its working set is the process's resident size.
size_t MemoryInUse() {
    PROCESS_MEMORY_COUNTERS_EX pmc{};
    pmc.cb = sizeof(pmc);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc),
                         sizeof(pmc));
    return pmc.PrivateUsage != 0 ? pmc.PrivateUsage : pmc.WorkingSetSize;
}

// Milliseconds of wall time per call of `grab`, over `seconds`.
template <typename F>
double MsPerGrab(double seconds, F grab) {
    if (!grab()) {  // the first grab sets up what the others reuse: not timed
        return -1;
    }
    LARGE_INTEGER start, now;
    QueryPerformanceCounter(&start);
    long frames = 0;
    do {
        if (!grab()) {
            return -1;
        }
        ++frames;
        QueryPerformanceCounter(&now);
    } while (Seconds(start, now) < seconds);
    return 1000 * Seconds(start, now) / frames;
}

// The pool's grab (what the recording loop does); the bare BitBlt of the
// screen into a DIB section against it; the old grab through a compatible
// bitmap and GetDIBits. Each takes a third of the time.
int GrabOnThisThread(TScreenCamera& camera, double seconds);

// The grabs run on a thread of their own, as the recording loop's do, while
// this thread (which owns the camera's windows) keeps serving its messages.
int Grab(double seconds) {
    TScreenCamera camera(nullptr);
    std::atomic<int> result{-1};
    std::thread grabber([&] { result = GrabOnThisThread(camera, seconds); });
    kelvora::test::PumpUntil([&] { return result.load() >= 0; }, 600000);
    grabber.join();
    return result;
}

int GrabOnThisThread(TScreenCamera& camera, double seconds) {
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    std::unique_ptr<FramePool> pool = CreateGdiFramePool(camera, w, h);
    if (!pool) {
        std::fprintf(stderr, "no pool\n");
        return 1;
    }
    win32::WindowDc screen(nullptr);
    win32::MemoryDc mem(CreateCompatibleDC(screen.get()));
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    win32::Bitmap section(CreateDIBSection(screen.get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!screen || !mem || !section) {
        std::fprintf(stderr, "no DIB section\n");
        return 1;
    }
    win32::SelectGuard select(mem.get(), section.get());
    const auto poolGrab = [&] {
        FramePool::Frame* f = pool->Grab(0, 0, 0);
        if (f != nullptr) {
            pool->GiveBack(f);
        }
        return f != nullptr;
    };
    const auto bareBlt = [&] {
        return BitBlt(mem.get(), 0, 0, w, h, screen.get(), 0, 0, SRCCOPY) != FALSE;
    };
    const double cpuStart = CpuSeconds();
    const double pooled = MsPerGrab(seconds / 3, poolGrab);
    const double cpu = CpuSeconds() - cpuStart;
    // The bare BitBlt's share: it and the pool's grab alternate, so that both
    // see the same load on the X server. Timed one after the other, the bare
    // BitBlt could come out dearer than the grab that contains it.
    double share = -1, bare = 0;
    if (bareBlt()) {
        double pooledTime = 0, bareTime = 0;
        long n = 0;
        LARGE_INTEGER start, a, b, c;
        QueryPerformanceCounter(&start);
        do {
            QueryPerformanceCounter(&a);
            const bool ok = poolGrab();
            QueryPerformanceCounter(&b);
            if (!ok || !bareBlt()) {
                bareTime = 0;
                break;
            }
            QueryPerformanceCounter(&c);
            pooledTime += Seconds(a, b);
            bareTime += Seconds(b, c);
            ++n;
        } while (Seconds(start, c) < seconds / 3);
        share = bareTime > 0 ? bareTime / pooledTime : -1;
        bare = n > 0 ? 1000 * bareTime / n : 0;
    }
    const double old = MsPerGrab(seconds / 3, [&] {
        vfw::BITMAPINFOHEADER* f = GdiGrabFrameCompatible(camera, 0, 0, w, h, 0);
        GdiFreeFrame(f);
        return f != nullptr;
    });
    if (pooled <= 0 || old <= 0 || share <= 0) {
        std::fprintf(stderr, "grab failed\n");
        return 1;
    }
    const double frames = seconds / 3 * 1000 / pooled;
    std::printf("grab %dx%d: %.2f frames/s, %.2f ms per grab (%.1f ms processor)\n", w, h,
                1000 / pooled, pooled, cpu * 1000 / frames);
    std::printf(
        "grab-old %dx%d: compatible bitmap + GetDIBits %.2f ms per grab; new grab %.2fx"
        " as fast (target >= 1.3: %s)\n",
        w, h, old, old / pooled,
        share >= 0.8 ? "not applicable, read-back dominates"
                     : (old / pooled >= 1.3 ? "met" : "not met"));
    std::printf("grab-bitblt %dx%d: bare BitBlt %.2f ms, %.0f%% of a grab%s\n", w, h, bare,
                100 * share,
                share >= 0.8 ? ": reading the screen back dominates on this machine" : "");
    return 0;
}

// Records the whole screen; every grab gets a slot of its own (1 ms), so the
// frames written per second are the loop's own rate.
int Record(const char* code, double seconds, bool soak, int interval, bool sound) {
    TScreenCamera camera(nullptr);
    camera.FRegionType = 4;
    camera.FRecordAudio = sound;
    camera.FCodecIndex = SlotOf(camera, code);
    camera.FMSPFRecord = soak ? 25 : interval;
    camera.FRestoreAppWindowAfterCapture = false;
    if (camera.FCodecIndex < 0) {
        std::fprintf(stderr, "no compressor %s\n", code);
        return 1;
    }
    std::string error;
    camera.FOnError = [&](TScreenCamera*, const std::string& m) { error = m; };
    // Silence in place of the input would not measure the input's cost.
    camera.FOnSoundProblem = [&](TScreenCamera*, const std::string& m) { error = "sound: " + m; };
    char path[MAX_PATH];
    GetTempPathA(MAX_PATH, path);
    const std::string target = std::string(path) + "kelvora-bench.avi";
    const long gdiBefore = kelvora::test::LiveGdiObjects();
    LARGE_INTEGER start, now;
    if (!camera.StartRecording(target)) {
        std::fprintf(stderr, "cannot start\n");
        return 1;
    }
    // The loop's rate is timed from its first written frame: opening the
    // compressor and the files is not part of it.
    while (camera.FFramesWritten == 0 && camera.FRecording) {
        kelvora::test::PumpFor(1);
    }
    QueryPerformanceCounter(&start);
    const double cpuStart = CpuSeconds();
    const int writtenAtStart = camera.FFramesWritten;
    long gdiAtOne = -1;
    size_t memAtOne = 0;
    int second = 0;
    do {
        kelvora::test::PumpFor(soak ? 1000 : 100);
        QueryPerformanceCounter(&now);
        if (soak) {
            ++second;
            const long gdi = kelvora::test::LiveGdiObjects();
            const size_t mem = MemoryInUse();
            if (second == 1) {
                gdiAtOne = gdi;
                memAtOne = mem;
            }
            if (second == 1 || second % 60 == 0) {
                std::printf("soak %s t=%ds frames=%d gdi=%ld memory=%.1f MiB\n", code, second,
                            camera.FFramesWritten.load(), gdi, mem / 1048576.0);
                std::fflush(stdout);
            }
        }
    } while (Seconds(start, now) < seconds && camera.FRecording);
    const double elapsed = Seconds(start, now);
    const int written = camera.FFramesWritten - writtenAtStart;
    const double cpu = CpuSeconds() - cpuStart;
    // Discard: the copy into a user file is not what is measured.
    StopReason = kStopDiscard;
    camera.FRecording = false;
    kelvora::test::PumpUntil([&] { return camera.FRecordThread.load() == nullptr; }, 120000);
    if (!error.empty()) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return 1;
    }
    if (soak) {
        std::printf(
            "soak %s: gdi %ld at 1 s, %ld at the end (%ld before); memory %.1f MiB at 1 s,"
            " %.1f MiB at the end\n",
            code, gdiAtOne, kelvora::test::LiveGdiObjects(), gdiBefore, memAtOne / 1048576.0,
            MemoryInUse() / 1048576.0);
    }
    std::printf(
        "record %s%s %dx%d: %d frames written in %.2f s, %.1f ms processor per frame,"
        " %.2f frames/s\n",
        code, sound ? "+sound" : "", camera.FFrameWidth.load(), camera.FFrameHeight.load(), written,
        elapsed, 1000 * cpu / written, written / elapsed);
    if (interval > 1 && !soak) {
        const double offered = elapsed * 1000 / interval;
        std::printf("slots %s%s %d ms: %d kept of %.0f offered, %.1f%%\n", code,
                    sound ? "+sound" : "", interval, written, offered, 100 * written / offered);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "grab") == 0) {
        return Grab(std::atof(argv[2]));
    }
    if (argc >= 4 && argc <= 6 &&
        (std::strcmp(argv[1], "record") == 0 || std::strcmp(argv[1], "soak") == 0)) {
        int interval = 1;
        bool sound = false;
        for (int i = 4; i < argc; ++i) {
            if (std::strcmp(argv[i], "sound") == 0) {
                sound = true;
            } else {
                interval = std::atoi(argv[i]);
            }
        }
        return Record(argv[2], std::atof(argv[3]), std::strcmp(argv[1], "soak") == 0, interval,
                      sound);
    }
    std::fprintf(stderr,
                 "usage: recording_bench grab S | record CODEC S [MS] [sound] | soak CODEC S\n");
    return 2;
}
