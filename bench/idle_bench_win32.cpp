// The camera idle as the tray program keeps it: preview on, whole screen,
// frame drawn, a preview handler that shows nothing. Prints the process's
// processor time over the run as a share of one core, with the preview
// picture grabbed at every tick ("picture") or not ("nopicture").
//
//   idle_bench.exe picture|nopicture seconds
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "engine/screen_camera.h"
#include "tests/support/desktop.h"

namespace {

double ProcessorSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto seconds = [](const FILETIME& t) {
        return (static_cast<double>(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: idle_bench picture|nopicture seconds\n");
        return 2;
    }
    const bool picture = std::strcmp(argv[1], "picture") == 0;
    const DWORD seconds = static_cast<DWORD>(std::atoi(argv[2]));
    HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 nullptr, nullptr);
    auto camera = std::make_unique<TScreenCamera>(owner);
    camera->FOnPreview = [](TScreenCamera*, TBitmap*, bool, bool) {};
    camera->FPreviewPictureWanted = picture;
    camera->FRegionType = 4;
    camera->SetPreview(true);
    kelvora::test::PumpFor(1000);  // settle: the frame placed once

    const double before = ProcessorSeconds();
    const DWORD start = GetTickCount();
    kelvora::test::PumpFor(seconds * 1000);
    const double wall = (GetTickCount() - start) / 1000.0;
    const double used = ProcessorSeconds() - before;
    std::printf("idle %s: %.2f s of processor time in %.1f s, %.2f%% of one core\n", argv[1], used,
                wall, 100.0 * used / wall);
    camera.reset();
    DestroyWindow(owner);
    return 0;
}
